-- SQL NULL under declare_udr.sql: any NULL argument gives NULL.
SET LIST ON;

SELECT FN_STRLEN(NULL) AS strlen_null,
       FN_STRCAT(NULL, 'ab ') AS strcat_null_first,
       FN_STRCAT('ab ', NULL) AS strcat_null_second,
       FN_FULLCAT(NULL, NULL) AS fullcat_nulls,
       FN_PAD(NULL, 3) AS pad_null_value,
       FN_PAD(7, NULL) AS pad_null_width,
       FN_PAD(NULL, NULL) AS pad_nulls
FROM RDB$DATABASE;

-- The empty text is not NULL.
SELECT FN_STRLEN('') AS strlen_empty, '[' || FN_STRCAT('', '  ') || ']' AS strcat_empty,
       '[' || FN_FULLCAT('', '') || ']' AS fullcat_empty
FROM RDB$DATABASE;

-- NULL columns of a table, row by row.
CREATE TABLE t (n INTEGER, s VARCHAR(10));
INSERT INTO t VALUES (NULL, NULL);
INSERT INTO t VALUES (5, 'x ');
SELECT FN_PAD(n, 2) AS pad, FN_STRLEN(s) AS len, '[' || FN_STRCAT(s, s) || ']' AS cat FROM t ORDER BY n NULLS FIRST;

-- The same module with the UDF's NULL rules, chosen by the external name's
-- third part: NULL reads as 0 or the empty text, and no result is NULL.
CREATE FUNCTION PAD_UDF_NULLS (v INTEGER, w INTEGER) RETURNS VARCHAR(255) CHARACTER SET NONE
    EXTERNAL NAME 'morvanfn_udr!fn_pad!udf' ENGINE UDR;
CREATE FUNCTION STRCAT_UDF_NULLS (a VARCHAR(10) CHARACTER SET NONE, b VARCHAR(10) CHARACTER SET NONE)
    RETURNS VARCHAR(20) CHARACTER SET NONE EXTERNAL NAME 'morvanfn_udr!fn_strcat!udf' ENGINE UDR;
CREATE FUNCTION STRLEN_UDF_NULLS (s VARCHAR(10) CHARACTER SET NONE) RETURNS SMALLINT
    EXTERNAL NAME 'morvanfn_udr!fn_strlen!udf' ENGINE UDR;
COMMIT;
SELECT PAD_UDF_NULLS(NULL, 3) AS pad_null_value, PAD_UDF_NULLS(7, NULL) AS pad_null_width,
       '[' || STRCAT_UDF_NULLS(NULL, 'ab ') || ']' AS strcat_null, STRLEN_UDF_NULLS(NULL) AS strlen_null
FROM RDB$DATABASE;

-- A result longer than its declaration is refused, never written past it.
CREATE FUNCTION PAD_SMALL (v INTEGER, w INTEGER) RETURNS VARCHAR(3) CHARACTER SET NONE
    EXTERNAL NAME 'morvanfn_udr!fn_pad' ENGINE UDR;
COMMIT;
SELECT PAD_SMALL(7, 3) AS fits FROM RDB$DATABASE;
SELECT PAD_SMALL(7, 4) AS too_long FROM RDB$DATABASE;

-- Declarations the module cannot read are refused at their first call.
CREATE FUNCTION STRLEN_OF_CHAR (s CHAR(10)) RETURNS SMALLINT
    EXTERNAL NAME 'morvanfn_udr!fn_strlen' ENGINE UDR;
CREATE FUNCTION PAD_OTHER_RULE (v INTEGER, w INTEGER) RETURNS VARCHAR(10)
    EXTERNAL NAME 'morvanfn_udr!fn_pad!nulls' ENGINE UDR;
CREATE FUNCTION PAD_ONE_ARGUMENT (v INTEGER) RETURNS VARCHAR(10)
    EXTERNAL NAME 'morvanfn_udr!fn_pad' ENGINE UDR;
