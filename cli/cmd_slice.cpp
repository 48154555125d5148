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
#include <QSaveFile>
#include <QThread>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

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

// Where the G-code goes while it is made: a file is written into its
// replacement as the text comes (an old file stays until commit), and the
// statistics are read from the same text. Pipes and devices cannot be
// replaced: they get the whole text at commit, so a failed job writes
// nothing to them. push() is called on the slicing thread, run() on a
// thread of its own; commit() after run() has returned.
class GCodeSink {
public:
    explicit GCodeSink(const QString &path) : m_path(path)
    {
        const QFileInfo info(path);
        m_direct = info.exists() && !info.isFile() && !info.isDir();
        if (!m_direct) {
            m_file = std::make_unique<QSaveFile>(path);
            // Unbuffered: each piece goes straight to the file, and the kernel
            // can start putting it on disk while the job goes on.
            if (!m_file->open(QIODevice::WriteOnly | QIODevice::Unbuffered))
                throw QString("Cannot write file \"%1\"").arg(path);
        }
        m_sim.setKeepRecords(false); // only the totals are shown
    }

    // The job hands out its text layer by layer: it is passed on in pieces of
    // at least kPiece bytes, so the reading thread is woken (and the file
    // written) once per piece rather than once per layer.
    void push(const QByteArray &chunk)
    {
        m_gathered += chunk;
        if (m_gathered.size() >= kPiece)
            hand(false);
    }
    // No more text: run() returns once it has taken what was pushed.
    void close() { hand(true); }

    void run()
    {
        try {
            take();
        } catch (...) {
            m_error = std::current_exception();
        }
    }

    // A failed write keeps the old file and fails the command.
    void commit()
    {
        if (m_error)
            std::rethrow_exception(m_error);
        if (m_direct) {
            writeFile(m_path, m_whole);
            return;
        }
        // QSaveFile::commit() replaces the file even when a write had failed:
        // check the writes first.
        if (m_writeFailed || !m_file->flush() || m_file->error() != QFileDevice::NoError) {
            const QString why = m_writeFailed ? m_why : m_file->errorString();
            m_file->cancelWriting();
            throw QString("Cannot write file \"%1\": %2").arg(m_path, why);
        }
        if (!m_file->commit())
            throw QString("Cannot write file \"%1\": %2").arg(m_path, m_file->errorString());
    }

    QString statsText() const { return m_sim.statsText(false, QString::fromLatin1(kDefaultFilamentPrices)); }

private:
    static constexpr int kPiece = 256 << 10;

    void hand(bool last)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_gathered.isEmpty())
                m_queue.push_back(std::move(m_gathered));
            m_closed = m_closed || last;
        }
        m_gathered = QByteArray();
        m_ready.notify_one();
    }

    void take()
    {
        for (;;) {
            QByteArray chunk;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_ready.wait(lock, [&] { return m_closed || !m_queue.empty(); });
                if (m_queue.empty())
                    break;
                chunk = std::move(m_queue.front());
                m_queue.pop_front();
            }
            write(chunk);
            m_sim.append(chunk);
        }
        m_sim.finish();
    }

    void write(const QByteArray &chunk)
    {
        if (m_direct) {
            m_whole += chunk;
            return;
        }
        if (m_writeFailed)
            return;
        if (!writeAll(*m_file, chunk)) {
            m_writeFailed = true;
            m_why = m_file->errorString();
            return;
        }
        // Start writing this piece to disk now rather than all at commit.
        const int fd = m_file->handle();
        if (fd >= 0)
            ::sync_file_range(fd, m_written, chunk.size(), SYNC_FILE_RANGE_WRITE);
        m_written += chunk.size();
    }

    const QString m_path;
    bool m_direct = false;
    std::unique_ptr<QSaveFile> m_file; // discards the replacement unless committed
    QByteArray m_whole;                // for a pipe or device
    qint64 m_written = 0;
    bool m_writeFailed = false;
    QString m_why;
    std::exception_ptr m_error; // from the reading thread, rethrown by commit
    GCodeSim m_sim;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<QByteArray> m_queue;
    QByteArray m_gathered; // on the slicing thread only
    bool m_closed = false;
};

// Runs a sink on its own thread for the scope's life: however the scope is
// left, the sink is closed and the thread joined.
class SinkThread {
public:
    explicit SinkThread(GCodeSink &sink) : m_sink(sink), m_thread([&sink] { sink.run(); }) {}
    ~SinkThread()
    {
        m_sink.close();
        m_thread.join();
    }
    SinkThread(const SinkThread &) = delete;
    SinkThread &operator=(const SinkThread &) = delete;

private:
    GCodeSink &m_sink;
    std::thread m_thread;
};

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

    // The text is written and read piece by piece while the job slices, so
    // at its end only the last piece and making the file safe are left.
    GCodeSink sink(out);
    const bool tty = isatty(fileno(stderr));
    int shown = -1;
    {
        SinkThread reader(sink);
        sliceSceneStreaming(&project, &params, &bv, [&](int percent, const QByteArray &chunk) {
            if (!chunk.isEmpty())
                sink.push(chunk);
            if (!tty || percent == shown)
                return;
            shown = percent;
            const int bar = percent * 40 / 100;
            std::fprintf(stderr, "\r[%s%s] %3d%%", QByteArray(bar, '#').constData(),
                         QByteArray(40 - bar, ' ').constData(), percent);
            std::fflush(stderr);
        });
    }
    qInstallMessageHandler(previous);
    if (tty)
        std::fprintf(stderr, "\n");
    // The statistics are shown only once the file is safe.
    sink.commit();
    QString stats = sink.statsText();
    stats.replace("\r\n", " ").replace('\n', ' ');
    std::fprintf(stderr, "%s\n", qPrintable(stats.trimmed()));
    return 0;
}

const CliRegistrar reg({"slice", kHelp, run});

} // namespace
