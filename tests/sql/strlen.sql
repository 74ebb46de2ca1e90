-- FN_STRLEN: the whole length in bytes, 0 to 32765, read from the VARCHAR.
SET LIST ON;

SELECT FN_STRLEN('') AS empty_text, FN_STRLEN('hello') AS five,
       FN_STRLEN(LPAD('', 127, 'x')) AS l127, FN_STRLEN(LPAD('', 128, 'x')) AS l128,
       FN_STRLEN(LPAD('', 200, 'x')) AS l200, FN_STRLEN(LPAD('', 255, 'x')) AS l255,
       FN_STRLEN(LPAD('', 256, 'x')) AS l256, FN_STRLEN(LPAD('', 300, 'x')) AS l300,
       FN_STRLEN(LPAD('', 32765, 'x')) AS longest
FROM RDB$DATABASE;

-- Blanks, tabs and byte 0xA0 are bytes like any other; so is 0x00 here,
-- since the length is read, not searched for.
SELECT FN_STRLEN('  ') AS blanks, FN_STRLEN('a' || ASCII_CHAR(9) || 'b') AS with_tab,
       FN_STRLEN(x'A0A0') AS two_a0, FN_STRLEN(x'610062') AS with_nul
FROM RDB$DATABASE;

-- Bytes, not characters: two UTF-8 letters of two bytes each.
SELECT FN_STRLEN(_UTF8 'äö') AS utf8_bytes FROM RDB$DATABASE;

-- A CHAR column keeps its padding, a VARCHAR column does not.
CREATE TABLE words (c CHAR(10), v VARCHAR(10));
INSERT INTO words VALUES ('abc', 'abc');
SELECT FN_STRLEN(c) AS char_col, FN_STRLEN(v) AS varchar_col FROM words;

-- One byte past the declared size is the engine's error, not a call.
SELECT FN_STRLEN(LPAD('', 32766, 'x')) AS too_long FROM RDB$DATABASE;
