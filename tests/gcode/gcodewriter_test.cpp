#include "gcode/gcodewriter.h"
#include "gcode/paramcheck.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <random>

#include <QFile>
#include <QList>

#include <cmath>
#include <functional>
#include <limits>

namespace {

// The worked example's parameters.
SlicerParams exampleParams()
{
    SlicerParams sp;
    sp.ExtrusionWidth = 0.4f;
    sp.LayerHeight = 0.2f;
    sp.FirstLayerHeight = 0.3f;
    sp.ZAdjust = 0;
    sp.FilamentDiameter = 1.75f;
    sp.ExtruderSpeedRatio = 100;
    sp.DrawSpeed = 50;
    sp.TravelSpeed = 150;
    sp.VerticalSpeed = 10;
    sp.RetractSpeed = 40;
    sp.TravelRetract = 1;
    sp.TravelPrime = 1;
    sp.TravelHeight = 0.5f;
    sp.TravelMinDist = 2;
    sp.WipeLength = 0;
    sp.FanEnable = false;
    sp.InitialLayerCnt = 0;
    sp.MinLayerTime = 0;
    return sp;
}

// Half a millimetre per raster unit; with the default build volume (machine
// Y runs against world y) raster (px, py) lands on machine (px / 2, 20 - py / 2).
LayerGrid exampleGrid()
{
    LayerGrid g;
    g.pitchX = 0.5f;
    g.pitchY = 0.5f;
    g.originX = -125;
    g.originY = 80;
    return g;
}

// Raster point of machine point (X, Y) in exampleGrid.
PolyPoint at(float X, float Y)
{
    return {(X - 125 + 125) * 2, (100 - Y - 80) * 2};
}

PolyLine path(int type, std::initializer_list<PolyPoint> machinePts)
{
    PolyLine p(type);
    for (const PolyPoint &m : machinePts)
        p.pts.append(at(m.x, m.y));
    return p;
}

PolyLine square(int type = Perimeter)
{
    return path(type, {{10, 10}, {20, 10}, {20, 20}, {10, 20}, {10, 10}});
}

// Layer i at the print height the slicer records for it.
QByteArray layer(const SlicerParams &sp, int i, const PathList &paths, float zr = 0)
{
    return writeLayerGCode(sp, i, sp.LayerHeight * float(i) + sp.FirstLayerHeight, paths,
                           exampleGrid(), BuildVolume(), zr);
}

QList<QByteArray> lines(const QByteArray &text)
{
    QList<QByteArray> l = text.split('\n');
    if (!l.isEmpty() && l.last().isEmpty())
        l.removeLast();
    for (QByteArray &s : l)
        s.chop(1); // the CR
    return l;
}

// Feed of the first G1 line.
int firstDrawFeed(const QByteArray &text)
{
    for (const QByteArray &l : lines(text))
        if (l.startsWith("G1 F"))
            return l.mid(4, l.indexOf(' ', 4) - 4).toInt();
    return -1;
}

} // namespace

TEST(GCodeWriter, WorkedExampleIsByteExact)
{
    QFile f(QStringLiteral(TESSAVO_TEST_DATA) + "/gcodeout/worked_example.gcode");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray golden = f.readAll();
    EXPECT_EQ(layer(exampleParams(), 1, {square()}), golden);
}

