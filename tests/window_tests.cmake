kc_add_test(window_tests
  SOURCES
    window/WindowHarness.h
    window/startup_link_test.cpp
    window/read_poll_test.cpp
    window/requests_window_test.cpp
    window/layout_test.cpp
  LABELS window)
