# Bad input over every box and request, and the long upload-log run.
kc_add_test(robust_tests
  SOURCES
    robust/ReferenceRules.h
    robust/bad_input_window_test.cpp
    robust/bad_input_plans_test.cpp
  LABELS robust
  TIMEOUT 600)
