// Each entry point, called through the module as the server calls it, beside
// its floor: the C runtime work that the function cannot do without, called
// directly.  The ratio of the two is what the entry point adds.
#include "../tests/unit/module.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace {

const EntryPoints &fn = EntryPoints::get();

// Texts of the sizes a query usually joins, with trailing blanks that the
// trimming removes; each iteration puts the blanks back, in both variants.
struct Texts {
    char a[64] = "customer name";
    char b[64] = "city";
    void refill()
    {
        std::memcpy(a + 13, "       ", 8);
        std::memcpy(b + 4, "    ", 5);
    }
};

// --- the floors -------------------------------------------------------------

__attribute__((noinline)) char *floor_shortdate(char *out)
{
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    const unsigned year = unsigned(local.tm_year + 1900), month = unsigned(local.tm_mon + 1), day = unsigned(local.tm_mday);
    snprintf(out, 10, "%02d-%02d-%02d-", int(year % 100), int(month % 100), int(day % 100));
    return out;
}

__attribute__((noinline)) int floor_curryr()
{
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    return local.tm_year + 1900;
}

__attribute__((noinline)) size_t trim(char *s)
{
    size_t n = std::strlen(s);
    while (n > 0 && s[n - 1] == ' ')
        s[--n] = '\0';
    return n;
}

__attribute__((noinline)) char *floor_strcat(char *a, char *b, char *out)
{
    size_t na = trim(a), nb = trim(b);
    std::memcpy(out, a, na);
    std::memcpy(out + na, b, nb + 1);
    return out;
}

__attribute__((noinline)) char *floor_fullcat(const char *a, const char *b, char *out)
{
    size_t na = std::strlen(a), nb = std::strlen(b);
    std::memcpy(out, a, na);
    std::memcpy(out + na, b, nb + 1);
    return out;
}

__attribute__((noinline)) char *floor_pad(const int32_t *value, const int32_t *width, char *out)
{
    char format[16];
    snprintf(format, sizeof format, "%%0%dd", *width);
    snprintf(out, 256, format, *value);
    return out;
}

// --- the pairs --------------------------------------------------------------

void BM_fn_shortdate(benchmark::State &state)
{
    char out[16];
    for (auto _ : state)
        benchmark::DoNotOptimize(fn.shortdate(out));
}
void BM_floor_shortdate(benchmark::State &state)
{
    char out[16];
    for (auto _ : state)
        benchmark::DoNotOptimize(floor_shortdate(out));
}

void BM_fn_curryr(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(fn.curryr());
}
void BM_floor_curryr(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(floor_curryr());
}

void BM_fn_strlen(benchmark::State &state)
{
    std::vector<char> varying(2 + 200, 'x');
    const uint16_t length = 200;
    std::memcpy(varying.data(), &length, sizeof length);
    for (auto _ : state)
        benchmark::DoNotOptimize(fn.strlen(reinterpret_cast<const fn_varying *>(varying.data())));
}

void BM_fn_strcat(benchmark::State &state)
{
    Texts t;
    char out[128];
    for (auto _ : state) {
        t.refill();
        benchmark::DoNotOptimize(fn.strcat(t.a, t.b, out));
    }
}
void BM_floor_strcat(benchmark::State &state)
{
    Texts t;
    char out[128];
    for (auto _ : state) {
        t.refill();
        benchmark::DoNotOptimize(floor_strcat(t.a, t.b, out));
    }
}

void BM_fn_fullcat(benchmark::State &state)
{
    Texts t;
    t.refill();
    char out[128];
    for (auto _ : state)
        benchmark::DoNotOptimize(fn.fullcat(t.a, t.b, out));
}
void BM_floor_fullcat(benchmark::State &state)
{
    Texts t;
    t.refill();
    char out[128];
    for (auto _ : state)
        benchmark::DoNotOptimize(floor_fullcat(t.a, t.b, out));
}

void BM_fn_pad(benchmark::State &state)
{
    const int32_t value = 4711, width = 10;
    char out[256];
    for (auto _ : state)
        benchmark::DoNotOptimize(fn.pad(&value, &width, out));
}
void BM_floor_pad(benchmark::State &state)
{
    const int32_t value = 4711, width = 10;
    char out[256];
    for (auto _ : state)
        benchmark::DoNotOptimize(floor_pad(&value, &width, out));
}

BENCHMARK(BM_fn_shortdate);
BENCHMARK(BM_floor_shortdate);
BENCHMARK(BM_fn_curryr);
BENCHMARK(BM_floor_curryr);
BENCHMARK(BM_fn_strlen);
BENCHMARK(BM_fn_strcat);
BENCHMARK(BM_floor_strcat);
BENCHMARK(BM_fn_fullcat);
BENCHMARK(BM_floor_fullcat);
BENCHMARK(BM_fn_pad);
BENCHMARK(BM_floor_pad);

// Keeps the median of each benchmark's repetitions (or its one run).
class Collector : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> ns;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median || (run.run_type == Run::RT_Iteration && run.repetitions <= 1))
                ns[run.run_name.function_name] = run.GetAdjustedRealTime();
        }
    }
};

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (!fn.module.loaded()) {
        std::fprintf(stderr, "cannot load %s\n", MORVANFN_MODULE_PATH);
        return 1;
    }
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);

    std::printf("\n%-14s %12s %12s %8s\n", "entry point", "ns/call", "floor ns", "ratio");
    for (const char *name : {"shortdate", "curryr", "strlen", "strcat", "fullcat", "pad"}) {
        const double entry = collector.ns["BM_fn_" + std::string(name)];
        const auto floor = collector.ns.find("BM_floor_" + std::string(name));
        if (floor == collector.ns.end())
            std::printf("fn_%-11s %12.2f %12s %8s\n", name, entry, "-", "-");
        else
            std::printf("fn_%-11s %12.2f %12.2f %8.2f\n", name, entry, floor->second, entry / floor->second);
    }
    benchmark::Shutdown();
    return 0;
}
