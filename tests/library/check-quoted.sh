#!/bin/sh
# check-quoted.sh SOURCE DOC LANG FILE...: for each DOC LANG FILE under
# SOURCE, the first ```LANG block of DOC must be FILE, line for line.
set -eu
cd "$1"
shift
status=0
while [ $# -ge 3 ]; do
  tr -d '\r' <"$1" | awk -v lang="$2" '$0 == "```" lang && !done { on = 1; next } on && /^```$/ { on = 0; done = 1 } on' |
    diff -u "$3" - || { echo "FAIL: the $2 example of $1 is not $3" >&2; status=1; }
  shift 3
done
exit $status
