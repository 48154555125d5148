#include "common/perfdata.h"

#include <omp.h>

#include <QDebug>
#include <QMap>

#include <cmath>

namespace {

QMap<QString, PerfData> &records()
{
    static QMap<QString, PerfData> r;
    return r;
}

QString &lastStarted()
{
    static QString s;
    return s;
}

PerfData &findOrCreate(const QString &name)
{
    auto &r = records();
    auto it = r.find(name);
    if (it == r.end()) {
        it = r.insert(name, PerfData());
        it->name = name;
    }
    return *it;
}

} // namespace

void perfBegin(const QString &name)
{
    // Stages called inside an OpenMP region (whole layers on worker threads)
    // are not recorded: the records have no lock.
    if (omp_in_parallel())
        return;
    lastStarted() = name;
    PerfData &p = findOrCreate(name);
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
    if (omp_in_parallel())
        return;
    PerfData &p = findOrCreate(name);
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
    records().clear();
    lastStarted().clear();
}

QString perfLastStarted() { return lastStarted(); }
