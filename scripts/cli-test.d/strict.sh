#!/usr/bin/env bash
# tessavo-cli refuses what it would otherwise get silently wrong: parameter
# files, scenes outside the build volume, unreadable meshes, failed writes.
set -u
fail=0
T="$(mktemp -d)"
trap 'rm -rf "$T"' EXIT
bad() { echo "FAIL: strict: $*"; fail=1; }
D="$DATA/driver"
S="$DATA/scene"

# refused DESCRIPTION PATTERN COMMAND...: exit 1, one "error:" line matching PATTERN.
refused() {
  local what="$1" pat="$2"; shift 2
  "$@" >"$T/o" 2>"$T/e"; local rc=$?
  [ $rc -eq 1 ] || bad "$what: exit $rc"
  grep -qE -- "^error: $pat" "$T/e" || bad "$what: $(cat "$T/e")"
}

# --params: a file named on purpose must be a parameter text.
printf '{"LayerHeight": 0.3,' > "$T/broken.json"
printf '{"LayerHeight": "0.3"}' > "$T/mistyped.json"
printf '{"HShellCnt": 2.5e10}' > "$T/toobig.json"
printf '[1, 2]' > "$T/array.json"
printf 'G28 X0 Y0\n' > "$T/gcode.tvsp"
printf '{"LayerHeigth": 0.3}' > "$T/typo.json"
refused "--params not JSON" "$T/broken.json: not valid JSON" "$CLI" slice "$D/cube.stl" -o "$T/x.gcode" --params "$T/broken.json"
refused "--params mistyped" "$T/mistyped.json: LayerHeight: expected a number, got a text" \
  "$CLI" slice "$D/cube.stl" -o "$T/x.gcode" --params "$T/mistyped.json"
refused "--params int too large" "$T/toobig.json: HShellCnt: expected an integer" \
  "$CLI" slice "$D/cube.stl" -o "$T/x.gcode" --params "$T/toobig.json"
refused "--params array" "$T/array.json: not a JSON object" "$CLI" slice "$D/cube.stl" -o "$T/x.gcode" --params "$T/array.json"
refused ".tvsp not a preset" "$T/gcode.tvsp: not valid JSON" "$CLI" slice "$D/cube.stl" -o "$T/x.gcode" --params "$T/gcode.tvsp"
refused "--params folder" ".*not a regular file" "$CLI" slice "$D/cube.stl" -o "$T/x.gcode" --params "$T"
[ -e "$T/x.gcode" ] && bad "a refused job wrote output"
"$CLI" slice "$D/cube.stl" -o "$T/typo.gcode" --params "$T/typo.json" 2>"$T/e" || bad "unknown key is only a warning"
grep -q "^warning: $T/typo.json: unknown key \"LayerHeigth\" ignored$" "$T/e" || bad "unknown key warning: $(cat "$T/e")"
"$CLI" slice "$D/cube.stl" -o "$T/b.gcode" --set BrimEnable=true --set RaftEnable=1 2>"$T/e" || bad "brim+skirt exit"
grep -q '^warning: BrimEnable has no effect while SkirtEnable is on$' "$T/e" || bad "brim warning: $(cat "$T/e")"
grep -q '^warning: RaftEnable has no effect while SkirtEnable is on$' "$T/e" || bad "raft warning: $(cat "$T/e")"
"$CLI" slice "$D/cube.stl" -o "$T/b.gcode" --set SkirtEnable=0 --set BrimEnable=1 --set RaftEnable=1 2>"$T/e"
grep -q '^warning: RaftEnable has no effect while BrimEnable is on$' "$T/e" || bad "raft under brim warning"
grep -q 'BrimEnable has no effect' "$T/e" && bad "brim warned although it takes effect"

# Parameter bounds, by name.
for kv in TravelRetract=1e30 FFactor_Infill=1e-30 HShellDensity=1e-30 HShellCnt=-5 BrimCount=-7; do
  refused "$kv" "Invalid parameter ${kv%%=*}: must be from " "$CLI" slice "$D/cube.stl" -o "$T/x.gcode" --set "$kv"
done
refused "layers: LayerHeight=0.001" "Invalid parameter LayerHeight: must be from " \
  "$CLI" layers "$D/cube.stl" --out "$T/lh" --set LayerHeight=0.001
