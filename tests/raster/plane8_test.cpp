#include "raster/plane1.h"
#include "raster/plane8.h"

#include <gtest/gtest.h>
#include <omp.h>
#include <functional>
#include <cstring>
#include <random>

namespace {

QString thrown(const std::function<void()> &f)
{
    try {
        f();
    } catch (const QString &e) {
        return e;
    }
    return QString();
}

Plane8 rowOf(std::initializer_list<int> v)
{
    Plane8 p(int(v.size()), 1);
    int i = 0;
    for (int x : v)
        p.setPixel(i++, 0, uchar(x));
    return p;
}

Plane8 transposed(const Plane8 &p)
{
    Plane8 t(p.height, p.width);
    for (int y = 0; y < p.height; y++)
        for (int x = 0; x < p.width; x++)
            t.setPixel(y, x, p.pixel(x, y));
    return t;
}

// Blocks of 16 x 16: all 0, all 255 or random, so that every kind of strip occurs.
Plane8 blockyPlane(int w, int h, std::mt19937 &rng)
{
    Plane8 p(w, h);
    for (int by = 0; by < h / 16; by++)
        for (int bx = 0; bx < w / 16; bx++) {
            const int kind = int(rng() % 5);
            for (int y = 0; y < 16; y++)
                for (int x = 0; x < 16; x++)
                    p.setPixel(bx * 16 + x, by * 16 + y,
                               kind < 2 ? 0 : kind < 4 ? 255 : (rng() % 3 ? uchar(rng()) : 255));
        }
    return p;
}

Plane8 exactSummary(const Plane8 &p)
{
    Plane8 s(p.width / 16, p.height / 16);
    for (int by = 0; by < s.height; by++)
        for (int bx = 0; bx < s.width; bx++) {
            int lo = 255, hi = 0;
            for (int y = 0; y < 16; y++)
                for (int x = 0; x < 16; x++) {
                    lo = qMin(lo, int(p.pixel(bx * 16 + x, by * 16 + y)));
                    hi = qMax(hi, int(p.pixel(bx * 16 + x, by * 16 + y)));
                }
            s.setPixel(bx, by, hi == 0 ? 0 : lo == 255 ? 255 : 128);
        }
    return s;
}

// Column box blur with transposed output, rows beyond the plane reading border.
Plane8 naiveBlur(const Plane8 &src, int win, uchar border)
{
    Plane8 d(src.height, src.width);
    for (int x = 0; x < src.width; x++)
        for (int y = 0; y < src.height; y++) {
            int sum = 0;
            for (int k = -win / 2; k <= win / 2; k++) {
                const int yy = y + k;
                sum += yy < 0 || yy >= src.height ? border : src.pixel(x, yy);
            }
            d.setPixel(y, x, uchar(sum / win));
        }
    return d;
}

} // namespace

TEST(Plane8, LayoutCopiesAndFromPlane1)
{
    std::mt19937 rng(21);
    for (int w : {64, 40}) {
        Plane1 bits(w, 10);
        for (int y = 0; y < 10; y++)
            for (int x = 0; x < w; x++)
                bits.setPixel(x, y, rng() % 2);
        Plane8 p;
        p.fromPlane1(bits);
        ASSERT_EQ(p.size(), bits.size());
        EXPECT_EQ(reinterpret_cast<quintptr>(p.data) % 16, 0u);
        for (int y = 0; y < 10; y++)
            for (int x = 0; x < w; x++)
                ASSERT_EQ(p.pixel(x, y), bits.pixel(x, y) ? 255 : 0);
        Plane1 back;
        back.fromPlane8(p, 128, false);
        EXPECT_EQ(back, bits);
        Plane8 copy(p);
        copy.setPixel(0, 0, 7);
        EXPECT_NE(copy.pixel(0, 0), p.pixel(0, 0));
    }
}

TEST(Plane8, EdgeReduceMarksRunEnds)
{
    struct Case {
        int value;
        Plane8 in, out;
    };
    const Case cases[] = {
        {255, rowOf({0, 0, 255, 255, 255, 0}), rowOf({0, 0, 128, 255, 128, 0})},
        {255, rowOf({255, 255, 0, 255}), rowOf({128, 128, 0, 128})}, // border run marked at its start only
        {0, rowOf({255, 0, 0, 255}), rowOf({255, 128, 128, 255})},
        {0, rowOf({0, 0, 0, 255, 0}), rowOf({0, 0, 128, 255, 128})},
        {255, rowOf({128, 255, 128}), rowOf({128, 128, 128})},
    };
    for (const Case &c : cases) {
        Plane8 r(c.in);
        r.edgeReduce(uchar(c.value), true, false);
        EXPECT_EQ(r, c.out) << "value " << c.value;
        Plane8 col = transposed(c.in);
        col.edgeReduce(uchar(c.value), false, true);
        EXPECT_EQ(col, transposed(c.out)) << "columns, value " << c.value;
        Plane8 none(c.in);
        none.edgeReduce(uchar(c.value), false, false);
        EXPECT_EQ(none, c.in);
    }
}