TEST(GCodeWriter, NumberFormats)
{
    const struct {
        float v;
        const char *text;
    } cases[] = {{12.5f, "12.500"}, {0.0004f, "0.000"}, {-0.25f, "-0.250"}, {0.0005f, "0.001"},
                 {-0.0004f, "0.000"}, {1234.5678f, "1234.568"}, {-3.0f, "-3.000"},
                 {1000000.0f, "1000000.000"}, {-987654.3f, "-987654.336"}, {0.0995f, "0.100"}};
    for (const auto &c : cases)
        EXPECT_EQ(formatFixed3(c.v), QByteArray(c.text)) << c.v;
    // Non-finite values never reach the writer (validateParams); they must
    // still not be undefined behaviour.
    EXPECT_EQ(formatFixed3(std::numeric_limits<float>::quiet_NaN()), QByteArray("0.000"));
    EXPECT_FALSE(formatFixed3(1e30f).isEmpty());
    // The composed digits against the text QByteArray::number gives the same
    // rounded integer, over magnitudes from thousandths to the clamp.
    auto reference = [](float v) {
        float r = std::floor(v * 1000.0f + 0.5f);
        r = r == r ? std::clamp(r, -9.0e18f, 9.0e18f) : 0;
        qint64 n = qint64(r);
        QByteArray s = n < 0 ? "-" : "";
        n = n < 0 ? -n : n;
        const int frac = int(n % 1000);
        return s + QByteArray::number(n / 1000) + "." + char('0' + frac / 100) + char('0' + frac / 10 % 10)
               + char('0' + frac % 10);
    };
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; ++i) {
        const float mag = std::pow(10.0f, float(int(rng() % 22)) - 4);
        const float v = (float(rng() % 2000001) / 1000000.0f - 1.0f) * mag;
        ASSERT_EQ(formatFixed3(v), reference(v)) << v;
    }
    for (float v : {0.0f, -0.0f, 1e30f, -1e30f, std::numeric_limits<float>::infinity(),
                    -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()})
        EXPECT_EQ(formatFixed3(v), reference(v)) << v;
}

TEST(GCodeWriter, EmptyLayerIsEmpty)
{
    EXPECT_TRUE(layer(exampleParams(), 3, {}).isEmpty());
}

TEST(GCodeWriter, FanRamp)
{
    SlicerParams sp = exampleParams();
    sp.FanEnable = true;
    sp.FanFirstLayer = 0;
    sp.FanSecondLayer = 100;
    sp.FanNthLayer = 255;
    sp.FanN = 5;
    const char *expected[] = {"M106 S0", "M106 S100", "M106 S139", "M106 S178",
                              "M106 S216", "M106 S255", "M106 S255"};
    for (int i = 0; i < 7; ++i) {
        const QList<QByteArray> l = lines(layer(sp, i, {square()}));
        ASSERT_GT(l.size(), 6);
        EXPECT_EQ(l[6], QByteArray(expected[i])) << "layer " << i;
    }
    sp.FanFirstLayer = 7;
    EXPECT_EQ(lines(layer(sp, 0, {square()}))[6], QByteArray("M106 S7"));
    sp.FanFirstLayer = -4; // below 1 prints as off
    EXPECT_EQ(lines(layer(sp, 0, {square()}))[6], QByteArray("M106 S0"));
    // FanNthLayer - FanSecondLayer overflowed int and ramped the wrong way.
    sp.FanSecondLayer = -2000000000;
    sp.FanNthLayer = 2000000000;
    EXPECT_EQ(lines(layer(sp, 4, {square()}))[6], QByteArray("M106 S1000000000"));
}

TEST(GCodeWriter, InitialLayerSpeedAndFirstLayer)
{
    SlicerParams sp = exampleParams();
    sp.InitialLayerCnt = 4;
    sp.InitialLayerSpeed = 0.5f;
    sp.FirstLayerDrawSpeed = 20;
    // layer: expected G1 feed (DrawSpeed 50 -> 3000 mm/min; first layer 1200)
    const int expected[][2] = {{0, 600}, {1, 1875}, {2, 2250}, {4, 3000}, {9, 3000}};
    for (const auto &e : expected)
        EXPECT_EQ(firstDrawFeed(layer(sp, e[0], {square()})), e[1]) << "layer " << e[0];
    // A layer printed on a raft is not a first layer: normal draw speed.
    EXPECT_EQ(firstDrawFeed(layer(sp, 0, {square()}, 0.5f)), 1500);
    EXPECT_FLOAT_EQ(initialLayerSpeedFactor(sp, 2), 0.75f);
}

