#!/bin/sh
# consumers.sh ROOT PREFIX ENN WORK: builds the receiver's program of
# consumer/ twice against libenn-dev installed under ROOT (empty for the
# running system) with PREFIX: with `pkg-config --cflags --libs enn`, and as
# a CMake project with find_package(Enn). ENN, the enn under test, encrypts a
# file of several chunks; both builds must read its password and decrypt it
# to the same bytes. Works in WORK, which it empties first.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$1
prefix=$2
enn=$3
work=$4
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
cmake -S "$here/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$root$prefix" >"$work/cmake.log" 2>&1 &&
  cmake --build "$work/cmake" >>"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log"; fail "the CMake project does not build with find_package(Enn)"; }

# Three chunks, the last one short.
i=0
while [ $i -lt 1100 ]; do
  echo "$i,付款,1000.00"
  i=$((i + 1))
done >"$work/batch.txt"
printf '246810\n246810\n' | "$enn" encrypt --password-stdin "$work/batch.txt" >/dev/null ||
  fail "$enn encrypt failed"

for program in enn_read_pc cmake/enn_read; do
  out=$work/$(basename "$program")-$(echo "$program" | tr / _).txt
  password=$("$work/$program" "$work/batch.txt.enn" "$out") || fail "$program failed"
  [ "$password" = 246810 ] || fail "$program read the password as '$password'"
  cmp -s "$work/batch.txt" "$out" || fail "$program decrypted other bytes"
  echo "$program read the password and decrypted the container of $enn"
done