TEST(Plane8, ThresholdScaleFromWinsize)
{
    struct Case {
        float distance, factor;
        int win, threshold, scale;
    };
    const Case cases[] = {
        {1.5f, 1.0f, 7, 182, 4},
        {3.003f, 0.5f, 7, 237, 8},
        {0.0f, 1.0f, 3, 128, 3}, // window clamped up to 3
        {4.0f, 1.0f, 15, 196, 8}, // window clamped down to 15
    };
    for (const Case &c : cases) {
        const ThresholdScale ts = ThresholdScaleFromWinsize(c.distance, c.factor);
        EXPECT_EQ(ts.win, c.win) << c.distance;
        EXPECT_EQ(ts.threshold, c.threshold) << c.distance;
        EXPECT_EQ(ts.scale, c.scale) << c.distance;
        EXPECT_GE((255 - ts.threshold) * ts.scale + 128, 255);
    }
    EXPECT_EQ(thrown([] { ThresholdScaleFromWinsize(7.5f, 1.0f); }),
              "FATAL ERROR: ThresholdScaleFromWinsize() Threshold out of range (255)");
    EXPECT_EQ(thrown([] { ThresholdScaleFromWinsize(-7.5f, 1.0f); }),
              "FATAL ERROR: ThresholdScaleFromWinsize() Threshold out of range (0)");
    EXPECT_FALSE(thrown([] { ThresholdScaleFromWinsize(std::nanf(""), 1.0f); }).isEmpty());
}

TEST(Plane8, Blur2MatchesFullBoxBlurWhileSkippingUniformBlocks)
{
    std::mt19937 rng(22);
    for (int round = 0; round < 12; round++) {
        const int w = 16 * (2 + int(rng() % 5)), h = 16 * (2 + int(rng() % 6));
        const Plane8 src = blockyPlane(w, h, rng);
        const int win = 3 + 2 * int(rng() % 7);
        const uchar border = round % 3 == 0 ? 255 : 0;
        const Plane8 ref = naiveBlur(src, win, border);
        const Plane8 summary = exactSummary(src);
        for (bool transposedSummary : {false, true}) {
            Plane8 dst(h, w), dstSummary;
            dst.fill(77);
            Plane8::blur2(win, border, true, src, dst, transposedSummary ? transposed(summary) : summary,
                          transposedSummary, dstSummary);
            EXPECT_EQ(dst, ref) << "round " << round << " win " << win;
            EXPECT_EQ(dstSummary, exactSummary(ref)) << "round " << round;
        }
        // Without writeUniform, uniform blocks are left alone and all other pixels computed.
        Plane8 dst(h, w), dstSummary;
        dst.fill(77);
        Plane8::blur2(win, border, false, src, dst, summary, false, dstSummary);
        EXPECT_EQ(dstSummary, exactSummary(ref));
        int skipped = 0;
        for (int y = 0; y < dst.height; y++)
            for (int x = 0; x < dst.width; x++) {
                if (dst.pixel(x, y) == ref.pixel(x, y))
                    continue;
                ASSERT_EQ(dst.pixel(x, y), 77);
                ASSERT_NE(dstSummary.pixel(x / 16, y / 16), 128) << "a mixed block was skipped";
                skipped++;
            }
        if (round == 0) {
            EXPECT_GT(skipped, 0) << "nothing was skipped";
        }
    }
}

TEST(Plane8, TwoBlurPassesGiveTheSquareBoxBlurInPlace)
{
    Plane1 region(64, 64);
    region.fill(0);
    for (int y = 20; y < 44; y++)
        for (int x = 10; x < 50; x++)
            region.setPixel(x, y, true);
    Plane8 cov;
    cov.fromPlane1(region);
    Plane8 t, ts, out, outSummary;
    Plane8::blur2(7, 0, true, cov, t, region.blockSummary(), false, ts);
    Plane8::blur2(7, 0, true, t, out, ts, false, outSummary);
    ASSERT_EQ(out.size(), cov.size());
    EXPECT_EQ(out, naiveBlur(naiveBlur(cov, 7, 0), 7, 0));
    // A straight edge reaches half level at the edge line and the corner a quarter.
    EXPECT_EQ(out.pixel(30, 20), 145); // 4 of 7 rows
    EXPECT_EQ(out.pixel(30, 19), 109);
    EXPECT_EQ(out.pixel(30, 30), 255);
}

