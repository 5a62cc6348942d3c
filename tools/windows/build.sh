#!/usr/bin/env bash
# Cross-builds Veltrane for 64-bit Windows with Debian's mingw-w64 into
# build-windows/ (BUILD_DIR overrides): the libraries, enn.exe, the test
# suites, all linked statically, and the zip veltrane-VERSION-win64.zip.
# Installs what is missing; run as root.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${BUILD_DIR:-build-windows}

packages=(cmake make g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest zip)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVELTRANE_WERROR=ON
cmake --build "$build" -j"$(nproc)"
# The zip for Windows users: enn.exe and the README.
(cd "$build" && cpack -G ZIP >/dev/null)
