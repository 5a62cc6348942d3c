# The checks of the Windows deliveries' tests, sourced by them: `check WHAT
# COMMAND...` runs COMMAND, says "ok" or "FAILED" with WHAT and keeps its
# output in $work/checks.log; `checks_summary` ends on "N passed, N failed"
# and fails when anything did.
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
