-- Inputs chosen to break a careless function: extreme integers, the longest
-- texts, blanks only, bytes above 127, texts longer than declared.  After
-- each the engine must still answer, and the table must be as it was.
SET LIST ON;

CREATE TABLE kept (id INTEGER, s VARCHAR(100), c CHAR(4095) CHARACTER SET NONE);
COMMIT;
INSERT INTO kept VALUES (1, 'ab  ', RPAD('x', 4095, ' '));
INSERT INTO kept VALUES (2, '   ', '');
COMMIT;

-- Widths.
SELECT FN_PAD(7, -2147483648) AS w_lowest, FN_PAD(7, -1) AS w_minus_1, FN_PAD(7, 0) AS w_0,
       CHAR_LENGTH(FN_PAD(7, 255)) AS w_255, CHAR_LENGTH(FN_PAD(7, 256)) AS w_256,
       CHAR_LENGTH(FN_PAD(7, 2147483647)) AS w_highest
FROM RDB$DATABASE;
SELECT 'alive' AS engine FROM RDB$DATABASE;

-- Values.
SELECT FN_PAD(-2147483648, 12) AS v_lowest, FN_PAD(2147483647, 12) AS v_highest,
       RIGHT(FN_PAD(-2147483648, 2147483647), 12) AS v_lowest_widest,
       LEFT(FN_PAD(-2147483648, 2147483647), 3) AS v_lowest_widest_starts
FROM RDB$DATABASE;
SELECT 'alive' AS engine FROM RDB$DATABASE;

-- Texts at the declared maximum: plain, blanks only, bytes above 127.
SELECT FN_STRLEN(LPAD('', 32765, ' ')) AS strlen_blanks,
       FN_STRLEN(CAST(LPAD('', 32765, x'FF') AS VARCHAR(32765) CHARACTER SET NONE)) AS strlen_ff,
       CHAR_LENGTH(FN_STRCAT(LPAD('', 4095, ' '), LPAD('', 4095, ' '))) AS strcat_blanks,
       OCTET_LENGTH(FN_STRCAT(LPAD('', 4095, x'A0'), LPAD('', 4095, x'FF'))) AS strcat_high,
       OCTET_LENGTH(FN_FULLCAT(LPAD('', 4095, ' '), LPAD('', 4095, x'80'))) AS fullcat_mixed,
       CAST(FN_STRCAT(x'FE20', x'20FF20') AS VARCHAR(10) CHARACTER SET OCTETS) AS strcat_high_short
FROM RDB$DATABASE;
SELECT 'alive' AS engine FROM RDB$DATABASE;

-- Longer than declared: the engine's own error, no call.
SELECT FN_STRLEN(LPAD('', 32766, 'x')) FROM RDB$DATABASE;
SELECT FN_STRCAT(LPAD('', 4096, 'x'), '') FROM RDB$DATABASE;
SELECT FN_FULLCAT('', LPAD('', 20000, 'x')) FROM RDB$DATABASE;
SELECT FN_PAD(1, 2147483648) FROM RDB$DATABASE;
SELECT 'alive' AS engine FROM RDB$DATABASE;
-- Only blanks beyond the declared size are cut by the engine, without error.
SELECT '[' || FN_STRCAT(LPAD('', 4096, ' '), 'x') || ']' AS blanks_cut FROM RDB$DATABASE;

-- Arguments from the table: trimming works on the engine's copies, never on
-- the stored values.
SELECT id, '[' || FN_STRCAT(s, c) || ']' AS joined, FN_STRLEN(c) AS c_length FROM kept ORDER BY id;
SELECT id, '[' || s || ']' AS s_after, OCTET_LENGTH(c) AS c_after, CHAR_LENGTH(TRIM(c)) AS c_text FROM kept ORDER BY id;
