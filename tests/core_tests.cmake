kc_add_test(core_tests
  SOURCES
    core/frame_codec_test.cpp
    core/number_text_test.cpp
    core/register_map_test.cpp
    core/requests_test.cpp
    core/replies_test.cpp
    core/outcomes_test.cpp
    core/commissioning_test.cpp
    core/time_text_test.cpp
    core/adapter_echo_test.cpp
    core/listening_test.cpp
    core/diagnosis_test.cpp
    core/relay_test.cpp
  LABELS core)
