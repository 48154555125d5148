#include "geometry/fasthypot.h"
#include "geometry/polyline.h"

#include <gtest/gtest.h>
#include <random>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

PolyLine line(std::initializer_list<PolyPoint> p, bool closed = false)
{
    PolyLine l(Loop);
    for (const PolyPoint &q : p)
        l.pts.append(q);
    l.closed = closed;
    return l;
}

PolyLine numbered(int n)
{
    PolyLine l(Perimeter);
    for (int i = 0; i < n; ++i)
        l.pts.append(PolyPoint(float(i), 0));
    return l;
}

template <class F> QString thrown(F &&f)
{
    try {
        f();
    } catch (const QString &s) {
        return s;
    }
    return QString();
}

} // namespace

TEST(SegTypeNames, TableAndFactorKeys)
{
    EXPECT_STREQ(segTypeName(Perimeter), "Perimeter");
    EXPECT_STREQ(segTypeName(Travel), "Travel");
    EXPECT_STREQ(segTypeName(HShell, 1), "FILL");
    EXPECT_STREQ(segTypeName(Infill, 3), "Sparse Infill'");
    EXPECT_STREQ(segTypeName(Raft, 4), "raftPerimeter>");
    EXPECT_STREQ(segTypeName(OuterHair, 3), "Crown'");
    EXPECT_STREQ(segTypeName(Skirt, 2), "");
    EXPECT_STREQ(segTypeName(12), "");
    EXPECT_STREQ(segTypeName(1, 5), "");
    EXPECT_EQ(segTypeFromName("FILL", 1), int(HShell));
    EXPECT_EQ(segTypeFromName("Inset", 2), int(Loop));
    EXPECT_EQ(segTypeFromName("Crown", 3), -1);
    EXPECT_EQ(segTypeFromName("", 1), -1);
    EXPECT_EQ(feedFactorKey(SoftSupport), "FFactor_SoftSupport");
    EXPECT_EQ(extrusionFactorKey(InnerHair), "EFactor_InnerHair");
    EXPECT_TRUE(feedFactorKey(Travel).isEmpty());
    EXPECT_TRUE(extrusionFactorKey(Unknown).isEmpty());
}

TEST(PolyLineSmoothed, KernelsAndEnds)
{
    PolyLine two = line({{0, 0}, {4, 4}});
    EXPECT_EQ(two.smoothed(3).pts, two.pts);

    PolyLine three = line({{0, 0}, {4, 4}, {8, 0}});
    three.w = {1, 3, 1};
    PolyLine s = three.smoothed(5);
    ASSERT_EQ(s.size(), 3);
    EXPECT_EQ(s.pts[0], PolyPoint(0, 0));
    EXPECT_EQ(s.pts[1], PolyPoint(4, 2));  // 3-tap on vertex 1
    EXPECT_EQ(s.pts[2], PolyPoint(8, 0));
    EXPECT_FLOAT_EQ(s.w[1], 2.0f);

    // 5-tap in the middle, 3-tap next to the ends; inputs from the original.
    PolyLine five = line({{0, 0}, {0, 0}, {16, 0}, {0, 0}, {0, 0}});
    PolyLine f = five.smoothed(5);
    EXPECT_FLOAT_EQ(f.pts[1].x, 4.0f);
    EXPECT_FLOAT_EQ(f.pts[2].x, 6.0f);
    EXPECT_FLOAT_EQ(f.pts[3].x, 4.0f);
    EXPECT_EQ(five.smoothed(1).pts, five.pts);

    EXPECT_EQ(thrown([&] { line({{0, 0}, {1, 1}, {2, 0}}, true).smoothed(3); }),
              "PolyLine::smoothed() closed polygon smotthing not implemented.");
    EXPECT_EQ(thrown([&] { three.smoothed(2); }), "PolyLine::smoothed() invalid parameter");
}

