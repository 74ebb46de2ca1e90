/*
 * morvanfn_udr: the six morvanfn functions as a UDR module, for servers that
 * load no UDFs (Firebird 4 and later, as shipped) and for databases moving
 * their UDF declarations to it.
 *
 * Each function calls the library's own entry point, so every rule of a
 * function has one implementation.  What the UDR adds around it:
 *
 *   Declared messages.  When the engine makes a routine's instance, the
 *   routine reads the types, lengths and offsets of its arguments and result
 *   from the function's declaration, so any declaration is served as written
 *   (texts as VARCHAR or CHAR of any length, integers as SMALLINT or
 *   INTEGER) and a call copies no more than its own declaration holds.  A
 *   result longer than the declared one raises "string right truncation"
 *   (SQLSTATE 22001): nothing is ever written past a declared length.  A
 *   declaration of types a function cannot read is refused at every call,
 *   with the reason.
 *
 *   NULL rules, chosen by the third part of the external name and read once
 *   per routine instance:
 *     'morvanfn_udr!fn_pad'       SQL's: any NULL argument gives NULL
 *                                 ('morvanfn_udr!fn_pad!sql' says so too)
 *     'morvanfn_udr!fn_pad!udf'   the UDF's: a NULL argument reads as 0 or
 *                                 the empty text, and no result is NULL
 *
 *   CHAR arguments are read as the engine reads them: a CHAR(n) is n
 *   characters, so in UTF8 (or UNICODE_FSS) its value is the bytes of its
 *   first n characters, not the blanks the engine pads the message with up
 *   to n times four (or three) bytes.  In the other multi-byte sets the
 *   module cannot count characters, and such a CHAR is refused: declare it
 *   VARCHAR.
 *
 *   Storage per call.  Texts arrive counted, not NUL-ended.  The joins
 *   work in the call's own messages, which the engine hands this call alone:
 *   each text is NUL-ended where it lies in the input message, on the byte
 *   after it (its own, or the NULL flag or padding that follows its slot,
 *   put back when the call is done; a declaration whose messages the engine
 *   lays out otherwise is refused), so a text ends at its first 0x00 byte,
 *   as through the UDF; the library writes the join straight into the
 *   result's place in the output message.  Nothing is copied, and a call's
 *   stack use is a small constant whatever the declaration (the engine may
 *   call a function at the bottom of a deep recursion, where little of the
 *   thread's stack is left).  Only a result declared shorter than the texts
 *   (FN_STRCAT's join may fit once trimmed) needs storage of its own: up to
 *   SCRATCH_IN_FRAME bytes in the call's frame, more from the heap for that
 *   call alone.  No storage outlives its call or is shared by two calls:
 *   nothing depends on how the engine spreads calls over threads.
 *
 * The declaration that sql/declare_udr.sql makes stands above each function.
 */
#define FB_UDR_STATUS_TYPE ::Firebird::ThrowStatusWrapper

#include "morvanfn.h"

#include <firebird/UdrCppEngine.h>

#include <initializer_list>
#include <memory>
#include <stdlib.h>
#include <string.h>