TEST(GCodeWriter, LayerZAndFirstLayerHeight)
{
    SlicerParams sp = exampleParams();
    sp.TravelHeight = 0;
    sp.ZAdjust = 0.05f;
    // z = the layer's print height + zr + ZAdjust, lowered once.
    EXPECT_TRUE(layer(sp, 3, {square()}).contains("G0 F600 Z0.950\r\n"));
    EXPECT_TRUE(layer(sp, 0, {square()}, 1.0f).contains("G0 F600 Z1.350\r\n"));
    // The height is the caller's, not one made up from the index.
    const QByteArray given = writeLayerGCode(sp, 3, 2.5f, {square()}, exampleGrid(), BuildVolume(), 0.25f);
    EXPECT_TRUE(given.contains("G0 F600 Z2.800\r\n")) << given.constData();
    // First layer extrudes for its own height: 0.3 / 0.2 of layer 1.
    const QByteArray l0 = layer(sp, 0, {square()});
    EXPECT_TRUE(l0.contains("E0.499\r\n")) << l0.constData();
}

TEST(GCodeWriter, HeaderTemperatures)
{
    SlicerParams sp;
    sp.GCodeHeader = "G28";
    sp.HeadTemp = 215;
    const struct {
        bool bedOn;
        int bed;
        bool headOn;
        const char *text;
    } cases[] = {
        {true, 110, true,
         "G28\r\nM190 S60 ;set and wait bed temperature\r\nM140 S110 ;set bed temperature"
         "\r\nM109 S215 ;set and wait head temperature"},
        {true, 60, false, "G28\r\nM190 S60 ;set and wait bed temperature"},
        {true, 45, false, "G28\r\nM190 S45 ;set and wait bed temperature"},
        {false, 110, true, "G28\r\nM109 S215 ;set and wait head temperature"},
        {false, 110, false, "G28"},
    };
    for (const auto &c : cases) {
        sp.BedTempEnabled = c.bedOn;
        sp.BedTemp = c.bed;
        sp.HeadTempEnabled = c.headOn;
        EXPECT_EQ(gcodeHeaderBlock(sp, QByteArray()), QByteArray(c.text)) << c.bed;
    }
    EXPECT_EQ(gcodeHeaderBlock(sp, "RAFT\r\n"), QByteArray("G28\r\nRAFT\r\n"));
}

TEST(GCodeWriter, FooterCarriesTheParameterSet)
{
    SlicerParams sp;
    sp.GCodeFooter = "M84\n";
    sp.DrawSpeed = 42.5f;
    const QByteArray footer = gcodeFooterBlock(sp);
    const QByteArray start = "M84\r\n\r\nM104 S0 ;turn off head heater\r\nM140 S0 ;turn off bed heater"
                             "\r\nM106 S0\r\n;Tessavo_Settings=";
    ASSERT_TRUE(footer.startsWith(start)) << footer.left(200).constData();
    const QByteArray b64 = footer.mid(start.size());
    const QByteArray packed = QByteArray::fromBase64(b64);
    // qCompress: 4-byte big-endian length, then a zlib stream.
    const QByteArray json = sp.toText();
    ASSERT_GE(packed.size(), 4);
    EXPECT_EQ((uchar(packed[0]) << 24 | uchar(packed[1]) << 16 | uchar(packed[2]) << 8 | uchar(packed[3])),
              json.size());
    EXPECT_EQ(qUncompress(packed), json);
    SlicerParams back;
    back.fromText(qUncompress(packed));
    EXPECT_EQ(back, sp);

    sp.HeadTempEnabled = sp.BedTempEnabled = sp.FanEnable = false;
    EXPECT_TRUE(gcodeFooterBlock(sp).startsWith("M84\r\n\r\n;Tessavo_Settings="));
}

