-- SQL NULL under declare_null.sql: the engine passes a null address, which
-- the functions read as 0 or the empty text: the results of declare.sql.
SET LIST ON;

SELECT FN_STRLEN(NULL) AS strlen_null,
       '[' || FN_STRCAT(NULL, 'ab ') || ']' AS strcat_null_first,
       '[' || FN_STRCAT('ab ', NULL) || ']' AS strcat_null_second,
       '[' || FN_FULLCAT(NULL, NULL) || ']' AS fullcat_nulls,
       FN_PAD(NULL, 3) AS pad_null_value,
       FN_PAD(7, NULL) AS pad_null_width,
       FN_PAD(NULL, NULL) AS pad_nulls
FROM RDB$DATABASE;

-- NULL columns of a table, row by row.
CREATE TABLE t (n INTEGER, s VARCHAR(10));
INSERT INTO t VALUES (NULL, NULL);
INSERT INTO t VALUES (5, 'x ');
SELECT FN_PAD(n, 2) AS pad, FN_STRLEN(s) AS len, '[' || FN_STRCAT(s, s) || ']' AS cat FROM t ORDER BY n NULLS FIRST;
