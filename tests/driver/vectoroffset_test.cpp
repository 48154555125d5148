#include "params/slicerparams.h"
#include "scene/faces.h"
#include "raster/layergrid.h"
#include "driver/slicefaces.h"
#include "toolpath/stripegraph.h"
#include "toolpath/vectoroffset.h"

#include <gtest/gtest.h>
#include <QDir>
#include <cmath>
#include <limits>

namespace {

using Pt = std::pair<double, double>;

// A closed outline in mm, slicer orientation: the given points are listed
// counter-clockwise and the segments run the other way (segment.h).
Segments outline(const QVector<Pt> &ccw)
{
    Segments s;
    for (int i = 0; i < ccw.size(); i++) {
        const Pt &a = ccw[i], &b = ccw[(i + 1) % ccw.size()];
        s.append(Segment{float(b.first), float(b.second), float(a.first), float(a.second)});
    }
    return s;
}

QVector<Pt> rectPts(double x0, double y0, double x1, double y1)
{
    return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
}

Segments reversed(Segments s)
{
    for (Segment &g : s)
        g = Segment{g.x1, g.y1, g.x0, g.y0};
    return s;
}

// A 1:1 grid: raster units are mm + 10, so outlines can be compared in mm.
LayerGrid gridFor(double size)
{
    LayerGrid g = layerGrid(Extents{0, 0, float(size), float(size)}, 0.4f);
    return g;
}

Pt toMm(const PolyPoint &p, const LayerGrid &g)
{
    return {g.originX + double(p.x) * g.pitchX, g.originY + double(p.y) * g.pitchY};
}

double segDist(const Pt &p, const Pt &a, const Pt &b)
{
    const double dx = b.first - a.first, dy = b.second - a.second;
    const double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((p.first - a.first) * dx + (p.second - a.second) * dy) / len2 : 0;
    t = std::max(0.0, std::min(1.0, t));
    return std::hypot(p.first - (a.first + t * dx), p.second - (a.second + t * dy));
}

double distToRing(const Pt &p, const QVector<Pt> &ring)
{
    double best = std::numeric_limits<double>::infinity();
    for (int i = 0; i < ring.size(); i++)
        best = std::min(best, segDist(p, ring[i], ring[(i + 1) % ring.size()]));
    return best;
}

// Every vertex of `pl` lies within tol of `expected`, and every corner of
// `expected` has a vertex of `pl` within tol (so no corner is cut).
void expectOutline(const PolyLine &pl, const QVector<Pt> &expected, const LayerGrid &g, double tol)
{
    ASSERT_TRUE(pl.closed);
    for (const PolyPoint &p : pl.pts)
        EXPECT_LE(distToRing(toMm(p, g), expected), tol) << toMm(p, g).first << "," << toMm(p, g).second;
    for (const Pt &c : expected) {
        double best = std::numeric_limits<double>::infinity();
        for (const PolyPoint &p : pl.pts) {
            const Pt q = toMm(p, g);
            best = std::min(best, std::hypot(q.first - c.first, q.second - c.second));
        }
        EXPECT_LE(best, tol) << "corner " << c.first << "," << c.second << " was cut";
    }
}

SlicerParams params(int vshells)
{
    SlicerParams sp;
    sp.ExtrusionWidth = 0.4f;
    sp.VShellCnt = vshells;
    sp.VShellOffset = 0;
    sp.LoopFillOverlap = 0;
    return sp;
}

// Whether the infill plane is set at the pixel holding the mm point.
bool infillAt(const VectorOffsetResult &r, const LayerGrid &g, double x, double y)
{
    return r.infill.pixel(int((x - g.originX) / g.pitchX), int((y - g.originY) / g.pitchY));
}

// Collects the debug log while it lives.
class LogCapture {
public:
    LogCapture()
    {
        s_lines.clear();
        m_prev = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &m) { s_lines << m; });
    }
    ~LogCapture() { qInstallMessageHandler(m_prev); }
    const QStringList &lines() const { return s_lines; }

private:
    static QStringList s_lines;
    QtMessageHandler m_prev;
};
QStringList LogCapture::s_lines;

} // namespace

