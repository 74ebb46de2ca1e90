-- What an application of the dialect 1 database sees.
SET LIST ON;
SELECT * FROM d1_view ORDER BY id;
SET PLAN ON;
SELECT id FROM d1 WHERE FN_PAD(n, 4) = '0042';
SET PLAN OFF;
