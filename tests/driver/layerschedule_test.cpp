// The hand-out of a job's layer work: modelled threads start and end items
// in random orders; every item must find what it needs done (so no ring slot
// is overwritten while a layer still reads it), the job must always end, and
// of two failures the one a single thread would meet first is reported.
#include "driver/layerschedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using Kind = LayerSchedule::Kind;

struct Job {
    int n, h, w, c;
    bool inTurn;
    int threads;
};

struct Failure {
    Kind kind;
    int k;
};

// What has ended so far, and the checks each item's start must pass.
class Model {
public:
    explicit Model(const Job &j)
        : m_j(j), m_cut(size_t(j.n), 0), m_prepared(size_t(j.n), 0), m_ordered(size_t(j.n), 0),
          m_written(size_t(j.n), 0), m_nextStep(-2 * j.h), m_stepsDone(-2 * j.h)
    {
    }

    void start(LayerSchedule::Item it, bool emitter)
    {
        const int k = it.k;
        switch (it.kind) {
        case Kind::Cut:
            EXPECT_EQ(k, m_nextCut++);
            // Its slot's last cut was taken by step k - C - H.
            EXPECT_LT(k - m_j.c - m_j.h, m_stepsDone) << "cut " << k;
            break;
        case Kind::Step: {
            EXPECT_EQ(k, m_nextStep++);
            EXPECT_EQ(m_stepsDone, k) << "step " << k << " beside the previous one";
            const int L = k + m_j.h;
            if (L >= 0 && L < m_j.n) {
                EXPECT_TRUE(m_cut[size_t(L)]) << "step " << k << " before its cut";
            }
            // Slots of layer k - W (loops, fills, regions) and k - W - 1 (mask).
            for (int j = 0; j <= k - m_j.w && j < m_j.n; ++j)
                EXPECT_TRUE(m_prepared[size_t(j)]) << "step " << k << " overwrites layer " << j;
            for (int j = 0; j <= k - m_j.w - 1 && j < m_j.n; ++j)
                EXPECT_TRUE(m_ordered[size_t(j)]) << "step " << k << " overwrites mask " << j;
            break;
        }
        case Kind::Extras:
            EXPECT_GT(m_stepsDone, -m_j.h) << "extras before layer 0's step";
            break;
        case Kind::Prepare:
            EXPECT_LT(k, m_stepsDone) << "prepare " << k;
            if (!m_j.inTurn) {
                EXPECT_TRUE(m_extras) << "prepare " << k << " writes before the raft is known";
            }
            break;
        case Kind::Order:
            EXPECT_TRUE(m_prepared[size_t(k)]);
            EXPECT_FALSE(m_ordering);
            EXPECT_EQ(k, m_orderedCount) << "orderings out of turn";
            if (k == 0) {
                EXPECT_TRUE(m_extras);
            }
            m_ordering = true;
            break;
        case Kind::Write:
            EXPECT_TRUE(m_ordered[size_t(k)]) << "write " << k;
            break;
        case Kind::Emit:
            EXPECT_TRUE(emitter);
            EXPECT_EQ(k, m_emitted);
            EXPECT_TRUE(m_written[size_t(k)]) << "emit " << k;
            break;
        case Kind::None:
            break;
        }
    }

    void end(LayerSchedule::Item it)
    {
        const size_t k = size_t(it.k);
        switch (it.kind) {
        case Kind::Cut:
            m_cut[k] = 1;
            break;
        case Kind::Step:
            ++m_stepsDone;
            break;
        case Kind::Extras:
            m_extras = true;
            break;
        case Kind::Prepare:
            m_prepared[k] = 1;
            if (!m_j.inTurn)
                m_ordered[k] = m_written[k] = 1;
            break;
        case Kind::Order:
            m_ordered[k] = 1;
            m_ordering = false;
            ++m_orderedCount;
            break;
        case Kind::Write:
            m_written[k] = 1;
            break;
        case Kind::Emit:
            ++m_emitted;
            break;
        case Kind::None:
            break;
        }
    }

    int emitted() const { return m_emitted; }
    int cut() const { return m_nextCut; }

private:
    Job m_j;
    std::vector<char> m_cut, m_prepared, m_ordered, m_written;
    int m_nextCut = 0, m_nextStep, m_stepsDone, m_orderedCount = 0, m_emitted = 0;
    bool m_extras = false, m_ordering = false;
};

