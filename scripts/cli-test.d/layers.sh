#!/usr/bin/env bash
# tessavo-cli layers: one PNG and one line per layer, bad input refused cleanly.
set -u
fail=0
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
say() { echo "FAIL: layers: $*"; fail=1; }

# A 10 mm cube at 0.2 mm layers: 50 layers, 50 images, each about 100 mm2.
"$CLI" layers "$DATA/slicer/cube.stl" --out "$out/cube" >"$out/cube.txt" 2>"$out/err" || say "cube exit $?"
[ "$(wc -l <"$out/cube.txt")" -eq 50 ] || say "cube: not 50 lines"
[ "$(ls "$out/cube" | wc -l)" -eq 50 ] || say "cube: not 50 images"
[ -s "$out/cube/0.png" ] && [ -s "$out/cube/49.png" ] || say "cube: images not named by layer index"
head -c 8 "$out/cube/0.png" | od -An -c | grep -q 'P   N   G' || say "cube: not a PNG"
grep -q '^layer 0 z=0.100 segments=8 repaired=no area=' "$out/cube.txt" || say "cube: first line"
awk '{ split($6, a, "="); if (a[2] < 95 || a[2] > 106) bad = 1 } END { exit bad }' "$out/cube.txt" \
  || say "cube: area not about 100 mm2"

# Two models side by side: both cross-sections present (cube 100 + cube 100).
"$CLI" layers "$DATA/slicer/cube.stl" "$DATA/slicer/cube.stl" --out "$out/two" >"$out/two.txt" || say "two cubes exit"
awk 'NR == 10 { split($6, a, "="); if (a[2] < 190 || a[2] > 212) bad = 1 } END { exit bad }' "$out/two.txt" \
  || say "two cubes overlap or are missing"

# A project file (objects and a support bar) is an input of its own.
"$CLI" layers "$DATA/slicer/scene.tvprj" --out "$out/prj" >"$out/prj.txt" || say "project exit"
[ -s "$out/prj/0.png" ] && grep -q '^layer 0 ' "$out/prj.txt" || say "project: no layers"

# A cube with a corner cut off and left open: the upper layers do not close
# and are repaired under every fill rule, the closed ones are not.
for alg in 0 1 2; do
  "$CLI" layers "$DATA/slicer/cube_missing_corner.stl" --out "$out/mc$alg" --set PolyFillerAlg=$alg >"$out/mc.txt" \
    || say "missing corner alg $alg"
  grep -q 'repaired=yes' "$out/mc.txt" && grep -q 'repaired=no' "$out/mc.txt" || say "missing corner alg $alg: repair"
  awk '{ split($6, a, "="); if (a[2] < 2000) bad = 1 } END { exit bad }' "$out/mc.txt" || say "missing corner alg $alg: area"
done

# Bad input: one "error:" line, exit 1, no crash.
bad() { # description, args...
  local what="$1"; shift
  "$CLI" layers "$@" >/dev/null 2>"$out/err"; local rc=$?
  [ $rc -eq 1 ] || say "$what: exit $rc"
  grep -q '^error: ' "$out/err" || say "$what: no error line"
}
bad "no --out" "$DATA/slicer/cube.stl"
bad "project among models" "$DATA/slicer/scene.tvprj" "$DATA/slicer/cube.stl" --out "$out/x"
bad "unknown option" "$DATA/slicer/cube.stl" --out "$out/x" --frobnicate
bad "missing file" "$out/nothing.stl" --out "$out/x"
bad "unknown key" "$DATA/slicer/cube.stl" --out "$out/x" --set NoSuchKey=1
bad "zero extrusion width" "$DATA/slicer/cube.stl" --out "$out/x" --set ExtrusionWidth=0
bad "zero layer height" "$DATA/slicer/cube.stl" --out "$out/x" --set LayerHeight=0
printf 'solid x\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1e30 0 0\nvertex 0 1e30 1\nendloop\nendfacet\nendsolid\n' >"$out/huge.stl"
bad "huge mesh" "$out/huge.stl" --out "$out/x"
exit $fail
