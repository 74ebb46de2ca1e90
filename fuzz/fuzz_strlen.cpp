// fn_strlen: any length field, followed by any number of bytes; only the two
// bytes of the length are read.
#include "fuzz.h"
#include "morvanfn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    std::unique_ptr<char[]> varying = fuzz::copy(data, size);
    uint16_t length;
    std::memcpy(&length, data, sizeof length);
    const int32_t want = length > 32767 ? 32767 : length;
    const int32_t got = fn_strlen(reinterpret_cast<const fn_varying *>(varying.get()));
    if (got != want)
        fuzz::fail("fn_strlen", std::to_string(got), std::to_string(want));
    return 0;
}
