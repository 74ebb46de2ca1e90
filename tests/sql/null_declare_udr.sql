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
