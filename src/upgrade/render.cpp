// morvanfn-upgrade: names as a terminal may show them (tool.h).
//
// A database names its objects and users with any characters, controls
// included, and a backup is whatever its maker wrote.  Everything the tool
// prints passes through visible(): C0 controls (newline, carriage return,
// ESC, BEL, backspace, tab), DEL, C1 controls, the bidirectional controls
// (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069) and bytes
// that are not UTF-8 are written as escapes, so that no name can move the
// cursor, set a title or the clipboard, start a line of its own or reorder
// what follows it.  Letters of any script stay as they are.
#include "tool.h"

#include <cstdio>

namespace upgrade {

namespace {

std::string hex_escape(unsigned char byte)
{
    char e[12];
    std::snprintf(e, sizeof e, "\\x%02x", byte);
    return e;
}

std::string unicode_escape(unsigned code)
{
    char e[12];
    std::snprintf(e, sizeof e, "\\u%04x", code);
    return e;
}

bool bidi_control(unsigned c)
{
    return c == 0x061c || c == 0x200e || c == 0x200f || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

// The length of the UTF-8 sequence at s[i] and its code point, or 0 where
// it is not one (overlong, a surrogate, past U+10FFFF, cut short).
size_t utf8_at(const std::string &s, size_t i, unsigned &code)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b = byte(i);
    size_t n;
    unsigned min;
    if (b >= 0xc2 && b <= 0xdf)
        n = 2, code = b & 0x1f, min = 0x80;
    else if (b >= 0xe0 && b <= 0xef)
        n = 3, code = b & 0x0f, min = 0x800;
    else if (b >= 0xf0 && b <= 0xf4)
        n = 4, code = b & 0x07, min = 0x10000;
    else
        return 0;
    if (i + n > s.size())
        return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i + k) & 0x3f);
    }
    if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
        return 0;
    return n;
}

} // namespace

std::string visible(const std::string &text)
{
    std::string v;
    v.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            if (b < 0x20 || b == 0x7f)
                v += hex_escape(b);
            else
                v += char(b);
            ++i;
            continue;
        }
        unsigned code = 0;
        const size_t n = utf8_at(text, i, code);
        if (n == 0) {
            v += hex_escape(b);
            ++i;
        } else if ((code >= 0x80 && code <= 0x9f) || bidi_control(code)) {
            v += unicode_escape(code);
            i += n;
        } else {
            v.append(text, i, n);
            i += n;
        }
    }
    return v;
}

} // namespace upgrade
