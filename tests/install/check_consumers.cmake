# Installs the build into PREFIX, as a point-of-sale team gets it, and
# builds two hosts against it: the C sample (examples/c) through pkg-config,
# left in WORK/c for the bindings' end-to-end test, and a C++ host through
# find_package(IT433TD), which runs here and prints on a regular file.
# SANITIZE holds the build's sanitizer flags: a host linking the sanitized
# module must be built with them too.
file(REMOVE_RECURSE ${PREFIX} ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
                OUTPUT_QUIET RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "install failed")
endif()

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(failed)
    message(FATAL_ERROR "${what} failed (${failed}):\n${out}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

# The C sample, exactly as its comment says to build it.
set(ENV{PKG_CONFIG_PATH} ${PREFIX}/lib/pkgconfig)
run("pkg-config" pkg-config --cflags --libs it433td)
separate_arguments(flags UNIX_COMMAND "${output}")
run("pkg-config --variable=libdir" pkg-config --variable=libdir it433td)
string(STRIP "${output}" libdir)
file(MAKE_DIRECTORY ${WORK}/c/Dados)
separate_arguments(sanitize UNIX_COMMAND "${SANITIZE}")
run("compiling the C sample" ${CC} -Wall -Wextra -Werror ${sanitize} ${SOURCE}/examples/c/receipt.c
    -o ${WORK}/c/receipt ${flags} -ldl -Wl,-rpath,${libdir})

# The C++ host through find_package.
run("configuring the find_package host" ${CMAKE_COMMAND} -S ${SOURCE}/tests/install/find_package_host
    -B ${WORK}/cpp -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_CXX_COMPILER=${CXX}
    "-DCMAKE_CXX_FLAGS=${SANITIZE}")
run("building the find_package host" ${CMAKE_COMMAND} --build ${WORK}/cpp)
file(WRITE ${WORK}/paper.bin "")  # a port that is a regular file: appended to
run("the find_package host" ${WORK}/cpp/find_package_host ${WORK}/paper.bin)
file(READ ${WORK}/paper.bin printed HEX)
if(NOT printed STREQUAL "0f4f6ca020432b2b0a12")
  message(FATAL_ERROR "the find_package host printed ${printed}, not 0F \"Ol\\xA0 C++\\n\" 12")
endif()
