// The six entry points, loaded from the built module by their exported names.
#include "module.h"
#include "shortdate.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

const EntryPoints &fn = EntryPoints::get();

// A result buffer that held old text: every byte starts as '#', so the test
// sees exactly which bytes a call wrote.
struct Buffer {
    std::vector<char> bytes = std::vector<char>(40000, '#');
    char *data() { return bytes.data(); }

    // The text written and its NUL, with every later byte left alone.
    ::testing::AssertionResult holds(const std::string &text) const
    {
        if (std::memcmp(bytes.data(), text.data(), text.size()) != 0 || bytes[text.size()] != '\0')
            return ::testing::AssertionFailure() << "buffer holds \"" << std::string(bytes.data()) << "\", want \"" << text << "\"";
        for (size_t i = text.size() + 1; i < bytes.size(); ++i)
            if (bytes[i] != '#')
                return ::testing::AssertionFailure() << "byte " << i << " after the NUL was written";
        return ::testing::AssertionSuccess();
    }
};

std::string pad(int32_t value, int32_t width)
{
    Buffer out;
    EXPECT_EQ(fn.pad(&value, &width, out.data()), out.data());
    std::string text(out.data());
    EXPECT_TRUE(out.holds(text));
    return text;
}

// The server's VARCHAR form: 16-bit length in machine order, then the bytes.
std::vector<char> varying(size_t length, uint16_t stored_length)
{
    std::vector<char> v(sizeof(uint16_t) + length, 'x');
    std::memcpy(v.data(), &stored_length, sizeof stored_length);
    return v;
}

int32_t strlen_of(size_t length)
{
    std::vector<char> v = varying(length, static_cast<uint16_t>(length));
    return fn.strlen(reinterpret_cast<const fn_varying *>(v.data()));
}

} // namespace

TEST(Exports, EverySymbolResolvesByItsUnderscoredNameOnly)
{
    ASSERT_TRUE(fn.module.loaded()) << MORVANFN_MODULE_PATH;
    for (const char *name : {"_fn_shortdate", "_fn_curryr", "_fn_strlen", "_fn_strcat", "_fn_fullcat", "_fn_pad"}) {
        EXPECT_NE(fn.module.symbol(name), nullptr) << name;
        EXPECT_EQ(fn.module.symbol(name + 1), nullptr) << name + 1;
    }
    EXPECT_EQ(fn.module.symbol("fn_format_shortdate"), nullptr);
}

TEST(FnShortdate, FormatsTwoDigitFieldsEachFollowedByAHyphen)
{
    char out[FN_SHORTDATE_SIZE];
    EXPECT_STREQ(fn_format_shortdate(out, {2007, 1, 5}), "07-01-05-");
    EXPECT_STREQ(fn_format_shortdate(out, {2000, 12, 31}), "00-12-31-");
    EXPECT_STREQ(fn_format_shortdate(out, {1999, 10, 1}), "99-10-01-");
    EXPECT_STREQ(fn_format_shortdate(out, {2100, 2, 28}), "00-02-28-");
    EXPECT_STREQ(fn_format_shortdate(out, {9, 7, 4}), "09-07-04-");
}

#ifndef _WIN32
TEST(FnShortdate, AClockWithoutALocalDateGivesZeros)
{
    // A year past what struct tm holds: localtime_r gives nothing, and the
    // date functions give 0-0-0 rather than an unwritten date.
    const time_t beyond = static_cast<time_t>(INT64_C(1) << 62);
    const fn_date d = fn_local_date(beyond);
    EXPECT_EQ(d.year, 0u);
    EXPECT_EQ(d.month, 0u);
    EXPECT_EQ(d.day, 0u);
    char out[FN_SHORTDATE_SIZE];
    EXPECT_STREQ(fn_format_shortdate(out, d), "00-00-00-");

    const fn_date epoch = fn_local_date(0);
    EXPECT_TRUE(epoch.year == 1970 || epoch.year == 1969) << epoch.year;
}
#endif

TEST(FnShortdate, WritesExactlyTenBytesOfTodaysLocalDate)
{
    Buffer out;
    time_t before = time(nullptr);
    ASSERT_EQ(fn.shortdate(out.data()), out.data());
    time_t after = time(nullptr);
    char expected[2][FN_SHORTDATE_SIZE];
    for (int i = 0; i < 2; ++i) {
        const struct tm t = local_time(i ? after : before);
        fn_format_shortdate(expected[i], {unsigned(t.tm_year + 1900), unsigned(t.tm_mon + 1), unsigned(t.tm_mday)});
    }
    EXPECT_TRUE(out.holds(expected[0]) || out.holds(expected[1]));
    EXPECT_EQ(fn.shortdate(nullptr), nullptr);
}

TEST(FnCurryr, GivesTheFullLocalYear)
{
    time_t before = time(nullptr);
    int32_t year = fn.curryr();
    time_t after = time(nullptr);
    const struct tm b = local_time(before), a = local_time(after);
    EXPECT_TRUE(year == b.tm_year + 1900 || year == a.tm_year + 1900) << year;
}

TEST(FnStrlen, GivesTheWholeLengthNotItsLowByte)
{
    for (size_t length : {0u, 5u, 127u, 128u, 200u, 255u, 256u, 300u, 32765u})
        EXPECT_EQ(strlen_of(length), static_cast<int32_t>(length)) << length;
}

