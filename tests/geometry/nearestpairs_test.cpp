// Nearest-first pairing against the plain rule it stands for: among all
// open (end, start) pairs take the nearest, ties by end then start, again
// and again.
#include "geometry/nearestpairs.h"

#include <gtest/gtest.h>
#include <random>
#include <utility>
#include <vector>

namespace {

struct Pt { double x, y; int open; };

using Pairs = std::vector<std::pair<int, int>>;

double d2(const Pt &a, const Pt &b)
{
    return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y);
}

Pairs byBruteForce(std::vector<Pt> ends, std::vector<Pt> starts)
{
    Pairs out;
    for (;;) {
        int be = -1, bs = -1;
        double best = 0;
        for (int e = 0; e < int(ends.size()); ++e)
            for (int s = 0; s < int(starts.size()); ++s)
                if (ends[e].open > 0 && starts[s].open > 0 && (be < 0 || d2(ends[e], starts[s]) < best)) {
                    best = d2(ends[e], starts[s]);
                    be = e;
                    bs = s;
                }
        if (be < 0)
            return out;
        out.emplace_back(be, bs);
        --ends[be].open;
        --starts[bs].open;
    }
}

Pairs byHeap(std::vector<Pt> ends, std::vector<Pt> starts)
{
    Pairs out;
    auto startOpen = [&](int s) { return starts[s].open > 0; };
    auto nearest = [&](int e, NearestPair &c) {
        c = NearestPair{0, e, -1};
        for (int s = 0; s < int(starts.size()); ++s)
            if (startOpen(s) && (c.start < 0 || d2(ends[e], starts[s]) < c.d2))
                c = NearestPair{d2(ends[e], starts[s]), e, s};
        return c.start >= 0;
    };
    const int n = joinNearestPairs(int(ends.size()), nearest, startOpen, [&](const NearestPair &c) {
        out.emplace_back(c.end, c.start);
        --starts[c.start].open;
        return --ends[c.end].open > 0;
    });
    EXPECT_EQ(n, int(out.size()));
    return out;
}

} // namespace

// Random points on a coarse grid (many equal distances), ends and starts
// taking up to three pairs each, more of either side than the other.
TEST(NearestPairs, SameAsTakingTheNearestOpenPairEachTime)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        auto points = [&](int n) {
            std::vector<Pt> p(n);
            for (Pt &q : p)
                q = Pt{double(rng() % 8), double(rng() % 8), int(rng() % 3) + 1};
            return p;
        };
        const std::vector<Pt> ends = points(1 + rng() % 12), starts = points(1 + rng() % 12);
        const Pairs want = byBruteForce(ends, starts);
        ASSERT_EQ(byHeap(ends, starts), want) << "round " << round;
    }
}

TEST(NearestPairs, NothingToPair)
{
    EXPECT_TRUE(byHeap({}, {{0, 0, 1}}).empty());
    EXPECT_TRUE(byHeap({{0, 0, 1}}, {}).empty());
    EXPECT_TRUE(byHeap({{0, 0, 1}}, {{1, 1, 0}}).empty());
}
