#!/bin/sh
# check-man.sh PAGE: fails unless man formats the page without a single
# warning and lexgrog finds its NAME line, from which whatis and apropos
# take the page's one-line description.
set -eu
page=$1
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  printf '%s\n' "$warnings"
  echo "FAIL: $page: man --warnings complained" >&2
  exit 1
fi
lexgrog "$page"
