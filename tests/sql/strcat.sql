-- FN_STRCAT: both texts without their trailing blanks (0x20 only), joined.
SET LIST ON;

SELECT '[' || FN_STRCAT('ab  ', 'cd ') || ']' AS trailing_blanks,
       '[' || FN_STRCAT(' ab', ' cd') || ']' AS leading_blanks_stay,
       '[' || FN_STRCAT('a b  ', 'c d') || ']' AS inner_blanks_stay,
       '[' || FN_STRCAT('', '') || ']' AS both_empty,
       '[' || FN_STRCAT('     ', 'x') || ']' AS blanks_only_first,
       '[' || FN_STRCAT('x', '     ') || ']' AS blanks_only_second,
       '[' || FN_STRCAT('   ', '   ') || ']' AS blanks_only_both
FROM RDB$DATABASE;

-- Tab and byte 0xA0 are not blanks: they stay, and so do the blanks
-- before them.  OCTETS prints as hex.
SELECT CAST(FN_STRCAT('ab' || ASCII_CHAR(9), 'cd') AS VARCHAR(10) CHARACTER SET OCTETS) AS tab_kept,
       CAST(FN_STRCAT(x'6120A0', x'62A020') AS VARCHAR(10) CHARACTER SET OCTETS) AS a0_kept,
       CAST(FN_STRCAT('a ' || ASCII_CHAR(9) || ' ', 'b') AS VARCHAR(10) CHARACTER SET OCTETS) AS blank_before_tab
FROM RDB$DATABASE;

-- The longest texts the declaration accepts, padded with blanks to the end.
SELECT CHAR_LENGTH(FN_STRCAT(LPAD('', 4095, 'a'), LPAD('', 4095, 'b'))) AS longest,
       CHAR_LENGTH(FN_STRCAT(RPAD('a', 4095, ' '), RPAD('b', 4095, ' '))) AS longest_blank_padded
FROM RDB$DATABASE;

-- CHAR columns arrive padded with blanks; the padding goes.
CREATE TABLE names (first_name CHAR(12), last_name CHAR(12));
INSERT INTO names VALUES ('Ada', 'Lovelace');
INSERT INTO names VALUES ('Alan ', ' Turing');
SELECT '[' || FN_STRCAT(first_name, last_name) || ']' AS joined FROM names ORDER BY first_name;

-- A text longer than declared is refused by the engine before the call.
SELECT FN_STRCAT(LPAD('', 4096, 'a'), 'b') AS too_long FROM RDB$DATABASE;
SELECT FN_STRCAT('a', LPAD('', 4096, 'b')) AS too_long FROM RDB$DATABASE;