TEST(GCodeWriter, LineEndNormalisation)
{
    const struct {
        const char *in, *out;
    } cases[] = {{"a\rb", "a\r\nb"},     {"a\r\nb", "a\r\nb"}, {"a\nb", "a\r\nb"},
                 {"a\r\r\nb\r", "a\r\nb"}, {"", ""},           {"a\n\nb\n", "a\r\n\r\nb\r\n"}};
    for (const auto &c : cases)
        EXPECT_EQ(normalizeLineEnds(c.in), QByteArray(c.out)) << c.in;
}

TEST(GCodeWriter, FileAssembly)
{
    SlicerParams sp;
    sp.GCodeHeader = "H";
    sp.GCodeFooter = "F";
    sp.BedTempEnabled = sp.HeadTempEnabled = sp.FanEnable = false;
    const QByteArray all = assembleGCode(sp, QByteArray(), {"L0\r\n", "L1\r\n"});
    const QByteArray footer = gcodeFooterBlock(sp);
    EXPECT_EQ(all, "; GCode generated by Tessavo\r\nH\r\nL0\r\nL1\r\n\r\n" + footer + "\r\n");
}

TEST(GCodeWriter, NearAndFarTravel)
{
    SlicerParams sp = exampleParams();
    sp.TravelHeight = 0;
    // Two Loop paths 0.04 mm apart: no wipe, no far flag -> nothing between.
    PolyLine a = path(Loop, {{10, 10}, {20, 10}});
    PolyLine b = path(Loop, {{20.04f, 10}, {30, 10}});
    QList<QByteArray> l = lines(layer(sp, 2, {a, b}));
    ASSERT_EQ(l.last(), QByteArray("G1 F3000 X30.000 Y10.000 E0.664"));
    EXPECT_EQ(l[l.size() - 2], QByteArray("G1 F3000 X20.000 Y10.000 E0.333"));

    // A near travel beyond 0.05 mm is one G0 with the feed last.
    PolyLine c = path(Loop, {{21, 10}, {30, 10}});
    l = lines(layer(sp, 2, {a, c}));
    EXPECT_EQ(l[l.size() - 2], QByteArray("G0 X21.000 Y10.000 F9000"));

    // Far flag set and TravelMinDist below 0.04 mm: the full far travel.
    a.farTravelAfter = true;
    sp.TravelMinDist = 0.01f;
    l = lines(layer(sp, 2, {a, b}));
    const int n = l.size();
    ASSERT_GE(n, 5);
    EXPECT_EQ(l[n - 4], QByteArray("G0 F2400 E-0.667"));
    EXPECT_EQ(l[n - 3], QByteArray("G0 F9000 X20.040 Y10.000"));
    EXPECT_EQ(l[n - 2], QByteArray("G0 F2400 E0.333"));
    // No lift without TravelHeight except for the layer's first move.
    EXPECT_EQ(layer(sp, 2, {a, b}).count(" Z"), 1);
}

TEST(GCodeWriter, RetractPrimeAndLiftDisabled)
{
    SlicerParams sp = exampleParams();
    sp.TravelRetract = 0;
    sp.TravelPrime = 0;
    sp.TravelHeight = 0;
    const QList<QByteArray> l = lines(layer(sp, 1, {square()}));
    EXPECT_EQ(l[7], QByteArray("G0 F600 Z0.500"));
    EXPECT_EQ(l[8], QByteArray("G0 F9000 X10.000 Y10.000"));
    EXPECT_EQ(l[9], QByteArray("G1 F3000 X20.000 Y10.000 E0.333"));
}

