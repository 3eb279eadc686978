# it433td_stand_in_dll(<target>): a stand-in vendor library as a Windows DLL
# (mingw-w64): named exactly as the vendor's (MEGENCOM32.dll, no "lib"),
# self-contained (no mingw runtime DLLs beside it), and on i686 with its
# __stdcall entry points exported undecorated, as the module looks them up
# by name.
function(it433td_stand_in_dll target)
  set_target_properties(${target} PROPERTIES PREFIX "")
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${target} PRIVATE -Wl,--kill-at)
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()
