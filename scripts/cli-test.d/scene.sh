#!/usr/bin/env bash
# tessavo-cli info and convert on small meshes and a project.
set -u
fail=0
T="$(mktemp -d)"
trap 'rm -rf "$T"' EXIT
D="$DATA/scene"
expect() { # description, expected exit, pattern expected in the output, command...
  local what="$1" want="$2" pat="$3"; shift 3
  "$@" >"$T/out" 2>&1; local got=$?
  if [ "$got" -ne "$want" ] || ! grep -qE -- "$pat" "$T/out"; then
    echo "FAIL: $what (exit $got, want $want, pattern '$pat')"; cat "$T/out"; fail=1
  fi
}
expect "info binary stl" 0 '^triangles: 12$' "$CLI" info "$D/cube.stl"
expect "info bounding box" 0 '^bounding box: min 0 0 -10 max 10 10 0 ' "$CLI" info "$D/cube.stl"
expect "info hash" 0 '^hash: [0-9a-f]{8}$' "$CLI" info "$D/cube.stl"
expect "info flipped" 0 '^flipped on load: yes$' "$CLI" info "$D/self_overlapping_cubes.stl"
expect "info obj" 0 '^triangles: 12$' "$CLI" info "$D/negative_indexed.obj"
expect "info project" 0 '^support bars: 1$' "$CLI" info "$D/sample.tvprj"
expect "info project names" 0 '^  cube\(2\): triangles 12' "$CLI" info "$D/sample.tvprj"
expect "info empty file" 1 '^error: STL loader: empty file\.$' "$CLI" info "$D/empty_file.stl"
expect "info missing" 1 '^error: Faces::importFile\(\) File not found: ' "$CLI" info "$T/none.stl"
expect "info other type" 1 '^error: Faces::importFile\(\) unsupported extension: \.md$' "$CLI" info "$D/LICENSE-SlicerTestModels-CC0.md"
expect "info folder" 1 "not a regular file" "$CLI" info "$D/" 
expect "info usage" 1 '^error: usage' "$CLI" info
head -c 300 "$D/sample.tvprj" > "$T/cut.tvprj"
expect "info cut project" 1 '^error: (Project::loadFromStr|Faces::readBlock)' "$CLI" info "$T/cut.tvprj"
expect "info random bits" 0 '^triangles: 0$' "$CLI" info "$D/random_bits.stl"
expect "info help" 0 'Usage: tessavo-cli info' "$CLI" info --help
# Binary STL keeps every coordinate: the hash survives a round trip.
h0=$("$CLI" info "$D/cube.stl" | grep '^hash')
expect "convert to binary" 0 '12 triangles' "$CLI" convert "$D/cube.stl" "$T/b.stl"
[ "$("$CLI" info "$T/b.stl" | grep '^hash')" = "$h0" ] || { echo "FAIL: binary round trip hash"; fail=1; }
expect "convert to ascii" 0 '12 triangles' "$CLI" convert "$D/cube.stl" "$T/a.stl" --ascii
head -c 6 "$T/a.stl" | grep -q '^solid ' || { echo "FAIL: ascii output"; fail=1; }
expect "ascii back" 0 '^triangles: 12$' "$CLI" info "$T/a.stl"
expect "convert to obj" 0 '12 triangles' "$CLI" convert "$D/negative_indexed.obj" "$T/o.obj"
[ "$(grep -c '^f ' "$T/o.obj")" = 12 ] || { echo "FAIL: obj faces"; fail=1; }
expect "convert bad target" 1 '^error: Faces::exportFata\(\) unsupported extension: \.ply$' "$CLI" convert "$D/cube.stl" "$T/x.ply"
expect "convert usage" 1 '^error: usage' "$CLI" convert "$D/cube.stl"
expect "convert bad option" 1 '^error: unknown option' "$CLI" convert "$D/cube.stl" "$T/y.stl" --fast
exit $fail