"$CLI" slice "$D/cube.stl" -o "$T/i0.gcode" --set InfillDensity=0 2>/dev/null || bad "0 % infill refused"

# Cut heights follow the layers when FirstLayerHeight differs: the 10 mm cube
# keeps its top layer (Z 10.000, not 9.700) for several pairs of heights.
for hh in "0.3 0.1" "0.2 0.4" "0.25 0.05" "5 0.2"; do
  set -- $hh
  "$CLI" slice "$D/cube.stl" -o "$T/h.gcode" --set LayerHeight=$1 --set FirstLayerHeight=$2 2>"$T/e" || bad "heights $hh exit"
  # The highest layer that draws: Z of the last layer move before G1 lines.
  top=$(awk '/^G0 F[0-9]+ Z/ { sub(/.*Z/, ""); z = $0 + 0 } /^G1 / { if (z > m) m = z } END { printf "%.3f", m }' "$T/h.gcode")
  want=$(awk -v lh=$1 -v f=$2 'BEGIN { n = 1 + int((10 - f) / lh + 0.999999); printf "%.3f", f + (n - 1) * lh }')
  [ "$top" = "$want" ] || bad "heights $hh: prints up to Z$top, want Z$want"
done

# The build volume.
refused "cube in a 5 mm volume" "the scene does not fit the build volume \(5 x 5 x 5 mm\): it reaches 2\.5 mm beyond the left edge, 2\.5 mm beyond the right edge, 2\.5 mm beyond the back edge, 2\.5 mm beyond the front edge, 5\.0 mm above the build height" \
  "$CLI" slice "$D/cube.stl" -o "$T/x.gcode" --build-volume 5,5,5
"$CLI" slice "$D/cube.stl" -o "$T/out.gcode" --build-volume 5,5,5 --allow-outside 2>/dev/null || bad "--allow-outside refused"
many=(); for i in $(seq 40); do many+=("$D/cube.stl"); done
refused "40 cubes in a row" "the scene does not fit the build volume \(250 x 200 x 200 mm\): it reaches [0-9.]+ mm beyond the left edge, [0-9.]+ mm beyond the right edge; --allow-outside" \
  "$CLI" slice "${many[@]}" -o "$T/x.gcode"
"$CLI" slice "$D/cube.stl" -o "$T/fits.gcode" --build-volume 10,10,10 2>/dev/null || bad "an exact fit refused"

# Meshes: tabs separate OBJ pieces; a file without triangles is an error for
# convert and slice (info still reports it); an infinite vertex drops only
# its facet.
printf 'v\t0\t0\t0\nv\t10\t0\t0\nv\t0\t10\t0\nv\t0\t0\t10\nf\t1\t3\t2\nf\t1\t2\t4\nf\t1\t4\t3\nf\t2\t3\t4\n' > "$T/tabs.obj"
"$CLI" convert "$T/tabs.obj" "$T/tabs.stl" >"$T/o" 2>&1 || bad "tab OBJ: $(cat "$T/o")"
grep -q ': 4 triangles' "$T/o" || bad "tab OBJ triangles: $(cat "$T/o")"
refused "convert of no triangles" ".*random_bits.stl: no triangles read" "$CLI" convert "$S/random_bits.stl" "$T/r.stl"
[ -e "$T/r.stl" ] && bad "convert wrote an empty mesh"
refused "slice of no triangles" ".*random_bits.stl: no triangles read" "$CLI" slice "$S/random_bits.stl" -o "$T/x.gcode"
"$CLI" convert "$D/cube.stl" "$T/inf.stl" --ascii >/dev/null || bad "ascii cube"
printf 'facet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1e999 0 0\nvertex 0 1 0\nendloop\nendfacet\n' >> "$T/inf.stl"
"$CLI" info "$T/inf.stl" | grep -q '^triangles: 12$' || bad "infinite vertex: facet kept"
"$CLI" slice "$T/inf.stl" -o "$T/inf.gcode" 2>"$T/e" || bad "infinite vertex exit: $(cat "$T/e")"
grep -q 'Length: 0\.0 m' "$T/e" && bad "infinite vertex emptied the print"

