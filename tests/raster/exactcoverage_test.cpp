#include "raster/exactcoverage.h"
#include "raster/layergrid.h"
#include "raster/plane1.h"
#include "raster/plane8.h"
#include "raster/meshlayers.h"

#include <gtest/gtest.h>
#include <omp.h>
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

struct Pt {
    double x, y;
};

// Area of the part of the simple polygon inside the unit pixel at (px, py):
// the polygon clipped by the pixel's four sides (Sutherland-Hodgman).
double pixelArea(const std::vector<Pt> &poly, int px, int py)
{
    std::vector<Pt> cur = poly;
    auto clip = [&](auto inside, auto cut) {
        std::vector<Pt> out;
        for (size_t i = 0; i < cur.size(); ++i) {
            const Pt a = cur[i], b = cur[(i + 1) % cur.size()];
            const bool ia = inside(a), ib = inside(b);
            if (ia)
                out.push_back(a);
            if (ia != ib)
                out.push_back(cut(a, b));
        }
        cur = out;
    };
    auto cutX = [](double x) {
        return [x](Pt a, Pt b) { return Pt{x, a.y + (x - a.x) * (b.y - a.y) / (b.x - a.x)}; };
    };
    auto cutY = [](double y) {
        return [y](Pt a, Pt b) { return Pt{a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y), y}; };
    };
    clip([&](Pt p) { return p.x >= px; }, cutX(px));
    clip([&](Pt p) { return p.x <= px + 1; }, cutX(px + 1));
    clip([&](Pt p) { return p.y >= py; }, cutY(py));
    clip([&](Pt p) { return p.y <= py + 1; }, cutY(py + 1));
    double a = 0;
    for (size_t i = 0; i < cur.size(); ++i) {
        const Pt p = cur[i], q = cur[(i + 1) % cur.size()];
        a += p.x * q.y - q.x * p.y;
    }
    return std::fabs(a) / 2;
}

// The outline of a counter-clockwise polygon (x right, y up) as the slicer's
// segments: reversed, so that the wall at smaller x runs toward larger y and
// the inside has winding +1; `reversed` gives the inside-out outline.
Segments outline(const std::vector<Pt> &poly, bool reversed = false)
{
    Segments s;
    for (size_t i = 0; i < poly.size(); ++i) {
        const Pt a = poly[i], b = poly[(i + 1) % poly.size()];
        s.append(reversed ? Segment{float(a.x), float(a.y), float(b.x), float(b.y)}
                          : Segment{float(b.x), float(b.y), float(a.x), float(a.y)});
    }
    return s;
}

// Counter-clockwise shapes at sub-pixel places: a square, a slanted quadrilateral,
// a thin sliver and a 40-gon (a round pin).
std::vector<std::vector<Pt>> shapes()
{
    std::vector<std::vector<Pt>> out;
    out.push_back({{10.3, 10.7}, {30.55, 10.7}, {30.55, 29.2}, {10.3, 29.2}});
    out.push_back({{12.1, 8.4}, {40.7, 15.9}, {35.2, 44.6}, {9.8, 30.3}});
    out.push_back({{20.2, 5.1}, {20.5, 5.1}, {21.7, 50.3}, {21.4, 50.3}});
    std::vector<Pt> pin;
    for (int i = 0; i < 40; ++i) {
        const double a = 2 * M_PI * i / 40;
        pin.push_back({32.37 + 7.3 * std::cos(a), 31.81 + 7.3 * std::sin(a)});
    }
    out.push_back(pin);
    return out;
}

} // namespace

TEST(ExactCoverage, EdgePixelsHoldTheirExactCoveredFraction)
{
    const Extents ext{0, 0, 64, 64}; // one pixel per mm
    for (int rule = 0; rule < 3; ++rule)
        for (const std::vector<Pt> &poly : shapes()) {
            const Segments segs = outline(poly);
            Plane8 p(64, 64);
            Plane1 scratch;
            ASSERT_FALSE(rasterizeLayer(segs, ext, rule, p, scratch, true));
            double total = 0, exactTotal = 0;
            for (int y = 0; y < 64; ++y)
                for (int x = 0; x < 64; ++x) {
                    const double a = pixelArea(poly, x, y);
                    // One level of rounding; a sampled fill is off by up to
                    // a quarter of a pixel's area on edges.
                    ASSERT_NEAR(p.pixel(x, y), a * 255, 0.51)
                        << "rule " << rule << " pixel " << x << "," << y;
                    total += p.pixel(x, y) / 255.0;
                    exactTotal += a;
                }
            EXPECT_NEAR(total, exactTotal, 0.02 * std::sqrt(exactTotal));
        }
}

