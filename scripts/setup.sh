#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian packages. Idempotent: packages
# already present are left alone, and nothing is fetched when all are there.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config   # build tools (clang below compiles with g++'s libraries)
    mingw-w64                          # Windows cross build (x86_64-w64-mingw32-*-posix)
    wine wine64 xvfb x11-utils         # running and testing the Windows programs
    socat                              # fake serial/parallel ports (ptys) for port tests
    googletest libgtest-dev            # GoogleTest: built natively; its sources for Windows
    libgmock-dev                       # GoogleMock, built natively
    libcli11-dev                       # tolctl's argument parser (header-only)
    nlohmann-json3-dev                 # JSON for tolctl (header-only): the emulator's state, scan, ports, profiles
    libasio-dev                        # standalone Asio (header-only): the event loop of the emulator and scan
    libcpp-httplib-dev                 # cpp-httplib: the HTTP of monitor and the console (see below)
    libsqlite3-dev tcl                 # SQLite, the fleet record; tclsh makes its single source file for Windows (below)
    python3 python3-jsonschema         # checks the profile examples against docs/profile.schema.json
    clang libclang-rt-14-dev           # the host builds: clang with its sanitizers and libFuzzer
    imagemagick xdotool                # screenshots and window checks of the dialogs
    procps util-linux                  # pgrep, flock, setsid used by the scripts
    python3                            # the checks of the documents and the browser test
    help2man man-db                    # tolctl's man page, written from its help; reading it
    wixl                               # the Windows installer (.msi)
    dpkg-dev unzip                     # the .deb's dependencies (dpkg-shlibdeps); unpacking the zip
    x11vnc websockify novnc            # run.sh without a display: the dialog in a browser
    chromium chromium-driver           # the browser test of that (headless, over WebDriver)
    ansible-core                       # the roll-out to many shops (deploy/ansible) and its test
    nmap hyperfine                     # the benchmarks under bench/ measure against them
)

sudo=
if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
fi

missing=()
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
fi

# Source packages are fetched through a private list of Debian's source archives, so that the
# machine's own apt sources need no deb-src line: get_source PACKAGE VERSION FOLDER unpacks Debian's
# source package PACKAGE=VERSION, with Debian's patches applied, into FOLDER (under $work).
work=
get_source() {
    local package=$1 version=$2 folder=$3 suite words
    if [ -z "$work" ]; then
        work=$(mktemp -d)
        trap 'rm -rf "$work"' EXIT
        mkdir -p "$work/parts" "$work/lists/partial" "$work/cache/archives/partial"
        apt=(apt-get -qq -o APT::Sandbox::User=root -o Dir::Etc::SourceList=/dev/null
             -o "Dir::Etc::SourceParts=$work/parts" -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache")
        for suite in "debian bookworm bookworm-updates" "debian-security bookworm-security"; do
            read -r -a words <<<"$suite"
            printf 'Types: deb-src\nURIs: http://deb.debian.org/%s\nSuites: %s\nComponents: main\n' "${words[0]}" "${words[*]:1}"
            printf 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\n'
        done >"$work/parts/sources.sources"
        "${apt[@]}" update >/dev/null
    fi
    mkdir -p "$work/$folder"
    (cd "$work/$folder" && "${apt[@]}" source --download-only "$package=$version" >/dev/null)
    # apt checks the files against the signed index; dpkg-source need not check them again.
    (cd "$work/$folder" && dpkg-source -q --no-check -x ./*.dsc src >/dev/null)
}

# Debian's libcpp-httplib-dev splits cpp-httplib into a header of declarations and a shared
# library (built with OpenSSL, zlib and brotli), which the Windows build cannot link. Both builds
# use the library's own single header instead, taken from Debian's source package of the very
# version installed, with Debian's patches applied: unpacked once into $httplib_dir.
httplib_version=$(dpkg-query -W -f '${Version}' libcpp-httplib-dev)
httplib_dir=/usr/local/src/cpp-httplib-$httplib_version
if [ ! -f "$httplib_dir/httplib.h" ]; then
    echo "setup: fetching the source of cpp-httplib $httplib_version"
    get_source cpp-httplib "$httplib_version" httplib
    $sudo mkdir -p "$httplib_dir"
    $sudo install -m 0644 "$work/httplib/src/httplib.h" "$work/httplib/src/LICENSE" "$httplib_dir/"
fi

# SQLite for the Windows build, which has no MinGW package of it: the library's single source
# file (the amalgamation, sqlite3.c and sqlite3.h) made from Debian's source package of the very
# version of libsqlite3-dev installed, with Debian's patches applied (its own build makes the file
# with tclsh), kept in $sqlite_dir with the notice of its authors. The native build links the
# system's libsqlite3.
sqlite_version=$(dpkg-query -W -f '${Version}' libsqlite3-dev)
sqlite_dir=/usr/local/src/sqlite3-$sqlite_version
if [ ! -f "$sqlite_dir/sqlite3.c" ]; then
    echo "setup: fetching the source of sqlite3 $sqlite_version and making its sqlite3.c"
    get_source sqlite3 "$sqlite_version" sqlite
    (cd "$work/sqlite/src" && ./configure >/dev/null && make sqlite3.c >/dev/null)
    $sudo mkdir -p "$sqlite_dir"
    $sudo install -m 0644 "$work/sqlite/src/sqlite3.c" "$work/sqlite/src/sqlite3.h" "$sqlite_dir/"
    $sudo install -m 0644 "$work/sqlite/src/debian/copyright" "$sqlite_dir/copyright"
fi
