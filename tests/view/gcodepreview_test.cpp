#include "common/utils.h"
#include "scene/project.h"
#include "driver/slicer.h"
#include "view/gcodecolours.h"
#include "view/gcodepreview.h"
#include "view/glrenderer.h"
#include "view/shaders.h"

#include <QImage>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <cmath>
#include <gtest/gtest.h>

namespace {

GCodeSim simOf(const QByteArray &text)
{
    GCodeSim s;
    s.load(text);
    return s;
}

std::uint32_t heat(int entry)
{
    HeatPalette::instance().ensureLoaded();
    return HeatPalette::instance().entry(entry);
}

QString describe(const QVector<GCodeGroupRuns> &groups)
{
    QString s;
    for (const GCodeGroupRuns &g : groups) {
        s += QString("%1:").arg(g.colour, 6, 16, QChar('0'));
        for (const GCodeRange &r : g.runs)
            s += QString(" [%1,%2)").arg(r.begin).arg(r.end);
        s += "; ";
    }
    return s;
}

// Slices the small test cube: real G-code with every kind of move.
QByteArray cubeGCode()
{
    Project p;
    p.addObject(TESSAVO_TEST_DATA "/driver/cube.stl", false);
    SlicerParams params;
    BuildVolume bv;
    return sliceScene(&p, &params, &bv, {});
}

// Runs `draw` with a current GL context (an off-screen frame).
void withContext(GLRenderer &r, const std::function<void()> &draw)
{
    r.render(QSize(64, 64), {}, [&] {
        QOpenGLFunctions *f = QOpenGLContext::currentContext()->functions();
        f->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        draw();
    });
    ASSERT_TRUE(r.lastError.isEmpty()) << r.lastError.toStdString();
}

// Skirt, a type change, a tiny move, travel, and a Z change (second layer).
const char *const kMixed =
    "G1 Z0.2 F1200\n"        // r0
    ";segType:Skirt\n"
    "G1 X10 Y0 E1\n"         // r1 type differs from r0: not drawn
    "G1 X10 Y10 E2\n"        // r2 skirt
    "G1 X0 Y10 E3\n"         // r3 skirt
    ";segType:Perimeter\n"
    "G1 X0 Y0 E4\n"          // r4 type change: not drawn
    "G1 X5 Y0 E5\n"          // r5 perimeter
    "G1 X5 Y0.005 E5.1\n"    // r6 tiny move: breaks, not drawn
    "G1 X5 Y5 E6\n"          // r7 perimeter again
    "G0 X8 Y5\n"             // r8 travel
    "G0 X8 Y8\n"             // r9 travel
    "G1 X9 Y8 E7\n"          // r10 perimeter
    "G1 Z0.4\n"              // r11 next layer
    "G1 X0 Y8 E8\n";         // r12

// Three extrusions at one feed rate: up +Y twice (0.1 mm E per mm), then +X (0.05).
const char *const kTurn =
    "G1 Z0.2 F1200\n"
    "G1 Y10 E1\n"
    "G1 Y20 E2\n"
    "G1 X10 E2.5\n";

// Feed rate 200, then 9000, then beyond.
const char *const kFeeds =
    "G1 Z0.2 F200\n"
    "G1 X10 E1\n"
    "G1 X20 E2 F9000\n"
    "G1 X30 E3 F20000\n";

} // namespace