TEST(VectorSteps, DistancesFollowTheShellSequence)
{
    struct Case {
        int cnt, k;
        float vshellOffset;
        int overlap;
        double expected;
    };
    const Case cases[] = {
        {2, 0, 0, 0, -0.2},       {2, 1, 0, 0, -0.4},      {2, 2, 0, 0, -0.2},
        {2, 0, 0.05f, 0, -0.15},  {2, 2, 0, 3, -0.4},      {2, 1, 0.05f, 3, -0.4},
        {0, 0, 0.05f, 3, -0.35},  {1, 1, 0, -3, 0.0},      {-1, 0, 0, 0, -0.2},
    };
    for (const Case &c : cases) {
        SlicerParams sp = params(c.cnt);
        sp.VShellOffset = c.vshellOffset;
        sp.LoopFillOverlap = c.overlap;
        EXPECT_NEAR(vectorStepDistance(c.k, sp), c.expected, 1e-6) << c.cnt << " " << c.k;
    }
}

TEST(VectorOffset, SquareKeepsSharpCornersOnEveryShell)
{
    const LayerGrid g = gridFor(20);
    VectorOffsetResult r;
    vectorOffsetLayer(outline(rectPts(0, 0, 20, 20)), g, params(2), r);
    ASSERT_EQ(r.outlines.size(), 2);
    EXPECT_EQ(r.outlines[0].type, Perimeter);
    EXPECT_EQ(r.outlines[1].type, Loop);
    EXPECT_EQ(r.outlines[0].size(), 4);
    EXPECT_GT(r.outlines[0].area(), 0); // outer outlines counter-clockwise
    expectOutline(r.outlines[0], rectPts(0.2, 0.2, 19.8, 19.8), g, 0.01);
    expectOutline(r.outlines[1], rectPts(0.6, 0.6, 19.4, 19.4), g, 0.01);
    // Infill: inside the last half step (0.8 mm in), with its sharp corner.
    ASSERT_EQ(r.infill.size(), QSize(g.width, g.height));
    EXPECT_TRUE(infillAt(r, g, 10, 10));
    EXPECT_TRUE(infillAt(r, g, 0.9, 0.9));
    EXPECT_TRUE(infillAt(r, g, 19.1, 19.1));
    EXPECT_FALSE(infillAt(r, g, 0.65, 10));
    EXPECT_FALSE(infillAt(r, g, 10, 19.35));
}

TEST(VectorOffset, ZeroShellsGiveOnlyTheInfillRegion)
{
    const LayerGrid g = gridFor(20);
    VectorOffsetResult r;
    r.outlines.append(PolyLine(Loop)); // stale content is replaced
    vectorOffsetLayer(outline(rectPts(0, 0, 20, 20)), g, params(0), r);
    EXPECT_TRUE(r.outlines.isEmpty());
    EXPECT_TRUE(infillAt(r, g, 0.3, 0.3));
    EXPECT_FALSE(infillAt(r, g, 0.1, 10));
}

TEST(VectorOffset, LShapeInnerCornerIsMitred)
{
    // L: 20 x 20 with the upper right 10 x 10 cut away; the inner corner at (10, 10).
    const QVector<Pt> L{{0, 0}, {20, 0}, {20, 10}, {10, 10}, {10, 20}, {0, 20}};
    const QVector<Pt> inset{{0.2, 0.2}, {19.8, 0.2}, {19.8, 9.8}, {9.8, 9.8}, {9.8, 19.8}, {0.2, 19.8}};
    const LayerGrid g = gridFor(20);
    VectorOffsetResult r;
    vectorOffsetLayer(outline(L), g, params(1), r);
    ASSERT_EQ(r.outlines.size(), 1);
    EXPECT_EQ(r.outlines[0].size(), 6);
    expectOutline(r.outlines[0], inset, g, 0.01);
}

