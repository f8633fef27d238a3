# The real serial link runs against pseudo-terminals, which only Linux test hosts provide
# here; the network link against a far end on loopback, under the line engine.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  kc_add_test(link_tests
    SOURCES
      link/PortNamingTest.cpp
      link/QtSerialLinkTest.cpp
      link/TcpLinkTest.cpp
      support/Pty.h
    LIBS kc_line Qt6::Test
    LABELS link
    TIMEOUT 60)
endif()