TEST(ExactCoverage, OverlapsAndDoubledWallsKeepTheFillRule)
{
    const Extents ext{0, 0, 64, 64};
    const std::vector<Pt> a{{10.25, 10.25}, {30.5, 10.25}, {30.5, 30.5}, {10.25, 30.5}};
    const std::vector<Pt> b{{20.5, 20.5}, {40.75, 20.5}, {40.75, 40.75}, {20.5, 40.75}};
    Segments two = outline(a);
    two += outline(b);
    for (int rule = 0; rule < 3; ++rule) {
        Plane8 p(64, 64);
        Plane1 scratch;
        rasterizeLayer(two, ext, rule, p, scratch, false);
        // Across the overlap's border pixels the winding goes 1 -> 2: full
        // under the winding rules (not cut by the edge), half under Odd.
        EXPECT_EQ(p.pixel(25, 20), rule == 2 ? 128 : 255) << rule; // b's lower edge inside a
        EXPECT_EQ(p.pixel(30, 25), rule == 2 ? 128 : 255) << rule; // a's right edge inside b
        // Their outer edges are exact.
        EXPECT_EQ(p.pixel(10, 15), 191) << rule; // 0.75 of the pixel
        EXPECT_EQ(p.pixel(40, 35), 191) << rule;
    }
    // An inside-out outline stays empty under Positive.
    Plane8 p(64, 64);
    Plane1 scratch;
    rasterizeLayer(outline(a, true), ext, 1, p, scratch, false);
    for (int i = 0; i < p.byteSize; ++i)
        ASSERT_EQ(p.data[i], 0);
}

TEST(ExactCoverage, SameResultForAnyThreadCountAndOutsideThePlane)
{
    // A 7-pointed star with overlapping spikes on a plane tall enough for
    // parallel bands, plus a square sticking out on the left.
    Segments star;
    const int n = 301;
    for (int i = 0; i < n; i++) {
        const double a0 = 2 * M_PI * i * 7 / n, a1 = 2 * M_PI * (i + 1) * 7 / n;
        star += Segment{float(50 + 45 * std::cos(a0)), float(50 + 45 * std::sin(a0)),
                        float(50 + 45 * std::cos(a1)), float(50 + 45 * std::sin(a1))};
    }
    star += outline({{-20, 3.3}, {7.6, 3.3}, {7.6, 9.55}, {-20, 9.55}});
    const Extents ext{0, 0, 100, 100};
    const int saved = omp_get_max_threads();
    Plane8 results[2];
    for (int t = 0; t < 2; t++) {
        omp_set_num_threads(t + 1);
        for (int rule = 0; rule < 3; ++rule) {
            Plane8 p(256, 256);
            Plane1 scratch;
            rasterizeLayer(star, ext, rule, p, scratch, false);
            if (rule == 0)
                results[t] = p;
        }
    }
    omp_set_num_threads(saved);
    EXPECT_EQ(results[0], results[1]);
    // The square's visible part: full at the left border, its right edge
    // at 7.6 mm = 19.456 pixels.
    EXPECT_EQ(results[0].pixel(0, 15), 255);
    EXPECT_EQ(results[0].pixel(19, 15), 116);
}

TEST(ExactCoverage, SummaryFromTheFillIsTheRastersBlockSummary)
{
    // The fill's hint plus the blocks the exact pass changed, refined, must be
    // the summary read from the pixels: shapes with uniform blocks inside and
    // out, a nested hole, overlapping and inside-out outlines, a star of
    // crossing spikes, for every rule, on planes of whole blocks and not.
    std::vector<Segments> cases;
    for (const std::vector<Pt> &poly : shapes())
        cases.push_back(outline(poly));
    Segments holed = outline({{2.2, 3.1}, {61.5, 3.1}, {61.5, 60.9}, {2.2, 60.9}});
    holed += outline({{20.3, 18.6}, {44.1, 18.6}, {44.1, 40.25}, {20.3, 40.25}}, true);
    cases.push_back(holed);
    Segments two = outline({{10.25, 10.25}, {30.5, 10.25}, {30.5, 30.5}, {10.25, 30.5}});
    two += outline({{20.5, 20.5}, {40.75, 20.5}, {40.75, 40.75}, {20.5, 40.75}});
    cases.push_back(two);
    cases.push_back(outline({{4, 4}, {60, 4}, {60, 60}, {4, 60}}, true));
    // Two slabs whose lower edges cut pixel row 10 at different heights:
    // the row's edge-free stretch is a partial level in both, in blocks
    // mixed in both.
    cases.push_back(outline({{2, 10.9}, {62, 10.9}, {62, 50}, {2, 50}}));
    cases.push_back(outline({{2, 10.5}, {62, 10.5}, {62, 50}, {2, 50}}));
    Segments star;
    for (int i = 0; i < 101; i++) {
        const double a0 = 2 * M_PI * i * 7 / 101, a1 = 2 * M_PI * (i + 1) * 7 / 101;
        star += Segment{float(32 + 30 * std::cos(a0)), float(32 + 30 * std::sin(a0)),
                        float(32 + 30 * std::cos(a1)), float(32 + 30 * std::sin(a1))};
    }
    cases.push_back(star);
    const Extents ext{0, 0, 64, 64};
    for (const QSize size : {QSize(64, 64), QSize(256, 256), QSize(72, 40)})
        for (int rule = 0; rule < 3; ++rule) {
            // The cases one after another into one plane that keeps its
            // pixels and summary (each case twice: an unchanged layer), as a
            // thread's raster does: each fill as on a fresh plane.
            Plane8 kept(size.width(), size.height()), keptSummary;
            Plane1 keptScratch;
            bool known = false;
            for (size_t k = 0; k < 2 * cases.size(); ++k) {
                const size_t c = k / 2;
                Plane8 p(size.width(), size.height()), summary;
                Plane1 scratch;
                p.fill(uchar(k * 37)); // a fresh plane's pixels are anything
                rasterizeLayer(cases[c], ext, rule, p, scratch, false, &summary);
                ASSERT_EQ(summary, p.blockSummary()) << "case " << c << " rule " << rule << " " << size.width();
                rasterizeLayer(cases[c], ext, rule, kept, keptScratch, false, &keptSummary, known);
                known = true;
                ASSERT_TRUE(kept == p) << "case " << c << " rule " << rule << " " << size.width();
                ASSERT_EQ(keptSummary, summary) << "case " << c << " rule " << rule << " " << size.width();
            }
        }
}

