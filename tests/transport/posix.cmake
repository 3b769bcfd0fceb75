# The transport tests natively: the test makes the far end of each port itself (FarEnd_posix.cpp),
# and every case is a CTest entry of its own.
tol_add_gtest(transport_tests ${TOL_TRANSPORT_TESTS} transport/FarEnd_posix.cpp)
target_link_libraries(transport_tests PRIVATE tol_transport tol_commands tol_asio)
