# Where the build finds what it takes from the system's packages (scripts/setup.sh installs them
# on Debian). Each place is a cache variable with the Debian location as its default, so that a
# machine that keeps a package elsewhere sets it once (cmake -D...). A dependency added later
# gets a block of its own here, the same way.
#
# Paths on the build machine are looked up with NO_CMAKE_FIND_ROOT_PATH: the cross build finds
# only the MinGW-w64 sysroot otherwise, and header-only libraries serve both builds.

# GoogleTest (and GoogleMock): built from their sources by each build, with its own compiler and
# flags, so that the same tests build natively and for Windows.
set(TOL_GOOGLETEST_DIR /usr/src/googletest CACHE PATH "GoogleTest's source tree (googletest, googlemock)")
if(TOL_BUILD_TESTS)
    if(NOT EXISTS ${TOL_GOOGLETEST_DIR}/CMakeLists.txt)
        message(FATAL_ERROR "No GoogleTest sources in TOL_GOOGLETEST_DIR (${TOL_GOOGLETEST_DIR}); "
                            "install googletest or set TOL_GOOGLETEST_DIR")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(${TOL_GOOGLETEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# CLI11, tolctl's argument parser: header-only. The cross build must not see the rest of the
# folder it lives in (/usr/include), so the target tol_cli11 points into a folder of the build
# that holds only CLI11's headers.
find_path(TOL_CLI11_INCLUDE_DIR CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
          DOC "The folder that holds CLI11's CLI/CLI.hpp")
if(NOT TOL_CLI11_INCLUDE_DIR)
    message(FATAL_ERROR "CLI11 not found: install libcli11-dev or set TOL_CLI11_INCLUDE_DIR")
endif()
set(TOL_CLI11_ONLY_DIR ${CMAKE_BINARY_DIR}/cli11-include)
file(MAKE_DIRECTORY ${TOL_CLI11_ONLY_DIR})
file(CREATE_LINK ${TOL_CLI11_INCLUDE_DIR}/CLI ${TOL_CLI11_ONLY_DIR}/CLI SYMBOLIC)
add_library(tol_cli11 INTERFACE)
target_include_directories(tol_cli11 SYSTEM INTERFACE ${TOL_CLI11_ONLY_DIR})

# nlohmann-json (tolctl's printer states, profiles and reports): header-only, served the same way
# through the target tol_json.
find_path(TOL_JSON_INCLUDE_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
          DOC "The folder that holds nlohmann/json.hpp")
if(NOT TOL_JSON_INCLUDE_DIR)
    message(FATAL_ERROR "nlohmann-json not found: install nlohmann-json3-dev or set TOL_JSON_INCLUDE_DIR")
endif()
set(TOL_JSON_ONLY_DIR ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${TOL_JSON_ONLY_DIR})
file(CREATE_LINK ${TOL_JSON_INCLUDE_DIR}/nlohmann ${TOL_JSON_ONLY_DIR}/nlohmann SYMBOLIC)
add_library(tol_json INTERFACE)
target_include_directories(tol_json SYSTEM INTERFACE ${TOL_JSON_ONLY_DIR})

# Standalone Asio (libasio-dev), the event loop of the emulator and of scan: header-only, served
# the same way through the target tol_asio, without Boost. Windows: Winsock and its extensions.
find_path(TOL_ASIO_INCLUDE_DIR asio.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
          DOC "The folder that holds standalone Asio's asio.hpp")
if(NOT TOL_ASIO_INCLUDE_DIR)
    message(FATAL_ERROR "Asio not found: install libasio-dev or set TOL_ASIO_INCLUDE_DIR")
endif()
set(TOL_ASIO_ONLY_DIR ${CMAKE_BINARY_DIR}/asio-include)
file(MAKE_DIRECTORY ${TOL_ASIO_ONLY_DIR})
file(CREATE_LINK ${TOL_ASIO_INCLUDE_DIR}/asio ${TOL_ASIO_ONLY_DIR}/asio SYMBOLIC)
file(CREATE_LINK ${TOL_ASIO_INCLUDE_DIR}/asio.hpp ${TOL_ASIO_ONLY_DIR}/asio.hpp SYMBOLIC)
find_package(Threads REQUIRED)
add_library(tol_asio INTERFACE)
target_include_directories(tol_asio SYSTEM INTERFACE ${TOL_ASIO_ONLY_DIR})
target_compile_definitions(tol_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(tol_asio INTERFACE Threads::Threads)
if(WIN32)
    target_link_libraries(tol_asio INTERFACE ws2_32 mswsock)
endif()

# cpp-httplib, the HTTP server of monitor and the console: its single header, header-only, from
# Debian's source package of the installed libcpp-httplib-dev (scripts/setup.sh unpacks it; the
# binary package's split header needs a shared library that the Windows build cannot link).
file(GLOB TOL_HTTPLIB_CANDIDATES LIST_DIRECTORIES true /usr/local/src/cpp-httplib-*)
find_path(TOL_HTTPLIB_INCLUDE_DIR httplib.h PATHS ${TOL_HTTPLIB_CANDIDATES} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
          DOC "The folder that holds cpp-httplib's single header httplib.h")
if(NOT TOL_HTTPLIB_INCLUDE_DIR)
    message(FATAL_ERROR "cpp-httplib's single header not found: run scripts/setup.sh or set TOL_HTTPLIB_INCLUDE_DIR")
endif()
set(TOL_HTTPLIB_ONLY_DIR ${CMAKE_BINARY_DIR}/httplib-include)
file(MAKE_DIRECTORY ${TOL_HTTPLIB_ONLY_DIR})
file(CREATE_LINK ${TOL_HTTPLIB_INCLUDE_DIR}/httplib.h ${TOL_HTTPLIB_ONLY_DIR}/httplib.h SYMBOLIC)
add_library(tol_httplib INTERFACE)
target_include_directories(tol_httplib SYSTEM INTERFACE ${TOL_HTTPLIB_ONLY_DIR})
target_link_libraries(tol_httplib INTERFACE Threads::Threads)
if(WIN32)
    target_link_libraries(tol_httplib INTERFACE ws2_32)
endif()

# help2man: writes tolctl's man page from its help, in builds whose tolctl runs here.
if(NOT CMAKE_CROSSCOMPILING AND NOT TOL_FUZZ)
    find_program(TOL_HELP2MAN help2man DOC "help2man, which writes tolctl's man page")
    if(NOT TOL_HELP2MAN)
        message(FATAL_ERROR "help2man not found: install help2man or set TOL_HELP2MAN")
    endif()
endif()

# wixl (msitools): builds the Windows installer from the Windows build's files (CPack).
if(WIN32 AND NOT TOL_FUZZ)
    find_program(TOL_WIXL wixl DOC "wixl, which builds the .msi")
    if(NOT TOL_WIXL)
        message(FATAL_ERROR "wixl not found: install wixl or set TOL_WIXL")
    endif()
endif()

# Python 3 (its standard library only): the checks of the documents, the browser test and the
# Ansible roll-out test.
if((TOL_BUILD_TESTS OR TOL_PACKAGE_TESTS) AND NOT TOL_FUZZ)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
endif()
