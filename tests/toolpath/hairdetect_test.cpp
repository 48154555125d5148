#include "toolpath/hairdetect.h"

#include "fixtures/rasterfixtures.h"
#include "toolpath/shellsteps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

const float P = testGrid().widthInPixels;

// Row markers for points (x, y) of the given run width, as the row scan packs them.
HairMarkers rowMarkers(const QVector<PolyPoint> &pts, float width, int planeHeight)
{
    HairMarkers m((planeHeight + 15) / 16);
    for (const PolyPoint &q : pts) {
        const int row = int(std::floor(q.y));
        m[row >> 4].append(packThinRun(q.x + width / 2, width, row & 15));
    }
    return m;
}

PathList detect(const HairMarkers &rows, const HairConsts &c, float covered = 0)
{
    HairDetector det;
    det.p = P;
    det.consts = c;
    det.coveredWidth = covered;
    hairDetect0(det, 128, 128, HairMarkers());
    PathList hairs;
    hairDetect1(det, rows, hairs, OuterHair);
    return hairs;
}

QVector<PolyPoint> column(float x, int y0, int y1)
{
    QVector<PolyPoint> v;
    for (int y = y0; y < y1; ++y)
        v.append(PolyPoint(x, y + 0.5f));
    return v;
}

} // namespace

TEST(HairDetect, MarkerPackingRoundTrips)
{

    float w;
    const PolyPoint q = thinRunPoint(packThinRun(103.25f, 3.0f, 5), 2, &w);
    EXPECT_FLOAT_EQ(w, 3.0f);
    EXPECT_FLOAT_EQ(q.x, 101.75f);
    EXPECT_FLOAT_EQ(q.y, 37.5f);
    thinRunPoint(packThinRun(-2.5f, 100, 0), 0, &w);  // widths saturate
    EXPECT_FLOAT_EQ(w, 255.0f / 16);
}

TEST(HairDetect, LinksWindowsAndDrops)
{
    // One straight run of points one pixel apart becomes one hair.
    PathList h = detect(rowMarkers(column(40.5f, 10, 90), P, 128), HairConstsA);
    ASSERT_EQ(h.size(), 1);
    EXPECT_EQ(h[0].type, int(OuterHair));
    EXPECT_EQ(h[0].size(), 2);  // simplified to its ends
    EXPECT_NEAR(h[0].length(), 79, 0.01f);
    EXPECT_NEAR(h[0].w[0], P, 0.01f);

    // Points further apart than the link reach stay apart; two-point
    // chains are dropped.
    QVector<PolyPoint> sparse;
    for (int y = 10; y < 90; y += 3)
        sparse.append(PolyPoint(40.5f, y + 0.5f));
    EXPECT_TRUE(detect(rowMarkers(sparse, P, 128), HairConstsA).isEmpty());
    EXPECT_TRUE(detect(rowMarkers(column(40.5f, 10, 12), P, 128), HairConstsA).isEmpty());

    // Widths below the window drop the hair entirely: set A takes gaps of
    // about 0.3 - 1.5 widths on the first step, set B 0.4 - 1.3 between
    // loops. Wider runs vanished all the same and are clamped to the top.
    EXPECT_TRUE(detect(rowMarkers(column(40.5f, 10, 90), 0.5f, 128), HairConstsA).isEmpty());
    EXPECT_TRUE(detect(rowMarkers(column(40.5f, 10, 90), P, 128), HairConstsB, P).isEmpty());
    const PathList wide = detect(rowMarkers(column(40.5f, 10, 90), 6.0f, 128), HairConstsA);
    ASSERT_EQ(wide.size(), 1);
    EXPECT_NEAR(wide[0].w[0], HairConstsA.maxWidth - P, 0.01f);
    const PathList b = detect(rowMarkers(column(40.5f, 10, 90), 2 * P, 128), HairConstsB, P);
    ASSERT_EQ(b.size(), 1);
    EXPECT_NEAR(b[0].w[0], P, 0.01f);  // the gap between the loops' sides

    // A window split: a middle stretch too thin leaves two hairs.
    HairMarkers mixed = rowMarkers(column(40.5f, 10, 40), P, 128);
    const HairMarkers thin = rowMarkers(column(40.5f, 40, 60), 0.4f, 128);
    const HairMarkers tail = rowMarkers(column(40.5f, 60, 90), P, 128);
    for (int g = 0; g < mixed.size(); ++g)
        mixed[g] += thin[g] + tail[g];
    EXPECT_EQ(detect(mixed, HairConstsA).size(), 2);
}

TEST(HairDetect, SlantedWidthsAreCorrected)
{
    // A 45° wall P wide measures P·√2 along a row.
    QVector<PolyPoint> diag;
    for (int i = 10; i < 80; ++i)
        diag.append(PolyPoint(i + 0.5f, i + 0.5f));
    const PathList h = detect(rowMarkers(diag, P * std::sqrt(2.0f), 128), HairConstsA);
    ASSERT_EQ(h.size(), 1);
    for (float w : h[0].w)
        EXPECT_NEAR(w, P, 0.05f);
}

