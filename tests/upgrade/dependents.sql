-- What an application sees of every object that uses a function.  The same
-- output before the switch from the UDF to the UDR and after it, on each
-- engine.
SET LIST ON;

-- A view.
SELECT * FROM customer_view ORDER BY id;

-- A procedure.
SELECT * FROM customer_labels;

-- A computed column, and the trigger's work at insert time.
SELECT id, code, tag FROM customers ORDER BY id;

-- A trigger and a check constraint on a new row; undone afterwards.
INSERT INTO customers (id, name, city, n, w) VALUES (100, 'New ', NULL, NULL, 2);
SELECT tag, code FROM customers WHERE id = 100;
INSERT INTO customers (id, name) VALUES (101, 'Thirteen byte');
SELECT COUNT(*) AS inserted FROM customers WHERE id >= 100;
ROLLBACK;

-- Functions in a query, NULLs included, and a 5,000 + 5,000-byte join.
SELECT OLD_CAT(NULL, 'x  ') AS old_null, FN_PAD(NULL, 3) AS pad_null, FN_STRLEN(NULL) AS strlen_null,
       FN_STRCAT(NULL, NULL) || '|' AS strcat_nulls, FN_FULLCAT('a ', NULL) || '|' AS fullcat_null,
       CHAR_LENGTH(BIG_CAT(RPAD('', 5000, 'x'), RPAD('', 5000, 'y'))) AS big_join
FROM RDB$DATABASE;