# Standard input and FIFOs for stats and info.
"$CLI" stats "$DATA/gcode/peerA_sphere_lo.gcode" | grep -v '^Finish' > "$T/file.txt"
cat "$DATA/gcode/peerA_sphere_lo.gcode" | "$CLI" stats - | grep -v '^Finish' > "$T/pipe.txt"
cmp -s "$T/file.txt" "$T/pipe.txt" || bad "stats - from a pipe differs: $(head -3 "$T/pipe.txt")"
mkfifo "$T/g.fifo"
timeout 60 cat "$DATA/gcode/peerA_sphere_lo.gcode" > "$T/g.fifo" &
timeout 60 "$CLI" stats "$T/g.fifo" | grep -v '^Finish' > "$T/fifo.txt"
wait
cmp -s "$T/file.txt" "$T/fifo.txt" || bad "stats FIFO differs: $(head -3 "$T/fifo.txt")"
"$CLI" info - < "$S/cube.stl" | grep -q '^triangles: 12$' || bad "info - (STL)"
"$CLI" info - < "$S/negative_indexed.obj" | grep -q '^triangles: 12$' || bad "info - (OBJ)"
"$CLI" info - < "$S/sample.tvprj" | grep -q '^support bars: 1$' || bad "info - (project)"

# Failed writes are failures.
for cmd in "info $S/cube.stl" "stats $DATA/gcode/peerA_sphere_lo.gcode" "--help" "slice --help" "--version"; do
  $CLI $cmd >/dev/full 2>"$T/e"; rc=$?
  [ $rc -eq 1 ] && grep -q '^error: cannot write standard output' "$T/e" || bad "$cmd > /dev/full: exit $rc $(cat "$T/e")"
done
# A file size limit of 0 fails every write into a file; stderr goes through
# a pipe, which the limit does not touch.
( trap '' XFSZ; ulimit -f 0; "$CLI" layers "$D/cube.stl" --out "$T/full" 2>&1 >/dev/null ) | cat > "$T/e"; rc=${PIPESTATUS[0]}
[ $rc -eq 1 ] && grep -q '^error: Cannot write file' "$T/e" || bad "layers onto a full disk: exit $rc $(cat "$T/e")"
# G-code goes to the file while it is made: a write failing part way keeps
# the old file whole, and says why.
printf 'old\n' > "$T/old.gcode"
( trap '' XFSZ; ulimit -f 64; "$CLI" slice "$D/pyramid.stl" -o "$T/old.gcode" 2>&1 >/dev/null ) | cat > "$T/e"; rc=${PIPESTATUS[0]}
[ $rc -eq 1 ] && grep -q '^error: Cannot write file .*: File too large' "$T/e" && [ "$(cat "$T/old.gcode")" = old ] \
  || bad "slice onto a size limit: exit $rc $(cat "$T/e") / $(head -c 40 "$T/old.gcode")"
printf 'old\n' > "$T/old.stl"
( trap '' XFSZ; ulimit -f 4; "$CLI" convert "$D/star_spikes.stl" "$T/old.stl" --ascii 2>&1 >/dev/null ) | cat > "$T/e"; rc=${PIPESTATUS[0]}
[ $rc -eq 1 ] && grep -q '^error: Cannot write file .*: File too large' "$T/e" && [ "$(cat "$T/old.stl")" = old ] \
  || bad "convert onto a size limit: exit $rc $(cat "$T/e") / $(head -c 40 "$T/old.stl")"

# Usage: no arguments is a usage error on stderr; --help is output.
"$CLI" >"$T/o" 2>"$T/e"; rc=$?
[ $rc -eq 1 ] && [ ! -s "$T/o" ] && grep -q '^Usage: tessavo-cli' "$T/e" || bad "no arguments: exit $rc"
# One reader for projects: a huge .tvprj is refused by size everywhere.
truncate -s 3G "$T/huge.tvprj"
refused "info of a 3 GB project" ".*huge.tvprj: larger than" "$CLI" info "$T/huge.tvprj"
refused "slice of a 3 GB project" ".*huge.tvprj: larger than" "$CLI" slice "$T/huge.tvprj" -o "$T/x.gcode"
refused "layers of a 3 GB project" ".*huge.tvprj: larger than" "$CLI" layers "$T/huge.tvprj" --out "$T/l"
exit $fail
