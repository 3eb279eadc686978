# bench_barcode renders through our barcode library's exports (Linux only).
if(TARGET P32GeCodeBar)
  target_link_libraries(bench_barcode PRIVATE P32GeCodeBar)
else()
  set_target_properties(bench_barcode PROPERTIES EXCLUDE_FROM_ALL TRUE)
endif()
