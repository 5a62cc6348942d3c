#!/usr/bin/env bash
# The customer's installer under wine64, in a fresh Wine prefix on a private
# Xvfb display, as a customer and IT would use it. Read from the package's
# tables: the summary's language is Chinese and the package asks for no
# administrator rights; the uninstall entry's support contact and links.
# Per machine (`msiexec /i ... ALLUSERS=1 /qn`, as IT deploys it): the
# files in Program Files, the Start-menu shortcut, the uninstall entry and
# the Explorer verb are there, and enn.exe is not; the installed
# veltrane.exe opens its window when started as the verb starts it, and
# answers --version redirected to a file; a later version replaces it, an
# earlier one is refused; `msiexec /x ... /qn` removes it, leaving the
# prefix's files and registry as they were before. Per user (ALLUSERS
# empty, what Windows makes of the package's default; Wine has no user
# without administrator rights): the same in the user's own programs
# folder, with the verb and the icon of the uninstall entry in the user's
# registry. Needs tools/windows/build.sh's build (BUILD_DIR). Ends on
# "N passed, N failed"; exit status 0 only when nothing failed.
set -euo pipefail
cd "$(dirname "$0")/../.."
# shellcheck source=tools/windows/harness.sh
. tools/windows/harness.sh
msi=$(delivery "veltrane-$version-win64.msi")
bash tools/install-missing.sh wine64 xvfb msitools imagemagick fonts-arphic-uming
bash tools/chinese-locale.sh

work_folder msi-test
export WINEPREFIX=$root/$build/wine-msi WINEDEBUG=-all
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
start_display

# Wine's servers outlive the programs they serve: they get no pipe of ours.
/usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1
run() { timeout 300 tools/windows/wine-run.sh "$@" </dev/null; }
run wineboot --init >"$work/wineboot.log" 2>&1
# The dialogs' 宋体 drawn with a Song face.
for face in 宋体 SimSun; do
  run reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d 'AR PL UMing CN' /f >/dev/null 2>&1
done

uninstall_key='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall'
verb_key='HKEY_CLASSES_ROOT\*\shell\Veltrane'

# What the package's tables say.
suminfo=$(msiinfo suminfo "$msi")
check "the summary's language is Chinese (2052)" grep -qx 'Template: x64;2052' <<<"$suminfo"
# Word count bit 8: no elevation asked for.
check "the package asks for no administrator rights" \
  test $(($(sed -n 's/^Source: \([0-9]*\).*/\1/p' <<<"$suminfo") & 8)) = 8
property() { msiinfo export "$msi" Property | tr -d '\r' | awk -F '\t' -v p="$1" '$1 == p { print $2 }'; }
check "ALLUSERS=2 and MSIINSTALLPERUSER=1: per user unless asked otherwise" \
  test "$(property ALLUSERS)/$(property MSIINSTALLPERUSER)" = 2/1
check "the uninstall entry's links and contact are the build's" test \
  "$(property ARPURLINFOABOUT) $(property ARPHELPLINK) $(property ARPCONTACT)" = "$homepage $support_url $support_contact"

snapshot >"$work/before.txt"

# Installing for every user, as IT does.
check "msiexec /i ALLUSERS=1 /qn installs $(basename "$msi")" \
  run msiexec /i "$(windows_path "$msi")" ALLUSERS=1 /qn
dir=$WINEPREFIX/drive_c/Program\ Files/Veltrane
check "veltrane.exe, LICENSE.txt and 使用说明.txt are in Program Files\\Veltrane" \
  test -f "$dir/veltrane.exe" -a -f "$dir/LICENSE.txt" -a -f "$dir/使用说明.txt"
check "the installed veltrane.exe is the one built" \
  cmp "$dir/veltrane.exe" <(msiextract -C "$work/extracted" "$msi" >/dev/null &&
    find "$work/extracted" -name veltrane.exe -exec cat {} \;)
check "no enn.exe is installed anywhere" \
  test -z "$(find "$WINEPREFIX/drive_c" -iname 'enn.exe' -o -iname 'enn-*.dll')"
