#!/usr/bin/env bash
# completion_test.sh COMPLETION ENN_DIR: the bash completion of enn offers
# the commands, each command's own options and, for a container, .enn files
# and folders only, as taken from the enn in ENN_DIR.
set -uo pipefail  # not -e: compgen fails when nothing matches
source "$1"
PATH=$(cd "$2" && pwd):$PATH
cd "$(mktemp -d)"
trap 'rm -rf "$PWD"' EXIT
touch a.enn b.txt 'with space.enn'
mkdir folder
failed=0
expect() {
  local want=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  _enn
  local got=''
  if ((${#COMPREPLY[@]} > 0)); then
    got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | tr '\n' '|')
  fi
  if [[ $got != "$want" ]]; then
    echo "FAIL: enn ${*:2}<TAB>: want '$want', got '$got'" >&2
    failed=1
  fi
}
expect '--help|--version|decrypt|encrypt|help|password|verify|' enn ''
expect 'decrypt|' enn de
expect '--directory|--force|--help|--in-place|--json|--output|--print-password|--quiet|-d|-f|-h|-o|-p|-q|' enn decrypt -
expect '--in-place|' enn encrypt --in
expect 'folder|' enn decrypt a.enn -d f
expect '--password-stdin|' enn encrypt --pass
expect '' enn verify --force
expect 'a.enn|folder|with space.enn|' enn verify ''
expect 'with space.enn|' enn password w
expect 'a.enn|b.txt|folder|with space.enn|' enn encrypt ''
expect 'b.txt|' enn decrypt a.enn -o b
expect 'password|' enn help p
exit $failed
