#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang into build/fuzz and runs each one
# briefly over its seed corpus (fuzz/corpus/<harness>/). Non-zero on a finding.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SECONDS_EACH="${TESSAVO_FUZZ_SECONDS:-20}"
shopt -s nullglob
harnesses=("$ROOT"/fuzz/*_fuzz.cpp)
if [ ${#harnesses[@]} -eq 0 ]; then
  echo "fuzz: no harnesses"
  exit 0
fi
B="$ROOT/build/fuzz"
if [ ! -f "$B/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$B" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSAVO_FUZZ=ON >/dev/null
fi
cmake --build "$B" -j "$(nproc 2>/dev/null || echo 2)"
status=0
for src in "${harnesses[@]}"; do
  name="$(basename "$src" .cpp)"
  seeds="$ROOT/fuzz/corpus/$name"
  work="$(mktemp -d)"
  args=()
  [ -d "$seeds" ] && args+=("$seeds")
  echo "fuzz: $name for ${SECONDS_EACH}s"
  if ! (cd "$work" && "$B/$name" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -timeout=10 \
        -print_final_stats=0 "$work" "${args[@]}" > "$work/log" 2>&1); then
    echo "fuzz: $name FAILED" >&2
    tail -40 "$work/log" >&2
    status=1
  fi
  rm -rf "$work"
done
exit $status
