#pragma once
// Refuses parameter sets that would make the toolpath stages or the G-code
// writer compute non-finite or absurd numbers (a zero filament diameter
// divides by zero; a NaN turns into an undefined integer conversion).
// The driver calls it before it slices anything.
#include "params/slicerparams.h"

// Throws QString "Invalid parameter <Key>: <reason>" for the first offending
// key in key order.
void validateParams(const SlicerParams &sp);