COMMIT;
SELECT STRLEN_OF_CHAR('x') FROM RDB$DATABASE;
SELECT PAD_OTHER_RULE(1, 2) FROM RDB$DATABASE;
SELECT PAD_ONE_ARGUMENT(1) FROM RDB$DATABASE;

-- A CHAR(n) argument is n characters in any character set, its padding
-- counted in characters, as the engine's own || reads it: in UTF8 the
-- message pads it to n times four bytes, which are not all the value.
CREATE FUNCTION FULLCAT_CHAR_UTF8 (a CHAR(3) CHARACTER SET UTF8, b CHAR(3) CHARACTER SET UTF8)
    RETURNS VARCHAR(6) CHARACTER SET UTF8 EXTERNAL NAME 'morvanfn_udr!fn_fullcat' ENGINE UDR;
CREATE FUNCTION STRCAT_CHAR_UTF8 (a CHAR(3) CHARACTER SET UTF8, b CHAR(3) CHARACTER SET UTF8)
    RETURNS VARCHAR(6) CHARACTER SET UTF8 EXTERNAL NAME 'morvanfn_udr!fn_strcat' ENGINE UDR;
CREATE FUNCTION FULLCAT_CHAR_WIN1251 (a CHAR(3) CHARACTER SET WIN1251, b CHAR(3) CHARACTER SET WIN1251)
    RETURNS VARCHAR(6) CHARACTER SET WIN1251 EXTERNAL NAME 'morvanfn_udr!fn_fullcat' ENGINE UDR;
CREATE FUNCTION FULLCAT_CHAR_SJIS (a CHAR(3) CHARACTER SET SJIS_0208, b CHAR(3) CHARACTER SET SJIS_0208)
    RETURNS VARCHAR(6) CHARACTER SET SJIS_0208 EXTERNAL NAME 'morvanfn_udr!fn_fullcat' ENGINE UDR;
COMMIT;
SELECT '[' || FULLCAT_CHAR_UTF8('a', 'b') || ']' AS utf8,
       '[' || (CAST('a' AS CHAR(3) CHARACTER SET UTF8) || CAST('b' AS CHAR(3) CHARACTER SET UTF8)) || ']' AS built_in,
       '[' || FULLCAT_CHAR_UTF8(_UTF8 'жё', _UTF8 '€') || ']' AS utf8_two_and_three_bytes,
       '[' || FULLCAT_CHAR_UTF8(_UTF8 'я€😀', _UTF8 '😀') || ']' AS utf8_full_and_four_bytes,
       '[' || STRCAT_CHAR_UTF8(_UTF8 'ж', 'b') || ']' AS utf8_trimmed,
       '[' || CAST(FULLCAT_CHAR_WIN1251(_UTF8 'жa', 'b') AS VARCHAR(6) CHARACTER SET UTF8) || ']' AS win1251
FROM RDB$DATABASE;
-- Where the module cannot count a set's characters, it says so.
SELECT FULLCAT_CHAR_SJIS('a', 'b') FROM RDB$DATABASE;

-- A join declared shorter than its texts: trimmed, it may still fit.
CREATE FUNCTION STRCAT_SHORT (a VARCHAR(2000) CHARACTER SET NONE, b VARCHAR(2000) CHARACTER SET NONE)
    RETURNS VARCHAR(10) CHARACTER SET NONE EXTERNAL NAME 'morvanfn_udr!fn_strcat' ENGINE UDR;
COMMIT;
SELECT '[' || STRCAT_SHORT(RPAD('x', 2000), RPAD('y', 2000)) || ']' AS trimmed_fits,
       '[' || STRCAT_SHORT(RPAD('abcdef', 1500), 'ghij     ') || ']' AS exactly_ten
FROM RDB$DATABASE;
SELECT STRCAT_SHORT(RPAD('abcdef', 1500), 'ghijk') AS one_too_many FROM RDB$DATABASE;
