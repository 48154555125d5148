#pragma once
// Cost-balanced work splitting and the process-wide thread budget. OpenMP does
// the parallel work; the budget decides how many threads its regions use.
#include <QThread>
#include <QVector>
#include <functional>

// Items [first, end) of one part.
struct WorkRange {
    int first = 0;
    int end = 0;
    bool operator==(const WorkRange &o) const { return first == o.first && end == o.end; }
};

// Splits items 0 .. itemCount-1 into `parts` contiguous ranges of similar
// total cost (cost(i) >= 1, else throws QString "paralell() invalid work cost
// (<c>) must be greater than 0."). Ranges may be empty; an item is never split.
// parts <= 0 gives an empty list.
QVector<WorkRange> paralell(int parts, int itemCount, const std::function<int(int)> &cost);

// Keeps min(cores, ideal thread count) - 1 workers (at least none), sets their
// priority and the OpenMP thread count. Call from the slicing thread, before a job.
void setCoresAndPriority(int cores, QThread::Priority priority);

// Number of workers + 1 (the calling thread counts as one).
int threadBudget();
