-- FN_FULLCAT: both texts joined as they are.
SET LIST ON;

SELECT '[' || FN_FULLCAT('ab ', 'cd') || ']' AS blank_kept,
       '[' || FN_FULLCAT('  ', '  ') || ']' AS blanks_only,
       '[' || FN_FULLCAT('', '') || ']' AS both_empty,
       '[' || FN_FULLCAT('', 'x') || ']' AS first_empty,
       CAST(FN_FULLCAT('a' || ASCII_CHAR(9), x'A020') AS VARCHAR(10) CHARACTER SET OCTETS) AS tab_and_a0
FROM RDB$DATABASE;

SELECT CHAR_LENGTH(FN_FULLCAT(LPAD('', 4095, 'a'), LPAD('', 4095, 'b'))) AS longest,
       FN_FULLCAT(LPAD('', 4095, 'a'), LPAD('', 4095, 'b')) = LPAD('', 4095, 'a') || LPAD('', 4095, 'b') AS longest_exact
FROM RDB$DATABASE;

-- A text ends at its first 0x00 byte.
SELECT CAST(FN_FULLCAT(x'610062', 'c') AS VARCHAR(10) CHARACTER SET OCTETS) AS nul_ends_text
FROM RDB$DATABASE;

-- A CHAR column keeps its padding here.
CREATE TABLE names (first_name CHAR(6), last_name VARCHAR(12));
INSERT INTO names VALUES ('Ada', 'Lovelace');
SELECT '[' || FN_FULLCAT(first_name, last_name) || ']' AS joined FROM names;

SELECT FN_FULLCAT(LPAD('', 4096, 'a'), '') AS too_long FROM RDB$DATABASE;
