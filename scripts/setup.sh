#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian packages. Idempotent: packages
# already present are left alone, and nothing is fetched when all are there.
set -euo pipefail

packages=(
    cmake make g++ pkg-config          # native build
    mingw-w64                          # Windows cross build (x86_64-w64-mingw32-*-posix)
    wine wine64 xvfb x11-utils         # running and testing the Windows programs
    socat                              # fake serial/parallel ports (ptys) for port tests
    googletest libgtest-dev            # GoogleTest sources, built natively and for Windows
    libcli11-dev                       # tolctl's argument parser (header-only)
    nlohmann-json3-dev                 # JSON for tolctl (header-only): the emulator's state, scan, ports, profiles
    libasio-dev                        # standalone Asio (header-only): the event loop of the emulator and scan
    python3 python3-jsonschema         # checks the profile examples against docs/profile.schema.json
    clang libclang-rt-14-dev           # the fuzz targets: clang with libFuzzer and its sanitizers
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

missing=()
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "setup: installing ${missing[*]}"
sudo=
if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
