# bench_render drives the virtual printer library (Linux only).
if(TARGET it433td_printer)
  target_link_libraries(bench_render PRIVATE it433td_printer)
else()
  set_target_properties(bench_render PROPERTIES EXCLUDE_FROM_ALL TRUE)
endif()
