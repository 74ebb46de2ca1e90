/* A UDR of any declaration that reads nothing and returns the empty text
 * (a VARCHAR result) or 0 (an integer one): what the engine's own work on
 * that declaration's messages costs a call, with no function's work in it.
 * The benchmark declares one beside each function, with its declaration,
 * and some with nothing but a text of a given size.  Benchmark only.
 *   CREATE FUNCTION EMPTY_UDR_FN_STRCAT (a VARCHAR(4095) CHARACTER SET NONE,
 *       b VARCHAR(4095) CHARACTER SET NONE) RETURNS VARCHAR(8190) CHARACTER SET NONE
 *     EXTERNAL NAME 'bench_empty_udr!empty' ENGINE UDR; */
#define FB_UDR_STATUS_TYPE ::Firebird::ThrowStatusWrapper
#include <firebird/UdrCppEngine.h>

#include <string.h>

FB_UDR_BEGIN_FUNCTION(empty)
    FB_UDR_CONSTRUCTOR
    {
        Firebird::IMessageMetadata *result = metadata->getOutputMetadata(status);
        offset = result->getOffset(status, 0);
        null_offset = result->getNullOffset(status, 0);
        bytes = (result->getType(status, 0) & ~1u) == SQL_VARYING ? 2 : result->getLength(status, 0);
        result->release();
    }

    FB_UDR_EXECUTE_FUNCTION
    {
        unsigned char *message = static_cast<unsigned char *>(out);
        memset(message + offset, 0, bytes); // a zero length, or 0
        memset(message + null_offset, 0, sizeof(ISC_SHORT));
    }

    unsigned offset = 0, null_offset = 0, bytes = 0;
FB_UDR_END_FUNCTION

FB_UDR_IMPLEMENT_ENTRY_POINT
