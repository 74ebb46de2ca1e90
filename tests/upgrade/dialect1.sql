-- A dialect 1 database as the upgrade finds it (declare.sql run before):
-- "X" is a text here, and 7 / 2 is 3.5.
CREATE TABLE d1 (id INTEGER NOT NULL PRIMARY KEY, name VARCHAR(20) CHARACTER SET NONE, n INTEGER);
CREATE INDEX d1_padded ON d1 COMPUTED BY (FN_PAD(n, 4));
CREATE VIEW d1_view (id, joined, padded, half) AS
    SELECT id, FN_STRCAT(name, "!"), FN_PAD(n, 3), n / 2 FROM d1;
COMMIT;
INSERT INTO d1 VALUES (1, 'one  ', 7);
INSERT INTO d1 VALUES (2, NULL, 42);
COMMIT;
