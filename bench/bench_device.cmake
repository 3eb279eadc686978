# bench_device writes through the built libMEGENCOM32.so to a pty.
if(TARGET MEGENCOM32)
  find_package(Threads REQUIRED)
  target_link_libraries(bench_device PRIVATE MEGENCOM32 util Threads::Threads)
endif()