TEST(PolyLineSplitLongSegs, ManhattanRule)
{
    EXPECT_EQ(line({{0, 0}, {3, 0}}).splitLongSegs(1.0f).pts,
              (QVector<PolyPoint>{{0, 0}, {1, 0}, {2, 0}, {3, 0}}));
    EXPECT_EQ(line({{0, 0}, {1.4f, 0}}).splitLongSegs(1.0f).pts,
              (QVector<PolyPoint>{{0, 0}, {1.4f, 0}}));
    EXPECT_EQ(line({{0, 0}, {1, 1}}).splitLongSegs(1.0f).pts,
              (QVector<PolyPoint>{{0, 0}, {0.5f, 0.5f}, {1, 1}}));
    // A zero or negative piece length must not ask for endless points.
    EXPECT_EQ(line({{0, 0}, {3, 0}}).splitLongSegs(0).size(), 2);
    EXPECT_LE(line({{0, 0}, {3000, 0}}).splitLongSegs(1e-9f).size(), (1 << 16) + 1);

    PolyLine withW = line({{0, 0}, {3, 0}});
    withW.w = {1, 1};
    EXPECT_EQ(thrown([&] { withW.splitLongSegs(1); }),
              "PolyLine::splitLongSegs handling w[] is not implemented.");
    PolyLine withH = line({{0, 0}, {3, 0}});
    withH.hairs.append(line({{0, 0}, {1, 1}}));
    EXPECT_EQ(thrown([&] { withH.splitLongSegs(1); }),
              "PolyLine::splitLongSegs handling hairs[] is not implemented.");
    EXPECT_EQ(thrown([&] { line({{0, 0}, {3, 0}, {3, 3}}, true).splitLongSegs(1); }),
              "PolyLine::splitLongSegs closed oikys not supported.");
}

TEST(PolyLineTruncate, CutsAndWalkedLength)
{
    struct Case { float len; bool reached; float walked; QVector<PolyPoint> pts; };
    const Case cases[] = {
        {5, true, 0, {{0, 0}, {5, 0}}},
        {10, true, 0, {{0, 0}, {10, 0}}},
        {15, true, 10, {{0, 0}, {10, 0}, {10, 5}}},
        {25, false, 20, {{0, 0}, {10, 0}, {10, 10}}},
        {-3, true, 0, {{0, 0}}},
    };
    for (const Case &c : cases) {
        PolyLine l = line({{0, 0}, {10, 0}, {10, 10}});
        float walked = -1;
        EXPECT_EQ(l.truncate(c.len, &walked), c.reached) << c.len;
        EXPECT_FLOAT_EQ(walked, c.walked) << c.len;
        EXPECT_EQ(l.pts, c.pts) << c.len;
    }
    PolyLine wl = line({{0, 0}, {10, 0}});
    wl.w = {2, 4};
    wl.truncate(5);
    EXPECT_EQ(wl.w, (QVector<float>{2, 3}));

    for (int n : {0, 1}) {
        PolyLine d = numbered(n);
        float walked = -1;
        EXPECT_FALSE(d.truncate(1, &walked));
        EXPECT_EQ(walked, 0.0f);
    }
    PolyLine closedSq = line({{0, 0}, {1, 0}, {1, 1}}, true);
    EXPECT_EQ(thrown([&] { closedSq.truncate(1); }),
              "PolyLine::truncate() invalid operation: closed polygon");
    EXPECT_EQ(closedSq.size(), 3);
}

