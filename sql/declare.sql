/*
 * morvanfn: declares its six functions in the current database.
 *   isql-fb -q -i declare.sql <database>
 * The server must be allowed to load the module: UdfAccess = Restrict <dir>
 * in firebird.conf, with morvanfn.so (morvanfn.dll) in <dir>.
 *
 *   FN_SHORTDATE()       CHAR 'YY-MM-DD-' of the server's local date
 *   FN_CURRYR()          INTEGER year of the server's local date
 *   FN_STRLEN(s)         SMALLINT length of s in bytes (s up to 32765 bytes)
 *   FN_STRCAT(a, b)      a || b, each without its trailing blanks (0x20)
 *   FN_FULLCAT(a, b)     a || b unchanged
 *   FN_PAD(v, w)         v zero-padded to w characters; w < 0 counts as 0,
 *                        w > 255 as 255; never truncates the number
 *
 * Sizes are in bytes (CHARACTER SET NONE, so the script works in a UTF8
 * database too): FN_STRCAT and FN_FULLCAT take texts of up to 4095 bytes
 * each and return up to 8190, so every result fits its buffer; a longer
 * argument is refused by the engine with "string right truncation".  A text
 * ends at its first 0x00 byte.  Larger sizes would be safe as long as the
 * result holds both arguments, but the engine copies every declared byte on
 * each call, so they would cost every row, short texts included.
 *
 * NULL: these declarations let the engine pass SQL NULL as 0 or the empty
 * text, so FN_PAD(NULL, 3) gives '000' and FN_STRLEN(NULL) gives 0; no
 * function ever returns NULL.
 */
DECLARE EXTERNAL FUNCTION FN_SHORTDATE
    CSTRING(9) CHARACTER SET NONE
    RETURNS PARAMETER 1
    ENTRY_POINT '_fn_shortdate' MODULE_NAME 'morvanfn';

DECLARE EXTERNAL FUNCTION FN_CURRYR
    RETURNS INTEGER BY VALUE
    ENTRY_POINT '_fn_curryr' MODULE_NAME 'morvanfn';

DECLARE EXTERNAL FUNCTION FN_STRLEN
    VARCHAR(32765) CHARACTER SET NONE
    RETURNS SMALLINT BY VALUE
    ENTRY_POINT '_fn_strlen' MODULE_NAME 'morvanfn';

DECLARE EXTERNAL FUNCTION FN_STRCAT
    CSTRING(4095) CHARACTER SET NONE,
    CSTRING(4095) CHARACTER SET NONE,
    CSTRING(8190) CHARACTER SET NONE
    RETURNS PARAMETER 3
    ENTRY_POINT '_fn_strcat' MODULE_NAME 'morvanfn';

DECLARE EXTERNAL FUNCTION FN_FULLCAT
    CSTRING(4095) CHARACTER SET NONE,
    CSTRING(4095) CHARACTER SET NONE,
    CSTRING(8190) CHARACTER SET NONE
    RETURNS PARAMETER 3
    ENTRY_POINT '_fn_fullcat' MODULE_NAME 'morvanfn';

DECLARE EXTERNAL FUNCTION FN_PAD
    INTEGER,
    INTEGER,
    CSTRING(255) CHARACTER SET NONE
    RETURNS PARAMETER 3
    ENTRY_POINT '_fn_pad' MODULE_NAME 'morvanfn';

COMMIT;