TEST(VectorOffset, NarrowNotchStaysMitred)
{
    // A 45-degree V notch 10 mm deep into the top of a 20 mm square (the
    // notch between two spikes of a star): the perimeter's corner at its
    // bottom is where the two sides' offset lines meet, 2.6 offsets from the
    // notch, not a cut across it.
    const double half = std::tan(22.5 * M_PI / 180) * 10;
    const QVector<Pt> shape{{0, 0}, {20, 0}, {20, 20}, {10 + half, 20}, {10, 10}, {10 - half, 20}, {0, 20}};
    const LayerGrid g = gridFor(20);
    VectorOffsetResult r;
    vectorOffsetLayer(outline(shape), g, params(1), r);
    ASSERT_EQ(r.outlines.size(), 1);
    // The notch's sides moved 0.2 mm into the material meet on its axis,
    // 0.2 / sin(22.5 deg) below the notch.
    const Pt mitre{10, 10 - 0.2 / std::sin(22.5 * M_PI / 180)};
    double best = std::numeric_limits<double>::infinity();
    for (const PolyPoint &p : r.outlines[0].pts) {
        const Pt q = toMm(p, g);
        best = std::min(best, std::hypot(q.first - mitre.first, q.second - mitre.second));
    }
    EXPECT_LE(best, 0.01);
}

TEST(VectorOffset, HoleGrowsAndRunsClockwise)
{
    Segments segs = outline(rectPts(0, 0, 20, 20));
    segs += reversed(outline(rectPts(5, 5, 15, 15)));
    const LayerGrid g = gridFor(20);
    VectorOffsetResult r;
    vectorOffsetLayer(segs, g, params(1), r);
    ASSERT_EQ(r.outlines.size(), 2);
    const PolyLine &outer = r.outlines[0].area() > 0 ? r.outlines[0] : r.outlines[1];
    const PolyLine &hole = r.outlines[0].area() > 0 ? r.outlines[1] : r.outlines[0];
    EXPECT_GT(outer.area(), 0);
    EXPECT_LT(hole.area(), 0);
    expectOutline(outer, rectPts(0.2, 0.2, 19.8, 19.8), g, 0.01);
    expectOutline(hole, rectPts(4.8, 4.8, 15.2, 15.2), g, 0.01);
    EXPECT_FALSE(infillAt(r, g, 10, 10));
    EXPECT_TRUE(infillAt(r, g, 2, 10));
}

TEST(VectorOffset, ThinIslandsVanishAndNeckedIslandsSplit)
{
    Segments segs = outline(rectPts(0, 0, 10, 10));
    segs += outline(rectPts(12, 0, 12.3, 10)); // thinner than one extrusion width
    segs += outline(rectPts(14, 2, 14.45, 2.45)); // leaves a speck of 0.05 mm
    // Two 4 x 4 blocks joined by a 0.3 mm neck: two outlines after the first step.
    segs += outline({{0, 12}, {4, 12}, {4, 13.85}, {6, 13.85}, {6, 12}, {10, 12},
                     {10, 16}, {6, 16}, {6, 14.15}, {4, 14.15}, {4, 16}, {0, 16}});
    const LayerGrid g = gridFor(20);
    VectorOffsetResult r;
    vectorOffsetLayer(segs, g, params(2), r);
    int perimeters = 0;
    for (const PolyLine &pl : r.outlines) {
        perimeters += pl.type == Perimeter;
        for (const PolyPoint &p : pl.pts)
            EXPECT_FALSE(toMm(p, g).first > 11 && toMm(p, g).first < 15) << "thin island survived";
    }
    EXPECT_EQ(perimeters, 3); // the square and the two halves
    EXPECT_FALSE(infillAt(r, g, 12.15, 5));
}

