# check.sql and switch_to_udr.sql judge declarations by the same rules, held
# once in sql/src: each script is its template with the rules' variables and
# body put in at the -- @VARIABLES@ and -- @RULES@ lines, and the statement
# that builds again the indexes a switch made inactive at -- @REBUILD@ (the
# tool builds them itself, one statement each, so that a stop cancels one),
# and the one that reads the catalogue after a switch at -- @AFTER@, so that each file a
# DBA runs stands alone.  morvanfn-upgrade runs the same statements: they
# are also written, as C++ texts, into sql_statements.h.  Included by
# CMakeLists.txt at configure time, and run as
# `cmake -DSOURCE=... -DOUT=... -P assemble_sql.cmake` by a test.
file(READ ${SOURCE}/variables.psql variables)
file(READ ${SOURCE}/rules.psql rules)
file(READ ${SOURCE}/after_switch.psql after)
file(READ ${SOURCE}/rebuild.psql rebuild)
function(write_if_changed path text)
    set(made "")
    if(EXISTS ${path})
        file(READ ${path} made)
    endif()
    if(NOT made STREQUAL text)
        file(WRITE ${path} "${text}")
    endif()
endfunction()
# The statement between SET TERM ^; and the ^ that ends it.
function(statement_of var text)
    string(FIND "${text}" "SET TERM ^;\n" from)
    math(EXPR from "${from} + 12")
    string(SUBSTRING "${text}" ${from} -1 rest)
    string(FIND "${rest}" "^\nSET TERM ;^" to)
    string(SUBSTRING "${rest}" 0 ${to} statement)
    set(${var} "${statement}" PARENT_SCOPE)
endfunction()
set(header "// Made by cmake/assemble_sql.cmake from sql/src: the statements of check.sql\n// and switch_to_udr.sql, as morvanfn-upgrade runs them.\n")
foreach(script check switch_to_udr)
    file(READ ${SOURCE}/${script}.sql text)
    string(REPLACE "-- @VARIABLES@\n" "${variables}" text "${text}")
    string(REPLACE "-- @RULES@\n" "${rules}" text "${text}")
    string(REPLACE "-- @REBUILD@\n" "${rebuild}" text "${text}")
    string(REPLACE "-- @AFTER@\n" "${after}" text "${text}")
    write_if_changed(${OUT}/${script}.sql "${text}")
    statement_of(statement "${text}")
    string(APPEND header "inline const char ${script}_statement[] = R\"morvanfn(${statement})morvanfn\";\n")
endforeach()
statement_of(statement "${after}")
string(APPEND header "inline const char after_switch_statement[] = R\"morvanfn(${statement})morvanfn\";\n")
write_if_changed(${OUT}/sql_statements.h "${header}")
