// Notch tips put back on a traced edge; everything else left as traced.
#include "toolpath/edgecorners.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace {

// A 20 x 20 block (material left of the outline) with a cut down from its
// top between x = 10 + hw and 10 - hw through the vertices `bottom`.
PolyLine block(float hw, const QVector<PolyPoint> &bottom)
{
    PolyLine pl;
    pl.closed = true;
    pl.pts = {{0, 0}, {20, 0}, {20, 20}, {10 + hw, 20}};
    pl.pts += bottom;
    pl.pts += QVector<PolyPoint>{{10 - hw, 20}, {0, 20}};
    return pl;
}

// The block with a V notch down to `tip`, the tip cut off by `cut`
// (vertices that replace it).
PolyLine notched(PolyPoint tip, const QVector<PolyPoint> &cut, float hw = 2)
{
    return block(hw, cut.isEmpty() ? QVector<PolyPoint>{tip} : cut);
}

// The point `d` from the tip towards the notch's side at `side`.
PolyPoint along(PolyPoint tip, PolyPoint side, float d)
{
    const PolyPoint v = side - tip;
    return tip + v * (d / std::hypot(v.x, v.y));
}

float distToLoop(PolyPoint q, const PolyLine &pl)
{
    float best = 1e9f;
    const int n = pl.pts.size();
    for (int i = 0; i < n; ++i) {
        const PolyPoint a = pl.pts[i], b = pl.pts[(i + 1) % n], ab = b - a;
        const float t = std::clamp(((q.x - a.x) * ab.x + (q.y - a.y) * ab.y) / (ab.x * ab.x + ab.y * ab.y), 0.0f, 1.0f);
        best = std::min(best, std::hypot(q.x - a.x - t * ab.x, q.y - a.y - t * ab.y));
    }
    return best;
}

} // namespace

TEST(SharpenCorners, RestoresSharpNotchTipsOnly)
{
    struct Case {
        std::string what;
        PolyPoint tip;
        float hw;         // the notch's half width at the top
        int cutVertices;  // 0: the tip as it is
        bool restored;
    };
    const Case cases[] = {
        {"notch turning 127 degrees, cut by two vertices", {10, 16}, 2, 2, true},
        {"the same cut by three (one off both sides)", {10, 16}, 2, 3, true},
        {"notch turning 90 degrees with long sides (mild: left as traced)", {10, 16}, 4, 3, false},
        {"the same cut by five, off its sides for 1.8 pixels, 0.7 short", {10, 16}, 2, 5, true},
        {"sharp tip already there", {10, 16}, 2, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QVector<PolyPoint> cut;
        const PolyPoint rs(10 + c.hw, 20), ls(10 - c.hw, 20);
        const PolyPoint r = along(c.tip, rs, 0.6f), l = along(c.tip, ls, 0.6f);
        if (c.cutVertices == 2)
            cut = {r, l};
        else if (c.cutVertices == 3)
            cut = {r, PolyPoint(c.tip.x, c.tip.y + 0.4f), l};
        else if (c.cutVertices == 5)
            cut = {along(c.tip, rs, 1.8f), along(c.tip, rs, 0.9f) + PolyPoint(-0.2f, 0),
                   PolyPoint(c.tip.x, c.tip.y + 0.7f), along(c.tip, ls, 0.9f) + PolyPoint(0.2f, 0),
                   along(c.tip, ls, 1.8f)};
        const PolyLine truth = notched(c.tip, {}, c.hw);
        PolyLine pl = notched(c.tip, cut, c.hw);
        const PolyLine traced = pl;
        sharpenCorners(pl);
        if (!c.restored) {
            EXPECT_EQ(pl.pts, traced.pts);
            continue;
        }
        // The tip is a vertex again, and every vertex lies on the true edge.
        const bool hasTip = std::any_of(pl.pts.begin(), pl.pts.end(), [&](PolyPoint v) {
            return std::hypot(v.x - c.tip.x, v.y - c.tip.y) < 1e-3f;
        });
        EXPECT_TRUE(hasTip);
        for (const PolyPoint &v : pl.pts)
            EXPECT_LT(distToLoop(v, truth), 1e-3f) << v.x << "," << v.y;
    }

    // The end of a slot 3.3 pixels wide, both corners cut: the end between
    // them is too short a run for a lone corner, and both come back.
    {
        const PolyLine truth = block(1.65f, {{11.65f, 10}, {8.35f, 10}});
        PolyLine pl = block(1.65f, {{11.65f, 10.6f}, {11.05f, 10}, {8.95f, 10}, {8.35f, 10.6f}});
        sharpenCorners(pl);
        for (const PolyPoint corner : {PolyPoint(11.65f, 10), PolyPoint(8.35f, 10)})
            EXPECT_TRUE(pl.pts.contains(corner)) << corner.x;
        for (const PolyPoint &v : pl.pts)
            EXPECT_LT(distToLoop(v, truth), 1e-3f) << v.x << "," << v.y;
    }

    // The end of a slot 2.25 pixels wide: every crossing round it but the
    // middle one lies in a corner pixel; the end is squared off through it.
    {
        const PolyLine truth = block(1.125f, {{11.125f, 10}, {8.875f, 10}});
        PolyLine pl = block(1.125f, {{11.125f, 10.5f}, {10.9f, 10.25f}, {10, 10}, {9.1f, 10.3f}, {8.875f, 10.5f}});
        sharpenCorners(pl);
        for (const PolyPoint corner : {PolyPoint(11.125f, 10), PolyPoint(8.875f, 10)})
            EXPECT_TRUE(std::any_of(pl.pts.begin(), pl.pts.end(), [&](PolyPoint v) {
                return std::hypot(v.x - corner.x, v.y - corner.y) < 1e-4f;
            })) << corner.x;
        for (const PolyPoint &v : pl.pts)
            EXPECT_LT(distToLoop(v, truth), 1e-3f) << v.x << "," << v.y;
    }

    // Turned round, the notch is a spike (a convex corner): left alone; so
    // is a round hole traced as short chords.
    PolyLine spike = notched({10, 16}, {along({10, 16}, {12, 20}, 0.6f), PolyPoint(10, 16.4f), along({10, 16}, {8, 20}, 0.6f)});
    std::reverse(spike.pts.begin(), spike.pts.end());
    PolyLine circle;
    circle.closed = true;
    for (int i = 0; i < 60; ++i)
        circle.pts.append(PolyPoint(30 + 9 * std::cos(-i * 0.10472f), 30 + 9 * std::sin(-i * 0.10472f)));
    for (PolyLine pl : {spike, circle}) {
        const PolyLine before = pl;
        sharpenCorners(pl);
        EXPECT_EQ(pl.pts, before.pts);
    }
}
