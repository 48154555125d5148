#pragma once
// Refuses parameter sets that would make the toolpath stages or the G-code
// writer compute non-finite or absurd numbers (a zero filament diameter
// divides by zero; a NaN turns into an undefined integer conversion).
// The driver calls it before it slices anything; the bounds per key are in
// params/parambounds.h (paramBounds, paramValueProblem for single fields).
#include "params/slicerparams.h"

#include <QStringList>

// Throws QString "Invalid parameter <Key>: <reason>" for the first offending
// key in key order: a value that is not finite or lies outside its bounds.
void validateParams(const SlicerParams &sp);

// Settings that are on but have no effect because another takes precedence
// on the first layer (skirt, then brim, then raft), one sentence each, e.g.
// "BrimEnable has no effect while SkirtEnable is on". Empty when none.
QStringList overriddenSettings(const SlicerParams &sp);
