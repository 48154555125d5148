// tessavo-cli slice: the whole slicing job, as the GUI's Slice command runs it.
#include "cli/commands.h"
#include "common/utils.h"
#include "cli/inputs.h"
#include "common/buildvolume.h"
#include "gcode/gcodesim.h"
#include "params/slicerparams.h"
#include "scene/project.h"
#include "raster/paralell.h"
#include "driver/slicer.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cmath>
#include <cstdio>
#include <exception>
#include <thread>
#include <unistd.h>

namespace {

const char *kHelp =
    "Usage: tessavo-cli slice INPUT... -o OUT.gcode [--params FILE] [--set Key=Value]...\n"
    "                         [--threads N] [--build-volume W,D,H] [--support SIZE,ANGLE]\n"
    "                         [--allow-outside]\n"
    "\n"
    "Slices the scene into G-code. INPUT is one .tvprj, or any number of .stl/.obj\n"
    "files laid side by side on the bed without overlap. A progress bar goes to\n"
    "stderr when it is a terminal, and the statistics line at the end.\n"
    "\n"
    "  -o FILE               the G-code file to write\n"
    "  --params FILE         parameter set (.json text or .tvsp preset file)\n"
    "  --set Key=Value       overrides a parameter after --params (repeatable)\n"
    "  --threads N           worker threads (default: all cores)\n"
    "  --build-volume W,D,H  bed width, depth and height in mm (default 250,200,200)\n"
    "  --support SIZE,ANGLE  generates support bars of SIZE mm under surfaces\n"
    "                        steeper than ANGLE degrees before slicing\n"
    "  --allow-outside       slices a scene that does not fit the build volume\n"
    "                        (refused otherwise, naming the overhang)\n"
    "\n"
    "A --params file must be a parameter text (JSON object) whose values fit their\n"
    "keys; unknown keys and settings without effect are warnings on stderr.\n";

// Comma-separated positive finite numbers, exactly `count` of them.
QVector<float> parseNumbers(const QString &text, int count, const QString &option)
{
    const QStringList parts = text.split(',');
    QVector<float> v;
    bool ok = parts.size() == count;
    for (const QString &p : parts) {
        bool good = false;
        const float f = p.trimmed().toFloat(&good);
        ok = ok && good && std::isfinite(f) && f > 0;
        v.append(f);
    }
    if (!ok)
        throw QString("%1 expects %2 positive numbers separated by commas, got \"%3\"")
            .arg(option).arg(count).arg(text);
    return v;
}

void dropDebugOutput(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(msg));
}

int run(const QStringList &argsIn)
{
    QStringList args = argsIn;
    const QString out = takeSingleOption(args, "-o");
    const QString paramsFile = takeSingleOption(args, "--params");
    const QStringList sets = takeOption(args, "--set");
    const QString threads = takeSingleOption(args, "--threads");
    const QString volume = takeSingleOption(args, "--build-volume");
    const QString support = takeSingleOption(args, "--support");
    const bool allowOutside = args.removeAll("--allow-outside") > 0;
    rejectUnknownOptions(args);
    if (out.isEmpty())
        throw QString("slice: -o OUT.gcode is required");
    // "slice part.stl -o part.stl" would replace the model with G-code.
    const QString outPath = QFileInfo(out).canonicalFilePath();
    for (const QString &in : args)
        if (!outPath.isEmpty() && QFileInfo(in).canonicalFilePath() == outPath)
            throw QString("slice: -o %1 is also an input; it would be overwritten").arg(out);

    SlicerParams params;
    if (!paramsFile.isEmpty())
        loadParamsFile(params, paramsFile); // .json and .tvsp hold the same text
    applySets(params, sets);
    warnOverriddenSettings(params);

    BuildVolume bv;
    if (!volume.isEmpty()) {
        const QVector<float> v = parseNumbers(volume, 3, "--build-volume");
        // The G-code writer leaves out points more than 1e6 mm from the origin,
        // so a bed of 1e7 mm gave an empty print with exit status 0.
        const float kMaxSide = 100000;
        if (v[0] > kMaxSide || v[1] > kMaxSide || v[2] > kMaxSide)
            throw QString("--build-volume sides must be at most %1 mm, got \"%2\"").arg(double(kMaxSide)).arg(volume);
        bv.W = v[0];
        bv.D = v[1];
        bv.H = v[2];
        bv.cy = bv.D; // origin at the front left corner, as by default
    }
    int threadCount = QThread::idealThreadCount();
    if (!threads.isEmpty()) {
        bool ok = false;
        threadCount = threads.toInt(&ok);
        if (!ok || threadCount < 1 || threadCount > 1024)
            throw QString("--threads expects a number from 1 to 1024, got \"%1\"").arg(threads);
    }

    // Before loading: the mesh checks run on threads too, and --threads bounds them all.
    setCoresAndPriority(threadCount, QThread::InheritPriority);
    Project project;
    loadInputs(project, args);
    if (project.triangleCount() == 0 && project.bars.isEmpty())
        throw QString("nothing to slice: the scene has no triangles");
    if (!support.isEmpty()) {
        const QVector<float> v = parseNumbers(support, 2, "--support");
        project.generateSupport(v[0], v[1]);
    }
    if (!allowOutside)
        checkFitsBuildVolume(project, bv);

    // The profiling report goes to the debug log; keep it out of the terminal
    // unless TESSAVO_PERF is set.
    const QtMessageHandler previous = qEnvironmentVariableIsSet("TESSAVO_PERF")
        ? qInstallMessageHandler(nullptr)
        : qInstallMessageHandler(dropDebugOutput);

    const bool tty = isatty(fileno(stderr));
    int shown = -1;
    const QByteArray gcode = sliceScene(&project, &params, &bv, [&](int percent, const QByteArray &) {
        if (!tty || percent == shown)
            return;
        shown = percent;
        const int bar = percent * 40 / 100;
        std::fprintf(stderr, "\r[%s%s] %3d%%", QByteArray(bar, '#').constData(),
                     QByteArray(40 - bar, ' ').constData(), percent);
        std::fflush(stderr);
    });
    qInstallMessageHandler(previous);
    if (tty)
        std::fprintf(stderr, "\n");

    // The file is written (and an old one replaced, which for a large file
    // keeps the kernel busy for milliseconds) while the statistics are read
    // from the text; they are shown only once the file is safe.
    std::exception_ptr writeError;
    std::thread writer([&] {
        try {
            writeFile(out, gcode); // a failed write keeps the old file; pipes are written to
        } catch (...) {
            writeError = std::current_exception();
        }
    });
    struct Join {
        std::thread &t;
        ~Join() { t.join(); }
    };
    QString stats;
    {
        Join join{writer};
        GCodeSim sim;
        sim.setKeepRecords(false); // only the totals are shown
        sim.append(gcode);
        sim.finish();
        stats = sim.statsText(false, QString::fromLatin1(kDefaultFilamentPrices));
    }
    if (writeError)
        std::rethrow_exception(writeError);
    stats.replace("\r\n", " ").replace('\n', ' ');
    std::fprintf(stderr, "%s\n", qPrintable(stats.trimmed()));
    return 0;
}

const CliRegistrar reg({"slice", kHelp, run});

} // namespace
