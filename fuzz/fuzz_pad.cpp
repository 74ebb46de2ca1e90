// fn_pad: any value and width, each in an integer of its own; a result buffer
// of the longer of the width (at most 255) and the value's decimal length,
// plus one.
#include "../tests/model.h"
#include "fuzz.h"
#include "morvanfn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint8_t bytes[8] = {};
    std::memcpy(bytes, data, size < 8 ? size : 8);
    std::unique_ptr<int32_t> value(new int32_t), width(new int32_t);
    std::memcpy(value.get(), bytes, 4);
    std::memcpy(width.get(), bytes + 4, 4);
    const std::string want = model::pad(*value, *width);
    std::unique_ptr<char[]> result(new char[want.size() + 1]);

    if (fn_pad(value.get(), width.get(), result.get()) != result.get())
        fuzz::fail("fn_pad return", "other address", "the buffer");
    if (std::memcmp(result.get(), want.c_str(), want.size() + 1) != 0)
        fuzz::fail("fn_pad", result.get(), want);
    return 0;
}
