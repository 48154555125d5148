// tessavo-cli print: stream a G-code file to a printer on a serial port.
#include "cli/commands.h"
#include "common/utils.h"
#include "printer/printerlink.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

const char kHelp[] =
    "Usage: tessavo-cli print FILE.gcode --port PATH [--baud N]\n"
    "\n"
    "Streams FILE to the printer on the serial port PATH (e.g. /dev/ttyUSB0),\n"
    "one numbered, checksummed command at a time, each acknowledged by the\n"
    "printer. Progress and temperature reports go to stderr. Ctrl+C cancels the\n"
    "print and turns the heaters off.\n"
    "\n"
    "  --port PATH   serial port of the printer (required)\n"
    "  --baud N      baud rate (default 115200; 250000 is common too)\n"
    "\n"
    "Exit status 0 when every line was acknowledged; 1 when the port fails,\n"
    "the printer reports an error, or the print is cancelled.\n";

volatile std::sig_atomic_t g_interrupted = 0;
void onSigint(int) { g_interrupted = 1; }

QString clock(double s)
{
    const int t = int(s + 0.5);
    return QString("%1:%2:%3").arg(t / 3600).arg(t / 60 % 60, 2, 10, QChar('0')).arg(t % 60, 2, 10, QChar('0'));
}

int runPrint(const QStringList &args)
{
    QString file, port;
    int baud = 115200;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == "--port" || a == "--baud") {
            if (i + 1 >= args.size())
                throw QString("print: %1 needs a value").arg(a);
            const QString v = args[++i];
            if (a == "--port") {
                port = v;
            } else {
                bool ok = false;
                baud = v.toInt(&ok);
                if (!ok || baud < 300 || baud > 4000000)
                    throw QString("print: --baud '%1' is not a baud rate").arg(v);
            }
        } else if (a.startsWith("--")) {
            throw QString("print: unknown option '%1'").arg(a);
        } else if (file.isEmpty()) {
            file = a;
        } else {
            throw QString("print: only one file, got '%1' too").arg(a);
        }
    }
    if (file.isEmpty())
        throw QString("print: no G-code file given (see --help)");
    if (port.isEmpty())
        throw QString("print: no port given: --port PATH (see --help)");

    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        throw QString("print: cannot open '%1': %2").arg(file, f.errorString());
    const QByteArray gcode = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw QString("print: cannot read '%1': %2").arg(file, f.errorString());

    PrinterLink link;
    const bool tty = isatty(fileno(stderr));
    QEventLoop loop;
    int exitCode = 0;
    QString failure;
    bool started = false;

    QObject::connect(&link, &PrinterLink::errorOccurred, [&](const QString &m) {
        failure = m;
        exitCode = 1;
        loop.quit();
    });
    QObject::connect(&link, &PrinterLink::temperaturesChanged, [&](float t, float b) {
        std::fprintf(stderr, "%sT:%.1f B:%.1f\n", tty ? "\r\033[K" : "", double(t), double(b));
    });
    int lastPercent = -1;
    QObject::connect(&link, &PrinterLink::progressChanged, [&] {
        const int total = link.jobLinesTotal();
        if (total <= 0)
            return;
        const int pct = int(qint64(link.jobLinesDone()) * 100 / total);
        if (pct == lastPercent)
            return;
        lastPercent = pct;
        if (tty) {
            const int w = 30, fill = pct * w / 100;
            std::fprintf(stderr, "\r[%s%s] %3d%%  Layer: %d/%d  Line: %d/%d  Time remaining: %s",
                         QByteArray(fill, '#').constData(), QByteArray(w - fill, '.').constData(), pct,
                         link.currentLayer(), link.layerCount(), link.currentSourceLine(),
                         link.sourceLineCount(), qPrintable(clock(link.timeRemaining())));
        } else {
            std::fprintf(stderr, "%d%% Layer: %d/%d Line: %d/%d\n", pct, link.currentLayer(),
                         link.layerCount(), link.currentSourceLine(), link.sourceLineCount());
        }
        std::fflush(stderr);
    });
    QObject::connect(&link, &PrinterLink::statusChanged, [&] {
        if (link.status() == PrinterLink::Online && !started) {
            started = true;
            if (!link.startJob(gcode)) {
                failure = QString("'%1' holds no G-code command").arg(file);
                exitCode = 1;
                loop.quit();
            }
        }
    });
    QObject::connect(&link, &PrinterLink::jobEnded, [&](PrinterLink::JobState s, const QString &m) {
        if (s == PrinterLink::Finished) {
            loop.quit();
        } else if (s == PrinterLink::Cancelled) {
            failure = m;
            exitCode = 1;
            // Quit once the heater-off commands have been acknowledged.
        } else {
            failure = m;
            exitCode = 1;
            loop.quit();
        }
    });

    // Ctrl+C: cancel through the link so the heaters go off, then leave.
    std::signal(SIGINT, onSigint);
    QTimer sigPoll;
    QTimer cancelDeadline;
    cancelDeadline.setSingleShot(true);
    QObject::connect(&cancelDeadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&sigPoll, &QTimer::timeout, [&] {
        if (g_interrupted == 1) {
            g_interrupted = 2;
            if (link.jobActive()) {
                link.cancel();
                cancelDeadline.start(5000);
            } else {
                failure = "print cancelled";
                exitCode = 1;
                loop.quit();
            }
        }
        if (link.jobState() == PrinterLink::Cancelled && link.idle())
            loop.quit();
    });
    sigPoll.start(50);

    if (!link.open(port, baud))
        throw QString("print: %1").arg(link.lastError());
    if (exitCode == 0 || failure.isEmpty())
        loop.exec();
    std::signal(SIGINT, SIG_DFL);
    if (tty)
        std::fputs("\n", stderr);
    link.close();
    if (exitCode != 0)
        throw QString("print: %1").arg(failure);
    std::fprintf(stderr, "Printed %d lines of '%s'\n", link.jobLinesTotal(), qPrintable(file));
    return 0;
}

const CliRegistrar reg({"print", kHelp, runPrint});

} // namespace