TEST(PolyLineTruncate, Chain)
{
    PathList list{line({{0, 0}, {10, 0}}), line({{20, 0}, {30, 0}}), line({{40, 0}, {50, 0}}),
                  line({{60, 0}, {70, 0}})};
    float total = -1;
    EXPECT_TRUE(PolyLine::truncateChain(list, 15, 1, &total));
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].pts.last(), PolyPoint(10, 0));  // before firstIndex: untouched
    EXPECT_EQ(list[1].pts.last(), PolyPoint(30, 0));
    EXPECT_EQ(list[2].pts.last(), PolyPoint(45, 0));
    EXPECT_FLOAT_EQ(total, 10);

    PathList two{line({{0, 0}, {10, 0}}), line({{0, 0}, {10, 0}})};
    EXPECT_FALSE(PolyLine::truncateChain(two, 50, -4, &total));
    EXPECT_FLOAT_EQ(total, 20);
    EXPECT_EQ(two.size(), 2);
    EXPECT_FALSE(PolyLine::truncateChain(two, 5, 7, &total));
    EXPECT_EQ(total, 0);
}

TEST(PolyLineEdit, OpenLoopRotateReverseAppend)
{
    PolyLine sq = line({{0, 0}, {1, 0}, {1, 1}, {0, 1}}, true);
    sq.w = {1, 2, 3, 4};
    sq.openLoop();
    EXPECT_FALSE(sq.closed);
    ASSERT_EQ(sq.size(), 5);
    EXPECT_EQ(sq.pts.last(), PolyPoint(0, 0));
    EXPECT_EQ(sq.w.size(), 5);
    PolyLine empty;
    empty.closed = true;
    empty.openLoop();
    EXPECT_TRUE(empty.isEmpty());

    PolyLine abcd = line({{0, 0}, {1, 0}, {2, 0}, {3, 0}}, true);
    abcd.w = {10, 11, 12, 13};
    abcd.hairKey = 7;
    abcd.farTravelAfter = true;
    PolyLine hair = line({{9, 9}, {8, 8}});
    hair.hairKey = 1 * 2 + 1;
    abcd.hairs.append(hair);
    PolyLine f = abcd.rotatedFrom(2, false);
    EXPECT_EQ(f.pts, (QVector<PolyPoint>{{2, 0}, {3, 0}, {0, 0}, {1, 0}}));
    EXPECT_EQ(f.w, (QVector<float>{12, 13, 10, 11}));
    EXPECT_EQ(f.hairs[0].hairKey, 3 * 2 + 1);  // (4 + 1 - 2) mod 4
    EXPECT_TRUE(f.closed && f.farTravelAfter);
    EXPECT_EQ(f.hairKey, 7);
    PolyLine b = abcd.rotatedFrom(2, true);
    EXPECT_EQ(b.pts, (QVector<PolyPoint>{{2, 0}, {1, 0}, {0, 0}, {3, 0}}));
    EXPECT_EQ(b.hairs[0].hairKey, 1 * 2 + 1);  // (4 - 1 + 2) mod 4
    EXPECT_EQ(abcd.reversed().pts, (QVector<PolyPoint>{{3, 0}, {2, 0}, {1, 0}, {0, 0}}));
    EXPECT_TRUE(PolyLine().reversed().isEmpty());

    PolyLine a = line({{0, 0}, {1, 0}});
    PolyLine c = line({{1, 0}, {2, 0}});
    c.w = {5, 6};
    a.appendFrom(c, 1);
    EXPECT_EQ(a.pts, (QVector<PolyPoint>{{0, 0}, {1, 0}, {2, 0}}));
    EXPECT_EQ(a.w.size(), a.pts.size());  // widths stay parallel to points
    a.append(line({{3, 0}}));
    EXPECT_EQ(a.w.size(), a.pts.size());
    a.translate(1, -1);
    EXPECT_EQ(a.pts[0], PolyPoint(1, -1));
}

