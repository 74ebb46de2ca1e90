-- FN_FULLCAT: both texts joined as they are.
SET LIST ON;

SELECT '[' || FN_FULLCAT('ab ', 'cd') || ']' AS blank_kept,
       '[' || FN_FULLCAT('  ', '  ') || ']' AS blanks_only,
       '[' || FN_FULLCAT('', '') || ']' AS both_empty,
       '[' || FN_FULLCAT('', 'x') || ']' AS first_empty,
       CAST(FN_FULLCAT('a' || ASCII_CHAR(9), x'A020') AS VARCHAR(10) CHARACTER SET OCTETS) AS tab_and_a0
FROM RDB$DATABASE;

SELECT CHAR_LENGTH(FN_FULLCAT(LPAD('', 16383, 'a'), LPAD('', 16383, 'b'))) AS longest,
       FN_FULLCAT(LPAD('', 16383, 'a'), LPAD('', 16383, 'b')) = LPAD('', 16383, 'a') || LPAD('', 16383, 'b') AS longest_exact
FROM RDB$DATABASE;

-- A CHAR column keeps its padding here.
CREATE TABLE names (first_name CHAR(6), last_name VARCHAR(12));
INSERT INTO names VALUES ('Ada', 'Lovelace');
SELECT '[' || FN_FULLCAT(first_name, last_name) || ']' AS joined FROM names;

SELECT FN_FULLCAT(LPAD('', 16384, 'a'), '') AS too_long FROM RDB$DATABASE;