TEST(GCodeColours, GroupsAndColoursPerModeFollowTheRunRules)
{
    const QVector<std::uint32_t> &seq = sequencePalette();
    const QVector<std::uint32_t> &dir = directionPalette();
    const std::uint32_t skirt = 0xff0020, perimeter = 0xffffff, unknown = 0x8877dd, travel = 0xccff00;
    const int f1200 = 30; // log2(1200/200) / log2(9000/200) = 0.47 -> entry 30
    struct Case {
        const char *name;
        const char *gcode;
        int mode;
        int layer;
        QVector<GCodeGroupRuns> expected;
    } cases[] = {
        {"mixed/Type", kMixed, CM_Type, 0,
         {{skirt, {{2, 4}}}, {perimeter, {{5, 6}, {7, 8}, {10, 11}}}, {travel, {{8, 10}}}}},
        {"mixed/Type layer 1", kMixed, CM_Type, 1, {{perimeter, {{12, 13}}}}},
        {"mixed/Sequence", kMixed, CM_Sequence, 0,
         {{seq[0], {{2, 4}}}, {seq[1], {{5, 6}}}, {seq[2], {{7, 8}}}, {travel, {{8, 10}}}, {seq[4], {{10, 11}}}}},
        {"mixed/FeedRate", kMixed, CM_FeedRate, 0,
         {{heat(f1200), {{2, 4}, {5, 6}, {7, 8}, {10, 11}}}, {travel, {{8, 10}}}}},
        {"mixed/other mode", kMixed, 0, 0, {{kWhite, {{2, 4}, {5, 6}, {7, 8}, {10, 11}}}, {travel, {{8, 10}}}}},
        {"turn/Type", kTurn, CM_Type, 0, {{unknown, {{1, 4}}}}},
        {"turn/Sequence", kTurn, CM_Sequence, 0, {{seq[0], {{1, 4}}}}},
        {"turn/Direction", kTurn, CM_Direction, 0, {{dir[0], {{1, 3}}}, {dir[6], {{3, 4}}}}},
        {"turn/Extrusion", kTurn, CM_Extrusion, 0, {{heat(62), {{1, 3}}}, {heat(32), {{3, 4}}}}},
        {"turn/FeedRate", kTurn, CM_FeedRate, 0, {{heat(f1200), {{1, 4}}}}},
        {"feeds/FeedRate", kFeeds, CM_FeedRate, 0, {{heat(0), {{1, 2}}}, {heat(62), {{2, 4}}}}},
        {"feeds/Type", kFeeds, CM_Type, 0, {{unknown, {{1, 4}}}}},
    };
    for (const Case &c : cases) {
        const GCodeSim sim = simOf(c.gcode);
        ASSERT_GT(sim.layers().size(), c.layer) << c.name;
        GCodeGroupingInput in;
        in.mode = c.mode;
        const QVector<GCodeGroupRuns> got = groupLayer(sim.moves(), sim.layers()[c.layer], in);
        EXPECT_EQ(describe(got).toStdString(), describe(c.expected).toStdString()) << c.name;
    }
}

TEST(GCodeColours, OnlyTravelOrRetractionMakesNoExtrusionGroup)
{
    // Prime, retract, travel and a Z hop: nothing but travel to draw.
    const GCodeSim sim = simOf("G1 Z0.2 F1200\nG1 E2\nG1 X10 Y10\nG1 E-1\nG1 X20\nG1 E0\n");
    for (int mode = CM_Type; mode <= CM_Direction; ++mode) {
        GCodeGroupingInput in;
        in.mode = mode;
        const QVector<GCodeGroupRuns> got = groupLayer(sim.moves(), sim.layers()[0], in);
        for (const GCodeGroupRuns &g : got)
            EXPECT_TRUE(isTravelColour(g.colour)) << mode << describe(got).toStdString();
    }
}

TEST(GCodeColours, PalettesHaveTheirSizesAndTheHeatImageMustBe64By9)
{
    const QVector<std::uint32_t> p = huePalette(3);
    ASSERT_EQ(p.size(), 3);
    // Hue 10 at full value, blended toward black with weight 96 of 256; alpha 0.
    const QColor c = QColor::fromHsv(10, 255, 255);
    EXPECT_EQ(p[0], std::uint32_t(c.red() * 160 / 256 | (c.green() * 160 / 256) << 8 | (c.blue() * 160 / 256) << 16));
    EXPECT_EQ(directionPalette().size(), 24);
    EXPECT_EQ(sequencePalette().size(), 8);
    EXPECT_NE(directionPalette()[0], directionPalette()[6]);

    HeatPalette pal;
    for (QSize bad : {QSize(64, 8), QSize(65, 9), QSize(256, 1), QSize(0, 0)}) {
        QImage img(bad, QImage::Format_RGB32);
        img.fill(Qt::red);
        try {
            pal.setImage(img);
            ADD_FAILURE() << "accepted " << bad.width() << "x" << bad.height();
        } catch (const QString &e) {
            EXPECT_EQ(e.toStdString(), "HeatPal: incompatible image");
        }
    }
    QImage good(64, 9, QImage::Format_RGB32);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 64; ++x)
            good.setPixel(x, y, qRgb(x * 4, y * 20, 7));
    pal.setImage(good);
    pal.setRow(3);
    EXPECT_EQ(pal.entry(10), packColour(QColor(40, 60, 7)));
    pal.setRow(42); // clamped to the last row
    EXPECT_EQ(pal.entry(0), packColour(QColor(0, 160, 7)));

    // The built-in palette: nine different rows of 64.
    initViewResources();
    const QImage builtIn(":/res/heatPalette.png");
    ASSERT_EQ(builtIn.size(), QSize(64, 9));
    EXPECT_NO_THROW(HeatPalette().setImage(builtIn));
    EXPECT_NE(builtIn.pixel(0, 0), builtIn.pixel(63, 0));
}