TEST(HairDetect, MaskClearsAroundTheHair)
{
    Plane8 cov = emptyCoverage(64, 64);
    cov.fill(255);
    PolyLine h(OuterHair);
    h.pts = {{10, 32}, {50, 32}};
    h.w = {P, P};
    hairMasking(cov, {h}, 3.0f);
    const float r = (P + 3.0f) / 2;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const float dx = std::max({10.0f - (x + 0.5f), 0.0f, (x + 0.5f) - 50.0f});
            const float d = std::hypot(dx, y + 0.5f - 32);
            if (d < r - 0.01f) {
                ASSERT_EQ(cov.pixel(x, y), 0) << x << "," << y;
            } else if (d > r + 0.01f) {
                ASSERT_EQ(cov.pixel(x, y), 255) << x << "," << y;
            }
        }
}

TEST(HairDetect, FittingKeepsEveryBeadInsideTheEdge)
{
    const float kSlack = 0.1f;  // the trace's error a fitted bead may keep
    Plane8 cov = emptyCoverage(128, 128);
    cov.fill(255);
    auto dir = [](float deg) { return PolyPoint(std::cos(deg * 0.0174533f), std::sin(deg * 0.0174533f)); };
    auto dot = [](PolyPoint a, PolyPoint b) { return a.x * b.x + a.y * b.y; };
    // A strip 3 pixels wide at 30 degrees (side A through c, side B 3 pixels
    // along n), and a spike with a 30 degree tip along the x axis.
    const PolyPoint c(20, 20), u = dir(30), n = dir(120);
    PolyLine strip;
    strip.closed = true;
    strip.pts = {c, c + u * 60, c + u * 60 + n * 3, c + n * 3};
    const PolyPoint tip(20, 100);
    PolyLine spike;
    spike.closed = true;
    spike.pts = {tip, tip + dir(-15) * 60, tip + dir(15) * 60};
    const struct {
        const char *what;
        const PolyLine &edge;
        float off;    // across the strip from its middle
        float scale;  // width over the true gap
        bool changed;
    } cases[] = {
        {"strip: off centre and too wide", strip, 0.6f, 1.15f, true},
        {"strip: off centre, narrow enough to fit", strip, 0.3f, 0.7f, false},
        {"strip: centred, just inside the gap", strip, 0, 0.98f, false},
        {"spike: widths too wide towards the tip", spike, 0, 1.3f, true},
    };
    for (const auto &cs : cases) {
        SCOPED_TRACE(cs.what);
        const bool isStrip = &cs.edge == &strip;
        PolyLine h(OuterHair);
        for (float t = 5; t <= 40; t += 5) {
            if (isStrip) {
                h.pts.append(c + u * t + n * (1.5f + cs.off));
                h.w.append(3 * cs.scale);
            } else {
                h.pts.append(tip + PolyPoint(t, 0));
                h.w.append(2 * t * std::tan(15 * 0.0174533f) * cs.scale);
            }
        }
        PathList hairs = {h};
        fitHairsToEdge(hairs, {cs.edge}, cov);
        ASSERT_EQ(hairs.size(), 1);
        EXPECT_EQ(hairs[0].pts != h.pts || hairs[0].w != h.w, cs.changed);
        // The ends too: a straight hair's last segments lie across like the
        // rest of it. An end is fitted across its last segment, which the
        // fit of its neighbour turned: the gap is measured a little aslant.
        ASSERT_EQ(hairs[0].size(), h.size());
        for (int i = 0; i < h.size(); ++i) {
            const PolyPoint q = hairs[0].pts[i];
            const float w = hairs[0].w[i];
            const float tol = i == 0 || i + 1 == h.size() ? 0.03f : 1e-3f;
            if (isStrip) {
                // Inside both sides but for the fit's slack, and as wide
                // as the gap (and the slack) where it was wider.
                const float a = dot(q - c, n);
                EXPECT_GE(a, w / 2 - kSlack / 2 - tol);
                EXPECT_GE(3 - a, w / 2 - kSlack / 2 - tol);
                EXPECT_NEAR(w, std::min(h.w[i], 3 + kSlack), tol);
            } else {
                // Across the axis the spike is 2 x tan(15 degrees) wide.
                EXPECT_NEAR(q.y, tip.y, tol);
                EXPECT_NEAR(w, 2 * (q.x - tip.x) * std::tan(15 * 0.0174533f) + kSlack, tol);
            }
        }
    }
    // A hair along the spike whose end bends off its axis past the tip, out
    // of the edge (a blunt traced tip): the end is pulled back along its last
    // segment until its bead, across that segment, lies within the spike.
    PolyLine bent(OuterHair);
    for (float t : {30.0f, 15.0f, 8.0f}) {
        bent.pts.append(tip + PolyPoint(t, 0));
        bent.w.append(1.6f * t * std::tan(15 * 0.0174533f));
    }
    bent.pts.append(tip + PolyPoint(-1, 1));
    bent.w.append(0.6f);
    PathList hairs = {bent};
    fitHairsToEdge(hairs, {spike}, cov);
    ASSERT_EQ(hairs.size(), 1);
    ASSERT_EQ(hairs[0].size(), 4);
    const PolyPoint a = hairs[0].pts[2], e = hairs[0].pts[3], d = e - a;
    ASSERT_GT(dot(d, d), 1.0f);
    // On the segment, short of the tip.
    EXPECT_NEAR(d.x * 1 + d.y * 9, 0, 1e-3f);
    EXPECT_GT(e.x, tip.x);
    const PolyPoint across = PolyPoint(-d.y, d.x) * (0.5f * (hairs[0].w[3] - kSlack) / std::sqrt(dot(d, d)));
    for (const PolyPoint &q : {e + across, e - across})
        EXPECT_LE(std::fabs(q.y - tip.y), (q.x - tip.x) * std::tan(15 * 0.0174533f) + 1e-3f) << q.x << "," << q.y;
}

