# The transport tests under Wine: one program, one CTest entry. tests/wine/bench.sh runs it and,
# on its requests (FarEnd_win.cpp), gives it fake COM, LPT and USB devices (ptys, a stalled FIFO)
# and takes them away again at the end. Registry entries of fake USB printers are made by the
# program itself.
tol_add_gtest(transport_tests ${TOL_TRANSPORT_TESTS} transport/FarEnd_win.cpp)
target_link_libraries(transport_tests PRIVATE tol_transport tol_commands tol_wine_bench tol_asio)
# The bench starts the program through scripts/wine-run.sh itself.
set_target_properties(transport_tests PROPERTIES CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tests/wine/bench.sh)
# The fakes live in the prefix's dosdevices folder and registry, which other tests may use too.
set_tests_properties(transport_tests PROPERTIES RESOURCE_LOCK wine_ports TIMEOUT 300)