TEST(VectorOffset, BadOutlinesAreMendedWithoutFailing)
{
    const LayerGrid g = gridFor(20);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char *name;
        Segments segs;
        int perimeters;
    };
    Segments open = outline(rectPts(0, 0, 10, 10));
    open.removeLast();
    Segments noisy = outline(rectPts(0, 0, 10, 10));
    noisy += Segment{3, 3, 3, 3};           // zero length
    noisy += noisy[1];                      // a duplicate
    noisy += Segment{nan, 1, 2, 3};         // non-finite
    noisy += Segment{1e30f, 0, 0, 1e30f};   // far away
    Segments overlapping = outline(rectPts(0, 0, 10, 10));
    overlapping += outline(rectPts(5, 5, 15, 15));
    Segments touching = outline(rectPts(0, 0, 10, 10));
    touching += outline(rectPts(10, 0, 20, 10));
    Segments cornered = outline(rectPts(0, 0, 10, 10));
    cornered += outline(rectPts(10, 10, 20, 20));
    Segments gapped = outline(rectPts(0, 0, 10, 10));
    gapped[2].x0 += 0.0004f; // ends miss by less than the tolerance
    Segments lone{{1, 1, 5, 5}};
    const Case cases[] = {
        {"open", open, 1},          {"noisy", noisy, 1},   {"overlapping", overlapping, 1},
        {"touching", touching, 1},  {"gapped", gapped, 1}, {"lone segment", lone, 0},
        {"corner-touching", cornered, 2},
        {"empty", Segments(), 0},
    };
    for (const Case &c : cases) {
        VectorOffsetResult r;
        ASSERT_NO_THROW(vectorOffsetLayer(c.segs, g, params(1), r)) << c.name;
        EXPECT_EQ(r.outlines.size(), c.perimeters) << c.name;
    }
}

TEST(StripeGraphRepair, OpenChainsAreClosedAndDanglingStripesRemoved)
{
    // sgRepair: a square missing its last edge gets exactly that edge back.
    Segments open = outline(rectPts(0, 0, 10, 10));
    open.removeLast();
    StripeGraph g;
    for (const Segment &s : open)
        g.addStripe(StripePoint{qint64(s.x1 * 65536), qint64(s.y1 * 65536)},
                    StripePoint{qint64(s.x0 * 65536), qint64(s.y0 * 65536)});
    EXPECT_EQ(g.terminalJointCount(), 2);
    EXPECT_THROW(g.polys(), QString); // the ring cannot close yet
    {
        LogCapture log;
        EXPECT_EQ(g.sgRepair(), 1);
        EXPECT_EQ(log.lines(), QStringList{"StripeGraph::sgRepair(): graph repaired using 1 segs"});
    }
    EXPECT_EQ(g.terminalJointCount(), 0);
    ASSERT_EQ(g.polys().size(), 1);
    EXPECT_NEAR(g.polys()[0].area(), 100.0 * 65536 * 65536, 1e6);

    // repairJoints: a tail hanging off a ring is removed, the ring stays.
    const qint64 u = 65536;
    StripeGraph t;
    t.addStripe({0, 0}, {10 * u, 0});
    t.addStripe({10 * u, 0}, {10 * u, 10 * u});
    t.addStripe({10 * u, 10 * u}, {0, 0});
    t.addStripe({10 * u, 0}, {20 * u, 0});
    t.addStripe({20 * u, 0}, {20 * u, 5 * u});
    LogCapture log;
    t.repairJoints();
    EXPECT_EQ(log.lines(), (QStringList{" No. of joints with bad direction stripes = 1",
                                        " Removing stripes at terminal joints. cnt=2", "removing terminal joint",
                                        " No. of joints with bad direction stripes = 0"}));
    EXPECT_EQ(t.stripes.size(), 3);
    EXPECT_EQ(t.terminalJointCount(), 0);
}

TEST(StripeGraphRepair, UnmendableJointsFailAfterOneExtraPass)
{
    // J starts a ring and a stripe into C, where another ring passes and a
    // stripe leaves for F, a dead end: no stripe at J or F can be chosen.
    const qint64 u = 65536;
    const StripePoint J{0, 0}, A{u, 0}, B{0, u}, C{5 * u, 0}, D{6 * u, 0}, E{5 * u, u}, F{9 * u, 9 * u};
    StripeGraph g;
    g.addStripe(J, A);
    g.addStripe(A, B);
    g.addStripe(B, J);
    g.addStripe(J, C);
    g.addStripe(C, D);
    g.addStripe(D, E);
    g.addStripe(E, C);
    g.addStripe(C, F);
    LogCapture log;
    try {
        g.repairJoints();
        FAIL() << "no failure";
    } catch (const QString &msg) {
        EXPECT_EQ(msg, "StripeGraph::repairJoints(): Maximum no of passes reached, and there are still terminal joints.");
    }
    EXPECT_EQ(log.lines().count("dont know which stripe to remove."), 2);
    // sgRepair mends the same graph: F is joined back to J.
    StripeGraph h = g;
    EXPECT_EQ(h.sgRepair(), 1);
    EXPECT_NO_THROW(h.repairJoints());
}

