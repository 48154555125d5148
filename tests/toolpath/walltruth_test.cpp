// The walls a layer's paths make, against the exact section: straight walls
// get their material, round pins their radius, wherever the pixel grid
// falls. Sections go through the real fill (exact edge coverage) with one
// pixel per unit.
#include "params/slicerparams.h"
#include "raster/layergrid.h"
#include "toolpath/shellsteps.h"
#include "fixtures/rasterfixtures.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const float P = testGrid().widthInPixels;

Plane8 fillSection(const Segments &segs, int w, int h)
{
    Plane8 cov(w, h);
    Plane1 scratch;
    rasterizeLayer(segs, Extents{0, 0, float(w), float(h)}, 0, cov, scratch, false);
    return cov;
}

// A polygon with winding +1 inside from counter-clockwise corners.
Segments polygon(const QVector<PolyPoint> &pts)
{
    Segments s;
    for (int i = 0; i < pts.size(); ++i) {
        const PolyPoint a = pts[i], b = pts[(i + 1) % pts.size()];
        s.append(Segment{b.x, b.y, a.x, a.y});
    }
    return s;
}

// Material across the line y = at: each outline crossing carries one width,
// each hair crossing its own.
float materialAcross(const ShellStepsResult &r, float at)
{
    float sum = 0;
    for (const PolyLine &o : r.outlines)
        for (int i = 0; i < o.size(); ++i) {
            const PolyPoint a = o.pts[i], b = o.pts[(i + 1) % o.size()];
            sum += (a.y <= at) != (b.y <= at) ? P : 0;
        }
    for (const PolyLine &h : r.hairs)
        for (int i = 0; i + 1 < h.size(); ++i) {
            const PolyPoint a = h.pts[i], b = h.pts[i + 1];
            if ((a.y <= at) != (b.y <= at))
                sum += h.w[i + 1];  // the writer extrudes a segment by its end's width
        }
    return sum;
}

} // namespace

TEST(WallTruth, StraightWallGetsItsThicknessInMaterial)
{
    // Thickness in widths; a different sub-pixel start for each. VShellCnt
    // high enough that no infill is left in the middle.
    const float widths[] = {1.0f, 1.25f, 1.5f, 1.75f, 1.9f, 2.0f, 2.5f, 3.0f, 4.0f, 5.0f};
    int n = 0;
    for (float ew : widths) {
        for (float x0 : {40.0f, 40.37f, 40.81f}) {
            const float t = ew * P;
            const Plane8 cov = fillSection(polygon({{x0, 20}, {x0 + t, 20}, {x0 + t, 236}, {x0, 236}}), 128, 256);
            SlicerParams sp;
            sp.VShellCnt = 6;
            ShellStepsResult r;
            OffsetScratch s;
            shellSteps(testGrid(), cov, sp, r, s);
            const float sum = materialAcross(r, 128.5f);
            EXPECT_NEAR(sum / t, 1.0f, 0.03f) << ew << " widths at " << x0;
            ++n;
        }
    }
    EXPECT_EQ(n, 30);
}