TEST(GCodeWriter, WipeRules)
{
    SlicerParams sp = exampleParams();
    sp.WipeLength = 0.333f; // one raster unit at u = 0.333: half a millimetre here
    sp.WipeSpeed = 30;
    const PolyLine per = path(Perimeter, {{10, 10}, {20, 10}});
    // Pending at the end of the layer: written last, back along the segment.
    EXPECT_EQ(lines(layer(sp, 1, {per})).last(), QByteArray("G0 F1800 X19.500 Y10.000"));

    // Followed by a far travel: retract, then the wipe, then lift.
    const PolyLine loop = path(Loop, {{40, 40}, {50, 40}});
    QList<QByteArray> l = lines(layer(sp, 1, {per, loop}));
    const int at = l.indexOf("G0 F1800 X19.500 Y10.000");
    ASSERT_GT(at, 0);
    EXPECT_EQ(l[at - 1], QByteArray("G0 F2400 E-0.667"));
    EXPECT_EQ(l[at + 1], QByteArray("G0 F600 Z1.000"));

    // Perimeter into Infill: the wipe is dropped, yet the travel stays far.
    const PolyLine fill = path(Infill, {{40, 40}, {50, 40}});
    const QByteArray t = layer(sp, 1, {per, fill});
    EXPECT_FALSE(t.contains("F1800")) << t.constData();
    EXPECT_EQ(t.count("E-"), 2);

    // A zero-length last segment has no direction: no wipe at all.
    const PolyLine stub = path(Perimeter, {{10, 10}, {20, 10}, {20, 10}});
    EXPECT_FALSE(layer(sp, 1, {stub}).contains("F1800"));

    // Closed perimeter: the mean of the ends' perpendiculars.
    PolyLine closed = path(Perimeter, {{10, 10}, {20, 10}, {20, 20}, {10, 20}, {10, 10}});
    closed.closed = true;
    // Raster direction of the first segment is +x, of the last +y (machine Y
    // is flipped); perpendiculars (0,-1) and (1,0), mean (0.5,-0.5) in raster
    // units -> wipe point (10 - 0.25, 10 - 0.25) in mm.
    EXPECT_EQ(lines(layer(sp, 1, {closed})).last(), QByteArray("G0 F1800 X9.750 Y9.750"));
}

TEST(GCodeWriter, ExplicitTravelPath)
{
    SlicerParams sp = exampleParams();
    sp.TravelHeight = 0;
    PolyLine a = path(Loop, {{10, 10}, {20, 10}});
    PolyLine tr = path(Travel, {{20, 10}, {20, 30}, {40, 30}});
    PolyLine b = path(Loop, {{40, 30}, {50, 30}});
    QList<QByteArray> l = lines(layer(sp, 2, {a, tr, b}));
    // Not far: the route is written as it stands, then b starts in place.
    int i = l.indexOf("G0 F9000 X20.000 Y30.000");
    ASSERT_GT(i, 0);
    EXPECT_EQ(l[i + 1], QByteArray("G0 X40.000 Y30.000"));
    EXPECT_EQ(l[i + 2], QByteArray("G1 F3000 X50.000 Y30.000 E0.665"));
    // farTravelAfter on the travel: retract before and prime after.
    tr.farTravelAfter = true;
    l = lines(layer(sp, 2, {a, tr, b}));
    i = l.indexOf("G0 F9000 X20.000 Y30.000");
    ASSERT_GT(i, 0);
    EXPECT_EQ(l[i - 1], QByteArray("G0 F2400 E-0.667"));
    EXPECT_EQ(l[i + 2], QByteArray("G0 F2400 E0.333"));
    // The type stays current: no second ";segType:Loop".
    EXPECT_EQ(layer(sp, 2, {a, tr, b}).count(";segType:"), 1);
}

TEST(GCodeWriter, PerTypeFactorsWidthsAndShellDensity)
{
    SlicerParams sp = exampleParams();
    sp.FFactor_Support = 1.5f;
    sp.EFactor_Skirt = 2;
    sp.HShellDensity = 0.5f;
    PolyLine sup = path(Support, {{10, 10}, {20, 10}});
    EXPECT_EQ(firstDrawFeed(layer(sp, 2, {sup})), 4500);
    EXPECT_TRUE(layer(sp, 2, {path(Skirt, {{10, 10}, {20, 10}})}).contains("E0.665\r\n"));
    // HShell with line fill at half density: twice the material per mm.
    EXPECT_TRUE(layer(sp, 2, {path(HShell, {{10, 10}, {20, 10}})}).contains("E0.665\r\n"));
    sp.HShellType = 1;
    EXPECT_TRUE(layer(sp, 2, {path(HShell, {{10, 10}, {20, 10}})}).contains("E0.333\r\n"));
    // Widths: length * e * w * u; a hair 3 raster units wide (one extrusion
    // width) takes the material of a plain line, a hair twice as wide twice.
    PolyLine hair = path(InnerHair, {{10, 10}, {20, 10}});
    hair.w = {3.003f, 3.003f};
    EXPECT_TRUE(layer(sp, 2, {hair}).contains("E0.333\r\n")) << layer(sp, 2, {hair}).constData();
    hair.w = {6.006f, 6.006f};
    EXPECT_TRUE(layer(sp, 2, {hair}).contains("E0.665\r\n")) << layer(sp, 2, {hair}).constData();
    EXPECT_TRUE(layer(sp, 2, {sup}).contains(";segType:Support\r\n"));
}