namespace {

// The exact pass in its plainest form, the twin of the banded one: every
// piece of every segment becomes a cell (row, column, order made), one
// stable sort puts them in order, and each row is resolved left to right.
// Same arithmetic, same order of sums, so the same bytes.
void exactEdgeCoverageTwin(Plane8 &raster, const Segments &segs, const Extents &ext, int rule)
{
    const int w = raster.width, h = raster.height;
    const double ew = double(ext.maxX) - ext.minX, eh = double(ext.maxY) - ext.minY;
    if (w <= 0 || h <= 0 || !(ew > 0) || !(eh > 0) || !std::isfinite(ew) || !std::isfinite(eh))
        return;
    const double kx = w / ew, ky = h / eh, big = double(1 << 30);
    auto floorI = [](double v) { return int(std::floor(v)); };
    auto ceilI = [](double v) { return int(std::ceil(v)); };
    struct Cell {
        int row, column;
        float area, cover;
    };
    std::vector<Cell> cells;
    for (const Segment &s : segs) {
        double x0 = (s.x0 - double(ext.minX)) * kx, y0 = (s.y0 - double(ext.minY)) * ky;
        double x1 = (s.x1 - double(ext.minX)) * kx, y1 = (s.y1 - double(ext.minY)) * ky;
        if (!(std::fabs(x0) < big && std::fabs(y0) < big && std::fabs(x1) < big && std::fabs(y1) < big) || y0 == y1)
            continue;
        const int dir = y1 > y0 ? 1 : -1;
        if (dir < 0) {
            std::swap(x0, x1);
            std::swap(y0, y1);
        }
        if (y1 <= 0 || y0 >= h)
            continue;
        const double slope = (x1 - x0) / (y1 - y0);
        for (int r = std::max(0, floorI(y0)); r <= std::min(h - 1, ceilI(y1) - 1); ++r) {
            const double ya = std::max(y0, double(r)), yb = std::min(y1, double(r + 1));
            if (!(yb > ya))
                continue;
            const double xa = x0 + (ya - y0) * slope, xb = x0 + (yb - y0) * slope, dy = (yb - ya) * dir;
            const double lo = std::min(xa, xb), hi = std::max(xa, xb), span = xb - xa;
            if (lo >= w)
                continue;
            double tPrev = 0, xPrev = xa;
            auto piece = [&](double t, double x) {
                const double mid = 0.5 * (xPrev + x), d = dy * (t - tPrev);
                int c = mid < 0 ? -1 : int(mid);
                if (d != 0 && c < w) {
                    const double area = c < 0 ? d : d * std::clamp(double(c + 1) - mid, 0.0, 1.0);
                    cells.push_back(Cell{r, std::max(c, 0), float(area), float(d)});
                }
                tPrev = t;
                xPrev = x;
            };
            const int k0 = std::max(0, floorI(lo) + 1), k1 = std::min(w, ceilI(hi) - 1);
            if (k0 <= k1 && span != 0) {
                for (int i = 0; i <= k1 - k0; ++i) {
                    const int k = span > 0 ? k0 + i : k1 - i;
                    piece((k - xa) / span, double(k));
                }
            } else if (lo < 0 && hi > 0 && span != 0) {
                piece(-xa / span, 0.0);
            }
            piece(1.0, xb);
        }
    }
    std::stable_sort(cells.begin(), cells.end(), [](const Cell &a, const Cell &b) {
        return a.row != b.row ? a.row < b.row : a.column < b.column;
    });
    auto level = [rule](double e) {
        double v;
        if (rule == 0) {
            v = std::min(std::fabs(e), 1.0);
        } else if (rule == 1) {
            v = std::clamp(e, 0.0, 1.0);
        } else {
            const double f = std::fmod(std::fabs(e), 2.0);
            v = f <= 1 ? f : 2 - f;
        }
        return int(std::lround(v * 255));
    };
    auto put = [](uchar *row, int x, int exact) {
        if (std::abs(exact - int(row[x])) <= kExactCoverageTolerance)
            row[x] = uchar(exact);
    };
    for (size_t i = 0; i < cells.size();) {
        const int r = cells[i].row;
        uchar *row = raster.row(r);
        double running = 0;
        while (i < cells.size() && cells[i].row == r) {
            const int x = cells[i].column;
            double area = 0, cover = 0;
            for (; i < cells.size() && cells[i].row == r && cells[i].column == x; ++i) {
                area += cells[i].area;
                cover += cells[i].cover;
            }
            put(row, x, level(running + area));
            running += cover;
            const int next = i < cells.size() && cells[i].row == r ? cells[i].column : w, gap = level(running);
            for (int g = x + 1; g < next; ++g)
                if ((gap != 0 && gap != 255) || (gap == 255 && rule == 2 && (g < x + 5 || g >= next - 4)))
                    put(row, g, gap);
        }
    }
}

} // namespace

