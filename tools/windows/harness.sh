# What the tests of the Windows deliveries share, sourced by them from the
# repository's root:
#   root, build          the repository and the Windows build folder (BUILD_DIR)
#   delivery NAME        the path of the delivery NAME that tools/windows/build.sh
#                        made, failing when it is missing; $version is the
#                        build's version
#   work_folder NAME     sets work to an empty folder NAME in the build folder
#   start_display        a private Xvfb display in DISPLAY, which ends with the
#                        script, and Wine's server with it
#   windows_path PATH    a Unix path as Wine's drive Z: sees it
#   check WHAT COMMAND...
#                        runs COMMAND, says "ok" or "FAILED" with WHAT and keeps
#                        its output in $work/checks.log
#   checks_summary       ends on "N passed, N failed" and fails when anything did
#   reg_export KEY, snapshot, product_code MSI
#                        a registry key, what an installation may leave behind,
#                        and an installer's product code, in WINEPREFIX
root=$PWD
build=${BUILD_DIR:-build-windows}

delivery() {
  local path=$root/$build/$1
  if [ ! -f "$path" ]; then
    echo "$(basename "$0"): $path is missing; run tools/windows/build.sh" >&2
    exit 1
  fi
  echo "$path"
}
version=
if [ -f "$build/windows/delivery.env" ]; then
  # shellcheck disable=SC1091
  . "$build/windows/delivery.env"
fi

work_folder() {
  work=$root/$build/$1
  rm -rf "$work"
  mkdir -p "$work"
}

start_display() {
  # Xvfb picks a free display number and tells it on fd 3.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
  xvfb=$!
  trap '/usr/lib/wine/wineserver64 -k </dev/null >/dev/null 2>&1 || true; kill "$xvfb" 2>/dev/null || true' EXIT
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=:$(cat "$work/display")
}

windows_path() { echo "Z:${1//\//\\}"; }

passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@" >>"$work/checks.log" 2>&1; then
    echo "ok     $what"
    passed=$((passed + 1))
  else
    echo "FAILED $what"
    failed=$((failed + 1))
  fi
}
checks_summary() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

# reg_export KEY: the key and everything below it, as regedit writes them,
# in UTF-8 with Unix line ends; nothing when the key does not exist.
reg_export() {
  local file=$work/export.reg
  rm -f "$file"
  timeout 300 "$root/tools/windows/wine-run.sh" regedit /E "$(windows_path "$file")" "$1" </dev/null >/dev/null 2>&1 || true
  if [ -f "$file" ]; then iconv -f UTF-16 -t UTF-8 "$file" | tr -d '\r'; fi
}
# What an installation may leave behind: every file and folder of drive C:
# but Windows' own, the files Windows Installer keeps, and every value in the
# machine's and the user's registry, each line led by its key. (Windows
# Installer leaves its own empty keys and folder behind after the first
# installation, and the user's programs folder, which is Windows' own; Wine
# lists the network cards when a program first asks for them.)
snapshot() {
  (cd "$WINEPREFIX/drive_c" && find . -path ./windows -prune -o -print |
    grep -vx '\./users/[^/]*/AppData/Local/Programs' | sort)
  (cd "$WINEPREFIX/drive_c/windows" && find Installer -type f 2>/dev/null | sort) || true
  for key in HKEY_LOCAL_MACHINE\\Software HKEY_CURRENT_USER\\Software; do
    reg_export "$key" | awk '/^\[/ { key = $0; next } NF && key !~ /\\NetworkCards\\/ { print key " " $0 }'
  done
}
product_code() { msiinfo export "$1" Property | tr -d '\r' | awk '$1 == "ProductCode" { print $2 }'; }
