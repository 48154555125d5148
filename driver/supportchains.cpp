#include "driver/supportchains.h"

#include <algorithm>
#include <cmath>

PathList supportChains(const Segments &segs, float originX, float originY, float pitchX,
                       float pitchY, float minBarWidth)
{
    Segments canon;
    canon.reserve(segs.size());
    for (Segment s : segs) {
        if (!std::isfinite(s.x0) || !std::isfinite(s.y0) || !std::isfinite(s.x1) || !std::isfinite(s.y1))
            continue;
        if (s.x1 < s.x0 || (s.x1 == s.x0 && s.y1 < s.y0))
            s = Segment{s.x1, s.y1, s.x0, s.y0};
        canon.append(s);
    }
    // Stable: equal start x keeps cutting order, so chains never depend on
    // anything but the segment list.
    std::stable_sort(canon.begin(), canon.end(),
                     [](const Segment &a, const Segment &b) { return a.x0 < b.x0; });

    const float reach = 1.9f * minBarWidth / pitchX;
    PathList chains;
    for (const Segment &s : canon) {
        const PolyPoint a((s.x0 - originX) / pitchX, (s.y0 - originY) / pitchY);
        const PolyPoint b((s.x1 - originX) / pitchX, (s.y1 - originY) / pitchY);
        int target = -1;
        if (s.x0 != s.x1) {
            for (int c = chains.size() - 1; c >= 0; --c) {
                const PolyPoint last = chains[c].pts.constLast();
                if (std::fabs(a.x - last.x) + 2 * std::fabs(a.y - last.y) < reach) {
                    target = c;
                    break;
                }
            }
        }
        if (target < 0) {
            chains.append(PolyLine(Support));
            target = chains.size() - 1;
        }
        QVector<PolyPoint> &pts = chains[target].pts;
        if (pts.isEmpty() || pts.constLast() != a)
            pts.append(a);
        pts.append(b);
    }
    return chains;
}