TEST(PolyLineSplice, HairsExpandIntoPaths)
{
    PolyLine parent = numbered(10);
    PolyLine hair = line({{4, 0}, {4, 5}, {4, 9}});
    hair.type = OuterHair;
    hair.hairKey = 4 * 2 + 1;
    parent.hairs.append(hair);
    PathList out;
    parent.spliceInto(out, false);
    ASSERT_EQ(out.size(), 3);
    EXPECT_EQ(out[0].size(), 5);
    EXPECT_EQ(out[0].pts.last(), PolyPoint(4, 0));
    EXPECT_EQ(out[1].pts.first(), PolyPoint(4, 9));  // reversed
    EXPECT_EQ(out[1].type, int(OuterHair));
    EXPECT_EQ(out[2].pts.first(), PolyPoint(4, 0));
    EXPECT_EQ(out[2].pts.last(), PolyPoint(9, 0));
    EXPECT_EQ(out[2].type, int(Perimeter));

    // Hairs in key order; a key at the last vertex leaves no one-point tail.
    PolyLine p2 = numbered(4);
    PolyLine h1 = line({{3, 0}, {3, 1}}), h0 = line({{0, 0}, {0, 1}});
    h1.hairKey = 3 * 2;
    h0.hairKey = 0;
    p2.hairs = {h1, h0};
    PathList out2;
    p2.spliceInto(out2, false);
    ASSERT_EQ(out2.size(), 3);
    EXPECT_EQ(out2[0].pts.first(), PolyPoint(0, 0));
    EXPECT_EQ(out2[0].pts.last(), PolyPoint(0, 1));
    EXPECT_EQ(out2[1].size(), 4);
    EXPECT_EQ(out2[2].pts.last(), PolyPoint(3, 1));

    PathList joined{numbered(2)};
    line({{5, 5}, {6, 6}}).spliceInto(joined, true);
    ASSERT_EQ(joined.size(), 1);
    EXPECT_EQ(joined[0].size(), 4);
}

TEST(PolyLineSimplify, KeepsShapeWithinTolerance)
{
    PathParams pp = PathParams::fromSmoothing(3.003f, 0.08f);
    // A traced straight edge with sub-pixel wobble collapses to its ends.
    PolyLine edge(Perimeter);
    for (int i = 0; i <= 100; ++i)
        edge.addPoint(PolyPoint(float(i), (i % 2) * 0.1f), pp);
    edge.addPoint(PolyPoint(100, 0.0f), pp);  // repeat is dropped
    edge.simplify(pp);
    EXPECT_LE(edge.size(), 10);  // each removal cuts off less than the smoothing area
    EXPECT_EQ(edge.pts.first(), PolyPoint(0, 0));
    EXPECT_EQ(edge.pts.last(), PolyPoint(100, 0));

    // A closed square traced densely keeps its corners and stays closed.
    PolyLine sq(Perimeter);
    sq.closed = true;
    for (int i = 0; i < 40; ++i) sq.addPoint(PolyPoint(float(i), 0), pp);
    for (int i = 0; i < 40; ++i) sq.addPoint(PolyPoint(40, float(i)), pp);
    for (int i = 0; i < 40; ++i) sq.addPoint(PolyPoint(40.0f - i, 40), pp);
    for (int i = 0; i < 40; ++i) sq.addPoint(PolyPoint(0, 40.0f - i), pp);
    const float area = sq.area();
    sq.simplify(pp);
    EXPECT_TRUE(sq.closed);
    EXPECT_EQ(sq.size(), 4);
    EXPECT_NEAR(sq.area(), area, 0.01f);

    // A smooth circle: no traced point ends up far from the result.
    PolyLine circ(Loop);
    circ.closed = true;
    for (int i = 0; i < 400; ++i) {
        const float a = float(i) * 6.2831853f / 400;
        circ.addPoint(PolyPoint(50 * std::cos(a), 50 * std::sin(a)), pp);
    }
    PolyLine orig = circ;
    circ.simplify(pp);
    EXPECT_LT(circ.size(), 200);
    EXPECT_GE(circ.size(), 3);
    for (const PolyPoint &q : orig.pts) {
        float best = 1e9f;
        for (int i = 0; i < circ.size(); ++i) {
            const PolyPoint a = circ.pts[i], b = circ.pts[(i + 1) % circ.size()];
            const float dx = b.x - a.x, dy = b.y - a.y;
            const float t = std::clamp(((q.x - a.x) * dx + (q.y - a.y) * dy) / (dx * dx + dy * dy), 0.f, 1.f);
            best = std::min(best, std::hypot(a.x + t * dx - q.x, a.y + t * dy - q.y));
        }
        ASSERT_LE(best, pp.maxDeviation + 1e-4f);
    }
    // Chords lie inside a convex outline: the wall moves in by the area lost
    // per length. Hundredths of a pixel may go, not a tenth: a wall's whole
    // tolerance is about a sixth of a pixel.
    for (float r : {12.0f, 25.0f, 50.0f, 150.0f}) {
        PolyLine c(Loop);
        c.closed = true;
        const int n = int(r * 8);
        for (int i = 0; i < n; ++i) {
            const float a = float(i) * 6.2831853f / n;
            c.addPoint(PolyPoint(r * std::cos(a), r * std::sin(a)), pp);
        }
        const float before = c.area();
        c.simplify(pp);
        const float inward = (before - c.area()) / (6.2831853f * r);
        EXPECT_GE(inward, 0.0f) << r;
        EXPECT_LT(inward, 0.07f) << r;
    }

    // Degenerate inputs: nothing to remove, nothing breaks.
    for (int n : {0, 1, 2}) {
        PolyLine d = numbered(n);
        d.closed = true;
        d.simplify(pp);
        EXPECT_EQ(d.size(), n);
    }
    PolyLine rep = line({{1, 1}, {1, 1}, {1, 1}}, true);
    rep.simplify(pp);
    EXPECT_EQ(rep.size(), 1);
}

