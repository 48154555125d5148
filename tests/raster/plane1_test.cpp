#include "raster/plane1.h"
#include "raster/plane8.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <climits>
#include <functional>
#include <random>
#include <vector>

namespace {

Plane1 randomPlane1(int w, int h, std::mt19937 &rng, int density = 50)
{
    Plane1 p(w, h);
    p.fill(0);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            p.setPixel(x, y, int(rng() % 100) < density);
    return p;
}

QString thrown(const std::function<void()> &f)
{
    try {
        f();
    } catch (const QString &e) {
        return e;
    }
    return QString();
}

// Per-pixel reference of a one-pixel step; outside pixels are clear, the
// first and last rows are copied.
Plane1 naiveOffset(const Plane1 &s, char op)
{
    Plane1 d(s.width, s.height);
    d.fill(0);
    auto at = [&](int x, int y) { return x >= 0 && x < s.width && s.pixel(x, y); };
    for (int y = 0; y < s.height; y++)
        for (int x = 0; x < s.width; x++) {
            bool v;
            if (y == 0 || y == s.height - 1) {
                v = s.pixel(x, y);
            } else {
                const bool cross[5] = {at(x, y), at(x - 1, y), at(x + 1, y), at(x, y - 1), at(x, y + 1)};
                const bool diag[4] = {at(x - 1, y - 1), at(x + 1, y - 1), at(x - 1, y + 1), at(x + 1, y + 1)};
                bool all = true, any = false, all8 = true, any8 = false;
                for (bool b : cross) {
                    all = all && b;
                    any = any || b;
                }
                all8 = all;
                any8 = any;
                for (bool b : diag) {
                    all8 = all8 && b;
                    any8 = any8 || b;
                }
                v = op == 'a' ? all : op == 'o' ? any : op == 'A' ? all8 : any8;
            }
            d.setPixel(x, y, v);
        }
    return d;
}

} // namespace

TEST(Plane1, LayoutAndValueSemantics)
{
    Plane1 a(96, 40);
    EXPECT_EQ(reinterpret_cast<quintptr>(a.data) % 16, 0u);
    EXPECT_EQ(a.byteSize, 96 / 8 * 40);
    EXPECT_GE(a.storage.size(), a.byteSize + 15);
    a.fill(0);
    a.setPixel(33, 2, true);
    EXPECT_EQ(a.row(2)[4], 0x02); // least significant bit first
    Plane1 b(a);
    b.setPixel(0, 0, true);
    EXPECT_FALSE(a.pixel(0, 0)); // copies own their pixels
    EXPECT_TRUE(b.pixel(33, 2));
    Plane1 c;
    EXPECT_EQ(c.size(), QSize(0, 0));
    c = b;
    EXPECT_EQ(c, b);
    Plane1 moved(std::move(c));
    EXPECT_EQ(moved, b);
    Plane1 odd(33, 3);
    EXPECT_EQ(odd.stride(), 5); // a partial byte still holds the last pixel
}

TEST(Plane1, FromPlane8ThresholdsAtLevel)
{
    std::mt19937 rng(11);
    for (int w : {32, 64, 40}) {
        Plane8 src(w, 20);
        for (int i = 0; i < src.byteSize; i++)
            src.data[i] = uchar(rng());
        src.setPixel(0, 0, 127);
        src.setPixel(1, 0, 128);
        for (bool inv : {false, true}) {
            Plane1 m;
            m.fromPlane8(src, 128, inv);
            ASSERT_EQ(m.size(), src.size());
            for (int y = 0; y < src.height; y++)
                for (int x = 0; x < w; x++)
                    ASSERT_EQ(m.pixel(x, y), (src.pixel(x, y) >= 128) != inv) << x << "," << y;
            EXPECT_EQ(m.pixel(0, 0), inv);
            EXPECT_EQ(m.pixel(1, 0), !inv);
        }
    }
}

