# cmake -DLIBRARY=<file> -DPREFIX=<prefix> -P CheckExports.cmake
# Fails unless the library's dynamic symbol table defines exactly the seven
# entry points.
find_program(NM nm REQUIRED)
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(found)
foreach(line ${lines})
    string(REGEX REPLACE "^.* " "" name "${line}")
    list(APPEND found ${name})
endforeach()
list(SORT found)
set(expected ${PREFIX}_Done ${PREFIX}_Error ${PREFIX}_GetConfig ${PREFIX}_Init ${PREFIX}_Send ${PREFIX}_SetConfig
    ${PREFIX}_Version)
list(SORT expected)
if(NOT found STREQUAL expected)
    message(FATAL_ERROR "${LIBRARY} exports:\n  ${found}\nexpected:\n  ${expected}")
endif()
