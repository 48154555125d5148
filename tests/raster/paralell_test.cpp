#include "raster/paralell.h"
#include "raster/workerthread.h"

#include <gtest/gtest.h>
#include <random>

TEST(Paralell, SplitsByCostIntoContiguousRanges)
{
    struct Case {
        int parts;
        QVector<int> costs;
        QVector<WorkRange> expected;
    };
    const Case cases[] = {
        {4, {1, 1, 1, 1}, {{0, 1}, {1, 2}, {2, 3}, {3, 4}}},
        {3, {10, 1, 1}, {{0, 1}, {1, 1}, {1, 3}}},
        {2, {}, {{0, 0}, {0, 0}}},
        {1, {5, 7}, {{0, 2}}},
        {3, {1, 1, 1, 1, 1, 1, 1}, {{0, 2}, {2, 4}, {4, 7}}},
    };
    for (const Case &c : cases) {
        const auto ranges = paralell(c.parts, c.costs.size(), [&](int i) { return c.costs[i]; });
        EXPECT_EQ(ranges, c.expected) << "parts " << c.parts << " items " << c.costs.size();
    }
    EXPECT_TRUE(paralell(0, 3, [](int) { return 1; }).isEmpty());
}

TEST(Paralell, RejectsCostBelowOne)
{
    try {
        paralell(2, 3, [](int i) { return i == 1 ? 0 : 1; });
        FAIL() << "no exception";
    } catch (const QString &e) {
        EXPECT_EQ(e, QString("paralell() invalid work cost (0) must be greater than 0."));
    }
}

TEST(Paralell, RandomCostsCoverAllItemsAndBalance)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 50; round++) {
        const int n = int(rng() % 200), parts = 1 + int(rng() % 8);
        QVector<int> costs(n);
        for (int &c : costs)
            c = 1 + int(rng() % 20);
        const auto ranges = paralell(parts, n, [&](int i) { return costs[i]; });
        ASSERT_EQ(ranges.size(), parts);
        int expectFirst = 0;
        qint64 total = 0;
        for (int c : costs)
            total += c;
        for (const WorkRange &r : ranges) {
            EXPECT_EQ(r.first, expectFirst);
            EXPECT_LE(r.first, r.end);
            qint64 sum = 0;
            for (int i = r.first; i < r.end; i++)
                sum += costs[i];
            // A part overshoots its share by less than one item (at most 20).
            EXPECT_LE(sum, total / parts + 20 + 1);
            expectFirst = r.end;
        }
        EXPECT_EQ(expectFirst, n);
    }
}

TEST(ThreadBudget, FollowsCoresWithinMachine)
{
    const int ideal = QThread::idealThreadCount();
    setCoresAndPriority(ideal + 5, QThread::NormalPriority);
    EXPECT_EQ(threadBudget(), qMax(1, ideal));
    setCoresAndPriority(1, QThread::NormalPriority);
    EXPECT_EQ(threadBudget(), 1);
    setCoresAndPriority(0, QThread::InheritPriority);
    EXPECT_EQ(threadBudget(), 1);
    setCoresAndPriority(ideal, QThread::InheritPriority);
    EXPECT_EQ(threadBudget(), qMax(1, ideal));
}

TEST(WorkerThread, RunsPostedJobsWithItsIdAndQuitsOnDelete)
{
    std::atomic<int> sum{0};
    {
        WorkerThread worker(3);
        worker.start();
        for (int i = 0; i < 5; i++)
            worker.post([&](int id) { sum += id; }); // waits for the previous job
        while (!worker.idle())
            busyPause();
        EXPECT_EQ(sum.load(), 15);
        worker.post([&](int id) { sum += 10 * id; });
    } // the destructor waits for the job, then ends the thread
    EXPECT_EQ(sum.load(), 45);
}