TEST(Plane1, BitwiseOpTable)
{
    std::mt19937 rng(12);
    const Plane1 a0 = randomPlane1(64, 48, rng), b = randomPlane1(64, 48, rng), c = randomPlane1(64, 48, rng);
    auto expect = [](int op, bool a, bool b, bool c) {
        switch (op) {
        case 1: return b;
        case 2: return a && b;
        case 3: return a != b;
        case 4: return b && c;
        case 5: return c && !(a && b);
        case 6: return a || b;
        case 7: return a || !b;
        default: return a;
        }
    };
    for (int op = 0; op <= 9; op++) {
        Plane1 a(a0);
        Plane1::bitwiseOp(op, &a, &b, &c, true);
        for (int y = 0; y < 48; y++)
            for (int x = 0; x < 64; x++)
                ASSERT_EQ(a.pixel(x, y), expect(op, a0.pixel(x, y), b.pixel(x, y), c.pixel(x, y)))
                    << "op " << op << " at " << x << "," << y;
    }
    // Ops 1 and 4 size the destination from b.
    Plane1 empty;
    Plane1::bitwiseOp(1, &empty, &b);
    EXPECT_EQ(empty, b);
    Plane1 d;
    Plane1::bitwiseOp(4, &d, &b, &c);
    EXPECT_EQ(d.size(), b.size());
}

TEST(Plane1, BitwiseOpErrors)
{
    Plane1 a(32, 32), b(32, 32), small(32, 16);
    const QString incompatible = "Plane1::bitwiseOp() incompatible input planes";
    const QString needC = "Plane1::bitwiseOp() c operand is needed";
    EXPECT_EQ(thrown([&] { Plane1::bitwiseOp(4, &a, &b); }), needC);
    EXPECT_EQ(thrown([&] { Plane1::bitwiseOp(5, &a, &b); }), needC);
    EXPECT_EQ(thrown([&] { Plane1::bitwiseOp(2, &a, &small); }), incompatible);
    EXPECT_EQ(thrown([&] { Plane1::bitwiseOp(2, &a, &b, &small); }), incompatible);
    EXPECT_EQ(thrown([&] { Plane1::bitwiseOp(2, nullptr, &b); }), incompatible);
    EXPECT_EQ(thrown([&] { Plane1::bitwiseOp(2, &a, nullptr); }), incompatible);
}

TEST(Plane1, OneStepOffsetsMatchPerPixelReference)
{
    std::mt19937 rng(13);
    for (int density : {20, 50, 85}) {
        const Plane1 src = randomPlane1(96, 37, rng, density);
        for (char op : {'a', 'A', 'o', 'O'}) {
            Plane1 dst;
            src.offset1(dst, op);
            EXPECT_EQ(dst, naiveOffset(src, op)) << op << " density " << density;
            Plane1 inPlace(src);
            inPlace.offset1(inPlace, op);
            EXPECT_EQ(inPlace, dst) << op;
        }
    }
}

TEST(Plane1, OffsetErrors)
{
    Plane1 odd(33, 8), ok(32, 8), dst;
    EXPECT_EQ(thrown([&] { odd.offset1(dst, 'a'); }), "Plane1::offset1 width must be aigned to 32");
    EXPECT_EQ(thrown([&] { ok.offset1(dst, 'x'); }), "Plane1::offset1() invalid operation");
}

TEST(Plane1, OffsetByGrowsOctagonAndShrinksBack)
{
    Plane1 dot(64, 32);
    dot.fill(0);
    dot.setPixel(40, 15, true);
    EXPECT_EQ(dot.offsetBy(0), dot);
    const Plane1 grown = dot.offsetBy(2);
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 64; x++) {
            const int dx = std::abs(x - 40), dy = std::abs(y - 15);
            const bool inside = dx <= 2 && dy <= 2 && !(dx == 2 && dy == 2);
            ASSERT_EQ(grown.pixel(x, y), inside) << x << "," << y;
        }
    EXPECT_EQ(grown.offsetBy(-2), dot);
    EXPECT_EQ(dot.offsetN(3, 'A', 'a'), dot.offsetBy(-3));
}

// LoopFillOverlap=1000000000 hung the slicer: each of the n steps ran.
TEST(Plane1, OffsetByHugeCountStopsOnceSettled)
{
    Plane1 blob(64, 32);
    blob.fill(0);
    blob.setPixel(40, 15, true);
    blob.setPixel(41, 15, true);
    blob.setPixel(10, 20, true);
    const Plane1 full = blob.offsetBy(200), empty = blob.offsetBy(-200);
    struct Case { int n; const Plane1 *want; };
    for (const Case &c : {Case{201, &full}, Case{INT_MAX, &full}, Case{1000000000, &full},
                          Case{-201, &empty}, Case{-INT_MAX, &empty}, Case{INT_MIN, &empty}})
        EXPECT_EQ(blob.offsetBy(c.n), *c.want) << c.n;
    // Settling must not cut a still-changing offset short.
    Plane1 stepped = blob, next;
    for (int i = 0; i < 20; i++) {
        stepped.offset1(next, i % 2 ? 'o' : 'O');
        std::swap(stepped, next);
    }
    EXPECT_NE(stepped, full);
    EXPECT_EQ(blob.offsetBy(20), stepped);
}

