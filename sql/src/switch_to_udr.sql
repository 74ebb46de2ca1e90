/*
 * morvanfn: turns every UDF declared on the module morvanfn (by entry point,
 * whatever its SQL name; morvanfn.so, morvanfn.dll, a path, any case) into
 * a function of the UDR module morvanfn_udr, in place.  Firebird 3 and
 * later; the UDR needs no UdfAccess.
 *   isql-fb -q -i switch_to_udr.sql <database>
 *
 * Each function keeps its SQL name and its argument and result types and
 * sizes as declared (in characters, read right on restored databases too),
 * in their VARCHAR form with their character sets (a CSTRING above 32765
 * bytes becomes the longest VARCHAR; a text result in a set of several bytes
 * a character holds as many characters as the UDF's buffer held bytes, as
 * every expression saw it), and gets the UDF's NULL rules
 * ('morvanfn_udr!fn_pad!udf'): every input the old declaration accepted
 * gives the same result, NULL included.  A result longer than the declared
 * one, which overflowed the server's buffer before, now raises "string
 * right truncation" (SQLSTATE 22001).  Views, procedures, triggers, computed
 * columns, check constraints and expression indexes that use a function
 * keep working unchanged.
 *
 * Declarations whose UDF result was undefined or that never worked (check.sql
 * says why) are left as they are and named with the reason; the rest are
 * switched and committed together.  Then, from the catalogue as committed:
 * the expression indexes on the functions switched are built again (their
 * keys were the UDF's), each function is listed as it now is, and if the
 * engine refused to switch any (no ALTER rights, another transaction
 * changing it meanwhile), the script ends with an error after saying so.
 * Run again, it changes nothing and says so.  There is no way back from a
 * UDR to a UDF declaration: keep a backup.  Dialect 1 and 3.  The
 * function-by-function rules are those of check.sql.
 */
SET BAIL ON;
SET LIST ON;
SET TERM ^;
EXECUTE BLOCK RETURNS (function_name VARCHAR(63) CHARACTER SET UTF8, action VARCHAR(2000) CHARACTER SET UTF8)
AS
DECLARE entry_point VARCHAR(300) CHARACTER SET UTF8;
DECLARE module VARCHAR(300) CHARACTER SET UTF8;
DECLARE ret SMALLINT;
DECLARE kind VARCHAR(300) CHARACTER SET UTF8;
DECLARE arguments VARCHAR(2000) CHARACTER SET UTF8;
DECLARE result VARCHAR(300) CHARACTER SET UTF8;
DECLARE note VARCHAR(1000) CHARACTER SET UTF8;
DECLARE dialect SMALLINT;
DECLARE quoted VARCHAR(300) CHARACTER SET UTF8;
DECLARE switched INTEGER = 0;
DECLARE refused INTEGER = 0;
DECLARE inactive INTEGER = 0;
DECLARE made_inactive INTEGER;
DECLARE index_name VARCHAR(63) CHARACTER SET UTF8;
-- @VARIABLES@
BEGIN
    -- Dialect 1 has no quoted names: "X" is a text there.
    SELECT MON$SQL_DIALECT FROM MON$DATABASE INTO :dialect;
    engine_major = CAST(SUBSTRING(RDB$GET_CONTEXT('SYSTEM', 'ENGINE_VERSION') FROM 1
                                  FOR POSITION('.' IN RDB$GET_CONTEXT('SYSTEM', 'ENGINE_VERSION')) - 1) AS INTEGER);
    -- Firebird 6 keeps functions in schemas: every schema's, with its name.
    FOR EXECUTE STATEMENT
        'SELECT TRIM(TRAILING FROM f.RDB$FUNCTION_NAME), TRIM(f.RDB$ENTRYPOINT), TRIM(f.RDB$MODULE_NAME), f.RDB$RETURN_ARGUMENT, '
        || IIF(engine_major >= 6, 'TRIM(TRAILING FROM f.RDB$SCHEMA_NAME)', 'CAST(NULL AS VARCHAR(63) CHARACTER SET UTF8)')
        || ' FROM RDB$FUNCTIONS f WHERE f.RDB$PACKAGE_NAME IS NULL'
        || ' AND LOWER(TRIM(f.RDB$MODULE_NAME)) SIMILAR TO ''(%[/\])?morvanfn(.so|.dll)?'''
        || ' ORDER BY ' || IIF(engine_major >= 6, 'f.RDB$SCHEMA_NAME, ', '') || 'f.RDB$FUNCTION_NAME'
        INTO :function_name, :entry_point, :module, :ret, :schema_name
    DO BEGIN