// The banded pass against its twin, byte for byte: the layers of a real
// part (spikes, so many slanted and steep sides) and random polygons with
// overlaps and sides out of the plane, for every rule.
TEST(ExactCoverage, MatchesItsPlainTwinOnRealAndRandomLayers)
{
    std::vector<std::pair<Segments, Extents>> cases;
    std::vector<QSize> sizes;
    const MeshLayers real = meshLayers(TESSAVO_TEST_DATA "/driver/star_spikes.stl", 0.6f);
    ASSERT_GE(real.layers.size(), 8u);
    for (const Segments &s : real.layers) {
        cases.push_back({s, real.grid.extents});
        sizes.push_back(QSize(real.grid.width, real.grid.height));
    }
    // Walls along the rows and columns, some out of the plane or on pixel borders.
    for (const std::vector<Pt> &box : {std::vector<Pt>{{-3.5, 10.25}, {30.5, 10.25}, {30.5, 40.75}, {-3.5, 40.75}},
                                       std::vector<Pt>{{12, 3.3}, {70.2, 3.3}, {70.2, 60.1}, {12, 60.1}},
                                       std::vector<Pt>{{5.5, 5.5}, {5.75, 5.5}, {5.75, 50.5}, {5.5, 50.5}}}) {
        cases.push_back({outline(box), Extents{0, 0, 64, 64}});
        sizes.push_back(QSize(64, 64));
    }
    std::mt19937 rng(77);
    std::uniform_real_distribution<float> u(-8, 72);
    for (int k = 0; k < 30; ++k) {
        Segments segs;
        for (int loop = 0; loop < 1 + k % 3; ++loop) {
            const int n = 3 + int(rng() % 9);
            std::vector<Pt> pts;
            for (int i = 0; i < n; ++i)
                pts.push_back({u(rng), u(rng)});
            segs += outline(pts, k % 4 == 3);
        }
        cases.push_back({segs, Extents{0, 0, 64, 64}});
        sizes.push_back(k % 2 ? QSize(64, 64) : QSize(80, 48));
    }
    int edgePixels = 0;
    for (size_t c = 0; c < cases.size(); ++c)
        for (int rule = 0; rule < 3; ++rule) {
            Plane8 filled(sizes[c].width(), sizes[c].height());
            Plane1 scratch;
            if (rule == 2)
                filled.fromSegs2(cases[c].first, cases[c].second, scratch, false);
            else
                filled.fromSegs3(cases[c].first, cases[c].second, scratch, rule == 0, false);
            if (c < real.layers.size() && rule == 1) { // the real layers face the right way
                ASSERT_NE(std::find(filled.data, filled.data + filled.byteSize, uchar(255)), filled.data + filled.byteSize);
            }
            Plane8 banded = filled, twin = filled;
            exactEdgeCoverage(banded, cases[c].first, cases[c].second, rule);
            exactEdgeCoverageTwin(twin, cases[c].first, cases[c].second, rule);
            ASSERT_TRUE(banded == twin) << "case " << c << " rule " << rule;
            for (int i = 0; i < banded.byteSize; ++i)
                edgePixels += banded.data[i] != filled.data[i];
        }
    EXPECT_GT(edgePixels, 5000); // the pass did rewrite pixels
}