// The fast queue (a bit set for zero-area candidates, an indexed heap whose
// keys move in place) must remove exactly what the single lazy heap
// removes: traced staircases and straight runs (many exact zeros, ties by
// index), spikes back along a run, a wobbly circle, slanted edges with
// crossings jittered as a trace leaves them (keys that grow and shrink as
// neighbours go), repeated points, open and closed, with widths, at the
// perimeter's tight deviation and the loops' default.
TEST(PolyLineSimplify, ZeroAreaQueueMatchesTheSingleHeap)
{
    std::mt19937 rng(12);
    std::vector<PolyLine> shapes;
    for (int s = 0; s < 24; ++s) {
        PolyLine pl(Loop);
        pl.closed = s % 2 == 0;
        PolyPoint at(0, 0);
        std::uniform_int_distribution<int> run(1, 30), dir(0, 3);
        for (int leg = 0; leg < 12; ++leg) {
            const int d = dir(rng), len = run(rng);
            const PolyPoint step = d == 0 ? PolyPoint(1, 0) : d == 1 ? PolyPoint(0, 1)
                                   : d == 2 ? PolyPoint(-1, 0) : PolyPoint(0.5f, 0.5f);
            for (int i = 0; i < len; ++i) {
                at = at + step;
                pl.pts.append(at);
            }
            if (s % 3 == 0) { // short spikes back along the run, then on
                pl.pts.append(at - step * 0.25f);
                pl.pts.append(at + step * 0.5f);
                pl.pts.append(at + step * 0.25f);
            }
        }
        if (s % 4 == 1)
            for (int i = 0; i < pl.size(); ++i)
                pl.w.append(2.0f + float(i % 3));
        shapes.push_back(pl);
    }
    PolyLine circ(Loop);
    circ.closed = true;
    for (int i = 0; i < 500; ++i) {
        const float a = float(i) * 6.2831853f / 500;
        circ.pts.append(PolyPoint(std::round(60 * std::cos(a) * 4) / 4, std::round(60 * std::sin(a) * 4) / 4));
    }
    shapes.push_back(circ);
    std::uniform_real_distribution<float> jitter(-0.02f, 0.02f);
    for (int s = 0; s < 8; ++s) {
        PolyLine slant(Loop);
        slant.closed = s % 2 == 0;
        const float corners[5][2] = {{0, 0}, {90, 17 + 3.0f * s}, {75, 80}, {-8, 61}, {0, 0}};
        for (int c = 0; c < 4; ++c) {
            const float x0 = corners[c][0], y0 = corners[c][1], x1 = corners[c + 1][0], y1 = corners[c + 1][1];
            const int steps = int(std::max(std::fabs(x1 - x0), std::fabs(y1 - y0)) * 1.4f);
            for (int i = 0; i < steps; ++i) {
                const float t = float(i) / steps;
                PolyPoint q(x0 + t * (x1 - x0) + jitter(rng), y0 + t * (y1 - y0) + jitter(rng));
                slant.pts.append(q);
                if (i % 37 == 5)
                    slant.pts.append(q);  // a repeat
            }
        }
        if (s % 4 == 3)
            slant.pts.append(slant.pts.first());  // closing repeat
        if (s % 3 == 1)
            for (int i = 0; i < slant.size(); ++i)
                slant.w.append(1.5f + float(i % 2));
        shapes.push_back(slant);
    }
    PathParams tight = PathParams::fromSmoothing(3.003f, 0.08f);
    tight.maxDeviation = 0.03f;
    for (const PathParams &pp : {PathParams::fromSmoothing(3.003f, 0.08f), tight})
        for (const PolyLine &shape : shapes) {
            PolyLine fast = shape, ref = shape;
            fast.simplify(pp);
            ref.simplifyOneHeap(pp);
            EXPECT_EQ(fast.pts, ref.pts) << shape.size() << " points, closed " << shape.closed;
            EXPECT_EQ(fast.w, ref.w);
        }
}

