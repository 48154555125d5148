#!/usr/bin/env bash
# Installs what is missing, builds, and starts Tessavo.
#   ./run.sh              the program
#   ./run.sh slice ...    the command-line slicer (any tessavo-cli subcommand)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")" && pwd)"
"$ROOT/scripts/setup.sh" >&2
case "${1:-}" in
  slice|stats|info|convert|layers|--help|--version|help)
    exec "$ROOT/build/tessavo-cli" "$@" ;;
esac
if [ -x "$ROOT/build/tessavo" ]; then
  exec "$ROOT/build/tessavo" "$@"
fi
exec "$ROOT/build/tessavo-cli" --help
