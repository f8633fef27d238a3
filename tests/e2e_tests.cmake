# End-to-end: the real window on the real serial link, against the simulated
# module (or a libmodbus server) on pseudo-terminals, which only Linux hosts give here.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(E2E_MODBUS REQUIRED IMPORTED_TARGET libmodbus)

  add_library(kc_e2e_support STATIC
    e2e/E2eSupport.h e2e/E2eSupport.cpp
    e2e/LiveWindow.h e2e/LiveWindow.cpp
  )
  target_link_libraries(kc_e2e_support PUBLIC kc_test_support kc_sim_process kc_protocol Qt6::Test)
  kc_warnings(kc_e2e_support)

  # The quick ones: each test starts its own module and window.
  kc_add_test(e2e_tests
    SOURCES
      e2e/first_slice_test.cpp
      e2e/requests_test.cpp
      e2e/line_faults_test.cpp
    LIBS kc_e2e_support PkgConfig::E2E_MODBUS
    LABELS e2e
    TIMEOUT 180)

  # Polling 1000 cycles on the 50 ms timer: about 50 s.
  kc_add_test(e2e_polling_tests
    SOURCES e2e/polling_test.cpp
    LIBS kc_e2e_support
    LABELS e2e long
    TIMEOUT 240)

  # A minute of flood against the open window.
  kc_add_test(e2e_flood_tests
    SOURCES e2e/flood_test.cpp
    LIBS kc_e2e_support
    LABELS e2e long
    TIMEOUT 240)

  # Twenty thousand back-to-back cycles.
  kc_add_test(e2e_soak_tests
    SOURCES e2e/soak_test.cpp
    LIBS kc_e2e_support
    LABELS e2e long
    TIMEOUT 300)
endif()

# kc4420-cli against the simulated module, as a script runs it.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  kc_add_test(cli_tests
    SOURCES e2e/cli_test.cpp
    LIBS kc_sim_process
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
