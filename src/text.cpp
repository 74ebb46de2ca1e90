/*
 * The text and number functions: FN_STRLEN, FN_STRCAT, FN_FULLCAT, FN_PAD.
 *
 * Texts are single bytes, ended by NUL; the only blank is 0x20 (not tab, not
 * 0xA0).  A null argument address, which the server passes for SQL NULL when
 * the declaration says NULL after the type, reads as the empty text or 0; a
 * null result buffer is left alone and null is returned.  Results are written
 * straight into the server's buffer: the declarations in sql/declare.sql size
 * each buffer for the longest result that its arguments allow.
 *
 *   DECLARE EXTERNAL FUNCTION FN_STRLEN
 *     VARCHAR(32765) CHARACTER SET NONE
 *     RETURNS SMALLINT BY VALUE
 *     ENTRY_POINT '_fn_strlen' MODULE_NAME 'morvanfn';
 *
 *   DECLARE EXTERNAL FUNCTION FN_STRCAT
 *     CSTRING(4095) CHARACTER SET NONE, CSTRING(4095) CHARACTER SET NONE,
 *     CSTRING(8190) CHARACTER SET NONE
 *     RETURNS PARAMETER 3
 *     ENTRY_POINT '_fn_strcat' MODULE_NAME 'morvanfn';
 *
 *   FN_FULLCAT: as FN_STRCAT, with ENTRY_POINT '_fn_fullcat'.
 *
 *   DECLARE EXTERNAL FUNCTION FN_PAD
 *     INTEGER, INTEGER, CSTRING(255) CHARACTER SET NONE
 *     RETURNS PARAMETER 3
 *     ENTRY_POINT '_fn_pad' MODULE_NAME 'morvanfn';
 */
#include "morvanfn.h"

#include <stdio.h>
#include <string.h>

namespace {

const fn_text *text_or_empty(const fn_text *s)
{
    return s ? s : "";
}

// Overwrites the trailing blanks of s with NUL; returns the new length.
size_t trim_trailing_blanks(fn_text *s)
{
    size_t n = strlen(s);
    while (n > 0 && s[n - 1] == ' ')
        s[--n] = '\0';
    return n;
}

fn_result *join(fn_result *result, const fn_text *a, size_t a_len, const fn_text *b, size_t b_len)
{
    memcpy(result, a, a_len);
    memcpy(result + a_len, b, b_len);
    result[a_len + b_len] = '\0';
    return result;
}

} // namespace

extern "C" int32_t fn_strlen(const fn_varying *s)
{
    if (!s)
        return 0;
    uint16_t length;
    memcpy(&length, s, sizeof length);
    return length > 0x7FFF ? 0x7FFF : length;
}

extern "C" fn_result *fn_strcat(fn_text *a, fn_text *b, fn_result *result)
{
    if (!result)
        return nullptr;
    const size_t a_len = a ? trim_trailing_blanks(a) : 0;
    const size_t b_len = b ? trim_trailing_blanks(b) : 0;
    return join(result, text_or_empty(a), a_len, text_or_empty(b), b_len);
}

extern "C" fn_result *fn_fullcat(const fn_text *a, const fn_text *b, fn_result *result)
{
    if (!result)
        return nullptr;
    a = text_or_empty(a);
    b = text_or_empty(b);
    return join(result, a, strlen(a), b, strlen(b));
}

extern "C" fn_result *fn_pad(const fn_integer *value, const fn_integer *width, fn_result *result)
{
    if (!result)
        return nullptr;
    int w = width ? *width : 0;
    w = w < 0 ? 0 : w > FN_PAD_MAX_WIDTH ? FN_PAD_MAX_WIDTH : w;
    char format[8]; // "%0255d" and NUL at the most
    snprintf(format, sizeof format, "%%0%dd", w);
    snprintf(result, FN_PAD_SIZE, format, value ? *value : 0);
    return result;
}
