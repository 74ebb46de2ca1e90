// Plain models of the rules, written apart from the library's code, for the
// tests that check results they did not choose themselves.
#pragma once

#include <cstdint>
#include <string>

namespace model {

inline std::string pad(int32_t value, int32_t width)
{
    const int64_t w = width < 0 ? 0 : width > 255 ? 255 : width;
    uint64_t magnitude = value < 0 ? uint64_t(-int64_t(value)) : uint64_t(value);
    std::string digits;
    do {
        digits.insert(digits.begin(), char('0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude);
    const std::string sign = value < 0 ? "-" : "";
    const int64_t length = int64_t(sign.size() + digits.size());
    return sign + std::string(size_t(length < w ? w - length : 0), '0') + digits;
}

inline std::string without_trailing_blanks(std::string s)
{
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

inline std::string strcat(const std::string &a, const std::string &b)
{
    return without_trailing_blanks(a) + without_trailing_blanks(b);
}

inline std::string short_date(int year, int month, int day)
{
    auto two = [](int n) { return std::string(1, char('0' + n / 10 % 10)) + char('0' + n % 10); };
    return two(year % 100) + "-" + two(month) + "-" + two(day) + "-";
}

} // namespace model