TEST(WallTruth, RoundPinPerimeterKeepsItsRadius)
{
    // Pins 1 to 3 mm across at 0.4 mm width (7.5 to 22.5 pixels), their
    // centres anywhere within a pixel; the section a 256-gon.
    for (float radius : {3.75f, 5.6f, 11.25f}) {
        for (PolyPoint c : {PolyPoint(64, 64), PolyPoint(64.25f, 64.5f), PolyPoint(64.5f, 64.75f),
                            PolyPoint(64.8f, 64.1f), PolyPoint(64.33f, 64.91f)}) {
            QVector<PolyPoint> ring;
            for (int i = 0; i < 256; ++i) {
                const double a = 2 * M_PI * i / 256;
                ring.append(PolyPoint(float(c.x + radius * std::cos(a)), float(c.y + radius * std::sin(a))));
            }
            const Plane8 cov = fillSection(polygon(ring), 128, 128);
            ShellStepsResult r;
            OffsetScratch s;
            shellSteps(testGrid(), cov, SlicerParams(), r, s);
            const PolyLine *per = nullptr;
            for (const PolyLine &o : r.outlines)
                if (o.type == Perimeter)
                    per = &o;
            ASSERT_NE(per, nullptr) << radius;
            // The exact inset of the polygon (its sides lie a little inside
            // the circle through its corners). The perimeter's radius, from
            // its vertices and the middles of its chords, within 0.01 mm,
            // and no point of it more than 0.02 mm off.
            const float inset = radius * float(std::cos(M_PI / 256)) - 0.5f * P;
            const float mm = 1 / testGrid().pixelSize;
            double sum = 0;
            int count = 0;
            for (int i = 0; i < per->size(); ++i) {
                const PolyPoint a = per->pts[i], b = per->pts[(i + 1) % per->size()];
                for (PolyPoint q : {a, (a + b) * 0.5f}) {
                    const float r = std::hypot(q.x - c.x, q.y - c.y);
                    EXPECT_NEAR(r, inset, 0.02f * mm) << "radius " << radius << " centre " << c.x << "," << c.y;
                    sum += r;
                    ++count;
                }
            }
            EXPECT_NEAR(sum / count, inset, 0.01f * mm) << "radius " << radius << " centre " << c.x << "," << c.y;
        }
    }
}

TEST(WallTruth, PinsFromOneWidthUpGetMaterialInsideThem)
{
    // Pins 1 to 1.6 widths across (0.4 to 0.64 mm) are too small for a
    // perimeter; each still gets a path, and none of its material leaves the
    // pin by more than 0.02 mm. From 1.75 widths the pin gets its perimeter,
    // which fills it (hairs across its ends would mask it away), wherever the
    // pin's centre falls (on a pixel corner only four pixels keep the level).
    const float mm = 1 / testGrid().pixelSize;
    for (float across : {1.0f, 1.2f, 1.5f, 1.6f, 1.75f, 2.0f}) {
        const float radius = across * P / 2;
        for (PolyPoint c : {PolyPoint(32, 32), PolyPoint(32.25f, 32.5f), PolyPoint(32.5f, 32.75f),
                            PolyPoint(32.8f, 32.1f), PolyPoint(32.33f, 32.91f)}) {
            QVector<PolyPoint> ring;
            for (int i = 0; i < 48; ++i) {
                const double a = 2 * M_PI * i / 48;
                ring.append(PolyPoint(float(c.x + radius * std::cos(a)), float(c.y + radius * std::sin(a))));
            }
            const Plane8 cov = fillSection(polygon(ring), 64, 64);
            ShellStepsResult r;
            OffsetScratch s;
            shellSteps(testGrid(), cov, SlicerParams(), r, s);
            float material = 0;
            for (const PolyLine &o : r.outlines)
                for (int i = 0; i < o.size(); ++i) {
                    const PolyPoint a = o.pts[i], b = o.pts[(i + 1) % o.size()];
                    material += std::hypot(b.x - a.x, b.y - a.y) * P;
                    EXPECT_LT(std::hypot(a.x - c.x, a.y - c.y), radius - P / 2 + 0.02f * mm) << across;
                }
            for (const PolyLine &h : r.hairs)
                for (int i = 0; i + 1 < h.size(); ++i) {
                    // The bead of a segment: a rectangle as wide as the
                    // width it ends with, no caps.
                    const PolyPoint a = h.pts[i], b = h.pts[i + 1];
                    const float len = std::hypot(b.x - a.x, b.y - a.y), w = h.w[i + 1];
                    material += len * w;
                    if (len <= 0)
                        continue;
                    const PolyPoint side = PolyPoint(a.y - b.y, b.x - a.x) * (w / 2 / len);
                    for (PolyPoint q : {a + side, a - side, b + side, b - side})
                        EXPECT_LT(std::hypot(q.x - c.x, q.y - c.y), radius + 0.02f * mm)
                            << across << " widths, centre " << c.x << "," << c.y;
                }
            const float area = float(M_PI) * radius * radius;
            EXPECT_GT(material, (across < 1.7f ? 0.5f : 0.8f) * area) << across << " widths, centre " << c.x << "," << c.y;
        }
    }
}