TEST(PolyLineSimplify, HairPassRepeatsWhileItShrinks)
{
    PolyLine h(OuterHair);
    for (int i = 0; i < 50; ++i) {
        h.pts.append(PolyPoint(float(i), std::sin(float(i)) * 0.5f));
        h.w.append(3.0f);
    }
    h.pts.append(PolyPoint(50, 20));
    h.w.append(4.0f);
    h.simplifyRepeated(1.2f);
    EXPECT_LT(h.size(), 6);
    EXPECT_EQ(h.w.size(), h.pts.size());
    EXPECT_EQ(h.pts.last(), PolyPoint(50, 20));
    EXPECT_EQ(h.w.last(), 4.0f);

    // A straight hair narrowing at both ends keeps its middle width.
    PolyLine t(InnerHair);
    for (int i = 0; i <= 60; ++i) {
        t.pts.append(PolyPoint(10, float(i)));
        t.w.append(std::min({3.0f, 1.0f + i * 0.5f, 1.0f + (60 - i) * 0.5f}));
    }
    t.simplifyRepeated(1.2f);
    EXPECT_LT(t.size(), 12);
    for (float y : {10.0f, 30.0f, 50.0f})
        for (int i = 0; i + 1 < t.size(); ++i)
            if (t.pts[i].y <= y && t.pts[i + 1].y > y) {
                const float f = (y - t.pts[i].y) / (t.pts[i + 1].y - t.pts[i].y);
                EXPECT_NEAR(t.w[i] + f * (t.w[i + 1] - t.w[i]), 3.0f, 0.3f) << y;
            }
}

