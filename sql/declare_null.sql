/*
 * morvanfn: declares its six functions like declare.sql, but with the NULL
 * keyword after every argument, so that the engine passes a null address for
 * SQL NULL instead of 0 or the empty text.  The functions read a null
 * address as 0 or the empty text, so the results are those of declare.sql;
 * use whichever suits, and see declare.sql for the contract.
 *   isql-fb -q -i declare_null.sql <database>
 */
DECLARE EXTERNAL FUNCTION FN_SHORTDATE
    CSTRING(9) CHARACTER SET NONE
    RETURNS PARAMETER 1
    ENTRY_POINT '_fn_shortdate' MODULE_NAME 'morvanfn';

DECLARE EXTERNAL FUNCTION FN_CURRYR
    RETURNS INTEGER BY VALUE
    ENTRY_POINT '_fn_curryr' MODULE_NAME 'morvanfn';

DECLARE EXTERNAL FUNCTION FN_STRLEN
    VARCHAR(32765) CHARACTER SET NONE NULL
    RETURNS SMALLINT BY VALUE
    ENTRY_POINT '_fn_strlen' MODULE_NAME 'morvanfn';

DECLARE EXTERNAL FUNCTION FN_STRCAT
    CSTRING(4095) CHARACTER SET NONE NULL,
    CSTRING(4095) CHARACTER SET NONE NULL,
    CSTRING(8190) CHARACTER SET NONE
    RETURNS PARAMETER 3
    ENTRY_POINT '_fn_strcat' MODULE_NAME 'morvanfn';

DECLARE EXTERNAL FUNCTION FN_FULLCAT
    CSTRING(4095) CHARACTER SET NONE NULL,
    CSTRING(4095) CHARACTER SET NONE NULL,
    CSTRING(8190) CHARACTER SET NONE
    RETURNS PARAMETER 3
    ENTRY_POINT '_fn_fullcat' MODULE_NAME 'morvanfn';

DECLARE EXTERNAL FUNCTION FN_PAD
    INTEGER NULL,
    INTEGER NULL,
    CSTRING(255) CHARACTER SET NONE
    RETURNS PARAMETER 3
    ENTRY_POINT '_fn_pad' MODULE_NAME 'morvanfn';

COMMIT;
