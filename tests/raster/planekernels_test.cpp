// The SSE2 kernels against their scalar twins on random data.
#include "raster/rasterkernels.h"

#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {
std::vector<uchar> randomBytes(std::mt19937 &rng, int n, bool blocky = false)
{
    std::vector<uchar> v(size_t(n) + 64);
    for (size_t i = 0; i < v.size(); i++) {
        const int r = int(rng() % 8);
        v[i] = blocky ? (r < 3 ? 0 : r < 6 ? 255 : uchar(rng())) : uchar(rng());
    }
    return v;
}
} // namespace

TEST(RasterKernels, FloorAndCeilToIntMatchTheLibrary)
{
    std::vector<double> v = {0.0, -0.0, 0.5, -0.5, 1.0, -1.0, 1.5, -1.5, 2.0 - 1e-12, -2.0 + 1e-12,
                             std::nextafter(3.0, 0.0), std::nextafter(3.0, 9.0), std::nextafter(-3.0, 0.0),
                             std::nextafter(-3.0, -9.0), 4.9e-324, -4.9e-324, 1073741823.75, -1073741823.75,
                             2147483646.5, -2147483647.5};
    std::mt19937 rng(3);
    for (int i = 0; i < 20000; ++i) {
        const double scale = std::ldexp(1.0, int(rng() % 31) - 2);
        v.push_back(std::uniform_real_distribution<double>(-scale, scale)(rng));
        v.push_back(std::round(v.back() * 4) / 4); // quarters: exact integers and halves
    }
    for (double x : v) {
        EXPECT_EQ(rk::floorInt(x), int(std::floor(x))) << x;
        EXPECT_EQ(rk::ceilInt(x), int(std::ceil(x))) << x;
    }
}

TEST(RasterKernels, ThresholdPackingMatchesScalar)
{
    std::mt19937 rng(1);
    for (int width : {0, 1, 8, 16, 17, 31, 32, 33, 48, 50, 64, 100, 640}) {
        const auto src = randomBytes(rng, width, true);
        for (int t : {0, 1, 127, 128, 254, 255})
            for (bool inv : {false, true}) {
                std::vector<uchar> a(size_t(width / 8 + 2), 0xAA), b(a);
                rk::thresholdRowScalar(src.data(), width, t, inv, a.data());
                rk::thresholdRowSse2(src.data(), width, t, inv, b.data());
                EXPECT_EQ(a, b) << "width " << width << " t " << t << " inv " << inv;
            }
    }
    // The edge level itself: 127 below, 128 at the threshold.
    const uchar px[32] = {127, 128};
    uchar bits[4];
    rk::thresholdRowSse2(px, 32, 128, false, bits);
    EXPECT_EQ(bits[0] & 3, 2);
    rk::thresholdRowSse2(px, 32, 128, true, bits);
    EXPECT_EQ(bits[0] & 3, 1);
}

TEST(RasterKernels, BitwiseOpsMatchScalar)
{
    std::mt19937 rng(2);
    for (int bytes : {0, 5, 16, 32, 48, 100, 256})
        for (int op = 0; op <= 8; op++) {
            const auto a0 = randomBytes(rng, bytes), b = randomBytes(rng, bytes), c = randomBytes(rng, bytes);
            auto a1 = a0, a2 = a0;
            rk::bitwiseScalar(op, a1.data(), b.data(), c.data(), bytes);
            rk::bitwiseSse2(op, a2.data(), b.data(), c.data(), bytes);
            EXPECT_EQ(a1, a2) << "op " << op << " bytes " << bytes;
        }
}

TEST(RasterKernels, ShellSplitMatchesScalarAndTheBitwiseOps)
{
    std::mt19937 rng(5);
    for (int bytes : {0, 5, 16, 31, 48, 100, 256}) {
        const auto below = randomBytes(rng, bytes), above = randomBytes(rng, bytes), r = randomBytes(rng, bytes);
        const size_t n = size_t(bytes);
        std::vector<uchar> s1(n), f1(n), s2(n), f2(n);
        rk::shellSplitScalar(below.data(), above.data(), r.data(), s1.data(), f1.data(), bytes);
        rk::shellSplitSse2(below.data(), above.data(), r.data(), s2.data(), f2.data(), bytes);
        EXPECT_EQ(s1, s2) << bytes;
        EXPECT_EQ(f1, f2) << bytes;
        // The same as the ops it replaces: b := r & ~(b & a); s = b; f = b ^ r.
        auto b = below;
        rk::bitwiseScalar(5, b.data(), above.data(), r.data(), bytes);
        b.resize(size_t(bytes));
        EXPECT_EQ(s1, b) << bytes;
        for (int i = 0; i < bytes; i++)
            b[size_t(i)] ^= r[size_t(i)];
        EXPECT_EQ(f1, b) << bytes;
    }
}

