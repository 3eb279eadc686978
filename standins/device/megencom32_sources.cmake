# The device library's core, written once for every system: the ten entry
# points, the registry of open ports, the status conversation, the call log
# and the statuses in words. Each build adds its system side (port_io.h):
# port_io_posix.cpp here, standins/win32/port_io_win32.cpp for Windows.
set(MEGENCOM32_CORE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(MEGENCOM32_CORE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/megencom32_exports.cpp
  ${CMAKE_CURRENT_LIST_DIR}/port_registry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/printer_status.cpp
  ${CMAKE_CURRENT_LIST_DIR}/call_log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/status_text.cpp)
