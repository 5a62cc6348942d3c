#!/usr/bin/env bash
# Checks that enn.exe under Wine and the Linux enn write byte-identical
# containers for the same file and password, and that each decrypts, verifies
# and reads the password of the other's. Builds what is missing: the Windows
# build (tools/windows/build.sh, BUILD_DIR) and a Linux enn in build-interop/.
# Ends on "N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=${BUILD_DIR:-build-windows}

bash tools/windows/build.sh >/dev/null
bash tools/setup-debian.sh
cmake -S . -B build-interop -DCMAKE_BUILD_TYPE=Release -DVELTRANE_WERROR=ON -DVELTRANE_GUI=OFF \
  -DVELTRANE_TESTS=OFF -DVELTRANE_BENCH=OFF >/dev/null
cmake --build build-interop -j"$(nproc)" --target enn >/dev/null
linux_enn=$root/build-interop/cli/enn
windows_enn=$root/$build/cli/enn.exe

export WINEPREFIX=$root/$build/wine WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
# A wineserver already running for this prefix is left as it is.
started=0
if /usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1; then started=1; fi
trap 'if [ $started = 1 ]; then /usr/lib/wine/wineserver64 -k </dev/null >/dev/null 2>&1; fi; rm -rf "$work"' EXIT
work=$(mktemp -d)

# wenn FOLDER ARGS...: runs enn.exe in FOLDER, its standard input the file
# $work/in, which is emptied afterwards. Wine's service processes must not
# hold a pipe open, so its output goes through files. Wine now and then fails
# to start a program at all (see test.sh): a run that failed having printed
# nothing of enn.exe's own is run once more, and said so on the run's own
# standard error; any other failure stands.
exec 3>&2
: >"$work/in"
wenn() {
  local status attempt
  for attempt in 1 2; do
    status=0
    (cd "$1" && shift && "$root/tools/windows/wine-run.sh" "$windows_enn" "$@") \
      <"$work/in" >"$work/out" 2>"$work/err" || status=$?
    if [ $status = 0 ] || [ -s "$work/out" ] || grep -q '^enn' "$work/err" || [ $attempt = 2 ]; then
      break
    fi
    echo "Wine did not start enn.exe ${*:2}: running it once more" >&3
    sed 's/^/  /' "$work/err" >&3
  done
  : >"$work/in"
  cat "$work/out"
  cat "$work/err" >&2
  return $status
}

passed=0
failed=0
check() {  # check WHAT COMMAND...
  local what=$1
  shift
  if "$@" >"$work/check" 2>&1; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $what" >&2
    sed 's/^/  /' "$work/check" >&2
  fi
}

password=493817
# Sizes around the chunk boundaries, and a Chinese name.
cases=(0:batch.txt 1:batch.txt 7:batch.txt 8:batch.txt 3999:batch.txt 4000:batch.txt
  4001:batch.txt 65536:batch.txt 1000003:batch.txt "5000:付款清单（十二月）.txt")
for case in "${cases[@]}"; do
  size=${case%%:*}
  name=${case#*:}
  mkdir -p "$work/linux" "$work/windows"
  head -c "$size" /dev/urandom >"$work/linux/$name"
  cp "$work/linux/$name" "$work/windows/$name"
  (cd "$work/linux" && printf '%s\n%s\n' $password $password |
    "$linux_enn" encrypt --password-stdin "$name" >/dev/null)
  printf '%s\n%s\n' $password $password >"$work/in"
  wenn "$work/windows" encrypt --password-stdin "$name" >/dev/null
  check "$name, $size bytes: identical containers" \
    cmp "$work/linux/$name.enn" "$work/windows/$name.enn"

  cp "$work/linux/$name.enn" "$work/windows/from-linux.enn"
  cp "$work/windows/$name.enn" "$work/linux/from-windows.enn"
  check "$name, $size bytes: enn.exe verifies the Linux container" \
    wenn "$work/windows" verify from-linux.enn
  wenn "$work/windows" decrypt from-linux.enn -o plain.txt >/dev/null || true
  check "$name, $size bytes: enn.exe decrypts the Linux container" \
    cmp "$work/windows/$name" "$work/windows/plain.txt"
  check "$name, $size bytes: enn.exe reads the Linux container's password" \
    test "$(wenn "$work/windows" password from-linux.enn)" = $password
  check "$name, $size bytes: enn verifies the Windows container" \
    "$linux_enn" verify "$work/linux/from-windows.enn"
  "$linux_enn" decrypt "$work/linux/from-windows.enn" -o "$work/linux/plain.txt" >/dev/null || true
  check "$name, $size bytes: enn decrypts the Windows container" \
    cmp "$work/linux/$name" "$work/linux/plain.txt"
  check "$name, $size bytes: enn reads the Windows container's password" \
    test "$("$linux_enn" password "$work/linux/from-windows.enn")" = $password
  rm -rf "$work/linux" "$work/windows"
done

echo "interop: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
