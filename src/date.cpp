/*
 * The date functions: FN_SHORTDATE() and FN_CURRYR().
 *
 * Both read the machine's local wall clock (the server's time zone, not UTC)
 * once per call: localtime_r on POSIX systems, GetLocalTime on Windows.
 * Neither takes an argument from SQL, so NULL cannot reach them.  Should the
 * C runtime give no local date for the clock (one beyond the years it can
 * represent), the date is 0-0-0: FN_SHORTDATE gives '00-00-00-' and
 * FN_CURRYR 0, never whatever an unwritten date happened to hold.
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

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

fn_date today()
{
#ifdef _WIN32
    SYSTEMTIME now;
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay};
#else
    return fn_local_date(time(nullptr));
#endif
}

} // namespace

#ifndef _WIN32
extern "C" fn_date fn_local_date(time_t now)
{
    struct tm local;
    if (!localtime_r(&now, &local))
        return {0, 0, 0};
    return {static_cast<unsigned>(local.tm_year + 1900), static_cast<unsigned>(local.tm_mon + 1),
            static_cast<unsigned>(local.tm_mday)};
}
#endif

// Each field is kept to two digits, so the text is nine characters whatever
// the date.
extern "C" fn_result *fn_format_shortdate(fn_result *result, fn_date date)
{
    snprintf(result, FN_SHORTDATE_SIZE, "%02d-%02d-%02d-", static_cast<int>(date.year % 100),
             static_cast<int>(date.month % 100), static_cast<int>(date.day % 100));
    return result;
}

extern "C" fn_result *fn_shortdate(fn_result *result)
{
    if (!result)
        return nullptr;
    return fn_format_shortdate(result, today());
}

extern "C" int32_t fn_curryr(void)
{
    return static_cast<int32_t>(today().year);
}
