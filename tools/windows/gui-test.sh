#!/usr/bin/env bash
# The Windows window's GUI suite: cross-builds veltrane.exe and the driver
# (configured as tools/windows/build.sh does), then runs tests/win32's driver
# under wine64 on a private Xvfb display against the real veltrane.exe, in a
# Wine virtual desktop so that Wine draws the frames, system menus and
# minimised windows itself. The container the driver writes
# is decrypted by the Linux enn (build/cli/enn, built into BUILD_DIR/linux-enn
# when missing) and compared with the file it came from. Ends on the line
# "N passed, N failed"; exit status 0 only when nothing failed.
#
# More runs look at the form as a whole (Chinese glyphs, pictures filling
# their rectangles): at 120, 144 and 192 dots per inch (125, 150 and 200 %),
# and in the C.UTF-8 locale with no font standing in for 宋体, as on a
# Windows without it.
#
#   tools/windows/gui-test.sh [--screenshot]
#
# --screenshot also renders the window after a successful run with a long
# path into docs/: screenshot-windows.png (100 %), screenshot-windows-150.png
# and screenshot-windows-no-songti.png. Installs what is missing; run as root.
set -euo pipefail
cd "$(dirname "$0")/../.."
# shellcheck source=tools/windows/harness.sh
. tools/windows/harness.sh
screenshot=false
[ "${1:-}" = --screenshot ] && screenshot=true

packages=(cmake make g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest
  wine64 fonts-wine xvfb fonts-arphic-uming)
$screenshot && packages+=(imagemagick)
bash tools/install-missing.sh "${packages[@]}"
bash tools/chinese-locale.sh

# The same configuration as tools/windows/build.sh; only the window and the
# driver are built here.
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVELTRANE_WERROR=ON >/dev/null
cmake --build "$build" --target veltrane veltrane_gui_driver -j2

# The Linux enn that decrypts what the Windows window wrote.
enn=$root/build/cli/enn
if [ ! -x "$enn" ]; then
  cmake -S . -B "$build/linux-enn" -DCMAKE_BUILD_TYPE=Release -DVELTRANE_GUI=OFF \
    -DVELTRANE_TESTS=OFF -DVELTRANE_BENCH=OFF >/dev/null
  cmake --build "$build/linux-enn" --target enn -j2 >/dev/null
  enn=$root/$build/linux-enn/cli/enn
fi

start=$(date +%s)
work_folder gui-test
export WINEPREFIX=$root/$build/wine-gui WINEDEBUG=-all
start_display

mkdir -p "$WINEPREFIX"
# Wine's servers outlive the programs they serve: they get no pipe of ours
# to hold open.
/usr/lib/wine/wineserver64 -p >/dev/null 2>&1
run() { timeout 300 tools/windows/wine-run.sh "$@"; }
if [ ! -f "$WINEPREFIX/.veltrane-gui" ]; then
  run wineboot --init >"$work/wineboot.log" 2>&1
  # One virtual desktop the size of the screen.
  run reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
  run reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null
  touch "$WINEPREFIX/.veltrane-gui"
fi
# 宋体 drawn with a Song face, and 96 dots per inch; the last runs below
# change both.
replacements='HKCU\Software\Wine\Fonts\Replacements'
songti() {
  for face in 宋体 SimSun; do
    run reg "$1" "$replacements" /v "$face" ${2:+/d "$2"} /f >/dev/null 2>&1 || true
  done
}
dpi() {
  run reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null
}
songti add 'AR PL UMing CN'
dpi 96

exe=$(windows_path "$root/$build/app/veltrane.exe")
workw=$(windows_path "$work")
driver=$build/tests/win32/veltrane_gui_driver.exe

run "$driver" "$exe" "$workw" >"$work/driver.log" 2>&1 || true
cat "$work/driver.log"
summary=$(grep -E '^driver: [0-9]+ passed, [0-9]+ failed' "$work/driver.log" | tail -1 || true)
if [ -n "$summary" ]; then
  passed=$(echo "$summary" | awk '{print $2}')
  failed=$(echo "$summary" | awk '{print $4}')
else
  echo "FAILED the driver did not finish"
  failed=$((failed + 1))
fi

# The container the window wrote, decrypted on Linux, is the file again.
plain=$work/付款清单.txt
decrypts_on_linux() {
  [ -f "$plain.enn" ] && "$enn" verify "$plain.enn" &&
    "$enn" decrypt "$plain.enn" -o "$work/decrypted" &&
    cmp -s "$plain" "$work/decrypted" && [ "$("$enn" password "$plain.enn")" = 135790 ]
}
check "the Linux enn decrypts the window's container to the same bytes" decrypts_on_linux

# The form as a whole, at 144 dots per inch and without 宋体 in C.UTF-8.
look() {
  local what=$1
  shift
  "$@" "$driver" "$exe" "$workw" "the form whole" >"$work/look.log" 2>&1 || true
  sed -n '/^\(ok\|FAILED\|  \)/p' "$work/look.log" | grep -v '^driver:' | sed "s/the form whole/the form whole $what/"
  if grep -q '^driver: 1 passed, 0 failed' "$work/look.log"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
}
# A Windows of another language: no font stands in for 宋体, C.UTF-8 locale.
c_locale() { WINE_LANG=C.UTF-8 run "$@"; }
picture() {  # picture NAME [RUNNER]
  "${2:-run}" "$driver" "$exe" "$workw" --leave-open >"$work/picture.log" 2>&1 || true
  rect=$(grep '^rect ' "$work/picture.log" || true)
  if [ -n "$rect" ]; then
    read -r _ x y w h <<<"$rect"
    sleep 1
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$root/docs/$1"
    echo "wrote docs/$1"
  fi
  /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  /usr/lib/wine/wineserver64 -p >/dev/null 2>&1
}
$screenshot && picture screenshot-windows.png
for d in 120 144 192; do
  dpi $d
  look "at $d dots per inch" run
  [ $d = 144 ] && $screenshot && picture screenshot-windows-150.png
done
dpi 96
songti delete
look "without 宋体 in C.UTF-8" c_locale
$screenshot && picture screenshot-windows-no-songti.png c_locale
songti add 'AR PL UMing CN'

echo "GUI suite under Wine: $(($(date +%s) - start)) s"
checks_summary
