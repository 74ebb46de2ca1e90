/* UDFs that do nothing, one with each function's calling convention: what
 * the engine's own work on a declaration costs a call, with no function's
 * work in it.  The benchmark declares each with its function's declaration
 * (sql/declare.sql, EMPTY_UDF_FN_PAD for FN_PAD), and empty_varchar with
 * nothing but a VARCHAR of a given size.  Benchmark only.
 *   DECLARE EXTERNAL FUNCTION EMPTY_UDF_FN_PAD INTEGER, INTEGER, CSTRING(255) CHARACTER SET NONE
 *     RETURNS PARAMETER 3 ENTRY_POINT 'empty_fn_pad' MODULE_NAME 'bench_empty_udf'; */
#include <stdint.h>

static char *nothing(char *result)
{
    result[0] = '\0';
    return result;
}

char *empty_fn_shortdate(char *result) { return nothing(result); }
int32_t empty_fn_curryr(void) { return 0; }
int32_t empty_fn_strlen(const void *text) { (void)text; return 0; }
char *empty_fn_strcat(const char *a, const char *b, char *result) { (void)a, (void)b; return nothing(result); }
char *empty_fn_fullcat(const char *a, const char *b, char *result) { (void)a, (void)b; return nothing(result); }
char *empty_fn_pad(const int32_t *v, const int32_t *w, char *result) { (void)v, (void)w; return nothing(result); }
int32_t empty_varchar(const void *text) { (void)text; return 0; }