TEST(RasterKernels, ShellSplitWithSummariesMatchesScalar)
{
    std::mt19937 rng(6);
    for (int stride : {2, 4, 6, 8, 12, 16, 18, 34, 48, 72, 75})
        for (int rows : {16, 48}) {
            const int n = stride * rows;
            // Blocky planes (all three summaries occur) and one of noise.
            const auto below = randomBytes(rng, n, true), above = randomBytes(rng, n, true);
            const auto r = randomBytes(rng, n, stride != 34);
            const size_t bytes = size_t(n), sums = size_t(stride / 2 * rows / 16);
            std::vector<uchar> s1(bytes), f1(bytes), s2(bytes), f2(bytes), ss1(sums), fs1(sums), ss2(sums), fs2(sums);
            rk::shellSplitSummaryScalar(below.data(), above.data(), r.data(), s1.data(), f1.data(), stride, rows,
                                        ss1.data(), fs1.data());
            rk::shellSplitSummarySse2(below.data(), above.data(), r.data(), s2.data(), f2.data(), stride, rows,
                                      ss2.data(), fs2.data());
            EXPECT_EQ(s1, s2) << stride << " " << rows;
            EXPECT_EQ(f1, f2) << stride << " " << rows;
            EXPECT_EQ(ss1, ss2) << stride << " " << rows;
            EXPECT_EQ(fs1, fs2) << stride << " " << rows;
            std::vector<uchar> s3(bytes), f3(bytes);
            rk::shellSplitScalar(below.data(), above.data(), r.data(), s3.data(), f3.data(), n);
            EXPECT_EQ(s1, s3);
            EXPECT_EQ(f1, f3);
        }
}

TEST(RasterKernels, BlockSummaryMatchesScalar)
{
    std::mt19937 rng(3);
    for (int blocks : {1, 7, 8, 9, 24, 40}) {
        const int stride = blocks * 2 + 4;
        // Mostly uniform rows so all three results occur.
        std::vector<uchar> rows(size_t(stride) * 16 + 64);
        for (int b = 0; b < blocks; b++) {
            const int kind = int(rng() % 3);
            for (int r = 0; r < 16; r++)
                for (int i = 0; i < 2; i++)
                    rows[size_t(r * stride + 2 * b + i)] =
                        kind == 0 ? 0 : kind == 1 ? 255 : (rng() % 4 == 0 ? uchar(rng()) : 255);
        }
        std::vector<uchar> a(static_cast<size_t>(blocks)), b(static_cast<size_t>(blocks));
        rk::blockSummaryRowScalar(rows.data(), stride, blocks, a.data());
        rk::blockSummaryRowSse2(rows.data(), stride, blocks, b.data());
        EXPECT_EQ(a, b) << blocks;
    }
}

TEST(RasterKernels, ExpandAndPrefixSumMatchScalar)
{
    std::mt19937 rng(4);
    for (int n : {0, 1, 2, 15, 16, 17, 33, 80, 640}) {
        const auto src = randomBytes(rng, n);
        std::vector<uchar> a(size_t(n) * 8), b(size_t(n) * 8);
        rk::expandBitsScalar(src.data(), n, a.data());
        rk::expandBitsSse2(src.data(), n, b.data());
        EXPECT_EQ(a, b) << n;
        auto p = src, q = src;
        rk::prefixSumRowScalar(p.data(), n);
        rk::prefixSumRowSse2(q.data(), n);
        EXPECT_EQ(p, q) << n;
    }
}

