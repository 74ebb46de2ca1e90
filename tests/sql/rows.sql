-- Every function over the rows of a table, each row checked against the
-- engine's built-in functions.
SET LIST ON;

CREATE TABLE t (id INTEGER NOT NULL PRIMARY KEY, n INTEGER, w INTEGER, a VARCHAR(40), b CHAR(20));
COMMIT;

INSERT INTO t
WITH RECURSIVE r AS (SELECT 0 AS i FROM RDB$DATABASE UNION ALL SELECT i + 1 FROM r WHERE i < 99),
     s AS (SELECT r1.i * 100 + r2.i + 1 AS i FROM r r1 CROSS JOIN r r2 WHERE r1.i < 50)
SELECT i, (i * 7919 - 20000000) * (1 - 2 * MOD(i, 2)), MOD(i, 23),
       RPAD('v' || i, MOD(i, 30) + 1, ' '), 'c' || MOD(i, 97)
FROM s;
COMMIT;

-- Texts compare with a '|' after them: '=' alone ignores trailing blanks.
SELECT COUNT(*) AS rows_checked,
       SUM(IIF(FN_STRLEN(a) = OCTET_LENGTH(a), 0, 1)) AS strlen_wrong,
       SUM(IIF(FN_STRCAT(a, b) || '|' = TRIM(TRAILING FROM a) || TRIM(TRAILING FROM b) || '|', 0, 1)) AS strcat_wrong,
       SUM(IIF(FN_FULLCAT(a, b) || '|' = a || b || '|', 0, 1)) AS fullcat_wrong,
       SUM(IIF(FN_PAD(n, w) || '|' = CASE WHEN CHAR_LENGTH(n) >= w THEN n
                                          WHEN n < 0 THEN '-' || LPAD(-n, w - 1, '0')
                                          ELSE LPAD(n, w, '0') END || '|', 0, 1)) AS pad_wrong
FROM t;

-- The calls gave results and changed nothing in the table.
SELECT COUNT(*) AS rows_left, SUM(OCTET_LENGTH(a)) AS bytes_in_a, SUM(n) AS sum_n FROM t;