TEST(Plane8, BlockSummaryOfCoverage)
{
    std::mt19937 rng(23);
    for (int w : {48, 160, 40}) {
        Plane8 p = blockyPlane(w / 16 * 16, 64, rng);
        if (w % 16) { // a partial block column is ignored
            Plane8 wider(w, 64);
            wider.fill(9);
            for (int y = 0; y < 64; y++)
                std::memcpy(wider.row(y), p.row(y), size_t(p.width));
            EXPECT_EQ(wider.blockSummary(), exactSummary(p));
        } else {
            EXPECT_EQ(p.blockSummary(), exactSummary(p));
        }
    }
}

// Copying only the blocks the two summaries do not call equal must give the
// whole source: stale destinations, summaries that call uniform blocks mixed,
// and sizes the block road does not take.
TEST(Plane8, CopyChangedBlocksGivesTheSource)
{
    std::mt19937 rng(31);
    struct Case { QSize src, dst; bool looseSummaries; };
    for (const Case &c : {Case{{160, 96}, {160, 96}, false}, Case{{160, 96}, {160, 96}, true},
                          Case{{160, 96}, {64, 32}, false}, Case{{40, 24}, {40, 24}, false},
                          Case{{1056, 48}, {1056, 48}, false}, Case{{1056, 48}, {1056, 48}, true}}) {
        const Plane8 src = blockyPlane(c.src.width(), c.src.height(), rng);
        Plane8 dst = blockyPlane(c.dst.width(), c.dst.height(), rng);
        if (c.src.width() % 16) { // partial blocks: pixels the summary does not see
            for (int y = 0; y < c.src.height(); y++)
                for (int x = 32; x < c.src.width(); x++)
                    dst.setPixel(x, y, uchar(x * y));
        }
        Plane8 srcSummary = exactSummary(src), dstSummary = exactSummary(dst);
        if (c.looseSummaries)
            for (int i = 0; i < srcSummary.width * srcSummary.height; i += 3) {
                srcSummary.data[i] = 128;
                dstSummary.data[(i + 1) % (dstSummary.width * dstSummary.height)] = 128;
            }
        Plane8::copyChangedBlocks(src, srcSummary, dst, dstSummary);
        EXPECT_EQ(dst, src) << c.src.width() << "x" << c.src.height();
        EXPECT_EQ(dstSummary, srcSummary);
    }
}

// Thresholding with the block summary fills uniform blocks without reading
// them: the bits must be those of the pixel-by-pixel road, for every
// threshold and sense, with partial blocks right of and below the whole ones.
TEST(Plane8, ThresholdWithSummaryMatchesThePixelRoad)
{
    std::mt19937 rng(41);
    for (const QSize size : {QSize(160, 96), QSize(256, 32), QSize(40, 24), QSize(100, 50), QSize(8, 8)}) {
        Plane8 p(size.width(), size.height());
        for (int y = 0; y < p.height; y++)
            for (int x = 0; x < p.width; x++)
                p.setPixel(x, y, uchar(rng()));
        const Plane8 blocks = blockyPlane(size.width() / 16 * 16, size.height() / 16 * 16, rng);
        for (int y = 0; y < blocks.height; y++)
            std::memcpy(p.row(y), blocks.row(y), size_t(blocks.width));
        const Plane8 summary = exactSummary(blocks);
        Plane8 wrongSize(1, 1);
        wrongSize.fill(255);
        for (int t : {0, 1, 128, 255, 256})
            for (bool invert : {false, true}) {
                Plane1 plain, fast, ignored;
                plain.fromPlane8(p, t, invert);
                fast.fromPlane8(p, t, invert, &summary);
                ignored.fromPlane8(p, t, invert, &wrongSize);
                EXPECT_EQ(fast, plain) << size.width() << "x" << size.height() << " t " << t << " invert " << invert;
                EXPECT_EQ(ignored, plain);
            }
    }
}

