/* morvanfn: removes its six functions from the current database, declared
 * with declare.sql, declare_null.sql or declare_udr.sql alike, all of
 * them or none; one already gone is no matter.  If anything still uses one
 * (a view, procedure, trigger, computed column, check constraint or
 * expression index), the list printed first names what uses which function,
 * the drop or the COMMIT fails ("there are N dependencies"), the script
 * stops there and nothing is dropped.  What was dropped is listed after the
 * COMMIT, from the catalogue.  On Firebird 6, the functions of the current
 * schema (the first of the search path).
 *   isql-fb -q -i drop.sql <database>
 */
SET BAIL ON;
SET AUTODDL OFF;
SET LIST ON;
SELECT DISTINCT TRIM(d.RDB$DEPENDED_ON_NAME) AS in_use,
       COALESCE((SELECT 'column ' || TRIM(f.RDB$RELATION_NAME) || '.' || TRIM(f.RDB$FIELD_NAME)
                 FROM RDB$RELATION_FIELDS f WHERE f.RDB$FIELD_SOURCE = d.RDB$DEPENDENT_NAME ROWS 1),
                (SELECT IIF(t.RDB$TRIGGER_NAME STARTING WITH 'CHECK_', 'check constraint on ', 'trigger ' || TRIM(t.RDB$TRIGGER_NAME) || ' on ')
                        || TRIM(t.RDB$RELATION_NAME) FROM RDB$TRIGGERS t WHERE t.RDB$TRIGGER_NAME = d.RDB$DEPENDENT_NAME),
                DECODE(d.RDB$DEPENDENT_TYPE, 1, 'view ', 5, 'procedure ', 6, 'index ', 15, 'function ', 'object ')
                || TRIM(d.RDB$DEPENDENT_NAME)) AS used_by
FROM RDB$DEPENDENCIES d
WHERE d.RDB$DEPENDED_ON_TYPE = 15
  AND d.RDB$DEPENDED_ON_NAME IN ('FN_SHORTDATE', 'FN_CURRYR', 'FN_STRLEN', 'FN_STRCAT', 'FN_FULLCAT', 'FN_PAD');
SET TERM ^;
EXECUTE BLOCK
AS
DECLARE name VARCHAR(63);
DECLARE n INTEGER = 0;
BEGIN
    -- Firebird 6 keeps functions in schemas: those of the current one.
    FOR EXECUTE STATEMENT 'SELECT TRIM(RDB$FUNCTION_NAME) FROM RDB$FUNCTIONS WHERE RDB$PACKAGE_NAME IS NULL AND '
            || 'RDB$FUNCTION_NAME IN (''FN_SHORTDATE'', ''FN_CURRYR'', ''FN_STRLEN'', ''FN_STRCAT'', ''FN_FULLCAT'', ''FN_PAD'')'
            || IIF(CAST(SUBSTRING(RDB$GET_CONTEXT('SYSTEM', 'ENGINE_VERSION') FROM 1
                                  FOR POSITION('.' IN RDB$GET_CONTEXT('SYSTEM', 'ENGINE_VERSION')) - 1) AS INTEGER) >= 6,
                   ' AND RDB$SCHEMA_NAME = CURRENT_SCHEMA', '')
        INTO :name
    DO BEGIN
        EXECUTE STATEMENT 'DROP FUNCTION ' || name;
        n = n + 1;
        RDB$SET_CONTEXT('USER_SESSION', 'MORVANFN_DROP_' || n, name);
    END
    RDB$SET_CONTEXT('USER_SESSION', 'MORVANFN_DROPS', n);
END^
SET TERM ;^
-- The engine checks what depends on a function when the drop commits: a
-- refused COMMIT stops the script here, having said nothing was dropped.
COMMIT;
SET TERM ^;
EXECUTE BLOCK RETURNS (dropped VARCHAR(63))
AS
DECLARE i INTEGER = 0;
DECLARE still INTEGER;
BEGIN
    WHILE (i < COALESCE(CAST(RDB$GET_CONTEXT('USER_SESSION', 'MORVANFN_DROPS') AS INTEGER), 0)) DO
    BEGIN
        i = i + 1;
        dropped = RDB$GET_CONTEXT('USER_SESSION', 'MORVANFN_DROP_' || i);
        EXECUTE STATEMENT ('SELECT COUNT(*) FROM RDB$FUNCTIONS WHERE RDB$FUNCTION_NAME = ? AND RDB$PACKAGE_NAME IS NULL'
                || IIF(CAST(SUBSTRING(RDB$GET_CONTEXT('SYSTEM', 'ENGINE_VERSION') FROM 1
                                      FOR POSITION('.' IN RDB$GET_CONTEXT('SYSTEM', 'ENGINE_VERSION')) - 1) AS INTEGER) >= 6,
                       ' AND RDB$SCHEMA_NAME = CURRENT_SCHEMA', '')) (dropped)
            INTO :still;
        IF (still = 0) THEN
            SUSPEND;
    END
END^
SET TERM ;^