// Islands and the fit read the region before a step as its block snapshot
// exactly as the plane itself: pins of random sizes (some cut by block
// borders, one by the plane's), a thin wall, hairs across them.
TEST(HairDetect, IslandsAndFitReadASnapshotAsThePlane)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> ux(4, 150), uy(4, 118), ur(0.5f * P, 1.6f * P);
    for (int round = 0; round < 4; ++round) {
        Plane8 before = emptyCoverage(160, 128), summary;
        HairDetector det;
        det.p = P;
        det.reset(before.width, before.height);
        PathList edge, hairs;
        for (int i = 0; i < 6; ++i) {
            const float cx = i == 0 ? 158.5f : ux(rng), cy = uy(rng), r = ur(rng);
            paintCircle(before, cx, cy, r);
            det.unlinked.append(PolyPoint(cx, cy));
            PolyLine ring;
            ring.closed = true;
            for (int k = 0; k < 24; ++k)
                ring.pts.append(PolyPoint(cx + r * std::cos(k * 0.2618f), cy + r * std::sin(k * 0.2618f)));
            edge.append(ring);
            PolyLine h(OuterHair);
            h.pts = {PolyPoint(cx - r, cy), PolyPoint(cx + r, cy + 0.3f)};
            h.w = {1.3f * r, 1.3f * r};
            if (i % 2 == 0) // the others' pins got no hair
                hairs.append(h);
        }
        paintRect(before, 40.4f, 10, 42.1f, 100);
        blockSummary8(before, summary);
        BlockSnapshot snap;
        snap.take(before, summary);
        const Plane8 after = emptyCoverage(160, 128);
        PathList fromPlane = hairs, fromSnap = hairs;
        islandDots(det, before, after, fromPlane, OuterHair);
        islandDots(det, snap, after, fromSnap, OuterHair);
        fitHairsToEdge(fromPlane, edge, before);
        fitHairsToEdge(fromSnap, edge, snap);
        ASSERT_EQ(fromSnap.size(), fromPlane.size()) << round;
        for (int i = 0; i < fromPlane.size(); ++i) {
            EXPECT_EQ(fromSnap[i].pts, fromPlane[i].pts) << round;
            EXPECT_EQ(fromSnap[i].w, fromPlane[i].w) << round;
        }
        int changed = 0;
        for (int i = 0; i < fromPlane.size(); ++i)
            changed += i >= hairs.size() || fromPlane[i].pts != hairs[i].pts;
        EXPECT_GT(changed, 0) << round << ": some pin must become a dot or its hair be fitted";
    }
}

// Thin walls in the middle of a large empty plane: with the summary the run
// scan passes over the groups of lines with no block inside and makes and
// reads each line only from its first block inside to its last; the markers
// must be the ones the full scan finds, in both passes, whatever the gap
// before the first block and whatever the line bits hold beyond.
TEST(HairDetect, RunScanSkipsEmptyLinesAndWords)
{
    for (const float x0 : {70.0f, 125.8f, 133.0f, 201.5f}) {  // 125.8: the wall ends at a word's end
        Plane8 before = emptyCoverage(320, 256);
        paintRect(before, x0, 96, x0 + 2.2f, 170);             // a wall along y
        paintRect(before, x0 + 20, 120.3f, x0 + 90, 122.1f);   // one along x
        paintCircle(before, x0 + 45, 150, 14);                 // and a round part
        Plane8 summary, after = before, afterSummary;
        blockSummary8(before, summary);
        afterSummary = summary;
        OffsetScratch s;
        offsetCoverage(after, afterSummary, 1.5f, 1.0f, s);
        // A full plane scanned just before leaves its line bits behind in
        // the words the summary's scan neither makes nor reads.
        Plane8 full = emptyCoverage(320, 256), fullAfter = emptyCoverage(320, 256);
        full.fill(255);
        for (bool columns : {false, true}) {
            HairMarkers plain, fast, unused;
            thinRunMarkers(before, after, columns, 12.0f, plain);
            thinRunMarkers(full, fullAfter, columns, 12.0f, unused);
            thinRunMarkers(before, after, columns, 12.0f, fast, &summary);
            EXPECT_EQ(fast, plain) << x0 << (columns ? " columns" : " rows");
            int n = 0;
            for (const auto &l : plain)
                n += l.size();
            EXPECT_GT(n, 0) << "each pass crosses one of the walls squarely";
        }
    }
}