TEST(FnStrlen, ReadsOnlyTheLengthAndNeverGoesNegative)
{
    // A length field of 0xFFFF is no string the server makes; the result
    // still fits a SMALLINT.  The characters are never read: none are here.
    std::vector<char> bare = varying(0, 0xFFFF);
    EXPECT_EQ(fn.strlen(reinterpret_cast<const fn_varying *>(bare.data())), 32767);
    EXPECT_EQ(fn.strlen(nullptr), 0);
}

TEST(FnStrcat, RemovesTrailingBlanksOnly)
{
    struct Case {
        std::string a, b, joined;
    } cases[] = {
        {"ab  ", "cd ", "abcd"},
        {" ab", " cd", " ab cd"},
        {"a b ", "c", "a bc"},
        {"", "", ""},
        {"   ", "x", "x"},
        {"x", "    ", "x"},
        {"ab\t", "cd", "ab\tcd"},
        {"ab\xA0", "cd\n", "ab\xA0" "cd\n"},
        {"ab \t ", "\xA0 ", "ab \t\xA0"},
    };
    for (const Case &c : cases) {
        std::string a = c.a, b = c.b;
        Buffer out;
        EXPECT_EQ(fn.strcat(a.data(), b.data(), out.data()), out.data());
        EXPECT_TRUE(out.holds(c.joined)) << "'" << c.a << "' + '" << c.b << "'";
    }
}

TEST(FnStrcat, TrimsEachArgumentInItsOwnBuffer)
{
    char a[] = "ab  ";
    char b[] = "   ";
    Buffer out;
    fn.strcat(a, b, out.data());
    EXPECT_EQ(std::memcmp(a, "ab\0\0", 5), 0);
    EXPECT_EQ(std::memcmp(b, "\0\0\0", 4), 0);
}

TEST(FnStrcat, NullTextsReadAsEmptyAndNullBufferIsLeftAlone)
{
    char a[] = "ab ";
    Buffer out;
    EXPECT_TRUE(fn.strcat(nullptr, a, out.data()) && out.holds("ab"));
    EXPECT_TRUE(fn.strcat(a, nullptr, out.data()) && out.holds("ab"));
    EXPECT_EQ(fn.strcat(a, a, nullptr), nullptr);
}

TEST(FnFullcat, JoinsUnchangedAndLeavesTheArgumentsAlone)
{
    char a[] = "ab ";
    char b[] = "cd\t ";
    Buffer out;
    EXPECT_EQ(fn.fullcat(a, b, out.data()), out.data());
    EXPECT_TRUE(out.holds("ab cd\t "));
    EXPECT_STREQ(a, "ab ");
    EXPECT_STREQ(b, "cd\t ");

    Buffer empty;
    EXPECT_TRUE(fn.fullcat("", "", empty.data()) && empty.holds(""));
    Buffer nulls;
    EXPECT_TRUE(fn.fullcat(nullptr, "x", nulls.data()) && nulls.holds("x"));
    EXPECT_EQ(fn.fullcat("a", "b", nullptr), nullptr);
}

TEST(FnFullcat, JoinsTheLongestTextsTheDeclarationAccepts)
{
    std::string a(4095, 'a'), b(4095, 'b');
    Buffer out;
    fn.fullcat(a.c_str(), b.c_str(), out.data());
    EXPECT_TRUE(out.holds(a + b));
}

TEST(FnPad, ZerosGoBetweenSignAndDigits)
{
    EXPECT_EQ(pad(7, 3), "007");
    EXPECT_EQ(pad(-7, 3), "-07");
    EXPECT_EQ(pad(0, 3), "000");
    EXPECT_EQ(pad(-7, 2), "-7");
    EXPECT_EQ(pad(1, 12), "000000000001");
    EXPECT_EQ(pad(-1, 12), "-00000000001");
}

TEST(FnPad, NeverTruncates)
{
    EXPECT_EQ(pad(123, 2), "123");
    EXPECT_EQ(pad(42, 0), "42");
    EXPECT_EQ(pad(-42, 1), "-42");
    EXPECT_EQ(pad(INT32_MIN, 0), "-2147483648");
    EXPECT_EQ(pad(INT32_MAX, 5), "2147483647");
}

TEST(FnPad, NegativeWidthGivesThePlainNumber)
{
    EXPECT_EQ(pad(5, -3), "5");
    EXPECT_EQ(pad(-5, -1), "-5");
    EXPECT_EQ(pad(123, INT32_MIN), "123");
}

TEST(FnPad, WidthStopsAtTheResultCapacity)
{
    EXPECT_EQ(pad(1, FN_PAD_MAX_WIDTH), std::string(254, '0') + "1");
    EXPECT_EQ(pad(1, 256), std::string(254, '0') + "1");
    EXPECT_EQ(pad(-1, 100000), "-" + std::string(253, '0') + "1");
    EXPECT_EQ(pad(INT32_MIN, INT32_MAX), "-" + std::string(244, '0') + "2147483648");
}

TEST(FnPad, NullArgumentsReadAsZero)
{
    int32_t three = 3, seven = 7;
    Buffer out;
    EXPECT_TRUE(fn.pad(nullptr, &three, out.data()) && out.holds("000"));
    Buffer out2;
    EXPECT_TRUE(fn.pad(&seven, nullptr, out2.data()) && out2.holds("7"));
    EXPECT_EQ(fn.pad(&seven, &three, nullptr), nullptr);
}
