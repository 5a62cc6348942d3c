#!/usr/bin/env bash
# run_transcripts.sh ENN_DIR DATA_DIR CASE...
#
# Runs enn transcripts: each CASE file is one case, run by bash in a fresh
# folder that holds batch.txt and batch.txt.enn from DATA_DIR, with the enn
# of ENN_DIR first on PATH and an English UTF-8 locale. Its lines:
#
#   # ...                 a comment; blank lines are skipped too
#   $ COMMAND             a checked command: its status, stdout and stderr are
#                         kept for the lines that follow
#   status N              the last checked command ended with status N
#   stdout TEXT           its stdout holds TEXT (a fixed string)
#   stderr TEXT           its stderr holds TEXT
#   exists PATH           a file, folder or link stands at PATH
#   cmp A B               files A and B hold the same bytes
#   ! stdout TEXT, ! stderr TEXT, ! exists PATH, ! cmp A B: the opposite
#   anything else         set-up, run by bash, which must succeed
#
# In any command, `as alice CMD...` and `as mallory CMD...` run CMD as the
# users 12345 and 12346 (groups of the same numbers; $ALICE, $MALLORY), which
# exist nowhere else. A case that uses them needs root, and is skipped
# (status 77) without it. Every command is stopped after 60 seconds.
set -u
enn_dir=$1
data=$2
shift 2

as() {
    local who
    case $1 in
        alice) who=12345 ;;
        mallory) who=12346 ;;
        *) echo "as: no user $1" >&2; return 2 ;;
    esac
    shift
    setpriv --reuid="$who" --regid="$who" --clear-groups -- "$@"
}
export -f as
export ALICE=12345 MALLORY=12346 LC_ALL=C.UTF-8 LANGUAGE=
export PATH="$enn_dir:$PATH"

failed=0
skipped=0
for case in "$@"; do
    case=$(realpath "$case")
    if [ "$(id -u)" != 0 ] && grep -qE '(^|[$;&|(] *)as (alice|mallory) ' "$case"; then
        echo "skipped (needs root): $case"
        skipped=1
        continue
    fi
    work=$(mktemp -d)
    chmod 755 "$work"
    mkdir "$work/case"
    cp "$data/batch.txt" "$data/batch.txt.enn" "$work/case/"
    : >"$work/out"
    : >"$work/err"
    status=0
    number=0
    ok=1
    while IFS= read -r line || [ -n "$line" ]; do
        number=$((number + 1))
        want=0
        check=$line
        if [[ $line == '! '* ]]; then
            want=1
            check=${line#! }
        fi
        word=${check%% *}
        rest=${check#* }
        passed=1
        case $word in
            '' | '#'*) continue ;;
            '$')
                (cd "$work/case" && timeout 60 bash -c "$rest" </dev/null >"$work/out" 2>"$work/err")
                status=$?
                continue
                ;;
            status) [ "$status" = "$rest" ] || passed=0; want=0 ;;
            stdout) grep -qF -- "$rest" "$work/out" || passed=0 ;;
            stderr) grep -qF -- "$rest" "$work/err" || passed=0 ;;
            exists) (cd "$work/case" && [ -e "$rest" ] || [ -L "$rest" ]) || passed=0 ;;
            cmp) (cd "$work/case" && eval "cmp -s -- $rest") || passed=0 ;;
            *)
                (cd "$work/case" && timeout 60 bash -c "$line" </dev/null) || passed=0
                want=0
                ;;
        esac
        if [ $((passed ^ want)) = 0 ]; then
            ok=0
            {
                echo "FAILED $case:$number: $line"
                echo "  last status: $status"
                sed 's/^/  stdout: /' "$work/out" 2>/dev/null
                sed 's/^/  stderr: /' "$work/err" 2>/dev/null
            } >&2
            break
        fi
    done <"$case"
    # What the case made as another user goes too.
    chmod -R u+rwX "$work" 2>/dev/null
    rm -rf "$work"
    [ $ok = 1 ] || failed=1
done
[ $failed = 0 ] || exit 1
[ $skipped = 0 ] || exit 77
exit 0
