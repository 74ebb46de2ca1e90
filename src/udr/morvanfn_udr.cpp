/*
 * morvanfn_udr: the six morvanfn functions as a UDR module, for servers that
 * load no UDFs (UdfAccess = None) and for callers who want SQL's NULL rules.
 *
 * Each function calls the library's own entry point, so every rule has one
 * implementation.  The differences from the UDF declarations come from the
 * UDR interface itself:
 *   - any NULL argument gives NULL;
 *   - texts arrive as VARCHAR (length and bytes, not NUL-ended); each is
 *     copied, NUL-ended, into storage of the call's own (no heap), so a text
 *     ends at its first 0x00 byte, as through the UDF;
 *   - results are VARCHAR of the declared size, copied from a local buffer,
 *     so no result can overflow.
 * Messages must match sql/declare_udr.sql; the declaration of each function
 * stands above it.
 */
#define FB_UDR_STATUS_TYPE ::Firebird::ThrowStatusWrapper

#include "morvanfn.h"

#include <firebird/UdrCppEngine.h>

#include <string.h>

namespace {

constexpr unsigned kStrlenMax = 32765; // the longest VARCHAR
constexpr unsigned kJoinArgMax = 4095;
constexpr unsigned kJoinMax = 2 * kJoinArgMax;

// A VARCHAR argument as a NUL-ended text, in the caller's frame.
template <unsigned N>
struct NulEnded {
    char text[N + 1];
    explicit NulEnded(const ::Firebird::FbVarChar<N> &v)
    {
        memcpy(text, v.str, v.length);
        text[v.length] = '\0';
    }
};

// A NUL-ended text into a VARCHAR result of N bytes (the text fits: every
// local buffer below is sized to N + 1).
template <unsigned N>
void set_varchar(::Firebird::FbVarChar<N> &out, const char *text)
{
    const size_t length = strlen(text);
    out.length = static_cast<ISC_USHORT>(length);
    memcpy(out.str, text, length);
}

// FN_STRCAT and FN_FULLCAT: NULL if either text is, else join(a, b, buffer).
template <typename In, typename Out, typename Join>
void join_texts(const In *in, Out *out, Join join)
{
    out->resultNull = in->aNull || in->bNull;
    if (out->resultNull)
        return;
    NulEnded<kJoinArgMax> a(in->a), b(in->b);
    char result[kJoinMax + 1];
    set_varchar(out->result, join(a.text, b.text, result));
}

} // namespace

/* CREATE FUNCTION FN_SHORTDATE () RETURNS VARCHAR(9) CHARACTER SET NONE
 *   EXTERNAL NAME 'morvanfn_udr!fn_shortdate' ENGINE UDR; */
FB_UDR_BEGIN_FUNCTION(fn_shortdate)
    FB_UDR_MESSAGE(OutMessage, (FB_VARCHAR(FN_SHORTDATE_SIZE - 1), result));

    FB_UDR_EXECUTE_FUNCTION
    {
        char result[FN_SHORTDATE_SIZE];
        set_varchar(out->result, fn_shortdate(result));
        out->resultNull = FB_FALSE;
    }
FB_UDR_END_FUNCTION

/* CREATE FUNCTION FN_CURRYR () RETURNS INTEGER
 *   EXTERNAL NAME 'morvanfn_udr!fn_curryr' ENGINE UDR; */
FB_UDR_BEGIN_FUNCTION(fn_curryr)
    FB_UDR_MESSAGE(OutMessage, (FB_INTEGER, result));

    FB_UDR_EXECUTE_FUNCTION
    {
        out->result = fn_curryr();
        out->resultNull = FB_FALSE;
    }
FB_UDR_END_FUNCTION

/* CREATE FUNCTION FN_STRLEN (s VARCHAR(32765) CHARACTER SET NONE) RETURNS SMALLINT
 *   EXTERNAL NAME 'morvanfn_udr!fn_strlen' ENGINE UDR;
 * The message's VARCHAR is the library's counted string: no copy. */
FB_UDR_BEGIN_FUNCTION(fn_strlen)
    FB_UDR_MESSAGE(InMessage, (FB_VARCHAR(kStrlenMax), s));
    FB_UDR_MESSAGE(OutMessage, (FB_SMALLINT, result));

    FB_UDR_EXECUTE_FUNCTION
    {
        out->resultNull = in->sNull;
        if (!in->sNull)
            out->result = static_cast<ISC_SHORT>(fn_strlen(reinterpret_cast<const fn_varying *>(&in->s)));
    }
FB_UDR_END_FUNCTION

/* CREATE FUNCTION FN_STRCAT (a VARCHAR(4095) CHARACTER SET NONE, b VARCHAR(4095) CHARACTER SET NONE)
 *   RETURNS VARCHAR(8190) CHARACTER SET NONE
 *   EXTERNAL NAME 'morvanfn_udr!fn_strcat' ENGINE UDR; */
FB_UDR_BEGIN_FUNCTION(fn_strcat)
    FB_UDR_MESSAGE(InMessage, (FB_VARCHAR(kJoinArgMax), a)(FB_VARCHAR(kJoinArgMax), b));
    FB_UDR_MESSAGE(OutMessage, (FB_VARCHAR(kJoinMax), result));

    FB_UDR_EXECUTE_FUNCTION
    {
        join_texts(in, out, fn_strcat);
    }
FB_UDR_END_FUNCTION

/* CREATE FUNCTION FN_FULLCAT (a VARCHAR(4095) CHARACTER SET NONE, b VARCHAR(4095) CHARACTER SET NONE)
 *   RETURNS VARCHAR(8190) CHARACTER SET NONE
 *   EXTERNAL NAME 'morvanfn_udr!fn_fullcat' ENGINE UDR; */
FB_UDR_BEGIN_FUNCTION(fn_fullcat)
    FB_UDR_MESSAGE(InMessage, (FB_VARCHAR(kJoinArgMax), a)(FB_VARCHAR(kJoinArgMax), b));
    FB_UDR_MESSAGE(OutMessage, (FB_VARCHAR(kJoinMax), result));

    FB_UDR_EXECUTE_FUNCTION
    {
        join_texts(in, out, fn_fullcat);
    }
FB_UDR_END_FUNCTION

/* CREATE FUNCTION FN_PAD (v INTEGER, w INTEGER) RETURNS VARCHAR(255) CHARACTER SET NONE
 *   EXTERNAL NAME 'morvanfn_udr!fn_pad' ENGINE UDR; */
FB_UDR_BEGIN_FUNCTION(fn_pad)
    FB_UDR_MESSAGE(InMessage, (FB_INTEGER, v)(FB_INTEGER, w));
    FB_UDR_MESSAGE(OutMessage, (FB_VARCHAR(FN_PAD_MAX_WIDTH), result));

    FB_UDR_EXECUTE_FUNCTION
    {
        out->resultNull = in->vNull || in->wNull;
        if (out->resultNull)
            return;
        char result[FN_PAD_SIZE];
        set_varchar(out->result, fn_pad(&in->v, &in->w, result));
    }
FB_UDR_END_FUNCTION

FB_UDR_IMPLEMENT_ENTRY_POINT
