#!/usr/bin/env bash
# Builds the packages of this version into out/ (scripts/setup.sh first installs what it needs):
#   out/tolvane-VERSION-windows-x64.zip   the three Windows programs, README.txt, LICENSE.txt
#   out/tolvane-VERSION-windows-x64.msi   the same as a Windows installer
#   out/tolctl_VERSION_ARCH.deb           tolctl for Debian, with its man page and bash completion
# from the release builds: the windows preset (MinGW, Release) and the release preset (native,
# optimized, without sanitizers). VERSION is project(VERSION) in CMakeLists.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh windows release >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
arch=$(dpkg --print-architecture)
mkdir -p out
for preset in windows release; do
    dir=$PWD/build/$preset/packages
    rm -rf "$dir"
    if ! cpack --config "build/$preset/CPackConfig.cmake" -B "$dir" >"build/$preset/cpack.log" 2>&1; then
        cat "build/$preset/cpack.log" >&2
        exit 1
    fi
done
cp "build/windows/packages/tolvane-$version-windows-x64.zip" "build/windows/packages/tolvane-$version-windows-x64.msi" \
    "build/release/packages/tolctl_${version}_$arch.deb" out/
ls -l out/tolvane-"$version"-windows-x64.* out/tolctl_"$version"_"$arch".deb
