# POSIX transport tests.
tol_add_gtest(transport_posix_tests
    transport/Messenger_posix_test.cpp
    transport/EthernetMessenger_posix_test.cpp
    transport/SerialMessengers_posix_test.cpp
    transport/UsbMessenger_posix_test.cpp
)
target_link_libraries(transport_posix_tests PRIVATE tol_transport)
