/*
 * morvanfn: declares its six functions from the UDR module morvanfn_udr,
 * under the same names as declare.sql, so that queries do not change.
 *   isql-fb -q -i declare_udr.sql <database>
 * libmorvanfn_udr.so must be in the UDR directory of the engine
 * ($(dir_plugins)/udr; Debian: /usr/lib/x86_64-linux-gnu/firebird/<3.0 or 4.0>/plugins/udr).
 * UDFs need not be allowed: this works with UdfAccess = None.
 *
 * The same results as the UDF declarations for every non-NULL argument, and
 * SQL's rules for NULL: any NULL argument gives NULL (FN_PAD(NULL, 3) is
 * NULL here, '000' under declare.sql).  An external name ending in '!udf'
 * ('morvanfn_udr!fn_pad!udf') gives the UDF's NULL rules instead, as
 * switch_to_udr.sql declares them.  Texts are VARCHAR in and out, sizes in
 * bytes (CHARACTER SET NONE): 32765 for FN_STRLEN, 4095 for each text of
 * FN_STRCAT and FN_FULLCAT (result up to 8190), 255 for FN_PAD's result.
 * The module reads the sizes from the declaration, so others work too; the
 * engine copies every declared byte on each call, so larger ones cost every
 * row.  A text ends at its first 0x00 byte.
 */
CREATE FUNCTION FN_SHORTDATE ()
    RETURNS VARCHAR(9) CHARACTER SET NONE
    EXTERNAL NAME 'morvanfn_udr!fn_shortdate' ENGINE UDR;

CREATE FUNCTION FN_CURRYR ()
    RETURNS INTEGER
    EXTERNAL NAME 'morvanfn_udr!fn_curryr' ENGINE UDR;

CREATE FUNCTION FN_STRLEN (s VARCHAR(32765) CHARACTER SET NONE)
    RETURNS SMALLINT
    EXTERNAL NAME 'morvanfn_udr!fn_strlen' ENGINE UDR;

CREATE FUNCTION FN_STRCAT (a VARCHAR(4095) CHARACTER SET NONE, b VARCHAR(4095) CHARACTER SET NONE)
    RETURNS VARCHAR(8190) CHARACTER SET NONE
    EXTERNAL NAME 'morvanfn_udr!fn_strcat' ENGINE UDR;

CREATE FUNCTION FN_FULLCAT (a VARCHAR(4095) CHARACTER SET NONE, b VARCHAR(4095) CHARACTER SET NONE)
    RETURNS VARCHAR(8190) CHARACTER SET NONE
    EXTERNAL NAME 'morvanfn_udr!fn_fullcat' ENGINE UDR;

CREATE FUNCTION FN_PAD (v INTEGER, w INTEGER)
    RETURNS VARCHAR(255) CHARACTER SET NONE
    EXTERNAL NAME 'morvanfn_udr!fn_pad' ENGINE UDR;

COMMIT;