guide_ok() {
  local guide=$dir/使用说明.txt
  [ "$(head -c 3 "$guide" | od -An -tx1 | tr -d ' ')" = efbbbf ] &&
    iconv -f UTF-8 -t UTF-8 "$guide" >/dev/null &&
    [ "$(grep -c $'\r$' "$guide")" = "$(wc -l <"$guide")" ] &&
    grep -q '四、加密文件能保护什么，不能保护什么' "$guide"
}
check "the guide is UTF-8 with a byte order mark and CRLF line ends" guide_ok
check "the licence has CRLF line ends" test "$(grep -c $'\r$' "$dir/LICENSE.txt")" = "$(wc -l <"$dir/LICENSE.txt")"

# Windows puts a machine-wide installation's shortcut in the common Start
# menu; Wine 8 puts it in the installing user's.
shortcut=$(find "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs" \
  "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs \
  -name Veltrane.lnk 2>/dev/null | head -1)
check "the Start menu has Veltrane.lnk, pointing at the installed veltrane.exe" \
  grep -aq 'Program Files\\Veltrane\\veltrane.exe' "${shortcut:-/nonexistent}"

code=$(product_code "$msi")
reg_export "$uninstall_key\\$code" >"$work/entry.reg"
entry_has() { grep -qxF "$1" "$work/entry.reg"; }
check "the uninstall entry names Veltrane" entry_has '"DisplayName"="Veltrane"'
check "the uninstall entry names the publisher" entry_has "\"Publisher\"=\"$publisher\""
check "the uninstall entry names the version" entry_has "\"DisplayVersion\"=\"$version\""
check "the uninstall entry shows veltrane.exe's icon" \
  entry_has '"DisplayIcon"="C:\\Program Files\\Veltrane\\veltrane.exe,0"'
check "the uninstall entry has the support link" entry_has "\"HelpLink\"=\"$support_url\""
check "the uninstall entry has the support contact" entry_has "\"Contact\"=\"$support_contact\""
# size_in FOLDER: what the files in FOLDER take, in KiB, as regedit writes a
# dword.
size_in() { printf 'dword:%08x' $((($(cat "$1"/* | wc -c) + 1023) / 1024)); }
check "the uninstall entry's size is what the installed files take, in KiB" \
  entry_has "\"EstimatedSize\"=$(size_in "$dir")"

reg_export "$verb_key" >"$work/verb.reg"
verb_has() { grep -qxF "$1" "$work/verb.reg"; }
check "every file has the verb $verb" verb_has "@=\"$verb\""
check "the verb runs veltrane.exe \"%1\"" \
  verb_has '@="\"C:\\Program Files\\Veltrane\\veltrane.exe\" \"%1\""'

# The installed program, started as the verb starts it, on a file.
installed='C:\Program Files\Veltrane\veltrane.exe'
printf '付款\r\n' >"$work/付款清单.txt"
x86_64-w64-mingw32-gcc-posix -std=c99 -O2 -o "$work/find-window.exe" tools/windows/find-window.c -lshell32
(run "$installed" "$(windows_path "$work/付款清单.txt")" >"$work/window.log" 2>&1
  echo $? >"$work/window.status") &
window=$!
check "the installed veltrane.exe opens its window" run "$work/find-window.exe" "Veltrane(2014"
wait "$window" || true
check "the window closes, and veltrane.exe ends with status 0" test "$(cat "$work/window.status")" = 0
run "$installed" --version >"$work/version.txt" 2>&1 || true
check "the installed veltrane.exe --version, redirected, says veltrane $version" \
  test "$(tr -d '\r' <"$work/version.txt")" = "veltrane $version"

# A later version, for the upgrades.
IFS=. read -r major minor patch <<<"$version"
later=$major.$minor.$((patch + 1))
PACKAGE_VERSION=$later OUT_DIR=$work/later BUILD_DIR=$build bash tools/windows/package.sh >/dev/null
later_msi=$work/later/veltrane-$later-win64.msi
later_code=$(product_code "$later_msi")

# upgrade_and_remove SCOPE FOLDER ALLUSERS=...: in one scope, a later
# version replaces the installed one (one entry, the later version's), an
# earlier one is refused, and removing the later one leaves files and
# registry as before the first installation.
upgrade_and_remove() {
  local scope=$1 folder=$2 allusers=$3
  check "$scope: msiexec /i /qn installs version $later over $version" \
    run msiexec /i "$(windows_path "$later_msi")" "$allusers" /qn
  check "$scope: the uninstall entry of $version is gone" test -z "$(reg_export "$uninstall_key\\$code")"
  check "$scope: the uninstall entry of $later is there" \
    grep -qxF "\"DisplayVersion\"=\"$later\"" <(reg_export "$uninstall_key\\$later_code")
  check "$scope: veltrane.exe is still installed" test -f "$folder/veltrane.exe"
  check "$scope: version $version is refused over $later" \
    sh -c "! timeout 300 tools/windows/wine-run.sh msiexec /i '$(windows_path "$msi")' $allusers /qn </dev/null"
  check "$scope: and $later stays" \
    grep -qxF "\"DisplayVersion\"=\"$later\"" <(reg_export "$uninstall_key\\$later_code")
  check "$scope: msiexec /x /qn removes it" run msiexec /x "$later_code" /qn
  snapshot >"$work/after.txt"
  check "$scope: nothing is left behind: files and registry are as before" \
    diff "$work/before.txt" "$work/after.txt"
}
upgrade_and_remove "per machine" "$dir" ALLUSERS=1

# For the user alone: ALLUSERS empty, as Windows sets it for this package
# unless asked otherwise (Wine takes ALLUSERS=2 as per machine). Wine writes
# the rest of the uninstall entry in the machine's registry all the same.
check "msiexec /i ALLUSERS= /qn installs $(basename "$msi") for the user" \
  run msiexec /i "$(windows_path "$msi")" ALLUSERS= /qn
user_dir=$(find "$WINEPREFIX/drive_c/users" -path '*/AppData/Local/Programs/Veltrane' -type d | head -1)
check "the files are in the user's programs folder" \
  test -f "$user_dir/veltrane.exe" -a -f "$user_dir/LICENSE.txt" -a -f "$user_dir/使用说明.txt"
check "nothing is in Program Files" test ! -e "$dir"
# The user's veltrane.exe as regedit writes it, every backslash doubled.
user_exe='AppData\\Local\\Programs\\Veltrane\\veltrane.exe'
verb_runs_user_exe() {
  reg_export 'HKEY_CURRENT_USER\Software\Classes\*\shell\Veltrane\command' |
    grep -F "$user_exe" | grep -qF '\"%1\"'
}
check "the verb is in the user's registry, running the user's veltrane.exe" verb_runs_user_exe
check "and not in the machine's" test -z "$(reg_export 'HKEY_LOCAL_MACHINE\Software\Classes\*\shell\Veltrane')"
reg_export "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$code" >"$work/user-entry.reg"
check "the uninstall entry's icon is in the user's registry" grep -qF "$user_exe,0" "$work/user-entry.reg"
check "and its size, what the user's files take" grep -qxF "\"EstimatedSize\"=$(size_in "$user_dir")" "$work/user-entry.reg"
user_shortcut=$(find "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs \
  -name Veltrane.lnk 2>/dev/null | head -1)
check "the user's Start menu has Veltrane.lnk, pointing at the user's veltrane.exe" \
  grep -aq 'AppData\\Local\\Programs\\Veltrane\\veltrane.exe' "${user_shortcut:-/nonexistent}"
upgrade_and_remove "per user" "$user_dir" ALLUSERS=

# A double-click: msiexec /i with its dialogs, each known by a text of its
# own, answered as a person would: a click on a button, Escape, a path typed
# in. Wine, always an administrator here, ticks the box for every user. The
# pictures stay in the work folder; --screenshot also puts the welcome into
# docs/.
find_window() { run "$work/find-window.exe" "$@" >/dev/null; }
dialog() { find_window --keep "$1" "$2"; }
press() { find_window --press "$1" "$2" "$3"; }
picture() { import -window root "$work/$1"; }
title='Veltrane 安装程序'
question='确实要退出 Veltrane 安装程序吗'
double_click() {
  (set +e; run msiexec /i "$(windows_path "$msi")" >/dev/null 2>&1; echo $? >"$work/ui.status") &
  ui=$!
}
# ended CODE: msiexec ended with CODE, of which Wine hands Linux the low byte.
ended() { test "$(cat "$work/ui.status")" = $(($1 % 256)); }
# answer BUTTON SEEN NEXT: on the dialog that shows SEEN, clicks BUTTON, and
# waits for the dialog that shows NEXT.
answer() { press "$1" "$title" "$2" && dialog "$title" "$3"; }

# Left at once, it asks first, and changes nothing when told to leave.
double_click
check "a double-click shows the welcome, with the licence, in Chinese" dialog "$title" '欢迎安装 Veltrane'
check "the welcome says in Chinese what the licence permits" dialog "$title" '它允许免费使用、复制、修改'
check "and shows the licence itself, in English" dialog "$title" 'Permission is hereby granted'
picture installer-welcome.png
escape() { find_window --escape "$title" "$1" && dialog "$title" "$2"; }
check "Escape on the welcome asks before leaving" escape '欢迎安装 Veltrane' "$question"
picture installer-question.png
stays() { escape "$question" '欢迎安装 Veltrane' && find_window --gone "$title" "$question"; }
check "Escape on the question goes back to the welcome" stays
check "its Next shows the destination folder" answer '下一步(&N)' '欢迎安装 Veltrane' '安装位置'
check "Cancel there asks too" answer '取消' '安装位置' "$question"
check "and Yes ends on the page of a cancelled installation" answer '是(&Y)' "$question" '安装已取消'
picture installer-cancelled.png
press '完成(&F)' "$title" '安装已取消'
wait "$ui" || true
check "msiexec ends with 1602, cancelled by the user" ended 1602
snapshot >"$work/after.txt"
check "nothing is installed: files and registry are as before" diff "$work/before.txt" "$work/after.txt"

# Installed into a folder chosen with 浏览, by the path typed into its
# chooser; a path typed there and cancelled changes nothing.
double_click
check "a double-click and Next show the destination folder" answer '下一步(&N)' '欢迎安装 Veltrane' '安装位置'
picture installer-folder.png
chosen='C:\Veltrane 测试\'
browse() { answer '浏览' '安装位置' '选择安装位置' && find_window --type "$chosen" "$title" '选择安装位置'; }
check "浏览 opens a folder chooser, which takes a path typed in" browse
picture installer-chooser.png
back_to() { press "$1" "$title" '选择安装位置' && find_window --gone "$title" '选择安装位置' && dialog "$title" "$2"; }
check "Cancel in the chooser keeps the folder as it was" back_to '取消' 'C:\Program Files\Veltrane\'
choose() { browse && back_to '确定' "$chosen"; }
check "OK in it puts the path typed in as the folder" choose
check "Install ends on the last page, which names the Start menu" answer '安装(&I)' "$chosen" '“开始”菜单'
check "and the command on a file's menu" dialog "$title" "选择“$verb”"
picture installer-end.png
finish() { press '完成(&F)' "$title" '现在启动 Veltrane' && run "$work/find-window.exe" 'Veltrane(2014'; }
check "its Finish starts the installed Veltrane" finish
wait "$ui" || true
check "and msiexec ends with status 0" ended 0
chosen_dir=$WINEPREFIX/drive_c/Veltrane\ 测试
check "veltrane.exe is installed in the folder chosen, and not in Program Files" \
  test -f "$chosen_dir/veltrane.exe" -a ! -e "$dir"
check "the verb runs it" grep -qF 'C:\\Veltrane 测试\\veltrane.exe' <(reg_export "$verb_key")
if [ "${1:-}" = --screenshot ]; then convert "$work/installer-welcome.png" -trim +repage "$root/docs/installer-windows.png"; fi

# The later version over it, then the earlier one with a double-click: a
# message box says why it is refused, and the last page that the
# installation did not finish.
check "msiexec /i /qn installs version $later over it" run msiexec /i "$(windows_path "$later_msi")" /qn
double_click
check "version $version, double-clicked, says that a later one is installed" \
  dialog '' '已安装更新版本的 Veltrane'
picture installer-downgrade.png
refused() { press '确定' '' '已安装更新版本的 Veltrane' && dialog "$title" '安装未能完成'; }
check "its OK ends on the page of an installation that did not finish" refused
picture installer-failed.png
press '完成(&F)' "$title" '安装未能完成'
wait "$ui" || true
check "and msiexec ends with 1603, failed" ended 1603
check "and $later stays" grep -qxF "\"DisplayVersion\"=\"$later\"" <(reg_export "$uninstall_key\\$later_code")
check "msiexec /x /qn removes version $later" run msiexec /x "$later_code" /qn
snapshot >"$work/after.txt"
check "nothing is left behind: files and registry are as before" \
  diff "$work/before.txt" "$work/after.txt"

checks_summary
