# End-to-end: the real window on the real serial link, against the simulated
# module (or a libmodbus server) on pseudo-terminals, which only Linux hosts give
# here. Long runs are benchmarks (bench/), not tests.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(E2E_MODBUS REQUIRED IMPORTED_TARGET libmodbus)

  kc_add_test(e2e_tests
    SOURCES
      support/Pty.h
      e2e/real_line_test.cpp
    LIBS kc_sim_process kc_protocol Qt6::Test PkgConfig::E2E_MODBUS
    LABELS e2e
    TIMEOUT 120)

  # kc4420-cli against the simulated module, as a script runs it, and against a
  # libmodbus Modbus TCP server.
  kc_add_test(cli_tests
    SOURCES e2e/cli_test.cpp
    LIBS kc_sim_process kc_modbus_server
    LABELS e2e
    TIMEOUT 180)
  target_compile_definitions(cli_tests PRIVATE KC_CLI_PATH="$<TARGET_FILE:kc4420-cli>")
  add_dependencies(cli_tests kc4420-cli)
endif()

# Address assignment and templates through the line engine, against the simulated module.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  kc_add_test(commission_tests
    SOURCES e2e/commission_test.cpp
    LIBS kc_line kc_sim_process
    LABELS e2e
    TIMEOUT 60)
endif()
