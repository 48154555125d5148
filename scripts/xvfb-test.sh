#!/usr/bin/env bash
# Runs one GUI test executable under a private X server with Mesa software GL.
set -eu
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/run" "$tmp/config" "$tmp/data"
chmod 700 "$tmp/run"
export XDG_RUNTIME_DIR="$tmp/run" XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data"
export MESA_SHADER_CACHE_DISABLE=true LIBGL_ALWAYS_SOFTWARE=1 QT_QPA_PLATFORM=xcb
exec xvfb-run -a -s "-screen 0 1600x1000x24" "$@"
