# The simulated module: its pure logic, then the real binary on a pseudo-terminal
# driven by libmodbus as a master that shares no code with the tool.
kc_add_test(sim_core_tests
  SOURCES
    sim/HexBytes.h
    sim/CrcTest.cpp
    sim/RegisterStoreTest.cpp
    sim/ModbusSlaveTest.cpp
    sim/UploadRecordTest.cpp
    sim/LineShaperTest.cpp
    sim/SimOptionsTest.cpp
  LIBS kc_sim_core
  LABELS sim
  TIMEOUT 60)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LIBMODBUS REQUIRED IMPORTED_TARGET libmodbus)
  kc_add_test(sim_e2e_tests
    SOURCES
      sim/SimProcess.h sim/SimProcess.cpp
      sim/HexBytes.h sim/RawPort.h
      sim/SimEndToEndTest.cpp
    LIBS PkgConfig::LIBMODBUS Qt6::Core
    LABELS sim
    TIMEOUT 120)
  target_compile_definitions(sim_e2e_tests PRIVATE
    KC_SIM_DEFAULT_PATH="$<TARGET_FILE:kc4420-sim>")
  add_dependencies(sim_e2e_tests kc4420-sim)
endif()
