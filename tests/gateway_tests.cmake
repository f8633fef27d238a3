# The gateway's configuration, topics and payloads, then its broker
# connection and the real program against a real Mosquitto each test starts on
# a free loopback port. Qt Core and Network only; the tests subscribe with the
# gateway's own MQTT library.
find_package(Qt6 REQUIRED COMPONENTS Network)
find_package(PahoMqttCpp REQUIRED)
kc_add_test(gateway_tests LIBS_ONLY
  SOURCES
    gateway/config_test.cpp
    gateway/topics_test.cpp
    gateway/broker_test.cpp
    gateway/service_test.cpp
    support/MosquittoBroker.h support/MosquittoBroker.cpp
    support/GatewayProcess.h support/GatewayProcess.cpp
    support/core_test_main.cpp
  LIBS kc_gateway kc_sim_process PahoMqttCpp::paho-mqttpp3 Qt6::Network Qt6::Test GTest::gtest
  LABELS gateway
  TIMEOUT 300)
target_include_directories(gateway_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(gateway_tests PRIVATE KC_GATEWAY_PATH="$<TARGET_FILE:kc4420-gateway>"
  KC_MODBUS_CLIENT="${CMAKE_CURRENT_SOURCE_DIR}/gateway/modbus_client.py")
add_dependencies(gateway_tests kc4420-gateway kc4420-sim)
