/*
 * morvanfn: six scalar SQL functions for Firebird and other InterBase-family
 * servers, called through the server's external function (UDF) interface.
 *
 *   FN_SHORTDATE()        today's local date as 'YY-MM-DD-' (nine characters)
 *   FN_CURRYR()           today's local year, e.g. 2026
 *   FN_STRLEN(s)          length in bytes of a VARCHAR
 *   FN_STRCAT(a, b)       a || b after trailing blanks (0x20 only) are removed
 *   FN_FULLCAT(a, b)      a || b unchanged
 *   FN_PAD(v, w)          v in decimal, zero-padded to w characters (w <= 255)
 *
 * The server passes every argument by address, in memory it owns, and hands
 * each text function a result buffer of the declared size as the last
 * argument; the function writes a NUL-ended text there and returns the
 * buffer's address.  sql/declare.sql declares the functions so that every
 * result fits its buffer.  Nothing is allocated, locked or kept between calls,
 * so any entry point may run on any number of threads at once.
 *
 * A null address (what the server passes for SQL NULL when a declaration puts
 * the NULL keyword after an argument) reads as 0, the empty text or the empty
 * counted string.  Given a null result buffer, a function writes nothing and
 * returns null.
 *
 * Each function is exported as its name with a leading underscore
 * (_fn_pad for fn_pad): those are the names a declaration's ENTRY_POINT uses.
 */
#ifndef MORVANFN_H
#define MORVANFN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Integer argument: the address of a 32-bit signed integer. */
typedef int32_t fn_integer;

/* Text argument: the address of a NUL-ended single-byte text. */
typedef char fn_text;

/* Counted-string argument: the server's VARCHAR form, a 16-bit length in the
 * machine's byte order followed by that many bytes (not NUL-ended).  Read the
 * length with memcpy: the server gives no alignment guarantee. */
typedef struct fn_varying {
    uint16_t length;
    char text[1];
} fn_varying;

/* Result buffer: writable bytes supplied by the server as the last argument.
 * Text result: the NUL-ended text written there; its address is returned.
 * Integer result: a 32-bit signed integer returned by value. */
typedef char fn_result;

/* Capacity of the text results, in bytes including the closing NUL. */
#define FN_SHORTDATE_SIZE 10 /* 'YY-MM-DD-' and NUL */
#define FN_PAD_MAX_WIDTH 255 /* wider requests are padded to this width */
#define FN_PAD_SIZE (FN_PAD_MAX_WIDTH + 1)
/* fn_strcat and fn_fullcat need the two argument lengths plus one byte. */

/* Every entry point is exported under its name with a leading underscore. */
#if defined(_WIN32)
#define FN_ENTRY(symbol) /* exported by name through morvanfn.def */
#elif defined(MORVANFN_BUILDING)
#define FN_ENTRY(symbol) __asm__(#symbol) __attribute__((visibility("default")))
#else
#define FN_ENTRY(symbol) __asm__(#symbol)
#endif

/* Writes today's local date as 'YY-MM-DD-' and NUL: exactly
 * FN_SHORTDATE_SIZE bytes.  Where the C runtime gives no local date for the
 * clock (one past the years it can represent), '00-00-00-'. */
fn_result *fn_shortdate(fn_result *result) FN_ENTRY(_fn_shortdate);

/* Today's local year, in full (2026, not 26); 0 where the C runtime gives no
 * local date for the clock. */
int32_t fn_curryr(void) FN_ENTRY(_fn_curryr);

/* The string's length in bytes, 0 to 32767; reads only the length field. */
int32_t fn_strlen(const fn_varying *s) FN_ENTRY(_fn_strlen);

/* Removes the trailing blanks (byte 0x20 only) of a and of b in their own
 * buffers, then writes a followed by b.  Result: strlen(a) + strlen(b) + 1
 * bytes at most. */
fn_result *fn_strcat(fn_text *a, fn_text *b, fn_result *result) FN_ENTRY(_fn_strcat);

/* Writes a followed by b, both unchanged.  Result: strlen(a) + strlen(b) + 1
 * bytes. */
fn_result *fn_fullcat(const fn_text *a, const fn_text *b, fn_result *result) FN_ENTRY(_fn_fullcat);

/* Writes *value in decimal with zeros between the sign and the digits until
 * the text is *width characters long.  Nothing is ever cut off; a width below
 * zero counts as 0 and one above FN_PAD_MAX_WIDTH as FN_PAD_MAX_WIDTH.
 * Result: at most FN_PAD_SIZE bytes. */
fn_result *fn_pad(const fn_integer *value, const fn_integer *width, fn_result *result) FN_ENTRY(_fn_pad);

#ifdef __cplusplus
}
#endif

#endif /* MORVANFN_H */
