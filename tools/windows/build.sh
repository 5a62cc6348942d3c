#!/usr/bin/env bash
# Cross-builds Veltrane for 64-bit Windows with Debian's mingw-w64 into
# build-windows/ (BUILD_DIR overrides): the libraries, enn.exe, veltrane.exe,
# the test suites (all linked statically) and libenn's DLL; then the
# deliveries (tools/windows/package.sh): the customer's installer
# veltrane-VERSION-win64.msi with IT's guide beside it, and the bank's kit
# enn-VERSION-win64.zip, signed when VELTRANE_SIGN_PFX and
# VELTRANE_SIGN_PASSWORD are set.
# Its arguments go to CMake, e.g. -DVELTRANE_SUPPORT_URL=... for the
# uninstall entry (cmake/windows_package.cmake). Installs what is missing;
# run as root.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${BUILD_DIR:-build-windows}

# wixl builds the installer, msitools sets its code page, osslsigncode signs.
bash tools/install-missing.sh cmake make g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest \
  zip wixl msitools osslsigncode

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVELTRANE_WERROR=ON "$@"
cmake --build "$build" -j"$(nproc)"
BUILD_DIR=$build bash tools/windows/package.sh
