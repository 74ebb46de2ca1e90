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
 * NOTE says what else to know: a UDF on a server with UDFs off (Firebird 4
 * tells through RDB$CONFIG when asked by SYSDBA; Firebird 3 cannot), and a
 * CSTRING longer than the longest VARCHAR, 32765 bytes.
 * The function-by-function rules are the same in switch_to_udr.sql.
 */
SET LIST ON;
SET TERM ^;
EXECUTE BLOCK RETURNS (
    function_name VARCHAR(63), kind VARCHAR(40), entry_point VARCHAR(300), arguments VARCHAR(2000),
    result VARCHAR(200), dependents INTEGER, verdict VARCHAR(300), note VARCHAR(300))
AS
DECLARE udf_access VARCHAR(1000);
DECLARE module VARCHAR(300);
DECLARE ret SMALLINT;
DECLARE fn VARCHAR(40);
DECLARE want VARCHAR(4);
DECLARE takes SMALLINT;
DECLARE pos SMALLINT;
DECLARE mech SMALLINT;
DECLARE ftype SMALLINT;
DECLARE bytes INTEGER;
DECLARE chars INTEGER;
DECLARE charset VARCHAR(63);
DECLARE letter CHAR(1);
DECLARE declared VARCHAR(200);
DECLARE given SMALLINT;
DECLARE longest INTEGER;
DECLARE holds INTEGER;
DECLARE undefined VARCHAR(300);
BEGIN
    -- Firebird 4 and later show the server's settings to SYSDBA.
    BEGIN
        EXECUTE STATEMENT 'SELECT RDB$CONFIG_VALUE FROM RDB$CONFIG WHERE RDB$CONFIG_NAME = ''UdfAccess'''
            INTO :udf_access;
        WHEN ANY DO udf_access = NULL;
    END
    FOR SELECT TRIM(f.RDB$FUNCTION_NAME), TRIM(f.RDB$ENTRYPOINT), TRIM(f.RDB$MODULE_NAME), f.RDB$RETURN_ARGUMENT
        FROM RDB$FUNCTIONS f
        WHERE f.RDB$PACKAGE_NAME IS NULL
          AND (LOWER(TRIM(f.RDB$MODULE_NAME)) SIMILAR TO '(%[/\])?morvanfn(.so|.dll)?'
               OR (f.RDB$ENGINE_NAME = 'UDR' AND LOWER(f.RDB$ENTRYPOINT) STARTING WITH 'morvanfn_udr!'))
        ORDER BY f.RDB$FUNCTION_NAME
        INTO :function_name, :entry_point, :module, :ret
    DO BEGIN
        arguments = ''; result = NULL; note = NULL; undefined = NULL; longest = 0; holds = NULL; given = 0;
        IF (module IS NULL) THEN
        BEGIN
            fn = LOWER(SUBSTRING(entry_point FROM POSITION('!' IN entry_point) + 1));
            kind = IIF(fn LIKE '%!udf', 'UDR, the UDF''s NULL rules', CAST('UDR, SQL''s NULL rules' AS VARCHAR(40)));
            IF (POSITION('!' IN fn) > 0) THEN fn = LEFT(fn, POSITION('!' IN fn) - 1);
        END
        ELSE
        BEGIN
            fn = IIF(entry_point STARTING WITH '_', SUBSTRING(entry_point FROM 2), entry_point);
            kind = 'UDF on ' || module;
        END
        -- Per entry point, a letter per argument: T a text (CSTRING), V a
        -- VARCHAR, I an INTEGER, all by reference; R the result buffer, a
        -- CSTRING in the last argument; = the result an integer BY VALUE.
        want = DECODE(fn, 'fn_shortdate', 'R', 'fn_curryr', '=', 'fn_strlen', 'V=',
                      'fn_strcat', 'TTR', 'fn_fullcat', 'TTR', 'fn_pad', 'IIR');
        takes = CHAR_LENGTH(REPLACE(want, '=', ''));
        IF (want IS NULL) THEN undefined = 'the library has no entry point ' || entry_point;
        FOR SELECT a.RDB$ARGUMENT_POSITION, a.RDB$MECHANISM,
                   COALESCE(a.RDB$FIELD_TYPE, d.RDB$FIELD_TYPE), COALESCE(a.RDB$FIELD_LENGTH, d.RDB$FIELD_LENGTH),
                   COALESCE(a.RDB$CHARACTER_LENGTH, d.RDB$CHARACTER_LENGTH), TRIM(c.RDB$CHARACTER_SET_NAME)
            FROM RDB$FUNCTION_ARGUMENTS a
            LEFT JOIN RDB$FIELDS d ON d.RDB$FIELD_NAME = a.RDB$FIELD_SOURCE
            LEFT JOIN RDB$CHARACTER_SETS c
                   ON c.RDB$CHARACTER_SET_ID = COALESCE(a.RDB$CHARACTER_SET_ID, d.RDB$CHARACTER_SET_ID)
            WHERE a.RDB$FUNCTION_NAME = :function_name AND a.RDB$PACKAGE_NAME IS NULL
            ORDER BY a.RDB$ARGUMENT_POSITION
            INTO :pos, :mech, :ftype, :bytes, :chars, :charset
        DO BEGIN
            declared = DECODE(ftype, 40, CAST('CSTRING' AS VARCHAR(20)), 37, 'VARCHAR', 14, 'CHAR', 7, 'SMALLINT', 8, 'INTEGER',
                              16, 'BIGINT', 'type ' || ftype)
                || IIF(ftype IN (14, 37, 40), CAST('(' AS VARCHAR(100)) || COALESCE(chars, bytes) || ') CHARACTER SET ' || COALESCE(charset, 'NONE'), '')
                || IIF(module IS NULL, '', DECODE(mech, 0, CAST(' BY VALUE' AS VARCHAR(20)), 2, ' BY DESCRIPTOR', 5, ' NULL', -1, ' FREE_IT', ''));
            IF (pos = 0 OR pos = ret) THEN
                result = declared || IIF(pos = 0, '', CAST(' (argument ' || pos || ')' AS VARCHAR(20)));
            ELSE
                arguments = arguments || IIF(arguments = '', '', CAST(', ' AS VARCHAR(2))) || declared;
            IF (ftype = 40 AND bytes > 32765) THEN
                note = 'switch_to_udr.sql makes CSTRING(' || COALESCE(chars, bytes) || ') a VARCHAR of at most 32765 bytes: longer texts will be refused';
            IF (pos > 0) THEN given = given + 1;
            letter = IIF(pos = 0, '=', SUBSTRING(want FROM pos FOR 1));
            IF (module IS NULL OR undefined IS NOT NULL) THEN
                letter = NULL;
            ELSE IF (mech = 2) THEN
                undefined = 'argument ' || pos || ' is passed BY DESCRIPTOR, which ' || entry_point || ' does not read';
            ELSE IF (mech = -1) THEN
                undefined = 'FREE_IT: the result is not in the last argument, and the server frees memory the library never allocated';
            ELSE IF (letter = 'R' AND pos <> ret OR letter <> 'R' AND pos = ret AND pos > 0) THEN
                undefined = 'the result is not in the last argument';
            ELSE IF (letter = 'V' AND ftype <> 37) THEN
                undefined = 'FN_STRLEN''s argument is not a VARCHAR';
            ELSE IF (letter IN ('T', 'R') AND ftype <> 40 OR letter = 'I' AND ftype <> 8
                     OR letter = '=' AND (ftype NOT IN (7, 8) OR mech <> 0) OR letter = '') THEN
                undefined = 'argument ' || pos || ' is ' || declared || ', which ' || entry_point || ' does not read there';
            ELSE IF (letter = 'T') THEN
                longest = longest + bytes;
            ELSE IF (letter = 'R') THEN
                holds = bytes;
        END
        IF (module IS NOT NULL AND undefined IS NULL AND given <> takes) THEN
            undefined = given || ' arguments are declared, ' || entry_point || ' takes ' || takes;
        IF (module IS NOT NULL AND undefined IS NULL AND want LIKE '%=' AND ret <> 0) THEN
            undefined = 'the result is not an integer BY VALUE';
        longest = DECODE(fn, 'fn_shortdate', 9, 'fn_pad', 255, longest);
        verdict = CASE
            WHEN module IS NULL THEN IIF(want IS NULL, 'fails: morvanfn_udr has no function ' || fn, 'safe')
            WHEN undefined IS NOT NULL THEN 'UNSAFE: ' || undefined || ' (left as a UDF by switch_to_udr.sql)'
            WHEN holds < longest THEN 'UNSAFE: the result holds ' || holds || ' bytes, the longest is ' || longest
                 || ': a longer one overflows the server''s buffer (switch_to_udr.sql makes it safe)'
            ELSE 'safe' END;
        IF (module IS NOT NULL AND UPPER(udf_access) = 'NONE') THEN
            note = TRIM(COALESCE(note || '; ', '') || 'UDF: needs UdfAccess (this server has UdfAccess = None, so every call fails)');
        -- A computed column or a view's column depends through its domain,
        -- a check constraint through its triggers: count their owners.
        dependents = (SELECT COUNT(DISTINCT COALESCE(
                                 (SELECT FIRST 1 f.RDB$RELATION_NAME FROM RDB$RELATION_FIELDS f
                                  WHERE f.RDB$FIELD_SOURCE = d.RDB$DEPENDENT_NAME),
                                 (SELECT c.RDB$CONSTRAINT_NAME FROM RDB$CHECK_CONSTRAINTS c
                                  WHERE c.RDB$TRIGGER_NAME = d.RDB$DEPENDENT_NAME),
                                 d.RDB$DEPENDENT_NAME))
                      FROM RDB$DEPENDENCIES d
                      WHERE d.RDB$DEPENDED_ON_NAME = :function_name AND d.RDB$DEPENDED_ON_TYPE = 15);
        IF (arguments = '') THEN arguments = '(none)';
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
