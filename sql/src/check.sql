/*
 * morvanfn: lists every function in this database that is declared on this
 * library, whatever its SQL name, and says whether its declaration is safe.
 * Reads only; changes nothing.  Firebird 3 and later.
 *   isql-fb -q -i check.sql <database>
 *
 * A UDF is one on the module morvanfn (morvanfn.so, morvanfn.dll, with a
 * path, in any case); a UDR one on morvanfn_udr.  For each: its kind (a UDR
 * with SQL's or the UDF's NULL rules), entry point, arguments and result as
 * declared, how many objects (views, procedures, triggers, computed
 * columns, check constraints) use it, and a verdict:
 *   safe
 *   UNSAFE: <why>, then what switch_to_udr.sql does with it:
 *     "switch_to_udr.sql makes it safe": the result is shorter than the
 *        longest result the declared arguments allow, so a long enough
 *        input writes past the server's buffer (every attachment lost);
 *        as a UDR it raises "string right truncation" instead;
 *     "left as a UDF": the UDF's result is undefined (FREE_IT, the result
 *        not in the last argument, FN_STRLEN's argument not a VARCHAR, an
 *        argument BY DESCRIPTOR or of a type the entry point does not
 *        read); declare it again with declare.sql's types.
 *   Every UDF is UNSAFE on Firebird 6, which fails a text result at prepare
 *   ("Data type unknown") and crashes the server on the other calls.
 *   A UDR is judged by what the module reads: a declaration it refuses at
 *   every call is "UNSAFE" with the module's own reason.
 * NOTE says what else to know: a UDF on a server with UDFs off (Firebird 4
 * tells through RDB$CONFIG when asked by SYSDBA; Firebird 3 cannot), and a
 * CSTRING longer than the longest VARCHAR, 32765 bytes.  Sizes are read as
 * the engine reads them, on restored databases too; any name, dialect 1 or 3.
 * The function-by-function rules are the same in switch_to_udr.sql.
 */
SET LIST ON;
SET TERM ^;
EXECUTE BLOCK RETURNS (
    function_name VARCHAR(63) CHARACTER SET UTF8, kind VARCHAR(300) CHARACTER SET UTF8,
    entry_point VARCHAR(300) CHARACTER SET UTF8, arguments VARCHAR(2000) CHARACTER SET UTF8,
    result VARCHAR(300) CHARACTER SET UTF8, dependents INTEGER, verdict VARCHAR(600) CHARACTER SET UTF8,
    note VARCHAR(1000) CHARACTER SET UTF8)
AS
DECLARE udf_access VARCHAR(1000);
DECLARE module VARCHAR(300) CHARACTER SET UTF8;
DECLARE ret SMALLINT;
-- @VARIABLES@
BEGIN
    engine_major = CAST(SUBSTRING(RDB$GET_CONTEXT('SYSTEM', 'ENGINE_VERSION') FROM 1
                                  FOR POSITION('.' IN RDB$GET_CONTEXT('SYSTEM', 'ENGINE_VERSION')) - 1) AS INTEGER);
    -- Firebird 4 and later show the server's settings to SYSDBA.
    BEGIN
        EXECUTE STATEMENT 'SELECT RDB$CONFIG_VALUE FROM RDB$CONFIG WHERE RDB$CONFIG_NAME = ''UdfAccess'''
            INTO :udf_access;
        WHEN ANY DO udf_access = NULL;
    END
    -- Firebird 6 keeps functions in schemas: every schema's, with its name
    -- (a text that 3.0 to 5.0, which have no such column, never prepare).
    FOR EXECUTE STATEMENT
        'SELECT TRIM(TRAILING FROM f.RDB$FUNCTION_NAME), TRIM(f.RDB$ENTRYPOINT), TRIM(f.RDB$MODULE_NAME), f.RDB$RETURN_ARGUMENT, '
        || IIF(engine_major >= 6, 'TRIM(TRAILING FROM f.RDB$SCHEMA_NAME)', 'CAST(NULL AS VARCHAR(63) CHARACTER SET UTF8)')
        || ' FROM RDB$FUNCTIONS f WHERE f.RDB$PACKAGE_NAME IS NULL'
        || ' AND (LOWER(TRIM(f.RDB$MODULE_NAME)) SIMILAR TO ''(%[/\])?morvanfn(.so|.dll)?'''
        || ' OR (f.RDB$ENGINE_NAME = ''UDR'' AND LOWER(f.RDB$ENTRYPOINT) STARTING WITH ''morvanfn_udr!''))'
        || ' ORDER BY ' || IIF(engine_major >= 6, 'f.RDB$SCHEMA_NAME, ', '') || 'f.RDB$FUNCTION_NAME'
        INTO :function_name, :entry_point, :module, :ret, :schema_name
    DO BEGIN
