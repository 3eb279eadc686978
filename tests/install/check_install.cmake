# Installs the build into PREFIX, checks that the module, its soname link and
# both stand-ins sit side by side in lib/ with RUNPATH $ORIGIN, that none of
# them needs a sanitizer runtime (a host not built with the sanitizers could
# not load it), and that a host binds both libraries with no LD_LIBRARY_PATH.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
                OUTPUT_QUIET RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "install failed")
endif()
foreach(file libPkg_Vossik.so libPkg_Vossik.so.${VERSION_MAJOR} libPkg_Vossik.so.${VERSION}
             libMEGENCOM32.so libP32GeCodeBar.so)
  if(NOT EXISTS ${PREFIX}/lib/${file})
    message(FATAL_ERROR "lib/${file} is not installed")
  endif()
endforeach()
foreach(file libPkg_Vossik.so libMEGENCOM32.so libP32GeCodeBar.so)
  execute_process(COMMAND readelf -d ${PREFIX}/lib/${file} OUTPUT_VARIABLE dynamic)
  if(dynamic MATCHES "\\(NEEDED\\)[^\n]*lib(asan|ubsan|lsan|tsan|hwasan)")
    message(FATAL_ERROR "the installed lib/${file} needs a sanitizer runtime: "
                        "install the release build (build-linux), not a sanitizer build")
  endif()
endforeach()
execute_process(COMMAND readelf -d ${PREFIX}/lib/libPkg_Vossik.so OUTPUT_VARIABLE dynamic)
if(NOT dynamic MATCHES "RUNPATH\\) +Library runpath: \\[\\$ORIGIN\\]")
  message(FATAL_ERROR "the installed module's RUNPATH is not exactly $ORIGIN:\n${dynamic}")
endif()
if(NOT dynamic MATCHES "SONAME\\) +Library soname: \\[libPkg_Vossik.so.${VERSION_MAJOR}\\]")
  message(FATAL_ERROR "the installed module's soname is wrong:\n${dynamic}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH
                        ${HOST} ${PREFIX}/lib/libPkg_Vossik.so
                RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(failed)
  message(FATAL_ERROR "the installed module did not bind the stand-ins: ${out}")
endif()