TEST(GCodeBeads, SidesFaceOutwardTopsFaceUpAndStayWithinTheBead)
{
    // Machine = scene coordinates with this volume.
    BuildVolume bv;
    bv.cx = bv.W / 2;
    bv.cy = bv.D / 2;
    bv.ky = 1;
    const GCodeSim sim = simOf("G1 Z0.2 F1200\nG1 X10 E1\nG1 X10 Y10 E2\nG1 X12 Y10 E3\nG0 X20\nG1 X25 E4\n");
    GCodeGroupingInput in;
    in.volume = bv;
    const QVector<GCodeGroupRuns> groups = groupLayer(sim.moves(), sim.layers()[0], in);
    ASSERT_EQ(groups.size(), 2); // unknown type (two runs), travel
    const float h = 0.2f, w = 0.4f;
    const QVector<float> v = beadGeometry(sim.moves(), groups[0], bv, h, w, false);
    ASSERT_EQ(v.size() % 3, 0);
    // Per run of n + 1 points: 4n + 4 vertices, plus 2 to join the second run.
    EXPECT_EQ(v.size() / 3, (4 * 3 + 4) + 2 + (4 * 1 + 4));
    struct Seg {
        float x0, z0, x1, z1;
    } path[] = {{0, 0, 10, 0}, {10, 0, 10, 10}, {10, 10, 12, 10}, {20, 10, 25, 10}};
    int tops = 0, sides = 0;
    for (int i = 0; i < v.size(); i += 3) {
        const float x = v[i], z = v[i + 1], code = v[i + 2];
        // Nearest point of the centre line.
        float best = 1e9f, cx = 0, cz = 0;
        for (const Seg &s : path) {
            const float dx = s.x1 - s.x0, dz = s.z1 - s.z0;
            float t = ((x - s.x0) * dx + (z - s.z0) * dz) / (dx * dx + dz * dz);
            t = std::max(0.0f, std::min(1.0f, t));
            const float px = s.x0 + t * dx, pz = s.z0 + t * dz;
            const float d = std::hypot(x - px, z - pz);
            if (d < best) {
                best = d;
                cx = px;
                cz = pz;
            }
        }
        EXPECT_LE(best, w + 1e-4f) << "vertex " << i / 3 << " off the bead";
        if (std::fabs(code) > 4) {
            ++tops;
            EXPECT_NEAR(code, h / 2 * 10000, 1e-2) << "top vertex " << i / 3;
            EXPECT_LT(best, 1e-4f) << "top on the centre line";
        } else {
            ++sides;
            // Half a width out; an outer corner's miter reaches further.
            EXPECT_GE(best, w / 2 - 1e-3f) << "side vertex " << i / 3;
            const float out = std::sin(code) * (x - cx) + std::cos(code) * (z - cz);
            EXPECT_GT(out, 0.0f) << "side normal points inward at vertex " << i / 3;
        }
    }
    EXPECT_GT(tops, 0);
    EXPECT_GT(sides, 0);

    // Travel: one line per move, codes above the plane.
    const QVector<float> t = beadGeometry(sim.moves(), groups[1], bv, h, w, true);
    EXPECT_EQ(t.size(), 2 * 3);
    EXPECT_GT(t[2], 4.0f);
}

TEST(GCodePreview, StreamedChunkedAndWholeLoadsGiveTheSameGroups)
{
    const QByteArray text = cubeGCode();
    ASSERT_GT(text.size(), 10000);
    GCodePreview whole, streamed, chunked;
    whole.append(text);
    whole.finish();
    // Pieces that cut numbers, comments and line ends.
    for (int at = 0; at < text.size(); at += 997)
        streamed.append(text.mid(at, 997));
    streamed.finish();
    int calls = 0, lastPercent = 0;
    chunked.loadAll(text, 4096, [&](int percent) {
        ++calls;
        EXPECT_GE(percent, lastPercent);
        lastPercent = percent;
    });
    EXPECT_EQ(calls, (text.size() + 4095) / 4096);
    EXPECT_EQ(lastPercent, 100);
    ASSERT_GT(whole.layerCount(), 10);
    ASSERT_EQ(streamed.layerCount(), whole.layerCount());
    ASSERT_EQ(chunked.layerCount(), whole.layerCount());

    GLRenderer r;
    const int last = whole.layerCount() - 1;
    for (int mode = CM_Type; mode <= CM_Direction; ++mode) {
        for (GCodePreview *p : {&whole, &streamed, &chunked})
            p->colourMode = mode;
        withContext(r, [&] {
            whole.drawLayers(0, last, true);
            // Budgeted paints until no work remains.
            int paints = 0;
            while (streamed.drawLayers(0, last) && paints < 1000)
                ++paints;
            chunked.drawLayers(0, last, true);
        });
        int groups = 0;
        for (int L = 0; L <= last; ++L) {
            const QVector<GCodeGroupRuns> g = whole.builtGroups(L);
            groups += g.size();
            EXPECT_EQ(describe(streamed.builtGroups(L)).toStdString(), describe(g).toStdString())
                << "mode " << mode << " layer " << L;
            EXPECT_EQ(describe(chunked.builtGroups(L)).toStdString(), describe(g).toStdString())
                << "mode " << mode << " layer " << L;
        }
        EXPECT_GT(groups, whole.layerCount()) << "mode " << mode;
    }
    withContext(r, [&] {
        for (GCodePreview *p : {&whole, &streamed, &chunked})
            p->releaseGL();
    });
}

