kc_add_test(window_tests
  SOURCES
    window/WindowHarness.h
    window/startup_port_test.cpp
    window/outcomes_test.cpp
    window/requests_test.cpp
    window/layout_test.cpp
    window/tools_test.cpp
    window/port_claim_test.cpp
    window/monitor_window_test.cpp
    window/traffic_log_test.cpp
    window/trend_window_test.cpp
    window/line_doctor_test.cpp
  LABELS window)
