# bench_render drives the virtual printer library (Linux only).
if(TARGET it433td_printer)
  target_link_libraries(bench_render PRIVATE it433td_printer)
  target_compile_definitions(bench_render PRIVATE
    IT433TD_DEMO_STREAM="${CMAKE_CURRENT_SOURCE_DIR}/demo-receipt.prn"
    IT433TD_ESCPOS_STREAM="${PROJECT_SOURCE_DIR}/tests/printer/escpos_jobs/thermal-bakery.bin")
else()
  set_target_properties(bench_render PROPERTIES EXCLUDE_FROM_ALL TRUE)
endif()