// offsetN steps only through the box of set pixels; its twin is offset1
// over the whole plane, step after step. Blobs sit inside, against every
// side and on the first and last rows (which the steps copy unchanged),
// with box edges on and off word borders, in planes 32 and 160 wide.
TEST(Plane1, BoxedStepsMatchWholePlaneSteps)
{
    std::mt19937 rng(23);
    auto blob = [&](int w, int h, int x0, int y0, int x1, int y1, int density) {
        Plane1 p(w, h);
        p.fill(0);
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++)
                p.setPixel(x, y, int(rng() % 100) < density);
        return p;
    };
    std::vector<Plane1> planes;
    for (const QSize size : {QSize(160, 70), QSize(32, 40)}) {
        const int w = size.width(), h = size.height();
        for (int density : {15, 60, 100}) {
            planes.push_back(blob(w, h, w / 3, h / 3, w / 3 + 9, h / 3 + 7, density)); // inside
            planes.push_back(blob(w, h, 0, 10, 5, 20, density));                         // left side
            planes.push_back(blob(w, h, w - 4, 10, w - 1, 25, density));                 // right side
            planes.push_back(blob(w, h, 5, 0, 20, 2, density));                          // first row
            planes.push_back(blob(w, h, 3, h - 3, 29, h - 1, density));                  // last row
            planes.push_back(blob(w, h, 31, 1, 32 < w ? 32 : 31, 1, density));          // a word border, row 1
            planes.push_back(blob(w, h, 0, 0, w - 1, h - 1, density));                   // everywhere
        }
        planes.push_back(blob(w, h, 0, 0, 0, 0, 0)); // clear
    }
    const char ops[][2] = {{'O', 'o'}, {'o', 'O'}, {'A', 'a'}, {'a', 'A'}, {'O', 'a'}, {'A', 'o'}};
    for (size_t i = 0; i < planes.size(); i++)
        for (const auto &op : ops)
            for (int n : {1, 2, 3, 7, 40}) {
                Plane1 want = planes[i], next;
                for (int k = 0; k < n; k++) {
                    want.offset1(next, op[k % 2]);
                    std::swap(want, next);
                }
                ASSERT_EQ(planes[i].offsetN(n, op[0], op[1]), want)
                    << "plane " << i << " ops " << op[0] << op[1] << " n=" << n;
            }
    Plane1 ok(32, 8);
    ok.fill(0);
    EXPECT_EQ(thrown([&] { ok.offsetN(1, 'x', 'o'); }), "Plane1::offset1() invalid operation");
    EXPECT_EQ(thrown([&] { ok.offsetN(2, 'o', 'x'); }), "Plane1::offset1() invalid operation");
    ok.setPixel(3, 3, true);
    EXPECT_EQ(thrown([&] { ok.offsetN(2, 'o', 'x'); }), "Plane1::offset1() invalid operation");
}

TEST(Plane1, BoundsOfSetPixels)
{
    std::mt19937 rng(5);
    for (const QSize size : {QSize(64, 20), QSize(37, 9), QSize(31, 5), QSize(8, 3), QSize(100, 17)})
        for (int trial = 0; trial < 40; trial++) {
            const int w = size.width(), h = size.height();
            Plane1 p(w, h);
            p.fill(0xFF); // pixels beyond the width are set too: they must not count
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++)
                    p.setPixel(x, y, false);
            const int count = trial % 5; // 0: clear
            int y0 = h, y1 = -1, x0 = w, x1 = -1;
            for (int k = 0; k < count; k++) {
                const int x = int(rng() % unsigned(w)), y = int(rng() % unsigned(h));
                p.setPixel(x, y, true);
                y0 = std::min(y0, y), y1 = std::max(y1, y), x0 = std::min(x0, x), x1 = std::max(x1, x);
            }
            int b[4] = {-7, -7, -7, -7};
            ASSERT_EQ(p.bounds(b[0], b[1], b[2], b[3]), count > 0) << w;
            if (count > 0) {
                EXPECT_EQ(b[0], y0) << w;
                EXPECT_EQ(b[1], y1) << w;
                EXPECT_EQ(b[2], x0) << w;
                EXPECT_EQ(b[3], x1) << w;
            } else {
                EXPECT_EQ(b[0], -7);
            }
        }
}