TEST(Plane8, Blur2RejectsBadArguments)
{
    Plane8 src(32, 32), dst, ds, summary(2, 2), wrong(1, 2), odd(24, 32);
    summary.fill(128);
    EXPECT_FALSE(thrown([&] { Plane8::blur2(4, 0, true, src, dst, summary, false, ds); }).isEmpty());
    EXPECT_FALSE(thrown([&] { Plane8::blur2(17, 0, true, src, dst, summary, false, ds); }).isEmpty());
    EXPECT_FALSE(thrown([&] { Plane8::blur2(5, 0, true, src, dst, wrong, false, ds); }).isEmpty());
    EXPECT_FALSE(thrown([&] { Plane8::blur2(5, 0, true, odd, dst, summary, false, ds); }).isEmpty());
    Plane8 empty, emptyDst, emptySummary, emptyDs;
    Plane8::blur2(5, 0, true, empty, emptyDst, emptySummary, false, emptyDs);
    EXPECT_EQ(emptyDst.size(), QSize(0, 0));
}

TEST(Plane8, Blur2HairModeMarksThinRunsOnly)
{
    // A 3-pixel bar across the plane (thin along the columns) and a 25-pixel one.
    Plane8 src(64, 96);
    src.fill(0);
    for (int x = 0; x < 64; x++) {
        for (int y = 30; y < 33; y++)
            src.setPixel(x, y, 255);
        for (int y = 60; y < 85; y++)
            src.setPixel(x, y, 255);
    }
    const Plane8 summary = exactSummary(src);
    const BlurHairParams params{45, 75, 4, 10};
    Plane8 plainDst, plainSum, dst, dstSum;
    Plane8::blur2(7, 0, true, src, plainDst, summary, false, plainSum);
    QVector<QVector<quint32>> markers;
    Plane8::blur2(7, 0, true, src, dst, summary, false, dstSum, &params, &markers);
    EXPECT_EQ(dst, plainDst); // the stored average is the same in both modes
    ASSERT_EQ(markers.size(), 4);
    for (int g = 0; g < 4; g++) {
        ASSERT_EQ(markers[g].size(), 16) << "group " << g;
        QVector<int> columns;
        for (quint32 m : markers[g]) {
            const int position = int(m & 0xFFFF), width = int(m >> 16 & 0xFF), column = int(m >> 24);
            // Rows 29 .. 34 average at least 45 (thin bar at 30 .. 32, window 7).
            EXPECT_EQ(position, 35);
            EXPECT_EQ(width, 6);
            EXPECT_NEAR(position - width / 2.0, 31.5, 0.6); // the marker's centre is the bar's
            columns << column;
        }
        std::sort(columns.begin(), columns.end());
        for (int c = 0; c < 16; c++)
            EXPECT_EQ(columns[c], c);
    }
    // Independent of the thread count.
    const int saved = omp_get_max_threads();
    omp_set_num_threads(1);
    QVector<QVector<quint32>> single;
    Plane8 d1, s1;
    Plane8::blur2(7, 0, true, src, d1, summary, false, s1, &params, &single);
    omp_set_num_threads(2);
    QVector<QVector<quint32>> two;
    Plane8 d2, s2;
    Plane8::blur2(7, 0, true, src, d2, summary, false, s2, &params, &two);
    omp_set_num_threads(saved);
    EXPECT_EQ(single, two);
    EXPECT_EQ(d1, d2);
}

TEST(Plane8, BlurAndThresholdMoveAStraightEdgeByTheDistance)
{
    // Square [20, 44) shrunk by 1.5 pixels: the first pixel kept on each side
    // has its centre 1.5 pixels inside the edge line.
    Plane1 region(64, 64);
    region.fill(0);
    for (int y = 20; y < 44; y++)
        for (int x = 20; x < 44; x++)
            region.setPixel(x, y, true);
    Plane8 cov, t, ts, blurred, bs;
    cov.fromPlane1(region);
    const ThresholdScale p = ThresholdScaleFromWinsize(1.5f, 1.0f);
    Plane8::blur2(p.win, 0, true, cov, t, region.blockSummary(), false, ts);
    ts.edgeReduce(255, true, true);
    ts.edgeReduce(0, true, true);
    Plane8::blur2(p.win, 0, true, t, blurred, ts, false, bs);
    Plane1 inner;
    inner.fromPlane8(blurred, p.threshold, false);
    for (int i = 0; i < 64; i++) {
        EXPECT_EQ(inner.pixel(i, 32), i >= 21 && i < 43) << i; // left and right edges
        EXPECT_EQ(inner.pixel(32, i), i >= 21 && i < 43) << i; // top and bottom edges
    }
    EXPECT_FALSE(inner.pixel(21, 21)); // corners are rounded off
    EXPECT_TRUE(inner.pixel(26, 26));
}
