#!/usr/bin/env bash
# Installs what is missing, builds, runs every test (GUI tests under Xvfb),
# then runs each fuzz harness briefly over its seed corpus.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")" && pwd)"
"$ROOT/scripts/setup.sh"
status=0
(cd "$ROOT/build" && ctest --output-on-failure -j "$(nproc 2>/dev/null || echo 2)") || status=1
"$ROOT/scripts/fuzz.sh" || status=1
if [ $status -ne 0 ]; then
  echo "test.sh: FAILED" >&2
else
  echo "test.sh: all tests passed"
fi
exit $status
