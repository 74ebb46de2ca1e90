-- FN_PAD: the value in decimal, zeros between sign and digits up to the width.
SET LIST ON;

SELECT FN_PAD(7, 3) AS p7_3, FN_PAD(-7, 3) AS m7_3, FN_PAD(0, 3) AS p0_3,
       FN_PAD(1, 12) AS p1_12, FN_PAD(-1, 12) AS m1_12
FROM RDB$DATABASE;

-- Never truncated.
SELECT FN_PAD(123, 2) AS p123_2, FN_PAD(42, 0) AS p42_0, FN_PAD(-42, 1) AS m42_1,
       FN_PAD(-2147483648, 0) AS lowest, FN_PAD(2147483647, 3) AS highest
FROM RDB$DATABASE;

-- A negative width is width 0: the plain number.
SELECT FN_PAD(5, -3) AS p5_m3, FN_PAD(-5, -1) AS m5_m1, FN_PAD(5, -2147483648) AS p5_lowest
FROM RDB$DATABASE;

-- The width stops at 255, the size of the result.
SELECT CHAR_LENGTH(FN_PAD(1, 255)) AS w255, CHAR_LENGTH(FN_PAD(1, 256)) AS w256,
       CHAR_LENGTH(FN_PAD(-1, 2147483647)) AS w_highest,
       FN_PAD(1, 1000) = LPAD('1', 255, '0') AS zeros_then_one
FROM RDB$DATABASE;

-- Integer arguments take what converts to INTEGER, and nothing wider.
SELECT FN_PAD('12', '4') AS from_text, FN_PAD(3.4, 2.6) AS rounded FROM RDB$DATABASE;
SELECT FN_PAD(2147483648, 3) AS too_big FROM RDB$DATABASE;
