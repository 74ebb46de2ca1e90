// Many threads in every entry point at once, each with arguments of its own,
// every result checked: calls share nothing, so none may see another's
// width, texts or buffer.
#include "../model.h"
#include "module.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kThreads = 8;
constexpr int kCallsPerEntryPoint = 100000;

std::string local_short_date(time_t t)
{
    const struct tm local = local_time(t);
    return model::short_date(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

int local_year(time_t t)
{
    return local_time(t).tm_year + 1900;
}

// Runs every entry point kCallsPerEntryPoint times; returns the wrong results.
long run(const EntryPoints &fn, int thread)
{
    long wrong = 0;
    std::vector<char> varying(2 + 32765, 'v');
    std::vector<char> result(32768);
    char a[64], b[64];

    for (int i = 0; i < kCallsPerEntryPoint; ++i) {
        const int32_t value = (i * 7919 + thread * 104729) * (i % 2 ? -1 : 1);
        const int32_t width = (thread * 37 + i) % 300 - 20;
        fn.pad(&value, &width, result.data());
        wrong += model::pad(value, width) != result.data();

        const uint16_t length = uint16_t((thread * 4099 + i * 31) % 32766);
        std::memcpy(varying.data(), &length, sizeof length);
        wrong += fn.strlen(reinterpret_cast<const fn_varying *>(varying.data())) != length;

        const std::string text_a = "t" + std::to_string(thread) + std::string(size_t(i % 7), ' ');
        const std::string text_b = std::string(size_t(thread), ' ') + std::to_string(i) + std::string(size_t(i % 3), ' ');
        std::memcpy(a, text_a.c_str(), text_a.size() + 1);
        std::memcpy(b, text_b.c_str(), text_b.size() + 1);
        fn.strcat(a, b, result.data());
        wrong += model::strcat(text_a, text_b) != result.data();

        fn.fullcat(text_a.c_str(), text_b.c_str(), result.data());
        wrong += text_a + text_b != result.data();

        // A reading before and after the call: midnight may fall between.
        time_t before = time(nullptr);
        fn.shortdate(result.data());
        const int32_t year = fn.curryr();
        time_t after = time(nullptr);
        wrong += result.data() != local_short_date(before) && result.data() != local_short_date(after);
        wrong += year != local_year(before) && year != local_year(after);
    }
    return wrong;
}

} // namespace

TEST(Concurrency, EightThreadsInEveryEntryPointGetTheirOwnResults)
{
    const EntryPoints &fn = EntryPoints::get();
    ASSERT_TRUE(fn.module.loaded());
    std::atomic<long> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&fn, &wrong, t] { wrong += run(fn, t); });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0) << "of " << kThreads << " threads x " << kCallsPerEntryPoint << " calls of each entry point";
}