-- @RULES@
        quoted = IIF(dialect = 1, COALESCE(schema_name || '.', '') || function_name,
                     COALESCE('"' || REPLACE(schema_name, '"', '""') || '".', '') || '"' || REPLACE(function_name, '"', '""') || '"');
        IF (undefined IS NULL AND dialect = 1 AND function_name NOT SIMILAR TO '[A-Z][A-Z0-9_$]*') THEN
            undefined = 'its name needs quotes, which dialect 1 has not';
        IF (undefined IS NOT NULL) THEN
            action = 'left as a UDF: ' || undefined || '; declare it again with declare.sql''s types, then run this again';
        ELSE
        BEGIN
            EXECUTE STATEMENT 'ALTER FUNCTION ' || quoted || ' (' || udr_arguments
                || ') RETURNS ' || udr_result || ' EXTERNAL NAME ''morvanfn_udr!' || fn || '!udf'' ENGINE UDR';
            action = 'switched to morvanfn_udr!' || fn || '!udf: (' || udr_arguments || ') RETURNS ' || udr_result
                || IIF(holds < longest, CAST('; a result over ' || holds || ' bytes, which overflowed the UDF''s buffer, now raises string right truncation' AS VARCHAR(200)), '')
                || COALESCE('; ' || note, '');
            -- Its active expression indexes hold the UDF's keys: inactive
            -- in this same transaction, so that no query ever reads one
            -- through the UDR; built again after the COMMIT.  Each is kept
            -- for then (a context value holds a name of any length; a
            -- context name would not): one for each index, none for each function, so
            -- that any number of declarations switches.
            made_inactive = inactive;
            FOR SELECT DISTINCT TRIM(TRAILING FROM x.RDB$INDEX_NAME)
                FROM RDB$DEPENDENCIES d
                JOIN RDB$INDICES x ON x.RDB$INDEX_NAME = d.RDB$DEPENDENT_NAME
                WHERE d.RDB$DEPENDED_ON_NAME = :function_name AND d.RDB$DEPENDED_ON_TYPE = 15
                  AND d.RDB$DEPENDENT_TYPE = 6 AND COALESCE(x.RDB$INDEX_INACTIVE, 0) = 0
                INTO :index_name
            DO BEGIN
                EXECUTE STATEMENT 'ALTER INDEX ' || IIF(dialect = 1, index_name, '"' || REPLACE(index_name, '"', '""') || '"')
                    || ' INACTIVE';
                inactive = inactive + 1;
                RDB$SET_CONTEXT('USER_SESSION', 'MORVANFN_INDEX_' || inactive, index_name);
            END
            switched = switched + 1;
            -- The engine may still refuse one (no ALTER rights, another
            -- transaction changing it, a size it does not take here): that
            -- one stays a UDF, the others go on, and the script fails below.
            WHEN ANY DO
            BEGIN
                action = 'NOT SWITCHED: the engine refused ALTER FUNCTION (SQLSTATE ' || SQLSTATE || ', error '
                    || GDSCODE || ') with (' || udr_arguments || ') RETURNS ' || udr_result;
                refused = refused + 1;
                inactive = made_inactive;
            END
        END
        IF (schema_name IS NOT NULL) THEN
            function_name = '"' || REPLACE(schema_name, '"', '""') || '"."' || REPLACE(function_name, '"', '""') || '"';
        SUSPEND;
    END
    RDB$SET_CONTEXT('USER_SESSION', 'MORVANFN_SWITCHED', switched);
    RDB$SET_CONTEXT('USER_SESSION', 'MORVANFN_REFUSED', refused);
    RDB$SET_CONTEXT('USER_SESSION', 'MORVANFN_INDEXES', inactive);
END^
SET TERM ;^
COMMIT;
-- @REBUILD@
-- @AFTER@
