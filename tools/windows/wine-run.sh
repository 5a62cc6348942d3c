#!/usr/bin/env bash
# Runs one Windows program under wine64: `wine-run.sh PROGRAM.exe ARGS...`.
# Wine's prefix is the folder wine/ beside the program's build folder root
# (WINEPREFIX, when set, wins), created on first use. Wine takes the Unix
# locale's character set for file names, hence a UTF-8 locale: zh_CN.UTF-8,
# or WINE_LANG when set.
set -euo pipefail
if [ -z "${WINEPREFIX:-}" ]; then
  dir=$(cd "$(dirname "$1")" && pwd)
  # The build folder is the nearest ancestor holding CMakeCache.txt.
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  [ "$dir" = / ] && dir=$(cd "$(dirname "$1")" && pwd)
  export WINEPREFIX=$dir/wine
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=${WINE_LANG:-zh_CN.UTF-8} LC_ALL=${WINE_LANG:-zh_CN.UTF-8}
exec /usr/lib/wine/wine64 "$@"
