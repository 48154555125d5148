// Lines per second the printer link streams to a simulated printer on a
// pseudo-terminal (one numbered command in flight, each answered by "ok").
#include "printer/printerlink.h"
#include "fixtures/simprinter.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

static void BM_PrinterLinkStream(benchmark::State &state)
{
    int argc = 1;
    char name[] = "printer_bench";
    char *argv[] = {name, nullptr};
    static QCoreApplication *app = new QCoreApplication(argc, argv);
    (void)app;
    const int lines = int(state.range(0));
    QByteArray g;
    for (int i = 0; i < lines; ++i)
        g += "G1 X" + QByteArray::number(i % 200) + " Y" + QByteArray::number(i % 150) + " E" +
             QByteArray::number(i * 0.01, 'f', 2) + "\n";
    for (auto _ : state) {
        SimPrinterOptions o;
        o.chatter = false;
        SimPrinter sim(o);
        PrinterLink link;
        link.setStartupWait(100);
        link.open(QString::fromStdString(sim.path()), 250000);
        while (link.status() != PrinterLink::Online)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        QElapsedTimer t;
        t.start();
        link.startJob(g);
        while (link.jobActive())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        state.SetIterationTime(t.nsecsElapsed() / 1e9);
    }
    state.counters["lines/s"] = benchmark::Counter(double(lines) * state.iterations(), benchmark::Counter::kIsRate);
    state.SetItemsProcessed(int64_t(lines) * state.iterations());
}
BENCHMARK(BM_PrinterLinkStream)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond);
