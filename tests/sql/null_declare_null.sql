-- SQL NULL under declare_null.sql: the engine passes a null address, which
-- the functions read as 0 or the empty text; so the cases of declare.sql
-- give the same results here.
INPUT null_declare.sql;
