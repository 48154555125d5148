#!/usr/bin/env bash
# tessavo-cli stats: statistics of G-code files, bad input and usage.
set -u
fail=0
T="$(mktemp -d)"
trap 'rm -rf "$T"' EXIT
bad() { echo "FAIL: stats: $*"; fail=1; }

out="$("$CLI" stats "$DATA/gcode/peerA_sphere_lo.gcode")" || bad "peer file exit $?"
echo "$out" | grep -q '^Time: [0-9]*:[0-5][0-9]:[0-5][0-9]$' || bad "time line: $out"
echo "$out" | grep -q '^Finish: ' || bad "finish line"
echo "$out" | grep -q '^Length: 0\.3 m$' || bad "length line"
echo "$out" | grep -q '^Travel: [0-9.]*%$' || bad "travel line"
echo "$out" | grep -q '^  PLA : 0\.02' || bad "PLA price line"
echo "$out" | grep -q '^  ABS : ' || bad "ABS price line"
echo "$out" | grep -q '^Layers: 51$' || bad "layer count"
echo "$out" | grep -q '^Moves: [0-9][0-9]*$' || bad "move count"
echo "$out" | grep -q 'ignored error' && bad "peer file reported an error"

out="$("$CLI" stats --prices "Wood=10" "$DATA/gcode/peerB_sphere_lo.gcode")" || bad "--prices exit"
echo "$out" | grep -q '^  Wood : [0-9][0-9.]*$' || bad "custom price: $out"
echo "$out" | grep -q 'PLA' && bad "default prices despite --prices"

printf 'G1 X1 F600\nG1 X2 X3\nQ\nG1 X10' > "$T/err.gcode"
out="$("$CLI" stats "$T/err.gcode")" || bad "file with errors must still succeed"
echo "$out" | grep -q '^Moves: 2$' || bad "moves of err file: $out"
echo "$out" | grep -q "^GCodeParser error at line(1): Param already specified 'X'.$" || bad "first error: $out"

printf 'ZCode\001\002\003' > "$T/bin.gcode"
"$CLI" stats "$T/bin.gcode" >/dev/null 2>"$T/e" && bad "ZCode accepted"
grep -q '^error: .*ZCode' "$T/e" || bad "ZCode message: $(cat "$T/e")"

head -c 300000 /dev/urandom > "$T/junk.gcode"
"$CLI" stats "$T/junk.gcode" >/dev/null 2>&1 || bad "random bytes exit $?"

"$CLI" stats "$T/missing.gcode" >/dev/null 2>"$T/e" && bad "missing file accepted"
grep -q '^error: ' "$T/e" || bad "missing file message"
"$CLI" stats >/dev/null 2>"$T/e" && bad "no file accepted"
grep -q '^error: ' "$T/e" || bad "no file message"
"$CLI" stats "$T/err.gcode" --prices >/dev/null 2>&1 && bad "--prices without value accepted"
"$CLI" stats --help | grep -q 'stats FILE' || bad "help"
exit $fail