// The one-pass growth from row runs must give exactly what the one-pixel
// steps give, for shapes whose growth stays inside the plane, leaves it on
// the left or right, or meets the first or last row (where it falls back).
TEST(Plane1, GrowthFromRunsMatchesSteps)
{
    std::mt19937 rng(7);
    auto blank = [] { Plane1 p(96, 80); p.fill(0); return p; };
    auto rect = [&](int x0, int y0, int x1, int y1) {
        Plane1 p = blank();
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++)
                p.setPixel(x, y, true);
        return p;
    };
    // Sparse specks inside rows 30..49: many runs per row, word borders crossed.
    Plane1 specks = blank();
    for (int y = 30; y < 50; y++)
        for (int x = 0; x < 96; x++)
            specks.setPixel(x, y, rng() % 7 == 0);
    Plane1 ring = rect(20, 20, 70, 60);
    for (int y = 28; y <= 52; y++)
        for (int x = 30; x <= 60; x++)
            ring.setPixel(x, y, false);
    Plane1 dot = blank();
    dot.setPixel(31, 40, true);
    dot.setPixel(32, 41, true);
    Plane1 mixed = randomPlane1(96, 80, rng, 30);
    const struct { const char *name; Plane1 plane; } shapes[] = {
        {"empty", blank()},
        {"dot", dot},
        {"ring", ring},
        {"specks", specks},
        {"edges", rect(0, 35, 95, 38)},      // full rows: growth leaves the sides
        {"left", rect(0, 10, 3, 70)},
        {"top", rect(40, 1, 50, 5)},          // reaches row 0: steps keep it clear
        {"bottom", rect(40, 74, 50, 79)},     // already on the last row
        {"noise", mixed},
    };
    for (const auto &s : shapes)
        for (int n : {1, 2, 3, 4, 5, 8, 13, 24, 40, 79, 200}) {
            const Plane1 want = s.plane.offsetN(n, 'O', 'o');
            EXPECT_EQ(s.plane.grownByRuns(n), want) << s.name << " n=" << n;
            EXPECT_EQ(s.plane.offsetBy(n), want) << s.name << " n=" << n;
        }
}

TEST(Plane1, Inflate64AddsBorder)
{
    Plane1 p(32, 32);
    p.fill(0);
    p.setPixel(5, 7, true);
    p.inflate64(0xFF);
    ASSERT_EQ(p.size(), QSize(96, 96));
    int set = 0;
    for (int y = 0; y < 96; y++)
        for (int x = 0; x < 96; x++)
            set += p.pixel(x, y);
    EXPECT_EQ(set, 96 * 96 - 32 * 32 + 1);
    EXPECT_TRUE(p.pixel(37, 39));
    EXPECT_FALSE(p.pixel(32, 32));
    Plane1 bad(48, 32);
    EXPECT_EQ(thrown([&] { bad.inflate64(0); }), "Plane1::inflate64() size must be aligned to 32");
}

TEST(Plane1, BlockSummaryClassifiesBlocks)
{
    std::mt19937 rng(14);
    Plane1 p(160, 48); // 10 x 3 blocks: more than one SSE2 group of 8
    for (int by = 0; by < 3; by++)
        for (int bx = 0; bx < 10; bx++) {
            const int kind = int(rng() % 3);
            for (int y = 0; y < 16; y++)
                for (int x = 0; x < 16; x++)
                    p.setPixel(bx * 16 + x, by * 16 + y, kind == 1 || (kind == 2 && x == 3 && y == 9 ? false : kind == 2));
        }
    const Plane8 s = p.blockSummary();
    ASSERT_EQ(s.size(), QSize(10, 3));
    for (int by = 0; by < 3; by++)
        for (int bx = 0; bx < 10; bx++) {
            int ones = 0;
            for (int y = 0; y < 16; y++)
                for (int x = 0; x < 16; x++)
                    ones += p.pixel(bx * 16 + x, by * 16 + y);
            EXPECT_EQ(s.pixel(bx, by), ones == 0 ? 0 : ones == 256 ? 255 : 128) << bx << "," << by;
        }
}

TEST(Plane1, ZeroSizePlanesAreHarmless)
{
    Plane1 a, b, dst;
    Plane1::bitwiseOp(3, &a, &b);
    a.offset1(dst, 'O');
    EXPECT_EQ(dst.size(), QSize(0, 0));
    EXPECT_EQ(a.blockSummary().size(), QSize(0, 0));
    Plane8 empty;
    a.fromPlane8(empty, 128, true);
    EXPECT_EQ(a.byteSize, 0);
}
