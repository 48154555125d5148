#pragma once
// The raft's G-code: written where both the raft's paths and the writer are
// known, and placed in the file's header block.
#include "common/buildvolume.h"
#include "raster/layergrid.h"
#include "params/slicerparams.h"
#include "toolpath/skirtbrimraft.h"

#include <QByteArray>

// Each drawn raft layer written as layer 0 with its own LayerHeight as the
// first-layer height, raised by the raft below it; every layer's text is
// framed by blank lines.
QByteArray raftGCode(const SlicerParams &sp, const RaftResult &raft, const LayerGrid &grid,
                     const BuildVolume &volume);
