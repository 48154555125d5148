#include "common/perfdata.h"
#include "driver/stages.h"
#include "toolpath/fill.h"

void concentricShellStep(const LayerGrid &grid, const SlicerParams &sp, const Plane1 &shellRegion,
                         PathList &fill, OffsetScratch &scratch)
{
    PerfScope perf("concentricShells");
    concentricShells(grid, shellRegion, sp, fill, scratch);
}
