/*
 * The date functions: FN_SHORTDATE() and FN_CURRYR().
 *
 * Both read the machine's local wall clock (the server's time zone, not UTC)
 * once per call: localtime_r on POSIX systems, GetLocalTime on Windows.
 * Neither takes an argument from SQL, so NULL cannot reach them.
 *
 *   DECLARE EXTERNAL FUNCTION FN_SHORTDATE
 *     CSTRING(9) CHARACTER SET NONE
 *     RETURNS PARAMETER 1
 *     ENTRY_POINT '_fn_shortdate' MODULE_NAME 'morvanfn';
 *
 *   DECLARE EXTERNAL FUNCTION FN_CURRYR
 *     RETURNS INTEGER BY VALUE
 *     ENTRY_POINT '_fn_curryr' MODULE_NAME 'morvanfn';
 */
#include "shortdate.h"

#include <stdio.h>
#include <time.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

struct local_date {
    unsigned year, month, day;
};

local_date today()
{
#ifdef _WIN32
    SYSTEMTIME now;
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay};
#else
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    return {static_cast<unsigned>(local.tm_year + 1900), static_cast<unsigned>(local.tm_mon + 1),
            static_cast<unsigned>(local.tm_mday)};
#endif
}

} // namespace

// Each field is kept to two digits, so the text is nine characters whatever
// the date.
extern "C" fn_result *fn_format_shortdate(fn_result *result, unsigned year, unsigned month, unsigned day)
{
    snprintf(result, FN_SHORTDATE_SIZE, "%02d-%02d-%02d-", static_cast<int>(year % 100), static_cast<int>(month % 100),
             static_cast<int>(day % 100));
    return result;
}

extern "C" fn_result *fn_shortdate(fn_result *result)
{
    if (!result)
        return nullptr;
    const local_date d = today();
    return fn_format_shortdate(result, d.year, d.month, d.day);
}

extern "C" int32_t fn_curryr(void)
{
    return static_cast<int32_t>(today().year);
}