TEST(RasterKernels, BlurStripMatchesScalar)
{
    std::mt19937 rng(5);
    for (int round = 0; round < 40; round++) {
        const int rows = 16 * (1 + int(rng() % 6)), win = 3 + 2 * int(rng() % 7);
        const int stride = 16 + 16 * int(rng() % 3);
        const auto src = randomBytes(rng, stride * rows, round % 2 == 0);
        rk::StripArgs a;
        a.src = src.data() + 16 * int(rng() % (stride / 16));
        a.srcStride = stride;
        a.top = 16 * int(rng() % 2);
        a.bottom = rows - 16 * int(rng() % 2);
        a.aboveValue = uchar(rng());
        a.belowValue = uchar(rng());
        a.y0 = 0;
        a.y1 = rows;
        a.win = win;
        a.dstStride = rows + 16;
        std::vector<uchar> d1(size_t(a.dstStride) * 16, 7), d2(d1);
        a.dst = d1.data();
        rk::blurStripScalar(a);
        a.dst = d2.data();
        rk::blurStripSse2(a);
        EXPECT_EQ(d1, d2) << "win " << win << " rows " << rows;
    }
}

TEST(RasterKernels, HairCountersMatchScalar)
{
    std::mt19937 rng(6);
    for (int round = 0; round < 30; round++) {
        const int rows = 1 + int(rng() % 80);
        // Smooth random columns so that runs of many lengths occur.
        std::vector<uchar> avg(size_t(rows) * 16);
        for (int c = 0; c < 16; c++) {
            int v = int(rng() % 256);
            for (int i = 0; i < rows; i++) {
                v = qBound(0, v + int(rng() % 81) - 40, 255);
                avg[size_t(16 * i + c)] = uchar(v);
            }
        }
        rk::HairCounters h1{45, 75, uchar(2 + rng() % 4), uchar(6 + rng() % 8), {}, {}};
        for (int c = 0; c < 16; c++) {
            h1.inRun[c] = rng() % 2 ? 0xFF : 0;
            h1.count[c] = h1.inRun[c] ? uchar(1 + rng() % (h1.upperBound + 1)) : 0;
        }
        rk::HairCounters h2 = h1;
        QVector<quint32> m1, m2;
        rk::hairScanScalar(avg.data(), rows, 100, h1, m1);
        rk::hairScanSse2(avg.data(), rows, 100, h2, m2);
        EXPECT_EQ(m1, m2) << "round " << round;
        EXPECT_EQ(0, std::memcmp(h1.inRun, h2.inRun, 16));
        EXPECT_EQ(0, std::memcmp(h1.count, h2.count, 16));
        if (round == 0) {
            EXPECT_FALSE(m1.isEmpty());
        }
    }
}

TEST(RasterKernels, BlurStripRowAveragesAreTheUntransposedOutput)
{
    std::mt19937 rng(8);
    const int rows = 48, stride = 32;
    const auto src = randomBytes(rng, stride * rows);
    std::vector<uchar> d1(size_t(rows) * 16), d2(d1), avg1(d1.size()), avg2(d1.size());
    rk::StripArgs a{src.data(), stride, 0, rows, 0, 255, 0, rows, 5, d1.data(), rows, avg1.data()};
    rk::blurStripScalar(a);
    a.dst = d2.data();
    a.rowAverages = avg2.data();
    rk::blurStripSse2(a);
    EXPECT_EQ(avg1, avg2);
    for (int y = 0; y < rows; y++)
        for (int c = 0; c < 16; c++)
            ASSERT_EQ(avg2[size_t(16 * y + c)], d2[size_t(c * rows + y)]);
}

TEST(RasterKernels, OffsetRowsMatchScalar)
{
    std::mt19937 rng(9);
    for (int words : {1, 2, 3, 4, 5, 7, 8, 9, 13, 20})
        for (int density : {10, 50, 90})
            for (char op : {'a', 'A', 'o', 'O'}) {
                std::vector<uchar> rows[3];
                for (auto &r : rows) {
                    r.resize(size_t(4 * words));
                    for (auto &b : r) {
                        uchar v = 0;
                        for (int i = 0; i < 8; i++)
                            v |= uchar((int(rng() % 100) < density) << i);
                        b = v;
                    }
                }
                std::vector<uchar> a(size_t(4 * words)), b(a);
                rk::offsetRowScalar(op, rows[0].data(), rows[1].data(), rows[2].data(), a.data(), words);
                rk::offsetRowSse2(op, rows[0].data(), rows[1].data(), rows[2].data(), b.data(), words);
                ASSERT_EQ(a, b) << op << " words " << words << " density " << density;
            }
}
