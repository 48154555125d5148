#pragma once
// How the settings dialogs reach the main window's slicing without knowing
// it: the dialog hands over the parameter set to slice with and a progress
// callback; the host slices its project and keeps the G-code as the current
// one (shown once the dialog has closed). Throws what the slicer throws.
#include "params/slicerparams.h"

#include <functional>

using DialogProgress = std::function<void(int percent)>;
using DialogSliceFn = std::function<void(const SlicerParams &params, const DialogProgress &progress)>;
// Generates support bars on the host's project before an easy slice.
using DialogSupportFn = std::function<void(const DialogProgress &progress)>;