TEST(VectorOffset, SlicedCubeAndBrokenMeshesSliceLayerByLayer)
{
    // Every layer of the committed meshes, broken ones included, goes through
    // without an exception; the cube's perimeter is the exact inset square.
    const QStringList files = QDir(TESSAVO_TEST_DATA "/slicer").entryList({"*.stl"}, QDir::Files) ;
    ASSERT_FALSE(files.isEmpty());
    for (const QString &name : files) {
        Faces f;
        f.importFile(TESSAVO_TEST_DATA "/slicer/" + name);
        QVector<SliceLayer> layers;
        const SliceFrame fr = SliceFaces(reinterpret_cast<const float *>(f.tris.constData()), f.count(), {}, -1000,
                                         1000, 0.2f, 0.2f, 0, 0.5f, layers);
        const LayerGrid g = layerGrid(fr.rect, 0.4f);
        SlicerParams sp = params(2);
        for (const SliceLayer &L : layers) {
            VectorOffsetResult r;
            ASSERT_NO_THROW(vectorOffsetLayer(L.segs, g, sp, r)) << qPrintable(name) << " layer " << L.index;
            for (const PolyLine &pl : r.outlines)
                EXPECT_TRUE(pl.type == Perimeter || pl.type == Loop);
            if (name == "cube.stl" && L.index == layers.size() / 2) {
                ASSERT_FALSE(r.outlines.isEmpty());
                const Extents &e = fr.rect;
                expectOutline(r.outlines[0], rectPts(e.minX + 0.2, e.minY + 0.2, e.maxX - 0.2, e.maxY - 0.2), g, 0.01);
            }
        }
    }
}

TEST(VectorOffset, FillRuleDecidesLikeTheLayerRaster)
{
    const Segments square = outline(rectPts(0, 0, 10, 10));
    const Segments twice = square + square;
    struct Case {
        int rule;
        Segments segs;
        int perimeters;
    };
    const Case cases[] = {
        {0, square, 1}, {1, square, 1},           {2, square, 1},
        {0, reversed(square), 1}, {1, reversed(square), 0}, {2, reversed(square), 1},
        {0, twice, 1},  {1, twice, 1},            {2, twice, 0},
    };
    const LayerGrid g = gridFor(20);
    for (const Case &c : cases) {
        SlicerParams sp = params(1);
        sp.PolyFillerAlg = c.rule;
        VectorOffsetResult r;
        vectorOffsetLayer(c.segs, g, sp, r);
        EXPECT_EQ(r.outlines.size(), c.perimeters) << "rule " << c.rule << " segments " << c.segs.size();
        EXPECT_EQ(infillAt(r, g, 5, 5), c.perimeters > 0) << "rule " << c.rule;
    }
}

TEST(StripeGraphRepair, ShatteredOutlineIsRejoinedNeighbourToNeighbour)
{
    // A 3000-gon whose every edge is shortened by 0.01 mm at its start: each
    // gap must be closed by its own neighbours, giving back the polygon.
    const int n = 3000;
    const double R = 30;
    QVector<Pt> ring;
    for (int i = 0; i < n; i++)
        ring.append({R * std::cos(2 * M_PI * i / n), R * std::sin(2 * M_PI * i / n)});
    Segments segs = outline(ring);
    for (Segment &s : segs) {
        const double dx = s.x1 - s.x0, dy = s.y1 - s.y0, len = std::hypot(dx, dy);
        s.x0 += float(0.01 * dx / len);
        s.y0 += float(0.01 * dy / len);
    }
    const StripeGraph g = StripeGraph::fromSegs(segs, 0);
    EXPECT_EQ(g.stripes.size(), 2 * n);
    const QVector<StripePoly> polys = g.polys();
    ASSERT_EQ(polys.size(), 1);
    const double area = polys[0].area() / (StripeGraph::kScale * StripeGraph::kScale);
    EXPECT_NEAR(area, 0.5 * n * R * R * std::sin(2 * M_PI / n), 0.01);
}
