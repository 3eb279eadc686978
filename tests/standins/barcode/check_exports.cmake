# Fails unless the library's dynamic symbol table defines exactly the four
# vendor entry points (in any order) among its functions.
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[0-9a-f]+ [TtWi] [^\n]+" functions "${symbols}")
set(names "")
foreach(line IN LISTS functions)
  string(REGEX REPLACE "^[0-9a-f]+ [TtWi] " "" name "${line}")
  # The toolchain's own section markers and init/fini hooks are not ours.
  if(NOT name MATCHES "^_(init|fini)$")
    list(APPEND names "${name}")
  endif()
endforeach()
list(SORT names)
set(expected CODEBAR32_PGeBMPtoPRN CODEBAR32_PGeCodeBarFinaliza
             CODEBAR32_PGeCodeBarInicia CODEBAR32_PGeCodeBarQRCODE)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported functions: ${names}\nexpected: ${expected}")
endif()
