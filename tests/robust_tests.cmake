# Bad input over every box and request, and the long upload-log run.
kc_add_test(robust_tests
  SOURCES robust/QtPrinting.h robust/bad_input_test.cpp
  LABELS robust
  TIMEOUT 600)

# A million upload records through the window: about a minute, so label long.
kc_add_test(upload_log_long_test
  SOURCES robust/QtPrinting.h robust/upload_log_long_test.cpp
  LABELS "robust;long"
  TIMEOUT 1200)
