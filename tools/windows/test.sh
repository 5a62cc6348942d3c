#!/usr/bin/env bash
# Cross-builds for Windows (tools/windows/build.sh) and runs, under wine64,
# with Wine's prefix inside the build folder: the interop check of enn.exe
# against the Linux enn (tools/windows/interop.sh), the Windows test suites,
# the bank's kit (tools/windows/test-kit.sh), signing with a throwaway
# certificate (tools/windows/test-signing.sh), the customer's installer in
# a fresh prefix on Xvfb (tools/windows/test-msi.sh) and every command of
# IT's guide (tools/windows/test-deployment.sh).
# Installs what is missing (wine64, a zh_CN.UTF-8 locale for Chinese file
# names); run as root. Fails when any of them fails.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${BUILD_DIR:-build-windows}

bash tools/windows/build.sh

bash tools/install-missing.sh wine64
bash tools/chinese-locale.sh

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
# Under load Wine now and then fails to start a program at all: it prints
# nothing, not even GoogleTest's first line. Such a test, and only such a
# one, is run once more, and said so; any other failure fails the run, so
# that a race of our own cannot pass on a second try.
report=$PWD/$build/ctest-report.xml
if ! ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --output-junit "$report"; then
  unstarted=$(python3 tools/windows/unstarted.py "$report")
  [ -n "$unstarted" ] || { echo "ctest failed, and no test failed that Wine did not start" >&2; exit 1; }
  pattern=
  for name in $unstarted; do
    echo "Wine did not start $name: running it once more"
    pattern+="${pattern:+|}$(printf '%s' "$name" | sed 's/[][.*+?()^$|\\]/\\&/g')"
  done
  ctest --test-dir "$build" --output-on-failure -R "^($pattern)\$"
fi
# The deliveries.
bash tools/windows/test-kit.sh
bash tools/windows/test-signing.sh
bash tools/windows/test-msi.sh
bash tools/windows/test-deployment.sh
