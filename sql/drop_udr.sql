/* morvanfn: removes the six functions that declare_udr.sql created.
 * DROP fails while a view, procedure or trigger uses a function. */
DROP FUNCTION FN_SHORTDATE;
DROP FUNCTION FN_CURRYR;
DROP FUNCTION FN_STRLEN;
DROP FUNCTION FN_STRCAT;
DROP FUNCTION FN_FULLCAT;
DROP FUNCTION FN_PAD;
COMMIT;
