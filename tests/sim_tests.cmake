# The simulated module's own contract, then the real binary on a pseudo-terminal
# driven by libmodbus as a master that shares no code with it. Neither links the
# tool or the window library.
kc_add_test(sim_core_tests LIBS_ONLY
  SOURCES sim/SimCoreTest.cpp sim/HexText.h
  LIBS kc_sim_core GTest::gtest_main
  LABELS sim
  TIMEOUT 60)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LIBMODBUS REQUIRED IMPORTED_TARGET libmodbus)
  kc_add_test(sim_e2e_tests LIBS_ONLY
    SOURCES sim/SimBinaryTest.cpp sim/HexText.h support/core_test_main.cpp
    LIBS kc_sim_process PkgConfig::LIBMODBUS GTest::gtest
    LABELS sim
    TIMEOUT 60)
endif()
