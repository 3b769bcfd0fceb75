# Where the build finds what it takes from the system's packages (scripts/setup.sh installs them
# on Debian). Each place is a cache variable with the Debian location as its default, so that a
# machine that keeps a package elsewhere sets it once (cmake -D...). A dependency added later
# gets a block of its own here, the same way.
#
# Paths on the build machine are looked up with NO_CMAKE_FIND_ROOT_PATH: the cross build finds
# only the MinGW-w64 sysroot otherwise, and header-only libraries serve both builds.

# GoogleTest (and GoogleMock), as the targets gtest, gtest_main and gmock. Natively, the system's
# built libraries (libgtest-dev, libgmock-dev); for Windows, built from their sources with the
# cross compiler, so that the same tests build natively and for Windows.
set(TOL_GOOGLETEST_DIR /usr/src/googletest CACHE PATH "GoogleTest's source tree (googletest, googlemock)")
if(TOL_BUILD_TESTS AND NOT CMAKE_CROSSCOMPILING)
    find_package(GTest REQUIRED CONFIG)
    foreach(target gtest gtest_main gmock)
        add_library(${target} INTERFACE)
        target_link_libraries(${target} INTERFACE GTest::${target})
    endforeach()
elseif(TOL_BUILD_TESTS)
    if(NOT EXISTS ${TOL_GOOGLETEST_DIR}/CMakeLists.txt)
        message(FATAL_ERROR "No GoogleTest sources in TOL_GOOGLETEST_DIR (${TOL_GOOGLETEST_DIR}); "
                            "install googletest or set TOL_GOOGLETEST_DIR")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(${TOL_GOOGLETEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# A header-only library as target TARGET: PROBE (a path below the folder, e.g. CLI/CLI.hpp) found
# in the folders after PATHS (cache variable VAR, which a machine that keeps the library elsewhere
# sets), and the ENTRIES of that folder that belong to the library. The cross build must not see
# the rest of the folder (/usr/include), so the target points into a folder of the build that
# holds links to those entries only. MISSING says how to get the library.
function(tol_header_only TARGET VAR PROBE)
    cmake_parse_arguments(ARG "" "MISSING" "PATHS;ENTRIES" ${ARGN})
    find_path(${VAR} ${PROBE} PATHS ${ARG_PATHS} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
              DOC "The folder that holds ${PROBE}")
    if(NOT ${VAR})
        message(FATAL_ERROR "${PROBE} not found: ${ARG_MISSING} or set ${VAR}")
    endif()
    set(only ${CMAKE_BINARY_DIR}/${TARGET}-include)
    file(MAKE_DIRECTORY ${only})
    foreach(entry IN LISTS ARG_ENTRIES)
        file(CREATE_LINK ${${VAR}}/${entry} ${only}/${entry} SYMBOLIC)
    endforeach()
    add_library(${TARGET} INTERFACE)
    target_include_directories(${TARGET} SYSTEM INTERFACE ${only})
endfunction()

# CLI11, tolctl's argument parser.
tol_header_only(tol_cli11 TOL_CLI11_INCLUDE_DIR CLI/CLI.hpp PATHS /usr/include ENTRIES CLI
                MISSING "install libcli11-dev")

# nlohmann-json: tolctl's printer states, profiles and reports. What tolctl reads is parsed through
# common/json (the target tol_json), which adds its limit on nesting.
tol_header_only(tol_nlohmann_json TOL_JSON_INCLUDE_DIR nlohmann/json.hpp PATHS /usr/include ENTRIES nlohmann
                MISSING "install nlohmann-json3-dev")

# Standalone Asio (libasio-dev), the event loop of the emulator and of scan, without Boost.
# Windows: Winsock and its extensions.
find_package(Threads REQUIRED)
tol_header_only(tol_asio TOL_ASIO_INCLUDE_DIR asio.hpp PATHS /usr/include ENTRIES asio asio.hpp
                MISSING "install libasio-dev")
target_compile_definitions(tol_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(tol_asio INTERFACE Threads::Threads)
if(WIN32)
    target_link_libraries(tol_asio INTERFACE ws2_32 mswsock)
endif()

# cpp-httplib, the HTTP server of monitor and the console: its single header, from Debian's
# source package of the installed libcpp-httplib-dev (scripts/setup.sh unpacks it; the binary
# package's split header needs a shared library that the Windows build cannot link).
file(GLOB TOL_HTTPLIB_CANDIDATES LIST_DIRECTORIES true /usr/local/src/cpp-httplib-*)
tol_header_only(tol_httplib TOL_HTTPLIB_INCLUDE_DIR httplib.h PATHS ${TOL_HTTPLIB_CANDIDATES} ENTRIES httplib.h
                MISSING "run scripts/setup.sh")
target_link_libraries(tol_httplib INTERFACE Threads::Threads)
if(WIN32)
    target_link_libraries(tol_httplib INTERFACE ws2_32)
endif()

# SQLite, the fleet record's storage, as the target tol_sqlite. Natively the system's library
# (libsqlite3-dev). The Windows build compiles SQLite's single source file (sqlite3.c), which
# scripts/setup.sh makes from Debian's source package of the installed libsqlite3-dev, as a static
# library of its own: C, -O2, never part of a unity batch, so that its 8 MB are compiled once and
# only when they change (about a minute of processor time).
if(NOT CMAKE_CROSSCOMPILING)
    find_package(SQLite3 REQUIRED)
    add_library(tol_sqlite INTERFACE)
    target_link_libraries(tol_sqlite INTERFACE SQLite::SQLite3)
else()
    execute_process(COMMAND dpkg-query -W "-f=\${Version}" libsqlite3-dev OUTPUT_VARIABLE TOL_SQLITE_INSTALLED
                    ERROR_QUIET)
    set(TOL_SQLITE_SOURCE_DIR /usr/local/src/sqlite3-${TOL_SQLITE_INSTALLED}
        CACHE PATH "The folder of SQLite's sqlite3.c and sqlite3.h (made by scripts/setup.sh)")
    if(NOT EXISTS ${TOL_SQLITE_SOURCE_DIR}/sqlite3.c OR NOT EXISTS ${TOL_SQLITE_SOURCE_DIR}/sqlite3.h)
        message(FATAL_ERROR "No sqlite3.c in TOL_SQLITE_SOURCE_DIR (${TOL_SQLITE_SOURCE_DIR}): "
                            "run scripts/setup.sh or set TOL_SQLITE_SOURCE_DIR")
    endif()
    add_library(tol_sqlite STATIC ${TOL_SQLITE_SOURCE_DIR}/sqlite3.c)
    set_target_properties(tol_sqlite PROPERTIES UNITY_BUILD OFF C_VISIBILITY_PRESET hidden)
    target_include_directories(tol_sqlite SYSTEM PUBLIC ${TOL_SQLITE_SOURCE_DIR})
    # No extensions loaded from files, no double-quoted strings taken for names, threads allowed.
    target_compile_definitions(tol_sqlite PRIVATE SQLITE_OMIT_LOAD_EXTENSION SQLITE_DQS=0 SQLITE_THREADSAFE=1
                                                  SQLITE_DEFAULT_MEMSTATUS=0)
    if(NOT MSVC)
        target_compile_options(tol_sqlite PRIVATE -O2)
    endif()
endif()

# help2man: writes tolctl's man page from its help, in builds whose tolctl runs here.
if(NOT CMAKE_CROSSCOMPILING AND NOT TOL_FUZZ_ONLY)
    find_program(TOL_HELP2MAN help2man DOC "help2man, which writes tolctl's man page")
    if(NOT TOL_HELP2MAN)
        message(FATAL_ERROR "help2man not found: install help2man or set TOL_HELP2MAN")
    endif()
endif()

# wixl (msitools): builds the Windows installer from the Windows build's files (CPack).
if(WIN32 AND NOT TOL_FUZZ_ONLY)
    find_program(TOL_WIXL wixl DOC "wixl, which builds the .msi")
    if(NOT TOL_WIXL)
        message(FATAL_ERROR "wixl not found: install wixl or set TOL_WIXL")
    endif()
endif()

# Python 3 (its standard library only): the checks of the documents, the browser test and the
# Ansible roll-out test.
if((TOL_BUILD_TESTS OR TOL_PACKAGE_TESTS) AND NOT TOL_FUZZ_ONLY)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
endif()
