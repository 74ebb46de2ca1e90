-- What an application sees of every object that uses a function.  The same
-- output before the switch from the UDF to the UDR and after it, on each
-- engine.
SET LIST ON;

-- A view.
SELECT * FROM customer_view ORDER BY id;

-- A procedure, and a package's function.
SELECT * FROM customer_labels;
SELECT labels.padded(42) AS packaged FROM RDB$DATABASE;

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

-- Declarations in multi-byte sets, with odd names, on a path module.
SELECT * FROM notes_view ORDER BY id;
SELECT CHAR_LENGTH(U8_FULLCAT(RPAD('', 20, 'ж'), RPAD('', 20, 'я'))) AS u8_longest,
       U8_DATE() = FN_SHORTDATE() AS u8_date,
       CHAR_LENGTH(WIDE_CAT(RPAD('', 4095, 'я'), 'b')) AS wide_longest
FROM RDB$DATABASE;
-- One character more than a UTF8 CSTRING(20) takes.
SELECT U8_FULLCAT(RPAD('', 21, 'ж'), 'x') AS u8_too_long FROM RDB$DATABASE;

-- The expression indexes: used, and they find the same rows.
SET PLAN ON;
SELECT id FROM notes WHERE U8_FULLCAT(a, b) = 'Жёлтый кот  ';
SELECT id FROM notes WHERE PATH_PAD(id, 5) = '00003';
SELECT id FROM customers WHERE OLD_CAT(name, city) = 'AnnOslo';
SET PLAN OFF;

-- What a restore must keep: owners, grants and comments.
SELECT TRIM(RDB$OWNER_NAME) AS owner, COUNT(*) AS objects FROM RDB$RELATIONS
WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 GROUP BY 1;
SELECT TRIM(RDB$USER) AS grantee, TRIM(RDB$RELATION_NAME) AS on_object, RDB$PRIVILEGE AS privilege
FROM RDB$USER_PRIVILEGES WHERE RDB$USER IN ('BOB', 'CLERK') ORDER BY 1, 2, 3;
SELECT CAST(RDB$DESCRIPTION AS VARCHAR(40)) AS table_comment FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'CUSTOMERS';
SELECT CAST(RDB$DESCRIPTION AS VARCHAR(40)) AS function_comment FROM RDB$FUNCTIONS WHERE RDB$FUNCTION_NAME = 'OLD_CAT';

-- Document numbers: 10 characters from a CSTRING(8) in UTF8, through the
-- view, the expression index, and a new row's key.
SELECT * FROM doc_view ORDER BY id;
SET PLAN ON;
SELECT id FROM notes WHERE DOC_NO(id, 10) = '0000000003';
SET PLAN OFF;
INSERT INTO notes (id, a) VALUES (10, 'new');
SELECT COUNT(*) AS doc_inserted FROM notes WHERE DOC_NO(id, 10) = '0000000010';
ROLLBACK;
