#!/usr/bin/env bash
# The bank's kit as an integrator meets it: unpacks enn-VERSION-win64.zip,
# checks what it holds and what the programs and the DLL carry (exports,
# imports, resources), builds the README's C example with mingw-w64 against
# the kit, once with its import library and once with one made from its
# .def as MSVC users do, and runs both under wine64 on a container made by
# the kit's enn.exe. Needs tools/windows/build.sh's build (BUILD_DIR); Wine's
# prefix is BUILD_DIR/wine. Ends on "N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/../.."
# shellcheck source=tools/windows/harness.sh
. tools/windows/harness.sh
zip=$(delivery "enn-$version-win64.zip")
bash tools/install-missing.sh wine64 icoutils unzip
export WINEPREFIX=${WINEPREFIX:-$root/$build/wine} WINEDEBUG=-all

work_folder kit-test
unzip -q "$zip" -d "$work"
kit=$work/enn-$version-win64

run() { (cd "$work" && timeout 300 "$root/tools/windows/wine-run.sh" "$@" </dev/null); }

(cd "$kit" && find . -type f | sort) >"$work/contents"
check "the kit holds enn.exe, the DLL, its import library and .def, enn.h, the licence and the README" \
  diff <(printf '%s\n' ./LICENSE.txt ./README.txt ./bin/enn-1.dll ./bin/enn.exe ./include/enn.h \
    ./include/enn_version.h \
    ./lib/enn.def ./lib/libenn.dll.a) "$work/contents"

objdump=x86_64-w64-mingw32-objdump
exports() { "$objdump" -p "$1" | awk '/\[Ordinal\/Name Pointer\] Table/ { on = 1; next } on && NF == 0 { on = 0 } on { print $NF }' | sort; }
declared() { sed -n 's/^ENN_API [^(]*[ *]\([A-Za-z0-9_]*\)(.*/\1/p' "$kit/include/enn.h" | sort; }
check "enn-1.dll exports exactly the functions enn.h declares" diff <(declared) <(exports "$kit/bin/enn-1.dll")
check "enn.def names the same functions" \
  diff <(declared) <(tr -d '\r' <"$kit/lib/enn.def" | awk 'on { print $1 } /^EXPORTS/ { on = 1 }' | sort)
system_dlls_only() {
  ! "$objdump" -p "$1" | awk '/DLL Name:/ { print tolower($3) }' |
    grep -v -x -e kernel32.dll -e msvcrt.dll -e shell32.dll -e advapi32.dll -e bcrypt.dll -e user32.dll
}
check "enn.exe needs no DLL beyond Windows' own" system_dlls_only "$kit/bin/enn.exe"
check "enn-1.dll needs no DLL beyond Windows' own" system_dlls_only "$kit/bin/enn-1.dll"

# What Explorer shows of the programs: icon, version, manifest.
resource() { wrestool --raw -x -t "$1" "$2"; }
version_has() { resource 16 "$1" | iconv -f UTF-16LE -t UTF-8 -c | tr '\0' '\n' | grep -qxF "$2"; }
check "enn.exe has an icon" test -n "$(wrestool -l -t 14 "$kit/bin/enn.exe")"
check "enn.exe's version resource carries the version" version_has "$kit/bin/enn.exe" "$version"
for program in "$kit/bin/enn.exe" "$kit/bin/enn-1.dll" "$veltrane_exe"; do
  check "$(basename "$program")'s version resource carries the copyright" \
    version_has "$program" "$(grep -m1 '^Copyright ' LICENSE)"
done
manifest_has() { resource 24 "$1" | grep -qF "$2"; }
check "enn.exe's manifest asks for no elevation" manifest_has "$kit/bin/enn.exe" 'level="asInvoker"'
check "enn.exe's manifest sets UTF-8 as the code page" manifest_has "$kit/bin/enn.exe" '>UTF-8</activeCodePage>'
for program in "$kit/bin/enn.exe" "$veltrane_exe"; do
  check "$(basename "$program")'s manifest carries the version and the supported Windows versions" \
    sh -c "wrestool --raw -x -t 24 '$program' | grep -qF 'version=\"$version.0\"' &&
      test \$(wrestool --raw -x -t 24 '$program' | grep -c '<supportedOS ') = 4"
done

# The README's example, built the two ways.
tr -d '\r' <"$kit/README.txt" | awk '/^```c$/ { on = 1; next } /^```$/ { on = 0 } on' >"$work/read.c"
cc=x86_64-w64-mingw32-gcc-posix
flags=(-std=c99 -Wall -Wextra -Werror -pedantic -I"$kit/include")
check "the README's example builds against the kit's import library" \
  "$cc" "${flags[@]}" "$work/read.c" -L"$kit/lib" -lenn -o "$work/read.exe"
check "an import library made from enn.def links it too" sh -c \
  "x86_64-w64-mingw32-dlltool -d '$kit/lib/enn.def' -l '$work/enn-from-def.a' &&
   $cc ${flags[*]} '$work/read.c' '$work/enn-from-def.a' -o '$work/read-def.exe'"
cp "$kit/bin/enn-1.dll" "$work/"

# A container by the kit's enn.exe, read by the example.
head -c 10007 /dev/urandom >"$work/batch.txt"
printf '135790\n135790\n' >"$work/password"
(cd "$work" && timeout 300 "$root/tools/windows/wine-run.sh" "$kit/bin/enn.exe" encrypt --password-stdin batch.txt \
  <"$work/password" >/dev/null 2>&1) || true
for program in read.exe read-def.exe; do
  rm -f "$work/out.txt"
  run "$work/$program" batch.txt.enn out.txt >"$work/$program.log" 2>&1 || true
  check "$program reads the password of enn.exe's container and decrypts it" \
    sh -c "tr -d '\r' <'$work/$program.log' | grep -qx 'password 135790, decrypted into out.txt' &&
      cmp '$work/batch.txt' '$work/out.txt'"
done
# The same container on standard input, decoded in memory: the bytes as
# they come, no text mode.
rm -f "$work/out.txt"
(cd "$work" && timeout 300 "$root/tools/windows/wine-run.sh" "$work/read.exe" - out.txt \
  <"$work/batch.txt.enn" >"$work/memory.log" 2>&1) || true
check "read.exe takes the container in from standard input, in memory" \
  sh -c "tr -d '\r' <'$work/memory.log' | grep -qx 'password 135790, decrypted into out.txt' &&
    cmp '$work/batch.txt' '$work/out.txt'"
# A damaged container: refused, and nothing written.
cp "$work/batch.txt.enn" "$work/damaged.enn"
# A byte changed, whatever it was: x, or y where an x already stands.
byte=$(od -An -c -j5000 -N1 "$work/damaged.enn" | tr -d ' ')
changed=x
[ "$byte" = x ] && changed=y
printf '%s' "$changed" | dd of="$work/damaged.enn" bs=1 seek=5000 conv=notrunc 2>/dev/null
cmp -s "$work/batch.txt.enn" "$work/damaged.enn" && echo "test-kit: the damage did not take" >&2
rm -f "$work/out.txt"
status=0
run "$work/read.exe" damaged.enn out.txt >"$work/damaged.log" 2>&1 || status=$?
check "read.exe refuses a damaged container and writes nothing" test "$status" = 1 -a ! -e "$work/out.txt"

checks_summary
