#pragma once
// The number reader of the G-code parser: decimal numbers without exponent,
// read two bytes at a time through a table built once at start-up.
//
// Accepted: blanks (space, tab), an optional "+" or "-", then decimal digits
// with at most one "."; reading stops at the first other character. Up to 18
// significant digits are kept exactly (a 64-bit accumulator); further digits
// after the point are ignored, further digits before it fail the read.
//
// The text must be terminated by a byte outside 0x20-0x3F (a NUL, a line end,
// a letter): the reader looks at most one byte past the last one it accepts,
// and never past such a terminator.

namespace strnum {

// Reads a number at `p`. On success stores it in `out`, moves `p` past the
// number and returns true. Fails (false, `p` and `out` unspecified) when the
// text ends right after the blanks and sign, when no digit or point follows
// the sign, or when the integer part has more than 18 significant digits.
bool strToNormalFloat(const char *&p, float &out);
// The pair-table reader alone: the twin that defines strToNormalFloat's
// results (which reads plain numbers of up to 15 digits a byte at a time and
// hands everything else to it).
bool strToNormalFloatPairs(const char *&p, float &out);

// Checks `reader` on the fixed sample texts; on a mismatch logs
// "_testParseFloat() FAILED" and returns false. Runs once at start-up with
// strToNormalFloat.
using Reader = bool (*)(const char *&p, float &out);
bool testParseFloat(Reader reader);

// Whether the start-up table build and self-test passed.
bool initOk();

} // namespace strnum
