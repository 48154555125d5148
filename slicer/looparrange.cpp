#include "slicer/looparrange.h"

QVector<PathList> arrangeLoops(const PathList &outlines, int vshellCnt)
{
    QVector<PathList> shells(vshellCnt > 1 ? 2 : 1);
    for (const PolyLine &pl : outlines) {
        if (pl.type == Perimeter || shells.size() == 1)
            shells[0].append(pl);
        else
            shells[1].append(pl);
    }
    return shells;
}
