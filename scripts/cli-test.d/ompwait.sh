#!/usr/bin/env bash
# The OpenMP runtime starts with passive waiting, without the program starting
# itself again (each start prints the runtime's settings once), and a user's
# own wait policy stands.
set -u
fail=0
out=$(env -u OMP_WAIT_POLICY -u GOMP_SPINCOUNT OMP_DISPLAY_ENV=VERBOSE "$CLI" --version 2>&1)
spins=$(printf '%s\n' "$out" | grep -c "GOMP_SPINCOUNT")
if [ "$spins" -ne 1 ] || ! printf '%s\n' "$out" | grep -q "GOMP_SPINCOUNT = '0'"; then
  echo "FAIL: runtime not started passive once:"; printf '%s\n' "$out" | grep -E "WAIT_POLICY|SPINCOUNT"; fail=1
fi
out=$(env -u GOMP_SPINCOUNT OMP_WAIT_POLICY=ACTIVE OMP_DISPLAY_ENV=VERBOSE "$CLI" --version 2>&1)
if printf '%s\n' "$out" | grep -q "GOMP_SPINCOUNT = '0'"; then
  echo "FAIL: OMP_WAIT_POLICY=ACTIVE was overridden"; fail=1
fi
exit $fail
