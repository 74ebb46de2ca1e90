-- A database as the upgrade finds it, made by its owner ALICE (not SYSDBA):
-- the functions from declare.sql (run before this), older declarations under
-- other names with other sizes, one that never worked, one object of every
-- kind that can use a function (a package too), a role and grants to BOB,
-- comments, and rows with NULLs and the longest texts whose results fit
-- each declaration.

-- An older FN_STRCAT with a result too small for its arguments (20 + 20
-- bytes into 30): unsafe, and switched.
DECLARE EXTERNAL FUNCTION OLD_CAT
    CSTRING(20) CHARACTER SET NONE, CSTRING(20) CHARACTER SET NONE, CSTRING(30) CHARACTER SET NONE
    RETURNS PARAMETER 3 ENTRY_POINT '_fn_strcat' MODULE_NAME 'morvanfn.so';
-- A join larger than declare_udr.sql's: 8000 + 8000 bytes.
DECLARE EXTERNAL FUNCTION BIG_CAT
    CSTRING(8000) CHARACTER SET NONE, CSTRING(8000) CHARACTER SET NONE, CSTRING(16000) CHARACTER SET NONE
    RETURNS PARAMETER 3 ENTRY_POINT '_fn_fullcat' MODULE_NAME 'morvanfn';
-- A result the server frees: undefined, left as a UDF, used by nothing.
DECLARE EXTERNAL FUNCTION OLD_DATE
    RETURNS CSTRING(9) CHARACTER SET NONE FREE_IT ENTRY_POINT '_fn_shortdate' MODULE_NAME 'morvanfn';
-- Multi-byte declarations, whose character lengths a restore forgets:
-- CSTRING(n) in UTF8 takes n characters, up to 4n bytes.
DECLARE EXTERNAL FUNCTION U8_FULLCAT
    CSTRING(20) CHARACTER SET UTF8, CSTRING(20) CHARACTER SET UTF8, CSTRING(40) CHARACTER SET UTF8
    RETURNS PARAMETER 3 ENTRY_POINT '_fn_fullcat' MODULE_NAME 'morvanfn';
DECLARE EXTERNAL FUNCTION U8_DATE CSTRING(9) CHARACTER SET UTF8
    RETURNS PARAMETER 1 ENTRY_POINT '_fn_shortdate' MODULE_NAME 'morvanfn';
DECLARE EXTERNAL FUNCTION WIN_CAT
    CSTRING(10) CHARACTER SET WIN1251, CSTRING(10) CHARACTER SET WIN1251, CSTRING(20) CHARACTER SET WIN1251
    RETURNS PARAMETER 3 ENTRY_POINT '_fn_strcat' MODULE_NAME 'morvanfn';
-- No character set in a UTF8 database: UTF8, 16,380 bytes an argument.
DECLARE EXTERNAL FUNCTION WIDE_CAT CSTRING(4095), CSTRING(4095), CSTRING(8190)
    RETURNS PARAMETER 3 ENTRY_POINT '_fn_strcat' MODULE_NAME 'morvanfn';
-- The NULL keyword, and a path as the module name (the test puts in one
-- that only the old server has).
DECLARE EXTERNAL FUNCTION PATH_PAD INTEGER NULL, INTEGER NULL, CSTRING(255) CHARACTER SET NONE
    RETURNS PARAMETER 3 ENTRY_POINT '_fn_pad' MODULE_NAME '@LEGACY_MODULE@';
-- A Windows server's path: a plain name to a Linux server.
DECLARE EXTERNAL FUNCTION WIN_PATH_LEN VARCHAR(100) CHARACTER SET NONE
    RETURNS SMALLINT BY VALUE ENTRY_POINT '_fn_strlen'
    MODULE_NAME 'C:\Program Files\Firebird\Firebird_3_0\UDF\morvanfn.dll';
-- Names that need quotes: blanks, a leading blank, quotes, Cyrillic.
DECLARE EXTERNAL FUNCTION "Pad with blanks" INTEGER, INTEGER, CSTRING(255) CHARACTER SET NONE
    RETURNS PARAMETER 3 ENTRY_POINT '_fn_pad' MODULE_NAME 'morvanfn';
DECLARE EXTERNAL FUNCTION " LEADING" INTEGER, INTEGER, CSTRING(255) CHARACTER SET NONE
    RETURNS PARAMETER 3 ENTRY_POINT '_fn_pad' MODULE_NAME 'morvanfn';
DECLARE EXTERNAL FUNCTION "say ""cat""" CSTRING(10) CHARACTER SET NONE, CSTRING(10) CHARACTER SET NONE,
    CSTRING(20) CHARACTER SET NONE RETURNS PARAMETER 3 ENTRY_POINT '_fn_fullcat' MODULE_NAME 'morvanfn';
DECLARE EXTERNAL FUNCTION "ДЛИНА_СТРОКИ" VARCHAR(100) CHARACTER SET UTF8
    RETURNS SMALLINT BY VALUE ENTRY_POINT '_fn_strlen' MODULE_NAME 'morvanfn';
-- Document numbers of 2013: a CSTRING(8) with no character set in this UTF8
-- database is a 32-byte buffer, and every expression took the 10-character
-- numbers written there (a view that casts them, an expression index).
DECLARE EXTERNAL FUNCTION DOC_NO INTEGER, INTEGER, CSTRING(8)
    RETURNS PARAMETER 3 ENTRY_POINT '_fn_pad' MODULE_NAME 'morvanfn';
-- A declaration that never worked anywhere: no underscore in its entry
-- point, and a module name a Linux server does not resolve.
DECLARE EXTERNAL FUNCTION NEVER_PAD INTEGER, INTEGER, CSTRING(255) CHARACTER SET NONE
    RETURNS PARAMETER 3 ENTRY_POINT 'fn_pad' MODULE_NAME 'MORVANFN.DLL';