// Runs the job on `threads` modelled threads (thread 0 emits), with the
// items in `fail` failing; returns the key of the failure reported (-1:
// none) and whether each failing item ran.
qint64 run(const Job &j, std::mt19937 &rng, const std::vector<Failure> &fail, std::vector<bool> &ran)
{
    LayerSchedule s(j.n, j.h, j.w, j.c, j.inTurn);
    Model m(j);
    std::vector<LayerSchedule::Item> running(size_t(j.threads));
    std::vector<char> busy(size_t(j.threads), 0), finished(size_t(j.threads), 0);
    ran.assign(fail.size(), false);
    for (int rounds = 0; rounds < 1000000; ++rounds) {
        if (std::all_of(finished.begin(), finished.end(), [](char f) { return f; }))
            break;
        std::vector<int> idle, active;
        for (int t = 0; t < j.threads; ++t) {
            if (busy[size_t(t)])
                active.push_back(t);
            else if (!finished[size_t(t)])
                idle.push_back(t);
        }
        bool started = false;
        if (!idle.empty() && (active.empty() || rng() % 2)) {
            std::shuffle(idle.begin(), idle.end(), rng);
            for (int t : idle) {
                LayerSchedule::Item it;
                if (!s.tryTake(t == 0, it))
                    continue;
                if (it.kind == Kind::None) {
                    finished[size_t(t)] = 1;
                } else {
                    m.start(it, t == 0);
                    running[size_t(t)] = it;
                    busy[size_t(t)] = 1;
                }
                started = true;
                break;
            }
        }
        if (started)
            continue;
        if (active.empty()) {
            ADD_FAILURE() << "no thread can go on: deadlock";
            return -2;
        }
        const int t = active[rng() % active.size()];
        const LayerSchedule::Item it = running[size_t(t)];
        std::exception_ptr error;
        for (size_t f = 0; f < fail.size(); ++f)
            if (fail[f].kind == it.kind && fail[f].k == it.k) {
                ran[f] = true;
                error = std::make_exception_ptr(it.kind == Kind::Extras ? s.key(Kind::Extras, -j.h)
                                                                         : s.key(it.kind, it.k));
            }
        m.end(it);
        s.done(it, error);
        busy[size_t(t)] = 0;
    }
    if (!s.failure()) {
        EXPECT_EQ(m.emitted(), j.n);
        EXPECT_EQ(m.cut(), j.n);
        return -1;
    }
    try {
        std::rethrow_exception(s.failure());
    } catch (qint64 key) {
        return key;
    }
    return -3;
}

const Job kJobs[] = {
    {30, 3, 4, 8, true, 2},  {30, 3, 4, 8, true, 1},  {30, 3, 2, 4, true, 4},   {25, 0, 2, 4, true, 3},
    {12, 9, 2, 4, true, 2},  {1, 1, 4, 8, true, 2},   {0, 0, 2, 4, true, 2},    {30, 3, 4, 8, false, 2},
    {20, 5, 1, 2, false, 3}, {40, 2, 8, 16, true, 4},
};

TEST(LayerSchedule, EveryItemFindsWhatItNeedsAndTheJobEnds)
{
    std::mt19937 rng(7);
    for (const Job &j : kJobs)
        for (int round = 0; round < 40; ++round) {
            std::vector<bool> ran;
            EXPECT_EQ(run(j, rng, {}, ran), -1) << "N " << j.n << " H " << j.h << " threads " << j.threads;
            if (HasFailure())
                return;
        }
}

TEST(LayerSchedule, TheFirstFailureInLayerOrderIsReportedWhateverTheTiming)
{
    std::mt19937 rng(11);
    for (const Job &j : kJobs) {
        if (j.n == 0)
            continue;
        for (int round = 0; round < 60; ++round) {
            const Kind kinds[] = {Kind::Step, Kind::Extras, Kind::Prepare, Kind::Order, Kind::Write, Kind::Emit};
            auto pick = [&] {
                Kind kind = kinds[rng() % 6];
                if (!j.inTurn && (kind == Kind::Order || kind == Kind::Write))
                    kind = Kind::Prepare;
                const int k = kind == Kind::Step ? int(rng() % unsigned(j.n + 2 * j.h)) - 2 * j.h
                                                 : kind == Kind::Extras ? 0 : int(rng() % unsigned(j.n));
                return Failure{kind, k};
            };
            const std::vector<Failure> fail = {pick(), pick()};
            LayerSchedule keys(j.n, j.h, j.w, j.c, j.inTurn);
            auto key = [&](const Failure &f) {
                return f.kind == Kind::Extras ? keys.key(Kind::Extras, -j.h) : keys.key(f.kind, f.k);
            };
            const size_t first = key(fail[0]) <= key(fail[1]) ? 0 : 1;
            std::vector<bool> ran;
            EXPECT_EQ(run(j, rng, fail, ran), key(fail[first])) << "N " << j.n << " threads " << j.threads;
            EXPECT_TRUE(ran[first]);
            if (HasFailure())
                return;
        }
    }
}

} // namespace
