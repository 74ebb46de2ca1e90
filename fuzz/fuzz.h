// Shared by the fuzz targets: inputs copied into separately allocated,
// exactly sized buffers, so that AddressSanitizer sees one byte too many
// written, or one byte read before the first.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace fuzz {

// An exact-size heap copy of bytes.
inline std::unique_ptr<char[]> copy(const void *bytes, size_t size)
{
    std::unique_ptr<char[]> buffer(new char[size]);
    std::memcpy(buffer.get(), bytes, size);
    return buffer;
}

// An exact-size heap copy of a text and its NUL.
inline std::unique_ptr<char[]> text(const std::string &s)
{
    return copy(s.c_str(), s.size() + 1);
}

// Splits the input at the position its first byte chooses; each side ends
// at its first 0x00 byte, as a NUL-ended argument does.
inline void split(const uint8_t *data, size_t size, std::string &a, std::string &b)
{
    const size_t cut = size ? 1 + data[0] * (size - 1) / 255 : 0;
    a.assign(reinterpret_cast<const char *>(data) + (size ? 1 : 0), cut - (size ? 1 : 0));
    b.assign(reinterpret_cast<const char *>(data) + cut, size - cut);
    a = a.c_str();
    b = b.c_str();
}

[[noreturn]] inline void fail(const char *what, const std::string &got, const std::string &want)
{
    std::fprintf(stderr, "%s: got \"%s\" (%zu bytes), want \"%s\" (%zu bytes)\n", what, got.c_str(), got.size(),
                 want.c_str(), want.size());
    std::abort();
}

} // namespace fuzz