namespace {

using ::Firebird::FbException;
using ::Firebird::IMessageMetadata;
using ::Firebird::IRoutineMetadata;
using ::Firebird::ThrowStatusWrapper;

[[noreturn]] void raise(ThrowStatusWrapper *status, const char *text)
{
    const ISC_STATUS vector[] = {isc_arg_gds, isc_random, isc_arg_string, reinterpret_cast<ISC_STATUS>(text),
                                 isc_arg_end};
    throw FbException(status, vector);
}

// What the engine itself raises for a text too long for its place, with
// the "UDF: NAME" line that the engine adds to a UDF's errors.
[[noreturn]] void raise_truncation(ThrowStatusWrapper *status, const char *udf_name)
{
    const ISC_STATUS vector[] = {isc_arg_gds,    isc_arith_except, isc_arg_gds,
                                 isc_string_truncation, isc_arg_gds, isc_random,
                                 isc_arg_string, reinterpret_cast<ISC_STATUS>(udf_name), isc_arg_end};
    throw FbException(status, vector);
}

enum Kind {
    Text,    // VARCHAR or CHAR
    Varying, // VARCHAR only: FN_STRLEN reads its length word
    Integer, // SMALLINT or INTEGER; a result may also be BIGINT
};

// Where one argument or the result lies in its message.
struct Slot {
    unsigned type;   // SQL_VARYING, SQL_TEXT, SQL_SHORT, SQL_LONG or SQL_INT64
    unsigned length; // in bytes; a VARCHAR's length word comes before them
    unsigned offset;
    unsigned null_offset;
    unsigned characters; // a CHAR in UTF-8: its declared length in characters; else 0
};

// Bytes per character of the character sets whose CHAR the module reads:
// 1 for the single-byte sets, 3 or 4 for the UTF-8 ones (whose characters
// it counts), 0 for the rest (other multi-byte sets, user-defined ones).
unsigned bytes_per_character(unsigned charset)
{
    switch (charset) {
    case 0: case 1: case 2:                               // NONE, OCTETS, ASCII
    case 9: case 10: case 11: case 12: case 13: case 14:  // DOS737 ... DOS863
    case 15: case 16: case 17: case 18: case 19:          // DOS775 ... NEXT
    case 21: case 22: case 23:                            // ISO8859_1 ... 3
    case 34: case 35: case 36: case 37: case 38: case 39: case 40: // ISO8859_4 ... 13
    case 45: case 46: case 47: case 48: case 49: case 50: // DOS852 ... CYRL
    case 51: case 52: case 53: case 54: case 55:          // WIN1250 ... WIN1254
    case 58: case 59: case 60:                            // WIN1255 ... WIN1257
    case 63: case 64: case 65: case 66:                   // KOI8R, KOI8U, WIN1258, TIS620
        return 1;
    case 3: // UNICODE_FSS
        return 3;
    case 4: // UTF8
        return 4;
    default:
        return 0;
    }
}

// Whether the byte after a text's slot belongs to it: its NULL flag (or the
// padding before it) follows the value, as every engine lays a message out
// (Firebird's MsgMetadata places each flag after its value).  The joins end
// their texts on that byte (see the top).
bool byte_after_is_own(const Slot &s)
{
    return s.null_offset >= s.offset + (s.type == SQL_VARYING ? sizeof(ISC_USHORT) : 0) + s.length;
}

// How many of a UTF-8 text's bytes hold its first n characters.
unsigned utf8_prefix(const char *bytes, unsigned length, unsigned n)
{
    unsigned i = 0, seen = 0;
    for (; i < length; ++i)
        if ((static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80 && seen++ == n)
            break;
    return i;
}

struct Released {
    IMessageMetadata *metadata;
    ~Released() { metadata->release(); }
};

// Where argument (or result) i lies, and whether the function can read it
// as the kind it needs: nullptr, or why not.
const char *read_slot(ThrowStatusWrapper *status, IMessageMetadata *message, unsigned i, Kind kind, bool result,
                      Slot *slot)
{
    *slot = Slot{message->getType(status, i) & ~1u, message->getLength(status, i), message->getOffset(status, i),
                 message->getNullOffset(status, i), 0};
    const unsigned t = slot->type;
    switch (kind) {
    case Text:
        if (t != SQL_VARYING && (t != SQL_TEXT || result))
            return result ? "morvanfn_udr: a text result must be declared VARCHAR"
                          : "morvanfn_udr: a text argument must be declared VARCHAR or CHAR";
        if (!byte_after_is_own(*slot))
            return "morvanfn_udr: the engine lays out its messages in a way this module does not know";
        if (t == SQL_TEXT) {
            const unsigned width = bytes_per_character(message->getCharSet(status, i));
            if (width == 0)
                return "morvanfn_udr: a CHAR argument in this character set cannot be read (its characters "
                       "cannot be counted here): declare it VARCHAR";
            if (width > 1)
                slot->characters = slot->length / width;
        }
        return nullptr;
    case Varying:
        return t == SQL_VARYING ? nullptr : "morvanfn_udr: FN_STRLEN's argument must be declared VARCHAR";
    case Integer:
        if ((t == SQL_SHORT || t == SQL_LONG || (t == SQL_INT64 && result)) && message->getScale(status, i) == 0)
            return nullptr;
        return result ? "morvanfn_udr: an integer result must be declared SMALLINT, INTEGER or BIGINT"
                      : "morvanfn_udr: an integer argument must be declared SMALLINT or INTEGER";
    }
    return "morvanfn_udr: unknown kind of value";
}

// A routine's declared arguments and result, and its NULL rule: read once
// per routine instance.
class Signature {
public:
    // Only for the framework's second constructor, which the engine never calls.
    Signature() = default;

    // A declaration the function cannot serve is refused at each call, with
    // the reason (an error while the engine makes the instance would leave
    // the statement's transaction in use).
    Signature(ThrowStatusWrapper *status, IRoutineMetadata *metadata, std::initializer_list<Kind> arguments,
              Kind result)
        : count_(static_cast<unsigned>(arguments.size()))
    {
        const char *name = metadata->getName(status);
        strncat(udf_name_, name ? name : "", sizeof udf_name_ - sizeof "UDF: ");
        refusal_ = read_null_rule(metadata->getEntryPoint(status), &udf_nulls_);
        const Released in{metadata->getInputMetadata(status)};
        if (in.metadata->getCount(status) != count_) {
            refusal_ = "morvanfn_udr: the declaration has another number of arguments than the function";
            return;
        }
        unsigned i = 0;
        for (const Kind kind : arguments) {
            const char *why = read_slot(status, in.metadata, i, kind, false, &in_[i]);
            refusal_ = refusal_ ? refusal_ : why;
            ++i;
        }
        const Released out{metadata->getOutputMetadata(status)};
        const char *why = read_slot(status, out.metadata, 0, result, true, &out_);
        refusal_ = refusal_ ? refusal_ : why;
    }

    // The start of every call: a declaration the function cannot read is
    // refused; under SQL's rule a NULL argument makes the result NULL and
    // ends the call.  True when the call goes on.
    bool proceeds(ThrowStatusWrapper *status, const unsigned char *in, unsigned char *out) const
    {
        if (refusal_)
            raise(status, refusal_);
        if (udf_nulls_)
            return true;
        for (unsigned i = 0; i < count_; ++i)
            if (is_null(in, in_[i])) {
                const ISC_SHORT yes = FB_TRUE;
                memcpy(out + out_.null_offset, &yes, sizeof yes);
                return false;
            }
        return true;
    }

    // The UDF's rule: a NULL argument reads as 0 or the empty text.
    fn_integer integer(const unsigned char *in, unsigned i) const
    {
        const Slot &s = in_[i];
        if (is_null(in, s))
            return 0;
        if (s.type == SQL_SHORT) {
            ISC_SHORT v;
            memcpy(&v, in + s.offset, sizeof v);
            return v;
        }
        ISC_LONG v;
        memcpy(&v, in + s.offset, sizeof v);
        return v;
    }

    // A text argument where it lies in the input message, and its length
    // (CHAR: its declared length, in characters where it is UTF-8); nullptr
    // for NULL.
    char *text(unsigned char *in, unsigned i, unsigned *length) const
    {
        const Slot &s = in_[i];
        *length = 0;
        if (is_null(in, s))
            return nullptr;
        char *bytes = reinterpret_cast<char *>(in + s.offset);
        if (s.type == SQL_TEXT) {
            *length = s.characters ? utf8_prefix(bytes, s.length, s.characters) : s.length;
            return bytes;
        }
        ISC_USHORT n;
        memcpy(&n, bytes, sizeof n);
        *length = n;
        return bytes + sizeof n;
    }

    // Where the result's text goes in the output message, and the longest
    // it holds: with its closing NUL on the byte after the slot, the
    // result's NULL flag or padding, which set_length then writes.
    char *result_place(unsigned char *out) const
    {
        return reinterpret_cast<char *>(out + out_.offset + sizeof(ISC_USHORT));
    }
    unsigned result_length() const { return out_.length; }

    // The result already in place (result_place): its length word and flag.
    void set_length(unsigned char *out, size_t length) const
    {
        const ISC_USHORT n = static_cast<ISC_USHORT>(length);
        memcpy(out + out_.offset, &n, sizeof n);
        set_not_null(out);
    }

    // FN_STRLEN's argument as the library reads it: the VARCHAR itself.
    const fn_varying *varying(const unsigned char *in, unsigned i, const fn_varying *empty) const
    {
        return is_null(in, in_[i]) ? empty : reinterpret_cast<const fn_varying *>(in + in_[i].offset);
    }

    void set_text(ThrowStatusWrapper *status, unsigned char *out, const char *text) const
    {
        const size_t length = strlen(text);
        if (length > out_.length)
            raise_truncation(status, udf_name_);
        const ISC_USHORT n = static_cast<ISC_USHORT>(length);
        memcpy(out + out_.offset, &n, sizeof n);
        memcpy(out + out_.offset + sizeof n, text, length);
        set_not_null(out);
    }

    void set_integer(unsigned char *out, int32_t value) const
    {
        if (out_.type == SQL_SHORT) {
            const ISC_SHORT v = static_cast<ISC_SHORT>(value); // as a UDF's RETURNS SMALLINT reads it
            memcpy(out + out_.offset, &v, sizeof v);
        } else if (out_.type == SQL_LONG) {
            const ISC_LONG v = value;
            memcpy(out + out_.offset, &v, sizeof v);
        } else {
            const ISC_INT64 v = value;
            memcpy(out + out_.offset, &v, sizeof v);
        }
        set_not_null(out);
    }

private:
    static const char *read_null_rule(const char *external_name, bool *udf_nulls)
    {
        const char *rule = strchr(external_name, '!');
        rule = rule ? strchr(rule + 1, '!') : nullptr;
        *udf_nulls = rule && strcmp(rule + 1, "udf") == 0;
        if (!rule || *udf_nulls || strcmp(rule + 1, "sql") == 0)
            return nullptr;
        return "morvanfn_udr: the external name's third part must be 'udf' (the UDF's NULL rules) "
               "or 'sql' (SQL's, as with none)";
    }

    static bool is_null(const unsigned char *message, const Slot &s)
    {
        ISC_SHORT null;
        memcpy(&null, message + s.null_offset, sizeof null);
        return null != 0;
    }

    void set_not_null(unsigned char *out) const
    {
        const ISC_SHORT no = FB_FALSE;
        memcpy(out + out_.null_offset, &no, sizeof no);
    }

    char udf_name_[sizeof "UDF: " + 4 * 63] = "UDF: "; // for errors: the function's SQL name
    const char *refusal_ = nullptr;
    bool udf_nulls_ = false;
    unsigned count_ = 0;
    Slot in_[2] = {};
    Slot out_ = {};
};

// A text NUL-ended where it lies, for the length of a call: on the byte
// after it (its own, or its slot's NULL flag or padding), put back when the
// call is done, however it ends.
class Ended {
public:
    Ended(char *text, unsigned length) : text_(text), at_(text + length), kept_(*at_) { *at_ = '\0'; }
    ~Ended() { *at_ = kept_; }
    Ended(const Ended &) = delete;
    Ended &operator=(const Ended &) = delete;
    char *text() const { return text_; }

private:
    char *const text_;
    char *const at_;
    const char kept_;
};

// Storage a call needs beyond its messages: up to this much in its own frame.
constexpr size_t SCRATCH_IN_FRAME = 1024;

struct Free {
    void operator()(char *p) const { free(p); }
};

// FN_STRCAT and FN_FULLCAT, in the call's own messages (see the top).
template <typename Join>
void join_texts(ThrowStatusWrapper *status, const Signature &declared, unsigned char *in, unsigned char *out,
                Join join)
{
    if (!declared.proceeds(status, in, out))
        return;
    unsigned la, lb;
    char *a = declared.text(in, 0, &la);
    char *b = declared.text(in, 1, &lb);
    char empty_a[1] = "", empty_b[1] = "";
    const Ended ea(a ? a : empty_a, la), eb(b ? b : empty_b, lb);
    if (size_t{la} + lb <= declared.result_length()) {
        declared.set_length(out, strlen(join(ea.text(), eb.text(), declared.result_place(out))));
        return;
    }
    // A result declared shorter than the texts (FN_STRCAT's may fit once
    // trimmed): the join needs a place of its own, in the frame or the heap.
    const size_t size = size_t{la} + lb + 1;
    char in_frame[SCRATCH_IN_FRAME];
    std::unique_ptr<char, Free> on_heap(size > sizeof in_frame ? static_cast<char *>(malloc(size)) : nullptr);
    if (size > sizeof in_frame && !on_heap)
        raise(status, "morvanfn_udr: no memory for the texts of this call");
    declared.set_text(status, out, join(ea.text(), eb.text(), on_heap ? on_heap.get() : in_frame));
}

} // namespace

/* CREATE FUNCTION FN_SHORTDATE () RETURNS VARCHAR(9) CHARACTER SET NONE
 *   EXTERNAL NAME 'morvanfn_udr!fn_shortdate' ENGINE UDR; */
FB_UDR_BEGIN_FUNCTION(fn_shortdate)
    FB_UDR_CONSTRUCTOR, declared(status, metadata__, {}, Text) {}

