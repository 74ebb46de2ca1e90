/*
 * morvanfn: turns every UDF declared on the module morvanfn (by entry point,
 * whatever its SQL name; morvanfn.so, morvanfn.dll, a path, any case) into
 * a function of the UDR module morvanfn_udr, in place and all at once.
 * Firebird 3 and later; the UDR needs no UdfAccess.
 *   isql-fb -q -i switch_to_udr.sql <database>
 *
 * Each function keeps its SQL name and its argument and result types and
 * sizes as declared, in their VARCHAR form with their character sets (a
 * CSTRING above 32765 bytes becomes the longest VARCHAR), and gets the
 * UDF's NULL rules ('morvanfn_udr!fn_pad!udf'): every input the old
 * declaration accepted gives the same result, NULL included.  A result
 * longer than the declared one, which overflowed the server's buffer
 * before, now raises "string right truncation" (SQLSTATE 22001).  Views,
 * procedures, triggers, computed columns and check constraints that use a
 * function keep working unchanged.
 *
 * Declarations whose UDF result was undefined (check.sql says why) are left
 * as they are and named, and the rest are switched.  It all happens in one
 * statement: if any switch fails, none is made, and nothing is committed.
 * Run again, it changes nothing and says so.  There is no way back from a
 * UDR to a UDF declaration: keep a backup.  The function-by-function rules
 * are those of check.sql.
 */
SET BAIL ON;
SET LIST ON;
SET TERM ^;
EXECUTE BLOCK RETURNS (function_name VARCHAR(63), action VARCHAR(2000))
AS
DECLARE entry_point VARCHAR(300);
DECLARE arguments VARCHAR(2000);
DECLARE result VARCHAR(200);
DECLARE note VARCHAR(300);
DECLARE udr_arguments VARCHAR(2000);
DECLARE udr_result VARCHAR(100);
DECLARE udr_type VARCHAR(100);
DECLARE switched INTEGER = 0;
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
    FOR SELECT TRIM(f.RDB$FUNCTION_NAME), TRIM(f.RDB$ENTRYPOINT), TRIM(f.RDB$MODULE_NAME), f.RDB$RETURN_ARGUMENT
        FROM RDB$FUNCTIONS f
        WHERE f.RDB$PACKAGE_NAME IS NULL
          AND LOWER(TRIM(f.RDB$MODULE_NAME)) SIMILAR TO '(%[/\])?morvanfn(.so|.dll)?'
        ORDER BY f.RDB$FUNCTION_NAME
        INTO :function_name, :entry_point, :module, :ret
    DO BEGIN
        arguments = ''; udr_arguments = ''; result = NULL; udr_result = NULL; note = NULL; undefined = NULL; longest = 0; holds = NULL; given = 0;
        fn = IIF(entry_point STARTING WITH '_', SUBSTRING(entry_point FROM 2), entry_point);
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
                || DECODE(mech, 0, CAST(' BY VALUE' AS VARCHAR(20)), 2, ' BY DESCRIPTOR', 5, ' NULL', -1, ' FREE_IT', '');
            udr_type = IIF(ftype IN (37, 40),
                           'VARCHAR(' || MINVALUE(COALESCE(chars, bytes), 32765 / (bytes / COALESCE(chars, bytes)))
                           || ') CHARACTER SET ' || COALESCE(charset, 'NONE'),
                           DECODE(ftype, 7, CAST('SMALLINT' AS VARCHAR(20)), 8, 'INTEGER', 16, 'BIGINT', 'CHAR(1)'));
            IF (pos = 0 OR pos = ret) THEN
                udr_result = udr_type;
            ELSE
                udr_arguments = udr_arguments || IIF(udr_arguments = '', '', CAST(', ' AS VARCHAR(2)))
                                || 'A' || pos || ' ' || udr_type;
            IF (pos = 0 OR pos = ret) THEN
                result = declared || IIF(pos = 0, '', CAST(' (argument ' || pos || ')' AS VARCHAR(20)));
            ELSE
                arguments = arguments || IIF(arguments = '', '', CAST(', ' AS VARCHAR(2))) || declared;
            IF (ftype = 40 AND bytes > 32765) THEN
                note = 'switch_to_udr.sql makes CSTRING(' || COALESCE(chars, bytes) || ') a VARCHAR of at most 32765 bytes: longer texts will be refused';
            IF (pos > 0) THEN given = given + 1;
            letter = IIF(pos = 0, '=', SUBSTRING(want FROM pos FOR 1));
            IF (undefined IS NOT NULL) THEN
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
        IF (undefined IS NULL AND given <> takes) THEN
            undefined = given || ' arguments are declared, ' || entry_point || ' takes ' || takes;
        IF (undefined IS NULL AND want LIKE '%=' AND ret <> 0) THEN
            undefined = 'the result is not an integer BY VALUE';
        longest = DECODE(fn, 'fn_shortdate', 9, 'fn_pad', 255, longest);
        IF (undefined IS NOT NULL) THEN
            action = 'left as a UDF: ' || undefined || '; declare it again with declare.sql''s types, then run this again';
        ELSE
        BEGIN
            EXECUTE STATEMENT 'ALTER FUNCTION "' || REPLACE(function_name, '"', '""') || '" (' || udr_arguments
                || ') RETURNS ' || udr_result || ' EXTERNAL NAME ''morvanfn_udr!' || fn || '!udf'' ENGINE UDR';
            action = 'switched to morvanfn_udr!' || fn || '!udf: (' || udr_arguments || ') RETURNS ' || udr_result
                || IIF(holds < longest, CAST('; a result over ' || holds || ' bytes, which overflowed the UDF''s buffer, now raises string right truncation' AS VARCHAR(200)), '')
                || COALESCE('; ' || note, '');
            switched = switched + 1;
        END
        SUSPEND;
    END
    function_name = '(all)';
    action = IIF(switched = 0, 'nothing switched: the database is unchanged',
                 CAST(switched || ' switched; COMMIT follows' AS VARCHAR(100)));
    SUSPEND;
END^
SET TERM ;^
COMMIT;
