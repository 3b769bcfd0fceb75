# Windows transport tests (under Wine). One program; tests/wine/bench.sh runs it and, on its
# requests, gives it fake COM, LPT and USB devices (ptys, a stalled FIFO) and takes them away
# again at the end. Registry entries of fake USB printers are made by the program itself.
tol_add_gtest(transport_win_tests
    transport/Messenger_win_test.cpp
    transport/SerialMessengers_win_test.cpp
    transport/EthernetMessenger_win_test.cpp
    transport/UsbMessenger_win_test.cpp
    transport/PortFactory_win_test.cpp
    wine/WineBench.cpp
    wine/FakeUsbPrinter.cpp
)
target_include_directories(transport_win_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/wine)
target_link_libraries(transport_win_tests PRIVATE tol_transport ws2_32 advapi32)
# The bench starts the program through scripts/wine-run.sh itself.
set_target_properties(transport_win_tests PROPERTIES
    CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tests/wine/bench.sh)
# The fakes live in the prefix's dosdevices folder and registry, which other tests may use too.
set_tests_properties(transport_win_tests PROPERTIES RESOURCE_LOCK wine_ports TIMEOUT 120)
