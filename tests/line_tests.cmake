# The line engine with the fake link and a clock the tests move.
kc_add_test(line_tests
  SOURCES
    line/engine_test.cpp
    line/monitor_test.cpp
    line/trend_history_test.cpp
    line/data_log_test.cpp
  LIBS kc_line
  LABELS line)
