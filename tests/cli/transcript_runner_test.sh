#!/usr/bin/env bash
# The transcript runner fails a case on each kind of false line: a case made
# of a true command and one false line must fail, and with a true line pass.
set -u
runner=$1
shift
case=$(mktemp)
trap 'rm -f "$case"' EXIT
verdict() {
    printf '$ enn verify batch.txt.enn\n%s\n' "$1" >"$case"
    shift
    bash "$runner" "$@" "$case" >/dev/null 2>&1
}
bad=0
while IFS='|' read -r false true; do
    verdict "$false" "$@" && { echo "passed a false line: $false"; bad=1; }
    verdict "$true" "$@" || { echo "failed a true line: $true"; bad=1; }
done <<'LINES'
status 3|status 0
stdout damaged|stdout intact
! stdout intact|! stdout damaged
stderr intact|! stderr intact
exists nothing-here|exists batch.txt
! exists batch.txt|! exists nothing-here
cmp batch.txt batch.txt.enn|cmp batch.txt batch.txt
! cmp batch.txt batch.txt|! cmp batch.txt batch.txt.enn
false|true
as nobody true|as alice true
LINES
exit $bad
