#!/bin/sh
# consumers.sh ROOT PREFIX ENN EXAMPLES WORK [java]: builds the receiver's
# program consumer/enn_read.c against libenn-dev installed under ROOT (empty
# for the running system) with PREFIX, with `pkg-config --cflags --libs
# enn`. ENN, the enn under test, encrypts a file of several chunks; the
# program must read its password and decrypt it to the same bytes. The
# intake examples of the folder EXAMPLES (docs/examples/ in the sources,
# /usr/share/doc/libenn-dev/examples as installed) then take in that
# container and refuse a damaged one: intake.c, built with pkg-config and as
# the folder's own CMake project with find_package(Enn), and with "java"
# Intake.java too, over JNA (/usr/share/java/jna.jar). Works in WORK, which
# it empties first.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$1
prefix=$2
enn=$3
examples=$4
work=$5
java=${6:-}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
rm -rf "$work"
mkdir -p "$work"

if [ -n "$root" ]; then
  pc=$(find "$root$prefix/lib" -name enn.pc | head -n 1)
  [ -n "$pc" ] || fail "no enn.pc under $root$prefix/lib"
  pcdir=$(dirname "$pc")
  export PKG_CONFIG_LIBDIR="$pcdir" PKG_CONFIG_SYSROOT_DIR="$root"
  LD_LIBRARY_PATH=$(dirname "$pcdir")
  export LD_LIBRARY_PATH
fi

echo "pkg-config: $(pkg-config --cflags --libs enn)"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Wpedantic -Werror -o "$work/enn_read_pc" "$here/consumer/enn_read.c" \
  $(pkg-config --cflags --libs enn) || fail "the C program does not build with pkg-config"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Wpedantic -Werror -o "$work/intake" "$examples/intake.c" \
  $(pkg-config --cflags --libs enn) || fail "intake.c does not build with pkg-config"
cmake -S "$examples" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$root$prefix" >"$work/cmake.log" 2>&1 &&
  cmake --build "$work/cmake" >>"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log"; fail "the examples' CMake project does not build with find_package(Enn)"; }

# Three chunks, the last one short.
i=0
while [ $i -lt 1100 ]; do
  echo "$i,付款,1000.00"
  i=$((i + 1))
done >"$work/batch.txt"
printf '246810\n246810\n' | "$enn" encrypt --password-stdin "$work/batch.txt" >/dev/null ||
  fail "$enn encrypt failed"

password=$("$work/enn_read_pc" "$work/batch.txt.enn" "$work/enn_read.txt") || fail "enn_read failed"
[ "$password" = 246810 ] || fail "enn_read read the password as '$password'"
cmp -s "$work/batch.txt" "$work/enn_read.txt" || fail "enn_read decrypted other bytes"
echo "enn_read read the password and decrypted the container of $enn"

# The intake examples: the container taken in, from its file and from
# memory, and again, found done; a damaged one and other data at the output
# refused, nothing written.
cp "$work/batch.txt.enn" "$work/damaged.enn"
# A byte changed, whatever it was: x, or y where an x already stands.
byte=$(od -An -c -j5000 -N1 "$work/damaged.enn" | tr -d ' ')
changed=x
[ "$byte" = x ] && changed=y
printf '%s' "$changed" | dd of="$work/damaged.enn" bs=1 seek=5000 conv=notrunc 2>/dev/null
cmp -s "$work/batch.txt.enn" "$work/damaged.enn" && fail "the damage did not take"
(cd "$work" && ./intake batch.txt.enn intake.txt) >"$work/intake.log" || fail "intake failed"
grep -qx 'password 246810, decrypted into intake.txt' "$work/intake.log" && cmp -s "$work/batch.txt" "$work/intake.txt" ||
  fail "intake did not take in the container"
"$work/intake" - "$work/memory.txt" <"$work/batch.txt.enn" >/dev/null && cmp -s "$work/batch.txt" "$work/memory.txt" ||
  fail "intake did not take in the container from memory"
"$work/cmake/intake" "$work/batch.txt.enn" "$work/cmake.txt" >/dev/null && cmp -s "$work/batch.txt" "$work/cmake.txt" ||
  fail "intake built by the examples' CMake project did not take in the container"
for input in damaged.enn -; do
  status=0
  (cd "$work" && ./intake "$input" refused.txt <damaged.enn 2>intake.err) || status=$?
  [ $status -eq 1 ] && [ ! -e "$work/refused.txt" ] && grep -q '(ENN_FAULT_DIGEST)$' "$work/intake.err" ||
    fail "intake $input took in a damaged container (status $status)"
done
(cd "$work" && ./intake batch.txt.enn intake.txt) >"$work/intake.log" &&
  grep -qx 'password 246810, already decrypted into intake.txt' "$work/intake.log" ||
  fail "intake did not find its earlier output done"
echo other >"$work/intake.txt"
for input in "$work/batch.txt.enn" -; do
  status=0
  "$work/intake" "$input" "$work/intake.txt" <"$work/batch.txt.enn" 2>"$work/intake.err" || status=$?
  [ $status -eq 3 ] && grep -q '(ENN_FAULT_EXISTS)$' "$work/intake.err" && [ "$(cat "$work/intake.txt")" = other ] ||
    fail "intake $input replaced a file"
done
echo "intake took in the container, found it done again and refused a damaged one"

if [ "$java" = java ]; then
  jna=/usr/share/java/jna.jar
  mkdir -p "$work/java" "$work/taken"
  javac -Werror -d "$work/java" -cp "$jna" "$examples/Intake.java" || fail "Intake.java does not build"
  status=0
  java -Djna.library.path="${LD_LIBRARY_PATH:-}" -cp "$jna:$work/java" Intake "$work/taken" "$work/batch.txt.enn" "$work/damaged.enn" \
    >"$work/java.log" || status=$?
  [ $status -eq 1 ] && grep -qx "$work/batch.txt.enn: password 246810, decrypted into $work/taken/batch.txt" "$work/java.log" &&
    grep -q "^refused: $work/damaged.enn: .*(ENN_FAULT_DIGEST)$" "$work/java.log" &&
    cmp -s "$work/batch.txt" "$work/taken/batch.txt" && [ ! -e "$work/taken/damaged" ] ||
    { cat "$work/java.log"; fail "Intake.java did not take in the container and refuse the damaged one"; }
  # Taken in again: done already; with other data there, kept, which no
  # sender can mend.
  java -Djna.library.path="${LD_LIBRARY_PATH:-}" -cp "$jna:$work/java" Intake "$work/taken" "$work/batch.txt.enn" \
    >"$work/java.log" && grep -qx "$work/batch.txt.enn: password 246810, already decrypted into $work/taken/batch.txt" "$work/java.log" ||
    { cat "$work/java.log"; fail "Intake.java did not find its earlier output done"; }
  echo other >"$work/taken/batch.txt"
  status=0
  java -Djna.library.path="${LD_LIBRARY_PATH:-}" -cp "$jna:$work/java" Intake "$work/taken" "$work/batch.txt.enn" \
    >"$work/java.log" || status=$?
  [ $status -eq 3 ] && grep -q "^failed: $work/taken/batch.txt: .*(ENN_FAULT_EXISTS)$" "$work/java.log" ||
    { cat "$work/java.log"; fail "Intake.java did not tell a failure from a refusal"; }
  echo "Intake.java took in the container, found it done again, refused a damaged one and told a failure apart"
fi