// fastHypot stands in for std::hypot wherever a length is measured: it must
// give the same float, including the last bit, on every kind of argument
// (pixel-sized differences, huge and tiny magnitudes, subnormals, zeros of
// both signs, infinities and NaNs).
TEST(FastHypot, SameFloatAsTheLibrary)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-150, 127);
    std::uniform_int_distribution<std::uint32_t> anyBits;
    auto same = [](float a, float b) {
        std::uint32_t ua, ub;
        std::memcpy(&ua, &a, 4);
        std::memcpy(&ub, &b, 4);
        return ua == ub || (std::isnan(a) && std::isnan(b));
    };
    for (int i = 0; i < 3000000; ++i) {
        float x, y;
        switch (i % 3) {
        case 0:  // the outline's scale: differences of pixel coordinates
            x = unit(rng) * 8.0f;
            y = unit(rng) * 8.0f;
            break;
        case 1:  // any magnitude, both arguments near or far apart
            x = std::ldexp(unit(rng), exponent(rng));
            y = std::ldexp(unit(rng), i % 2 ? exponent(rng) : std::ilogb(x) + 1);
            break;
        default: {  // any bit pattern
            const std::uint32_t bx = anyBits(rng), by = anyBits(rng);
            std::memcpy(&x, &bx, 4);
            std::memcpy(&y, &by, 4);
        }
        }
        ASSERT_TRUE(same(fastHypot(x, y), std::hypot(x, y))) << x << " " << y;
    }
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    const float special[] = {0.0f, -0.0f, 1.0f, -3.0f, 1e-45f, 1.17549e-38f, 3.40282e38f, -3.40282e38f, inf, -inf, nan};
    for (float x : special)
        for (float y : special)
            EXPECT_TRUE(same(fastHypot(x, y), std::hypot(x, y))) << x << " " << y;
}

// The hair simplifier's four-lane pass against its one-by-one twin: wavy and
// straight hairs at any slant, widths that ramp, step and jitter (and none),
// a zero-length chord (repeated points), tolerances from tight to loose.
TEST(PolyLineSimplify, HairPassMatchesItsTwin)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    int dropped = 0;
    for (int s = 0; s < 300; ++s) {
        PolyLine h(s % 2 ? OuterHair : InnerHair);
        const int n = 3 + s % 90;
        const float ang = u(rng) * 6.2832f, wave = s % 3 == 0 ? 0.0f : u(rng) * 1.5f;
        PolyPoint at(u(rng) * 400, u(rng) * 400);
        for (int i = 0; i < n; ++i) {
            const float along = 0.8f + u(rng) * 0.6f, side = wave * std::sin(i * 0.3f) + (u(rng) - 0.5f) * 0.2f;
            at = at + PolyPoint(std::cos(ang), std::sin(ang)) * along;
            h.pts.append(at + PolyPoint(-std::sin(ang), std::cos(ang)) * side);
            if (s % 11 == 4 && i % 9 == 2)
                h.pts.append(h.pts.last());  // a repeat: the chord from it has no length
        }
        if (s % 4 != 0)
            for (int i = 0; i < h.size(); ++i)
                h.w.append(s % 4 == 1 ? 2.5f + 0.02f * i : s % 4 == 2 ? (i < h.size() / 2 ? 2.0f : 3.0f) : 2.0f + u(rng) * 0.7f);
        for (const float tol : {0.05f, 0.4f, 1.2f}) {
            PolyLine fast = h, ref = h;
            fast.simplifyPass(tol);
            ref.simplifyPassScalar(tol);
            ASSERT_EQ(fast.pts, ref.pts) << "hair " << s << " tolerance " << tol;
            ASSERT_EQ(fast.w, ref.w);
            dropped += h.size() - fast.size();
        }
    }
    // Distances and width offsets landing exactly on the tolerances (all
    // exact in binary): on them a vertex still goes.
    PolyLine edge(InnerHair);
    for (int i = 0; i < 40; ++i) {
        edge.pts.append(PolyPoint(float(i), i % 4 == 1 ? 0.5f : 0.0f));
        edge.w.append(i % 3 == 1 ? 2.25f : 2.0f);
    }
    for (const float wtol : {0.25f, 0.125f}) {
        PolyLine fast = edge, ref = edge;
        fast.simplifyPass(0.5f, wtol);
        ref.simplifyPassScalar(0.5f, wtol);
        EXPECT_EQ(fast.pts, ref.pts) << wtol;
        EXPECT_EQ(fast.w, ref.w);
        dropped += edge.size() - fast.size();
    }
    EXPECT_GT(dropped, 5000);
}