    FB_UDR_EXECUTE_FUNCTION
    {
        if (!declared.proceeds(status, in, out))
            return;
        char result[FN_SHORTDATE_SIZE];
        declared.set_text(status, out, fn_shortdate(result));
    }

    const Signature declared;
FB_UDR_END_FUNCTION

/* CREATE FUNCTION FN_CURRYR () RETURNS INTEGER
 *   EXTERNAL NAME 'morvanfn_udr!fn_curryr' ENGINE UDR; */
FB_UDR_BEGIN_FUNCTION(fn_curryr)
    FB_UDR_CONSTRUCTOR, declared(status, metadata__, {}, Integer) {}

    FB_UDR_EXECUTE_FUNCTION
    {
        if (declared.proceeds(status, in, out))
            declared.set_integer(out, fn_curryr());
    }

    const Signature declared;
FB_UDR_END_FUNCTION

/* CREATE FUNCTION FN_STRLEN (s VARCHAR(32765) CHARACTER SET NONE) RETURNS SMALLINT
 *   EXTERNAL NAME 'morvanfn_udr!fn_strlen' ENGINE UDR;
 * The message's VARCHAR is the library's counted string: no copy. */
FB_UDR_BEGIN_FUNCTION(fn_strlen)
    FB_UDR_CONSTRUCTOR, declared(status, metadata__, {Varying}, Integer) {}

