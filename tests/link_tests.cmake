# The real serial link runs against pseudo-terminals, which only Linux test hosts provide here.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  kc_add_test(link_tests
    SOURCES
      link/PortNamingTest.cpp
      link/QtSerialLinkTest.cpp
      support/Pty.h
    LIBS kc_protocol Qt6::Test
    LABELS link
    TIMEOUT 60)
endif()
