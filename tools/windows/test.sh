#!/usr/bin/env bash
# Cross-builds for Windows (tools/windows/build.sh) and runs the Windows test
# suites under wine64, headless, with Wine's prefix inside the build folder.
# Installs what is missing (wine64, a zh_CN.UTF-8 locale for Chinese file
# names); run as root. Ends on CTest's summary.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${BUILD_DIR:-build-windows}

bash tools/windows/build.sh

packages=(wine64 locales)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if ! locale -a | grep -qix 'zh_CN.utf8'; then
  localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi

export WINEPREFIX=$PWD/$build/wine WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
# One wineserver for the whole run instead of one per test program; the
# first start creates the prefix.
/usr/lib/wine/wineserver64 -p
trap '/usr/lib/wine/wineserver64 -k || true' EXIT
tools/windows/wine-run.sh wineboot --init
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