TEST(GCodeWriter, MinimumLayerTimeSecondPass)
{
    SlicerParams sp = exampleParams();
    // 64 mm/s makes the times exact in float: the 40 mm square takes 0.625 s.
    sp.DrawSpeed = 64;
    sp.MinLayerTime = 1.25f;
    const QByteArray slow = layer(sp, 7, {square()});
    EXPECT_EQ(firstDrawFeed(slow), 1920); // half of 3840
    EXPECT_EQ(slow.count("; Layer #7"), 1); // the second pass replaces the first
    EXPECT_TRUE(slow.endsWith("E1.330\r\n"));
    // Fast enough: one pass at full speed.
    sp.MinLayerTime = 0.5f;
    EXPECT_EQ(firstDrawFeed(layer(sp, 7, {square()})), 3840);
    // Far too fast: never below 2.5 % speed.
    sp.MinLayerTime = 1000;
    EXPECT_EQ(firstDrawFeed(layer(sp, 7, {square()})), 96);
    // Travel never counts: 41 mm drawn around a 200 mm travel still needs
    // the slow-down.
    sp.MinLayerTime = 1.28125f;
    const PolyLine near = path(Loop, {{10, 10}, {50, 10}});
    const PolyLine far = path(Loop, {{200, 150}, {201, 150}});
    EXPECT_EQ(firstDrawFeed(layer(sp, 7, {near, far})), 1920);
}

// The slow-down scales the speed the layer had: on an initial layer (s1 < 1)
// a minimum layer time never makes the layer faster than s1 alone.
TEST(GCodeWriter, MinimumLayerTimeOnlySlowsDown)
{
    SlicerParams sp = exampleParams();
    sp.DrawSpeed = 64; // 3840 mm/min; the 40 mm square takes 0.625 s at full speed
    sp.FirstLayerDrawSpeed = 64;
    sp.InitialLayerCnt = 4;
    sp.InitialLayerSpeed = 0.5f;
    const struct {
        int layer;
        float minTime;
        int feed;
    } cases[] = {
        {2, 0, 2880},     // s1 = 0.75, no minimum
        {2, 0.5f, 2880},  // 0.833 s at s1 already exceed 0.5 s
        {2, 1.25f, 1920}, // 0.833 s -> 1.25 s: s1 x 2/3
        {2, 2.5f, 960},   // s1 x 1/3
        {0, 1.25f, 1920}, // s1 = 0.5 gives 1.25 s already
        {0, 2.5f, 960},   // s1 x 1/2
        {7, 1.25f, 1920}, // past the initial layers: s1 = 1
        {2, 1000, 96},    // floor 2.5 %
    };
    for (const auto &c : cases) {
        SlicerParams p = sp;
        p.MinLayerTime = c.minTime;
        EXPECT_EQ(firstDrawFeed(layer(p, c.layer, {square()})), c.feed)
            << "layer " << c.layer << " MinLayerTime " << c.minTime;
    }
}

