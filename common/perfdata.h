#pragma once
// Named stopwatches for the costly stages ("SliceFaces", "blur2", ...).
// Calls outside OpenMP regions go to the process-wide records; calls inside
// one (stages of whole layers on worker threads) go to the calling thread's
// own records, which the report merges after the region has joined, so
// "blur2" or "hairMasking" inside a parallel batch show with summed times
// and counts. The report, perfClear and perfLastStarted belong outside
// parallel regions.
#include <QElapsedTimer>
#include <QString>

struct PerfData {
    QString name;
    QElapsedTimer timer;
    bool running = false;
    float msecs = 0;   // accumulated over all finished runs
    int count = 0;     // number of started runs
};

// Starts the stage; a stage that is already running is logged and left alone.
void perfBegin(const QString &name);
// Stops the stage and adds its time; a stage that is not running is logged.
void perfEnd(const QString &name);
// Table of all stages in name order (percent, msecs, count, name), "\r\n" lines.
// Throws QString when a stage is still running.
QString perfReport();
// Forgets all records (a fresh measurement, or test isolation).
void perfClear();
// Name of the stage started last (empty before the first perfBegin).
QString perfLastStarted();
// Marks the calling thread, for its life, as a helper beside the driver's
// thread: like an OpenMP worker's, its stages go to its own records, which
// the report merges once the thread has ended.
void perfHelperThread();

// Brackets a scope as one run of a stage.
class PerfScope {
public:
    explicit PerfScope(const QString &name) : m_name(name) { perfBegin(m_name); }
    ~PerfScope() { perfEnd(m_name); }
    PerfScope(const PerfScope &) = delete;
    PerfScope &operator=(const PerfScope &) = delete;
private:
    QString m_name;
};
