/* morvanfn: removes the six functions that declare_udr.sql created, all of
 * them or none.  If anything still uses one (a view, procedure, trigger,
 * computed column or check constraint), the list printed first names what
 * uses which function, the DROP or the COMMIT fails ("there are N
 * dependencies"), the script stops there and nothing is dropped.
 *   isql-fb -q -i drop_udr.sql <database>
 */
SET BAIL ON;
SET AUTODDL OFF;
SET LIST ON;
SELECT DISTINCT TRIM(d.RDB$DEPENDED_ON_NAME) AS in_use,
       COALESCE((SELECT 'column ' || TRIM(f.RDB$RELATION_NAME) || '.' || TRIM(f.RDB$FIELD_NAME)
                 FROM RDB$RELATION_FIELDS f WHERE f.RDB$FIELD_SOURCE = d.RDB$DEPENDENT_NAME ROWS 1),
                (SELECT IIF(t.RDB$TRIGGER_NAME STARTING WITH 'CHECK_', 'check constraint on ', 'trigger ' || TRIM(t.RDB$TRIGGER_NAME) || ' on ')
                        || TRIM(t.RDB$RELATION_NAME) FROM RDB$TRIGGERS t WHERE t.RDB$TRIGGER_NAME = d.RDB$DEPENDENT_NAME),
                DECODE(d.RDB$DEPENDENT_TYPE, 1, 'view ', 5, 'procedure ', 15, 'function ', 'object ') || TRIM(d.RDB$DEPENDENT_NAME)) AS used_by
FROM RDB$DEPENDENCIES d
WHERE d.RDB$DEPENDED_ON_TYPE = 15
  AND d.RDB$DEPENDED_ON_NAME IN ('FN_SHORTDATE', 'FN_CURRYR', 'FN_STRLEN', 'FN_STRCAT', 'FN_FULLCAT', 'FN_PAD');
DROP FUNCTION FN_SHORTDATE;
DROP FUNCTION FN_CURRYR;
DROP FUNCTION FN_STRLEN;
DROP FUNCTION FN_STRCAT;
DROP FUNCTION FN_FULLCAT;
DROP FUNCTION FN_PAD;
COMMIT;