// Feed factors, speeds and the slow-downs at the ends of their ranges never
// print "F0", which would stop the machine.
TEST(GCodeWriter, FeedNeverTruncatesToZero)
{
    SlicerParams sp = exampleParams();
    sp.FirstLayerDrawSpeed = 1;
    sp.DrawSpeed = 1;
    sp.FFactor_Perimeter = 0.1f;
    sp.InitialLayerCnt = 5;
    sp.InitialLayerSpeed = 0.05f;
    sp.MinLayerTime = 600;
    EXPECT_NO_THROW(validateParams(sp));
    for (int i : {0, 1, 9}) {
        const int feed = firstDrawFeed(layer(sp, i, {square()}));
        EXPECT_GE(feed, 1) << "layer " << i;
    }
}

TEST(GCodeWriter, DegeneratePathsNeverBreakTheText)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    PolyLine empty(Loop);
    PolyLine single = path(Loop, {{10, 10}});
    PolyLine shortTravel = path(Travel, {{10, 10}});
    PolyLine bad(Infill);
    bad.pts = {{nan, 0}, {1e30f, -1e30f}, {0, 0}};
    PolyLine widths = path(InnerHair, {{10, 10}, {20, 10}});
    widths.w = {1}; // wrong length: drawn at the nominal width
    const QByteArray t = layer(exampleParams(), 2, {empty, single, shortTravel, bad, widths});
    EXPECT_FALSE(t.contains("nan"));
    EXPECT_FALSE(t.contains("inf"));
    EXPECT_TRUE(t.endsWith("G1 F3000 X20.000 Y10.000 E0.333\r\n")) << t.constData();
}

TEST(ParamCheck, RefusesWhatWouldBreakTheWriter)
{
    EXPECT_NO_THROW(validateParams(SlicerParams()));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        std::function<void(SlicerParams &)> set;
        const char *key;
    } cases[] = {
        {[](SlicerParams &p) { p.FilamentDiameter = 0; }, "FilamentDiameter"},
        {[](SlicerParams &p) { p.ExtrusionWidth = -0.4f; }, "ExtrusionWidth"},
        {[](SlicerParams &p) { p.ExtrusionWidth = 1e-6f; }, "ExtrusionWidth"},
        {[](SlicerParams &p) { p.LayerHeight = 0; }, "LayerHeight"},
        {[](SlicerParams &p) { p.FirstLayerHeight = -1; }, "FirstLayerHeight"},
        {[](SlicerParams &p) { p.HShellDensity = 0; }, "HShellDensity"},
        {[](SlicerParams &p) { p.DrawSpeed = 0; }, "DrawSpeed"},
        {[](SlicerParams &p) { p.TravelSpeed = -5; }, "TravelSpeed"},
        {[](SlicerParams &p) { p.WipeSpeed = 0; }, "WipeSpeed"},
        {[](SlicerParams &p) { p.FFactor_Loop = 0; }, "FFactor_Loop"},
        {[](SlicerParams &p) { p.InitialLayerSpeed = 0; }, "InitialLayerSpeed"},
        {[](SlicerParams &p) { p.EFactor_Raft = -1; }, "EFactor_Raft"},
        {[nan](SlicerParams &p) { p.ZAdjust = nan; }, "ZAdjust"},
        {[nan](SlicerParams &p) { p.TravelRetract = nan; }, "TravelRetract"},
        {[](SlicerParams &p) { p.MinLayerTime = std::numeric_limits<float>::infinity(); },
         "MinLayerTime"},
    };
    for (const auto &c : cases) {
        SlicerParams sp;
        c.set(sp);
        try {
            validateParams(sp);
            ADD_FAILURE() << "accepted bad " << c.key;
        } catch (const QString &msg) {
            EXPECT_TRUE(msg.startsWith(QString("Invalid parameter %1:").arg(c.key)))
                << msg.toStdString();
        }
    }
    // Zero infill density draws no infill lines, with infill enabled or not.
    for (int type : {0, 1, 3}) {
        SlicerParams sp;
        sp.InfillType = type;
        sp.InfillDensity = 0;
        EXPECT_NO_THROW(validateParams(sp)) << type;
    }
}
