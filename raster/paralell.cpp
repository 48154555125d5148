#include "raster/paralell.h"
#include "raster/workerthread.h"

#include <omp.h>
#include <memory>
#include <vector>

QVector<WorkRange> paralell(int parts, int itemCount, const std::function<int(int)> &cost)
{
    QVector<WorkRange> ranges;
    if (parts <= 0)
        return ranges;
    itemCount = qMax(0, itemCount);
    std::vector<int> costs(static_cast<size_t>(itemCount));
    qint64 total = 0;
    for (int i = 0; i < itemCount; i++) {
        const int c = cost(i);
        if (c < 1)
            throw QString("paralell() invalid work cost (%1) must be greater than 0.").arg(c);
        costs[size_t(i)] = c;
        total += c;
    }
    ranges.resize(parts);
    qint64 running = 0;
    int item = 0;
    for (int k = 0; k < parts; k++) {
        const qint64 target = total * (k + 1) / parts;
        const int first = item;
        while (item < itemCount && running < target)
            running += costs[size_t(item++)];
        ranges[k] = {first, item};
    }
    ranges[parts - 1].end = itemCount;
    return ranges;
}

namespace {

// The process-wide worker pool. Created on first use (the first call happens
// on the slicing thread when a job configures it) rather than at static
// initialisation, so that merely linking the core starts no threads.
struct Pool {
    std::vector<std::unique_ptr<WorkerThread>> workers;
    std::vector<QVector<WorkRange>> ranges;

    Pool()
    {
        int n = qMin(QThread::idealThreadCount(), 1000);
        for (int i = 1; i < n; i++)
            add(QThread::InheritPriority);
    }
    ~Pool()
    {
        while (!workers.empty())
            workers.pop_back(); // each waits for its thread
    }
    void add(QThread::Priority priority)
    {
        workers.emplace_back(new WorkerThread(int(workers.size()) + 1));
        workers.back()->start(priority);
    }
};

Pool &pool()
{
    static Pool p;
    return p;
}

} // namespace

void setCoresAndPriority(int cores, QThread::Priority priority)
{
    Pool &p = pool();
    const int n = qMax(1, qMin(cores, QThread::idealThreadCount()));
    while (int(p.workers.size()) < n - 1)
        p.add(priority);
    while (int(p.workers.size()) > n - 1)
        p.workers.pop_back();
    omp_set_num_threads(qMax(1, qMin(cores, int(p.workers.size()) + 1)));
    if (priority == QThread::InheritPriority) // not a priority one can set
        return;
    for (auto &w : p.workers)
        w->setPriority(priority);
#pragma omp parallel
    {
        QThread::currentThread()->setPriority(priority);
    }
}

int threadBudget()
{
    return int(pool().workers.size()) + 1;
}
