# morvanfn_engines(VAR KIND): the engines scripts/firebird.sh lists of KIND
# (linux, debian, windows-x64, windows-x86) on this machine, into VAR.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/scripts/firebird.sh)
function(morvanfn_engines var kind)
    execute_process(COMMAND sh ${PROJECT_SOURCE_DIR}/scripts/firebird.sh list ${kind}
                    OUTPUT_VARIABLE names OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    string(REPLACE "\n" ";" names "${names}")
    set(${var} ${names} PARENT_SCOPE)
endfunction()
