#include "common/perfdata.h"

#include <omp.h>

#include <QDebug>
#include <QMap>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

namespace {

using Records = QMap<QString, PerfData>;

Records &records()
{
    static Records r;
    return r;
}

QString &lastStarted()
{
    static QString s;
    return s;
}

PerfData &findOrCreate(Records &r, const QString &name)
{
    auto it = r.find(name);
    if (it == r.end()) {
        it = r.insert(name, PerfData());
        it->name = name;
    }
    return *it;
}

// Stages timed inside an OpenMP region (blur, hair masking, ... of whole
// layers on worker threads) go to the calling thread's own records, so they
// need no lock; the registry (and its lock) is only touched when a thread
// records for the first time, when it ends, and by the merge after the join.
struct ThreadRecords;
std::mutex &registryMutex()
{
    static std::mutex m;
    return m;
}
std::vector<ThreadRecords *> &registry()
{
    static std::vector<ThreadRecords *> r;
    return r;
}
// Finished runs of threads that ended before the merge.
Records &orphans()
{
    static Records r;
    return r;
}

void addFinished(Records &into, const Records &from)
{
    for (const PerfData &p : from) {
        if (p.count == 0 && p.msecs == 0)
            continue;
        PerfData &q = findOrCreate(into, p.name);
        q.msecs += p.msecs;
        q.count += p.count;
    }
}

struct ThreadRecords {
    Records records;
    ThreadRecords()
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        registry().push_back(this);
    }
    ~ThreadRecords()
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        addFinished(orphans(), records);
        auto &r = registry();
        r.erase(std::remove(r.begin(), r.end(), this), r.end());
    }
};

thread_local bool t_helper = false;

// Whether the calling thread records on its own: an OpenMP worker or a helper.
bool ownRecords() { return t_helper || omp_in_parallel(); }

Records &threadRecords()
{
    thread_local ThreadRecords mine;
    return mine.records;
}

// Moves the finished runs of every thread into the main records. Called
// outside parallel regions only (after their join), when no thread records.
void mergeThreadRecords()
{
    std::lock_guard<std::mutex> lock(registryMutex());
    for (ThreadRecords *t : registry()) {
        for (auto it = t->records.begin(); it != t->records.end(); ++it) {
            PerfData &p = *it;
            if (p.count == 0 && p.msecs == 0)
                continue;
            PerfData &q = findOrCreate(records(), p.name);
            q.msecs += p.msecs;
            // A run still open (a region left by an exception) stays counted
            // where it is; only finished runs move.
            q.count += p.running ? p.count - 1 : p.count;
            p.msecs = 0;
            p.count = p.running ? 1 : 0;
        }
    }
    addFinished(records(), orphans());
    orphans().clear();
}

} // namespace

void perfHelperThread() { t_helper = true; }

void perfBegin(const QString &name)
{
    const bool inRegion = ownRecords();
    if (!inRegion)
        lastStarted() = name;
    PerfData &p = findOrCreate(inRegion ? threadRecords() : records(), name);
    if (p.running) {
        qDebug() << QString("perfBegin() '%1' is already running.").arg(name);
        return;
    }
    ++p.count;
    p.running = true;
    p.timer.start();
}

void perfEnd(const QString &name)
{
    PerfData &p = findOrCreate(ownRecords() ? threadRecords() : records(), name);
    if (!p.running) {
        qDebug() << QString("perfEnd() '%1' hasn't started.").arg(name);
        return;
    }
    p.msecs += float(double(p.timer.nsecsElapsed()) * 1e-6);
    p.running = false;
    p.timer.invalidate();
}

QString perfReport()
{
    mergeThreadRecords();
    const auto &r = records();
    bool anyRunning = false;
    for (const PerfData &p : r) {
        if (p.running) {
            qDebug() << QString("perfReport() '%1' hasn't stopped when generating report.").arg(p.name);
            anyRunning = true;
        }
    }
    if (anyRunning)
        throw QString("perfReport() hasn't stopped while generating report");

    float total = 0;
    for (const PerfData &p : r)
        total += p.msecs;
    QString out = " % | msecs  | cnt | name\r\n";
    for (const PerfData &p : r) {
        // An all-zero run (nothing measurable) must not divide by zero.
        const int pct = total > 0 ? int(std::lround(double(p.msecs) * 100.0 / double(total))) : 0;
        out += QString::asprintf("%3d%9.2f%6d %s\r\n", pct, double(p.msecs), p.count,
                                 p.name.toUtf8().constData());
    }
    if (r.size() > 1)
        out += QString::asprintf("%3d%9.2f%6s %s\r\n", 100, double(total), "", "TOTAL");
    return out;
}

void perfClear()
{
    mergeThreadRecords();
    records().clear();
    lastStarted().clear();
}

QString perfLastStarted() { return lastStarted(); }
