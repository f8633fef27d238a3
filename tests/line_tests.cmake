# The line engine with the fake link and a clock the tests move.
kc_add_test(line_tests
  SOURCES
    line/engine_test.cpp
    line/scan_test.cpp
    line/monitor_test.cpp
    line/trend_history_test.cpp
    line/data_log_test.cpp
    line/diagnosis_test.cpp
  LIBS kc_line
  LABELS line)

# The monitor on two pseudo-terminal lines of simulated modules, and on network lines.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  kc_add_test(monitor_live_tests
    SOURCES line/monitor_e2e_test.cpp
    LIBS kc_line kc_sim_process kc_modbus_server
    LABELS line e2e
    TIMEOUT 120)
endif()