TEST(GCodePreview, BadInputLoadsDrawsNothingFarAwayAndReportsTheFirstError)
{
    QByteArray bad = "G1 Z0.2 F1200\nG1 X10 E1\n";
    bad += "G1 X20 E2 ###garbage\n";
    bad += QByteArray("G1 X30\0 Y5 E3\n", 15); // a NUL byte inside a line
    bad += "G1 X1000000000 Y5 E4\n";           // far beyond any bed
    bad += "G1 X40 Y5 E5\n";
    bad += QByteArray(2 << 20, 'Z') + "\n"; // a line of 2 MB
    bad += "hello world\nG1 X50 Y5 E6\n";

    GCodePreview p;
    p.volume = BuildVolume();
    p.append(bad);
    p.finish();
    EXPECT_FALSE(p.ignoredError().isEmpty());
    EXPECT_TRUE(p.ignoredError().startsWith("GCodeParser error at line(2)")) << p.ignoredError().toStdString();

    GLRenderer r;
    withContext(r, [&] { p.drawLayers(0, p.layerCount() - 1, true); });
    const BuildVolume &bv = p.volume;
    const std::vector<GCodeMove> &m = p.sim().moves();
    int drawn = 0;
    for (int L = 0; L < p.layerCount(); ++L) {
        for (const GCodeGroupRuns &g : p.builtGroups(L)) {
            for (const GCodeRange &run : g.runs) {
                for (int i = run.begin - 1; i < run.end; ++i) {
                    ++drawn;
                    EXPECT_LE(std::fabs(m[size_t(i)].x), 10 * bv.W) << "record " << i;
                    EXPECT_LE(std::fabs(m[size_t(i)].y), 10 * bv.D) << "record " << i;
                }
            }
        }
    }
    EXPECT_GT(drawn, 0);

    // No moves at all, and binary data: loads, nothing to draw, the reason kept.
    GCodePreview empty;
    empty.append("; only a comment\nM104 S200\n");
    empty.finish();
    withContext(r, [&] { EXPECT_FALSE(empty.drawLayers(0, empty.layerCount() - 1, true)); });
    GCodePreview binary;
    binary.append(QByteArray("ZCode\x01\x02\x03", 8));
    binary.finish();
    EXPECT_EQ(binary.layerCount(), 0);
    EXPECT_FALSE(binary.ignoredError().isEmpty());
    withContext(r, [&] {
        p.releaseGL();
        empty.releaseGL();
    });
}

TEST(GCodePreview, SelectingALineShowsItsLayerUpToThatLine)
{
    GCodePreview p;
    p.append(kMixed);
    p.finish();
    // Line 9 is "G1 X5 Y5 E6" (record 7) on layer 0.
    EXPECT_EQ(p.selectLine(9), 0);
    EXPECT_EQ(p.topLayer, 0);
    GLRenderer r;
    withContext(r, [&] { p.drawLayers(0, 1, true); });
    EXPECT_EQ(describe(p.builtGroups(0)).toStdString(),
              describe({{0xff0020, {{2, 4}}}, {0xffffff, {{5, 6}, {7, 8}}}}).toStdString());
    p.showAllLines();
    withContext(r, [&] { p.drawLayers(0, 1, true); });
    EXPECT_EQ(p.builtGroups(0).size(), 3);
    EXPECT_EQ(p.selectLine(-5), -1);
    withContext(r, [&] { p.releaseGL(); });
}
