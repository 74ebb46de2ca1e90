// fn_fullcat: two texts, each in a buffer of its own length plus one; a
// result buffer of the two lengths plus one.
#include "fuzz.h"
#include "morvanfn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string a, b;
    fuzz::split(data, size, a, b);
    const std::string want = a + b;
    std::unique_ptr<char[]> arg_a = fuzz::text(a), arg_b = fuzz::text(b);
    std::unique_ptr<char[]> result(new char[want.size() + 1]);

    if (fn_fullcat(arg_a.get(), arg_b.get(), result.get()) != result.get())
        fuzz::fail("fn_fullcat return", "other address", "the buffer");
    if (std::memcmp(result.get(), want.c_str(), want.size() + 1) != 0)
        fuzz::fail("fn_fullcat", result.get(), want);
    if (std::memcmp(arg_a.get(), a.c_str(), a.size() + 1) != 0 || std::memcmp(arg_b.get(), b.c_str(), b.size() + 1) != 0)
        fuzz::fail("fn_fullcat arguments", std::string(arg_a.get()) + std::string(arg_b.get()), a + b);
    return 0;
}