    FB_UDR_EXECUTE_FUNCTION
    {
        if (!declared.proceeds(status, in, out))
            return;
        const fn_varying empty{};
        declared.set_integer(out, fn_strlen(declared.varying(in, 0, &empty)));
    }

    const Signature declared;
FB_UDR_END_FUNCTION

/* CREATE FUNCTION FN_STRCAT (a VARCHAR(4095) CHARACTER SET NONE, b VARCHAR(4095) CHARACTER SET NONE)
 *   RETURNS VARCHAR(8190) CHARACTER SET NONE
 *   EXTERNAL NAME 'morvanfn_udr!fn_strcat' ENGINE UDR; */
FB_UDR_BEGIN_FUNCTION(fn_strcat)
    FB_UDR_CONSTRUCTOR, declared(status, metadata__, {Text, Text}, Text) {}

    FB_UDR_EXECUTE_FUNCTION
    {
        join_texts(status, declared, in, out, fn_strcat);
    }

    const Signature declared;
FB_UDR_END_FUNCTION

/* CREATE FUNCTION FN_FULLCAT (a VARCHAR(4095) CHARACTER SET NONE, b VARCHAR(4095) CHARACTER SET NONE)
 *   RETURNS VARCHAR(8190) CHARACTER SET NONE
 *   EXTERNAL NAME 'morvanfn_udr!fn_fullcat' ENGINE UDR; */
FB_UDR_BEGIN_FUNCTION(fn_fullcat)
    FB_UDR_CONSTRUCTOR, declared(status, metadata__, {Text, Text}, Text) {}

    FB_UDR_EXECUTE_FUNCTION
    {
        join_texts(status, declared, in, out, fn_fullcat);
    }

    const Signature declared;
FB_UDR_END_FUNCTION

/* CREATE FUNCTION FN_PAD (v INTEGER, w INTEGER) RETURNS VARCHAR(255) CHARACTER SET NONE
 *   EXTERNAL NAME 'morvanfn_udr!fn_pad' ENGINE UDR; */
FB_UDR_BEGIN_FUNCTION(fn_pad)
    FB_UDR_CONSTRUCTOR, declared(status, metadata__, {Integer, Integer}, Text) {}

    FB_UDR_EXECUTE_FUNCTION
    {
        if (!declared.proceeds(status, in, out))
            return;
        const fn_integer value = declared.integer(in, 0), width = declared.integer(in, 1);
        char result[FN_PAD_SIZE];
        declared.set_text(status, out, fn_pad(&value, &width, result));
    }

    const Signature declared;
FB_UDR_END_FUNCTION

FB_UDR_IMPLEMENT_ENTRY_POINT
