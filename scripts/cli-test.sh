#!/usr/bin/env bash
# End-to-end checks of tessavo-cli: usage, version and exit codes.
set -u
CLI="$1"; DATA="$2"
fail=0
check() { # description, expected exit, command...
  local what="$1" want="$2"; shift 2
  "$@" >/tmp/cli-test.$$ 2>&1; local got=$?
  if [ "$got" -ne "$want" ]; then echo "FAIL: $what (exit $got, want $want)"; cat /tmp/cli-test.$$; fail=1; fi
}
check "--help" 0 "$CLI" --help
check "--version" 0 "$CLI" --version
[ "$("$CLI" --version)" = "Tessavo 1.08 beta #10213" ] || { echo "FAIL: version text"; fail=1; }
check "unknown command" 1 "$CLI" frobnicate
"$CLI" frobnicate 2>&1 | grep -q '^error: ' || { echo "FAIL: error line"; fail=1; }
rm -f /tmp/cli-test.$$
# Subcommand checks live in scripts/cli-test.d/*.sh; each gets CLI and DATA.
for t in "$(dirname "$0")"/cli-test.d/*.sh; do
  [ -e "$t" ] || continue
  CLI="$CLI" DATA="$DATA" bash "$t" || { echo "FAIL: $t"; fail=1; }
done
exit $fail
