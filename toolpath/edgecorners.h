#pragma once
// The tips of a section's notches put back on its traced edge.
#include "geometry/polyline.h"

// The crossings of the coverage level in a corner's pixels average the two
// sides over the pixel, so a corner of the traced edge comes out cut. At the
// tip of a sharp notch (the gap between two spikes) the cut reaches deepest:
// the perimeter, at its distance from the cut edge, runs too close to the
// true tip and its bead spills into the notch. Where two straight runs (each
// at least kCornerSide pixels, crossings within 0.12 pixels of a line) meet
// in a notch turning 100 to 150 degrees through at most five short segments
// no longer than 3.2 pixels in all, the short ones give way to the point where
// the runs' lines meet, if that lies within 2.1 pixels of every vertex it
// replaces (in a notch of 50 degrees, a star's valley, the crossings stray
// from the sides for a pixel and a half either side of the tip, and the row
// through the tip cuts it by most of a pixel). Milder notches stay as traced
// (the cut there costs less than it keeps of the wall band's coverage), but
// for the right-angled ones at the end of a slot or hole a few pixels across,
// where one of the two runs is shorter than kCornerSide (at least kSlotSide):
// notches turning 77 to 100 degrees are restored there (the perimeter ran
// 0.06 mm into the ends of a half-millimetre slot). A slot under three
// pixels wide has no run across its end at all: where two long sides run
// back along each other that close, the crossings round the end give way to
// a square end through the deepest of them (the one not in a corner pixel).
// Convex corners stay (the shell steps restore them), and so do curves (a
// bend that sharp has no run that long and straight on either side).
// Material lies left of the outline.
constexpr float kCornerSide = 2.5f;
constexpr float kSlotSide = 1.8f;
void sharpenCorners(PolyLine &pl);
