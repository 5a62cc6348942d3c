#!/usr/bin/env bash
# Cross-builds for Windows (tools/windows/build.sh) and runs, under wine64,
# headless, with Wine's prefix inside the build folder: the interop check of
# enn.exe against the Linux enn (tools/windows/interop.sh), then the Windows
# test suites.
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
# One wineserver for the whole run instead of one per test program. The first
# start creates the prefix and Wine's service processes, which outlive the
# program that started them: they must not hold CTest's output pipes open,
# hence the redirections.
# A wineserver already running for this prefix is left as it is.
started=0
if /usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1; then started=1; fi
trap 'if [ $started = 1 ]; then /usr/lib/wine/wineserver64 -k </dev/null >/dev/null 2>&1; fi' EXIT
tools/windows/wine-run.sh wineboot --init </dev/null >"$build/wineboot.log" 2>&1
# enn.exe against the Linux enn: the same containers, each reads the other's.
bash tools/windows/interop.sh
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