COMMIT;

CREATE TABLE notes (
    id INTEGER NOT NULL PRIMARY KEY,
    a VARCHAR(20) CHARACTER SET UTF8,
    b VARCHAR(20) CHARACTER SET UTF8,
    w VARCHAR(10) CHARACTER SET WIN1251
);
-- Expression indexes on functions: the restore must leave them active.
CREATE INDEX notes_joined ON notes COMPUTED BY (U8_FULLCAT(a, b));
CREATE INDEX notes_padded ON notes COMPUTED BY (PATH_PAD(id, 5));
-- One whose name a statement must quote, and whose quotes it must double.
CREATE INDEX "notes ""ids"";--" ON notes COMPUTED BY (FN_PAD(id, 6));
CREATE INDEX notes_doc ON notes COMPUTED BY (DOC_NO(id, 10));
CREATE VIEW doc_view (id, doc) AS SELECT id, CAST(DOC_NO(id, 10) AS VARCHAR(10)) FROM notes;

CREATE TABLE customers (
    id INTEGER NOT NULL PRIMARY KEY,
    name VARCHAR(20) CHARACTER SET NONE,
    city VARCHAR(20) CHARACTER SET NONE,
    n INTEGER,
    w INTEGER,
    tag VARCHAR(300) CHARACTER SET NONE,
    code COMPUTED BY (FN_PAD(n, 6)),
    CONSTRAINT name_not_13 CHECK (FN_STRLEN(name) <> 13)
);

CREATE INDEX customers_joined ON customers COMPUTED BY (OLD_CAT(name, city));

CREATE VIEW notes_view (id, joined, cat_win, padded, blanks, lead_blank, quoted, length_ru, wide) AS
    SELECT id, U8_FULLCAT(a, b), WIN_CAT(w, w), PATH_PAD(id, 3), "Pad with blanks"(id, 2), " LEADING"(id, 4),
           "say ""cat"""(id, 'x'), "ДЛИНА_СТРОКИ"(a), CHAR_LENGTH(WIDE_CAT(a, b))
    FROM notes;

CREATE VIEW customer_view (id, joined, old_joined, full_joined, padded, city_length, date_length, this_century) AS
    SELECT id, FN_STRCAT(name, city), OLD_CAT(name, city), FN_FULLCAT(name, city), FN_PAD(n, w),
           FN_STRLEN(city), CHAR_LENGTH(FN_SHORTDATE()), FN_CURRYR() BETWEEN 2000 AND 2099
    FROM customers;

SET TERM ^;
CREATE PROCEDURE customer_labels RETURNS (id INTEGER, label VARCHAR(100) CHARACTER SET NONE) AS
BEGIN
    FOR SELECT id, OLD_CAT(name, city) || '/' || FN_PAD(n, 3) FROM customers ORDER BY id INTO :id, :label DO
        SUSPEND;
END^

CREATE TRIGGER customers_tag FOR customers BEFORE INSERT AS
BEGIN
    NEW.tag = FN_FULLCAT(NEW.name, FN_PAD(NEW.n, 4)) || '|' || OLD_CAT(NEW.city, NEW.name);
END^

CREATE PACKAGE labels AS
BEGIN
    FUNCTION padded(n INTEGER) RETURNS VARCHAR(20) CHARACTER SET NONE;
END^
CREATE PACKAGE BODY labels AS
BEGIN
    FUNCTION padded(n INTEGER) RETURNS VARCHAR(20) CHARACTER SET NONE AS
    BEGIN
        RETURN FN_PAD(n, 5) || '/' || FN_STRLEN('ab');
    END
END^
SET TERM ;^
COMMENT ON TABLE customers IS 'who buys';
COMMENT ON FUNCTION OLD_CAT IS 'the join of 2004';
CREATE ROLE clerk;
GRANT SELECT ON customers TO ROLE clerk;
GRANT clerk TO BOB;
GRANT SELECT ON customer_view TO BOB;
GRANT EXECUTE ON PROCEDURE customer_labels TO BOB;
GRANT EXECUTE ON PACKAGE labels TO BOB;
COMMIT;

INSERT INTO customers (id, name, city, n, w) VALUES (1, 'Ann  ', 'Oslo ', 7, 3);
INSERT INTO customers (id, name, city, n, w) VALUES (2, 'Bob', NULL, -7, 3);
INSERT INTO customers (id, name, city, n, w) VALUES (3, NULL, 'Rome', NULL, 4);
INSERT INTO customers (id, name, city, n, w) VALUES (4, NULL, NULL, 42, NULL);
INSERT INTO customers (id, name, city, n, w) VALUES (5, '  lead', 'tab' || ASCII_CHAR(9), 123, 2);
-- The longest join OLD_CAT's 30 bytes hold: 20 + 10 after trimming.
INSERT INTO customers (id, name, city, n, w) VALUES (6, 'Abcdefghijklmnopqrst', 'Bergen    ', -2147483648, 0);
INSERT INTO customers (id, name, city, n, w) VALUES (7, 'Zeta', 'Abcdefghij          ', 1, 255);
INSERT INTO customers (id, name, city, n, w) VALUES (8, '', '', 2147483647, -5);
COMMIT;
INSERT INTO notes VALUES (1, 'Жёлтый', ' кот  ', 'Жук  ');
INSERT INTO notes VALUES (2, 'ab', NULL, NULL);
INSERT INTO notes VALUES (3, 'ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ', 'ююююююююююююююююююю€', 'щщщщщщщщщщ');
INSERT INTO notes VALUES (4, '', '', '');
COMMIT;
