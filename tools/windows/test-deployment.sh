#!/usr/bin/env bash
# IT's guide (tools/windows/deployment.md), as package.sh ships it beside the
# installer, tried under wine64 in a fresh prefix: it is UTF-8 with a byte
# order mark and CRLF line ends; every command of its `bat` blocks runs as
# printed, from a batch file that cmd.exe runs in the installer's folder,
# each block from a clean system, and must succeed; an `msiexec /i` must put
# veltrane.exe where the guide says and nowhere else (INSTALLDIR, Program
# Files for ALLUSERS=1, the user's programs folder for ALLUSERS=""), an
# `msiexec /x` must leave nothing of it, and a log asked for with /l*v must
# be written. After the last block files and registry are as before the
# first. Needs tools/windows/build.sh's build (BUILD_DIR). Ends on "N
# passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/../.."
# shellcheck source=tools/windows/harness.sh
. tools/windows/harness.sh
msi=$(delivery "veltrane-$version-win64.msi")
guide=$(delivery "veltrane-$version-win64-deployment.txt")
bash tools/install-missing.sh wine64 msitools
bash tools/chinese-locale.sh

work_folder deployment-test
export WINEPREFIX=$root/$build/wine-deployment WINEDEBUG=-all
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1
trap '/usr/lib/wine/wineserver64 -k </dev/null >/dev/null 2>&1 || true' EXIT
run() { timeout 300 "$root/tools/windows/wine-run.sh" "$@" </dev/null; }
run wineboot --init >"$work/wineboot.log" 2>&1
snapshot >"$work/before.txt"

# Notepad reads it as UTF-8 by the byte order mark, on every Windows.
encoding_ok() {
  [ "$(head -c 3 "$guide" | od -An -tx1 | tr -d ' ')" = efbbbf ] &&
    iconv -f UTF-8 -t UTF-8 "$guide" >/dev/null &&
    [ "$(grep -c $'\r$' "$guide")" = "$(wc -l <"$guide")" ]
}
check "the guide is UTF-8 with a byte order mark and CRLF line ends" encoding_ok

# C:\PATH as a path in the prefix.
unix_path() {
  local path=${1#[Cc]:}
  echo "$WINEPREFIX/drive_c${path//\\//}"
}
installed() { find "$WINEPREFIX/drive_c" -path "$WINEPREFIX/drive_c/windows" -prune -o -iname veltrane.exe -print; }

# What the command says it does, checked once it has run.
check_effect() {
  local command=$1 folder log
  case " $command " in
    *" /i "*)
      if [[ $command =~ INSTALLDIR=\"?([^\" ]*) ]]; then
        folder=$(unix_path "${BASH_REMATCH[1]}")
      elif [[ " $command " == *" ALLUSERS=1 "* ]]; then
        folder=$WINEPREFIX/drive_c/Program\ Files/Veltrane
      else
        folder=$(find "$WINEPREFIX/drive_c/users" -path '*/AppData/Local/Programs' -type d | head -1)/Veltrane
      fi
      check "  veltrane.exe is in $folder, and nowhere else" test "$(installed)" = "$folder/veltrane.exe"
      ;;
    *" /x "*) check "  nothing of Veltrane is installed" test -z "$(installed)" ;;
  esac
  if [[ $command =~ /l\*v\ ([^ ]+) ]]; then
    log=$(unix_path "${BASH_REMATCH[1]}")
    check "  the log $(basename "$log") is written" test -s "$log"
  fi
}

# The bat blocks, one line a command and an empty line after each block.
awk '/^```bat/ { inside = 1; next } /^```/ { if (inside) print ""; inside = 0; next }
  inside { print }' "$guide" | tr -d '\r' >"$work/commands.txt"
[ -s "$work/commands.txt" ] || { echo "test-deployment: no commands in $guide" >&2; exit 1; }
cd "$(dirname "$msi")"
while IFS= read -r command; do
  if [ -z "$command" ]; then
    # Each block from a clean system.
    if [ -n "$(installed)" ]; then run msiexec /x "$(basename "$msi")" /qn >/dev/null 2>&1 || true; fi
    continue
  fi
  # As IT runs it: the line as printed, in a batch file, which hands cmd.exe
  # its quotes untouched (a command line from here would be quoted again on
  # its way in) and waits for msiexec.
  printf '%s\r\n' "$command" >"$work/command.bat"
  check "$command" run cmd /c "$(windows_path "$work/command.bat")"
  check_effect "$command"
done <"$work/commands.txt"
cd "$root"
# What the guide's commands made of their own: the logs' folder. Nothing
# else may stay, an empty folder of an INSTALLDIR least of all.
rm -rf "$WINEPREFIX/drive_c/Logs"
snapshot >"$work/after.txt"
check "files and registry are as before" diff "$work/before.txt" "$work/after.txt"

checks_summary