-- @RULES@
        verdict = CASE
            WHEN module IS NOT NULL AND engine_major >= 6 THEN
                 'UNSAFE: Firebird ' || engine_major || ' cannot call a UDF declared so: a text result fails at prepare '
                 || '(Data type unknown), other calls crash the server (' || IIF(undefined IS NULL,
                 'switch_to_udr.sql makes it safe)', 'left as a UDF by switch_to_udr.sql: ' || undefined || '; drop it)')
            WHEN module IS NULL THEN IIF(undefined IS NULL, 'safe', 'UNSAFE: ' || undefined || ' (every call fails)')
            WHEN undefined IS NOT NULL THEN 'UNSAFE: ' || undefined || ' (left as a UDF by switch_to_udr.sql)'
            WHEN holds < longest THEN 'UNSAFE: the result holds ' || holds || ' bytes, the longest is ' || longest
                 || ': a longer one overflows the server''s buffer (switch_to_udr.sql makes it safe)'
            ELSE 'safe' END;
        IF (module IS NOT NULL AND UPPER(udf_access) = 'NONE') THEN
            note = TRIM(COALESCE(note || '; ', '') || 'UDF: needs UdfAccess (this server has UdfAccess = None, so every call fails)');
        -- A computed column or a view's column depends through its domain,
        -- a check constraint through its triggers: count their owners.
        EXECUTE STATEMENT ('SELECT COUNT(DISTINCT COALESCE('
                || '(SELECT FIRST 1 f.RDB$RELATION_NAME FROM RDB$RELATION_FIELDS f WHERE f.RDB$FIELD_SOURCE = d.RDB$DEPENDENT_NAME), '
                || '(SELECT c.RDB$CONSTRAINT_NAME FROM RDB$CHECK_CONSTRAINTS c WHERE c.RDB$TRIGGER_NAME = d.RDB$DEPENDENT_NAME), '
                || 'd.RDB$DEPENDENT_NAME)) FROM RDB$DEPENDENCIES d '
                || 'WHERE d.RDB$DEPENDED_ON_NAME = :f AND d.RDB$DEPENDED_ON_TYPE = 15'
                || IIF(schema_name IS NULL, ' AND CAST(:s AS VARCHAR(63) CHARACTER SET UTF8) IS NULL',
                       ' AND d.RDB$DEPENDED_ON_SCHEMA_NAME = :s'))
            (f := function_name, s := schema_name)
            INTO :dependents;
        IF (arguments = '') THEN arguments = '(none)';
        -- A name with its schema, as SQL writes it ("PUBLIC"."FN_PAD").
        IF (schema_name IS NOT NULL) THEN
            function_name = '"' || REPLACE(schema_name, '"', '""') || '"."' || REPLACE(function_name, '"', '""') || '"';
        SUSPEND;
    END
    IF (function_name IS NULL) THEN
    BEGIN
        function_name = '(none)';
        verdict = 'no function of this database is declared on morvanfn or morvanfn_udr';
        SUSPEND;
    END
END^
SET TERM ;^
