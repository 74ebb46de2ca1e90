-- FN_SHORTDATE and FN_CURRYR read the clock; here they must agree with the
-- engine's own date.  (Fixed dates and time zones: tests/clock_test.sh.)
SET LIST ON;

-- The functions read the server process's local date; CURRENT_DATE is the
-- session's (Firebird 4 sessions have a time zone of their own), and the
-- call may come a moment after it was taken: allow a day either way.
SELECT CHAR_LENGTH(FN_SHORTDATE()) AS length_9,
       RIGHT(FN_SHORTDATE(), 1) AS ends_with,
       FN_SHORTDATE() IN (
           SELECT LPAD(MOD(EXTRACT(YEAR FROM d), 100), 2, '0') || '-' ||
                  LPAD(EXTRACT(MONTH FROM d), 2, '0') || '-' ||
                  LPAD(EXTRACT(DAY FROM d), 2, '0') || '-'
           FROM (SELECT CURRENT_DATE - 1 AS d FROM RDB$DATABASE
                 UNION ALL SELECT CURRENT_DATE FROM RDB$DATABASE
                 UNION ALL SELECT CURRENT_DATE + 1 FROM RDB$DATABASE)) AS is_today,
       FN_CURRYR() - EXTRACT(YEAR FROM CURRENT_DATE) IN (-1, 0, 1) AS is_this_year,
       FN_CURRYR() > 2000 AS full_year
FROM RDB$DATABASE;

-- One reading per call, on every row.
SELECT COUNT(*) AS calls, COUNT(DISTINCT FN_CURRYR()) <= 2 AS one_year_or_two,
       MIN(CHAR_LENGTH(FN_SHORTDATE())) AS shortest, MAX(CHAR_LENGTH(FN_SHORTDATE())) AS longest
FROM (WITH RECURSIVE n AS (SELECT 1 AS i FROM RDB$DATABASE UNION ALL SELECT i + 1 FROM n WHERE i < 1000)
      SELECT i FROM n);
