#!/usr/bin/env bash
# tessavo-cli slice: models to G-code, options, bad input and usage.
set -u
fail=0
T="$(mktemp -d)"
trap 'rm -rf "$T"' EXIT
bad() { echo "FAIL: slice: $*"; fail=1; }
D="$DATA/driver"

"$CLI" slice "$D/cube.stl" -o "$T/cube.gcode" --set InfillType=2 2>"$T/e" || bad "cube exit $?: $(cat "$T/e")"
grep -q '^Time: .*Length: .*Travel: ' "$T/e" || bad "statistics line: $(cat "$T/e")"
[ "$(wc -l < "$T/e")" -eq 1 ] || bad "stderr is not one line when not a terminal: $(cat "$T/e")"
grep -q ';segType:Perimeter' "$T/cube.gcode" || bad "no perimeter"
grep -q ';Tessavo_Settings=' "$T/cube.gcode" || bad "no settings footer"
"$CLI" stats "$T/cube.gcode" | grep -q '^Layers: ' || bad "own output does not parse"

# Two models side by side, more threads, a preset file and a build volume.
"$CLI" slice "$D/cube.stl" "$D/pyramid.stl" -o "$T/two.gcode" --threads 1 \
    --build-volume 200,200,150 --set LayerStartPos=4 2>/dev/null || bad "two models exit $?"
"$CLI" slice "$D/cube.stl" "$D/pyramid.stl" -o "$T/two4.gcode" --threads 4 \
    --build-volume 200,200,150 --set LayerStartPos=4 2>/dev/null || bad "two models, 4 threads"
cmp -s "$T/two.gcode" "$T/two4.gcode" || bad "thread count changed the G-code"
printf '{"LayerHeight": 0.3, "SkirtEnable": false}' > "$T/p.json"
"$CLI" slice "$D/cube.stl" -o "$T/p.gcode" --params "$T/p.json" 2>/dev/null || bad "--params json"
grep -q 'Z0.500' "$T/p.gcode" || bad "LayerHeight 0.3 from --params not used"

# A mesh with a hole in its surface is repaired, not refused.
"$CLI" slice "$D/cube_missing_corner.stl" -o "$T/broken.gcode" 2>/dev/null || bad "broken mesh exit $?"

# Support bars.
"$CLI" slice "$D/pyramid.stl" -o "$T/sup.gcode" --support 1.5,45 2>/dev/null || bad "--support exit $?"

one_error() { # description, command...
  local what="$1"; shift
  "$@" >/dev/null 2>"$T/e" && { bad "$what accepted"; return; }
  [ "$?" -eq 1 ] || bad "$what: exit status"
  [ "$(wc -l < "$T/e")" -eq 1 ] && grep -q '^error: ' "$T/e" || bad "$what: $(cat "$T/e")"
}
one_error "no -o" "$CLI" slice "$D/cube.stl"
one_error "missing input" "$CLI" slice "$T/none.stl" -o "$T/x.gcode"
one_error "unknown option" "$CLI" slice "$D/cube.stl" -o "$T/x.gcode" --frob 1
one_error "unknown key" "$CLI" slice "$D/cube.stl" -o "$T/x.gcode" --set Frob=1
one_error "zero filament" "$CLI" slice "$D/cube.stl" -o "$T/x.gcode" --set FilamentDiameter=0
one_error "NaN width" "$CLI" slice "$D/cube.stl" -o "$T/x.gcode" --set ExtrusionWidth=nan
one_error "bad volume" "$CLI" slice "$D/cube.stl" -o "$T/x.gcode" --build-volume 200,0,100
one_error "volume that empties the print" "$CLI" slice "$D/cube.stl" -o "$T/x.gcode" --build-volume 1e7,1e7,200
cp "$D/cube.stl" "$T/keep.stl"
one_error "output over an input" "$CLI" slice "$T/keep.stl" -o "$T/../$(basename "$T")/keep.stl"
cmp -s "$D/cube.stl" "$T/keep.stl" || bad "slice -o INPUT overwrote the model"
one_error "bad threads" "$CLI" slice "$D/cube.stl" -o "$T/x.gcode" --threads many
one_error "bad support" "$CLI" slice "$D/cube.stl" -o "$T/x.gcode" --support 1
one_error "bad start" "$CLI" slice "$D/cube.stl" -o "$T/x.gcode" --set LayerStartPos=9
head -c 5000 /dev/urandom > "$T/junk.stl"
"$CLI" slice "$T/junk.stl" -o "$T/x.gcode" >/dev/null 2>"$T/e"
rc=$?
[ $rc -le 1 ] || bad "random bytes: exit $rc"
# -o onto a FIFO replaced the FIFO by a regular file (so -o /dev/null, run
# as root, would have replaced the device node): pipes are written directly.
mkfifo "$T/fifo"
timeout 90 cat "$T/fifo" > "$T/fifo.out" &
reader=$!
timeout 60 "$CLI" slice "$D/cube.stl" -o "$T/fifo" 2>/dev/null || bad "-o FIFO exit $?"
[ -p "$T/fifo" ] || bad "-o FIFO replaced the FIFO"
wait "$reader" 2>/dev/null # the reader ends when the writer closes; killing it could lose its output
grep -q ';Tessavo_Settings=' "$T/fifo.out" || bad "-o FIFO: reader got no G-code"
"$CLI" slice --help | grep -q 'Usage: tessavo-cli slice' || bad "--help"
exit $fail
