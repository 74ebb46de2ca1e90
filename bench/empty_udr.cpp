/* A UDR that does nothing but return its argument: the engine's own cost of
 * one UDR call.  Benchmark only.
 *   CREATE FUNCTION EMPTY_UDR (v INTEGER) RETURNS INTEGER
 *     EXTERNAL NAME 'bench_empty_udr!empty_udr' ENGINE UDR; */
#define FB_UDR_STATUS_TYPE ::Firebird::ThrowStatusWrapper
#include <firebird/UdrCppEngine.h>

FB_UDR_BEGIN_FUNCTION(empty_udr)
    FB_UDR_MESSAGE(InMessage, (FB_INTEGER, v));
    FB_UDR_MESSAGE(OutMessage, (FB_INTEGER, result));

    FB_UDR_EXECUTE_FUNCTION
    {
        out->resultNull = in->vNull;
        out->result = in->v;
    }
FB_UDR_END_FUNCTION

FB_UDR_IMPLEMENT_ENTRY_POINT
