/* A UDF that does nothing but return its argument: the engine's own cost of
 * one UDF call.  Benchmark only.
 *   DECLARE EXTERNAL FUNCTION EMPTY_UDF INTEGER RETURNS INTEGER BY VALUE
 *     ENTRY_POINT 'empty_udf' MODULE_NAME 'bench_empty_udf'; */
#include <stdint.h>

int32_t empty_udf(const int32_t *value)
{
    return *value;
}
