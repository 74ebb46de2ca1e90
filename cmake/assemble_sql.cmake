# check.sql and switch_to_udr.sql judge declarations by the same rules, held
# once in sql/src: each script is its template with the rules' variables and
# body put in at the -- @VARIABLES@ and -- @RULES@ lines, so that each file a
# DBA runs stands alone.  Included by CMakeLists.txt at configure time, and
# run as `cmake -DSOURCE=... -DOUT=... -P assemble_sql.cmake` by a test.
file(READ ${SOURCE}/variables.psql variables)
file(READ ${SOURCE}/rules.psql rules)
foreach(script check switch_to_udr)
    file(READ ${SOURCE}/${script}.sql text)
    string(REPLACE "-- @VARIABLES@\n" "${variables}" text "${text}")
    string(REPLACE "-- @RULES@\n" "${rules}" text "${text}")
    set(made "")
    if(EXISTS ${OUT}/${script}.sql)
        file(READ ${OUT}/${script}.sql made)
    endif()
    if(NOT made STREQUAL text)
        file(WRITE ${OUT}/${script}.sql "${text}")
    endif()
endforeach()
