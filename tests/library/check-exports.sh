#!/bin/sh
# check-exports.sh LIBRARY SYMBOLS HEADER: the shared library exports exactly
# the functions of the symbols file, and those are exactly the functions the
# header declares with ENN_API, and the header declares no function without it.
set -eu
lib=$1
symbols=$2
header=$3
exported=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVW]$/ { print $3 }' | LC_ALL=C sort)
listed=$(sed -n 's/^ \([A-Za-z_0-9]*\)@Base .*/\1/p' "$symbols" | LC_ALL=C sort)
declared=$(sed -n 's/^ENN_API [^(]*[ *]\([A-Za-z_0-9]*\)(.*/\1/p' "$header" | LC_ALL=C sort)
status=0
bare=$(grep -E '^[A-Za-z_][A-Za-z_0-9 ]*[ *]Enn[A-Za-z_0-9]*\(' "$header" | grep -v '^ENN_API ' || true)
if [ -n "$bare" ]; then
  echo "$header declares functions without ENN_API, which the library would not export:"
  echo "$bare"
  status=1
fi
if [ "$exported" != "$listed" ]; then
  echo "$lib exports other symbols than $symbols lists:"
  printf '%s\n' "$exported" >exported.txt
  printf '%s\n' "$listed" | diff - exported.txt || true
  rm -f exported.txt
  status=1
fi
if [ "$declared" != "$listed" ]; then
  echo "$header declares other functions than $symbols lists:"
  printf '%s\n' "$declared" >declared.txt
  printf '%s\n' "$listed" | diff - declared.txt || true
  rm -f declared.txt
  status=1
fi
[ $status = 0 ] && echo "$(echo "$listed" | wc -l) functions exported, all in the header and the symbols file"
exit $status
