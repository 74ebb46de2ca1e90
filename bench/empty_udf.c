/* UDFs that do nothing: the engine's own cost of one UDF call, with an
 * INTEGER argument, and with FN_STRLEN's VARCHAR(32765) argument.
 * Benchmark only.
 *   DECLARE EXTERNAL FUNCTION EMPTY_UDF INTEGER RETURNS INTEGER BY VALUE
 *     ENTRY_POINT 'empty_udf' MODULE_NAME 'bench_empty_udf';
 *   DECLARE EXTERNAL FUNCTION EMPTY_UDF_VARCHAR VARCHAR(32765) CHARACTER SET NONE
 *     RETURNS INTEGER BY VALUE ENTRY_POINT 'empty_udf_varchar' MODULE_NAME 'bench_empty_udf'; */
#include <stdint.h>

int32_t empty_udf(const int32_t *value)
{
    return *value;
}

int32_t empty_udf_varchar(const void *text)
{
    (void)text;
    return 1;
}
