#include "cli/inputs.h"
#include "common/buildvolume.h"
#include "params/slicerparams.h"
#include "params/slicerpresets.h"
#include "scene/project.h"
#include "gcode/paramcheck.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <functional>
#include <sys/stat.h>

void loadInputs(Project &project, const QStringList &inputs)
{
    if (inputs.isEmpty())
        throw QString("no input file");
    for (const QString &path : inputs)
        if (!QFileInfo(path).isFile())
            throw QString("File not found: %1").arg(path);

    const bool anyProject = std::any_of(inputs.begin(), inputs.end(), [](const QString &p) {
        return QFileInfo(p).suffix().compare("tvprj", Qt::CaseInsensitive) == 0;
    });
    if (anyProject) {
        if (inputs.size() != 1)
            throw QString("a project file (.tvprj) must be the only input");
        loadProjectFile(project, inputs[0]);
        return;
    }

    for (const QString &path : inputs) {
        const QString ext = QFileInfo(path).suffix().toLower();
        if (ext != "stl" && ext != "obj")
            throw QString("unsupported input %1 (expected .stl, .obj or .tvprj)").arg(path);
        const Obj *o = project.addObject(path, false);
        // An empty output (convert) or "nothing to slice" hides that the
        // file was not read as a mesh at all.
        if (o->mesh->count() == 0)
            throw QString("%1: no triangles read (not a mesh file, or an empty one)").arg(path);
    }
    // Side by side along X: each object's scene box starts 5 mm after the
    // previous one ends; then the whole row is centred on the origin.
    const float gap = 5.0f;
    float x = 0;
    for (auto &o : project.objs) {
        const Box3 b = o->sceneBox();
        if (b.isEmpty())
            continue;
        o->moveBy(Vec3{x - b.min.x, 0, -(b.min.z + b.max.z) * 0.5f});
        x += (b.max.x - b.min.x) + gap;
    }
    const float shift = -(x - gap) * 0.5f;
    for (auto &o : project.objs)
        o->moveBy(Vec3{shift, 0, 0});
}

void readInputChunks(const QString &path, qint64 maxSize, const std::function<void(const QByteArray &)> &take)
{
    QFile f;
    if (path == "-") {
        if (!f.open(stdin, QIODevice::ReadOnly))
            throw QString("cannot read standard input: %1").arg(f.errorString());
    } else {
        const QFileInfo info(path);
        if (!info.exists())
            throw QString("File not found: %1").arg(path);
        // A FIFO is read like a pipe; folders and devices never end or fail.
        struct stat st;
        const bool fifo = ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
        if (!info.isFile() && !fifo)
            throw QString("%1: not a regular file").arg(path);
        if (info.isFile() && info.size() > maxSize)
            throw QString("%1: larger than %2 bytes, too large to read").arg(path).arg(maxSize);
        f.setFileName(path);
        if (!f.open(QIODevice::ReadOnly))
            throw QString("Cannot read %1: %2").arg(path, f.errorString());
    }
    // Until the end of the data: a pipe's atEnd() is true before its first
    // read, so "read while not at end" read nothing from one.
    // One buffer serves every piece (take gets a copy when it keeps it).
    qint64 total = 0;
    QByteArray chunk;
    for (;;) {
        chunk.resize(1 << 20);
        const qint64 n = f.read(chunk.data(), chunk.size());
        if (n <= 0) {
            if (n < 0 || f.error() != QFileDevice::NoError)
                throw QString("Cannot read %1: %2").arg(path, f.errorString());
            return;
        }
        chunk.resize(int(n));
        total += chunk.size();
        if (total > maxSize)
            throw QString("%1: larger than %2 bytes, too large to read").arg(path).arg(maxSize);
        take(chunk);
    }
}

QByteArray readInput(const QString &path, qint64 maxSize)
{
    QByteArray data;
    readInputChunks(path, maxSize, [&data](const QByteArray &chunk) { data += chunk; });
    return data;
}

void loadProjectFile(Project &project, const QString &path)
{
    project.loadFile(readInput(path));
}

void loadParamsFile(SlicerParams &params, const QString &path)
{
    const QByteArray text = readInput(path, SlicerPresets::kMaxPresetFileSize);
    QStringList unknown;
    const QString problem = SlicerParams::textProblem(text, &unknown);
    if (!problem.isEmpty())
        throw QString("%1: %2").arg(path, problem);
    for (const QString &k : unknown)
        std::fprintf(stderr, "warning: %s: unknown key \"%s\" ignored\n", qPrintable(path), qPrintable(k));
    params.fromText(text);
}

void warnOverriddenSettings(const SlicerParams &params)
{
    for (const QString &note : overriddenSettings(params))
        std::fprintf(stderr, "warning: %s\n", qPrintable(note));
}

void checkFitsBuildVolume(const Project &project, const BuildVolume &volume)
{
    // Scene frame: the bed is centred on the origin, y = 0 is its surface.
    // A hundredth of a millimetre is rounding, not an overhang.
    const float tol = 0.01f;
    const Box3 b = project.sceneBox();
    if (b.isEmpty())
        return;
    const float hw = volume.W * 0.5f, hd = volume.D * 0.5f;
    QStringList over;
    auto side = [&](float beyond, const char *where) {
        if (!(beyond <= tol)) // NaN counts as outside
            over << QString("%1 mm %2").arg(double(beyond), 0, 'f', 1).arg(QLatin1String(where));
    };
    side(-hw - b.min.x, "beyond the left edge");
    side(b.max.x - hw, "beyond the right edge");
    side(-hd - b.min.z, "beyond the back edge");
    side(b.max.z - hd, "beyond the front edge");
    side(-b.min.y, "below the bed");
    side(b.max.y - volume.H, "above the build height");
    if (over.isEmpty())
        return;
    throw QString("the scene does not fit the build volume (%1 x %2 x %3 mm): it reaches %4; "
                  "--allow-outside slices it anyway")
        .arg(double(volume.W)).arg(double(volume.D)).arg(double(volume.H)).arg(over.join(", "));
}

QStringList takeOption(QStringList &args, const QString &name)
{
    QStringList values;
    for (int i = 0; i < args.size();) {
        if (args[i] != name) {
            ++i;
            continue;
        }
        if (i + 1 >= args.size())
            throw QString("option %1 needs a value").arg(name);
        values << args[i + 1];
        args.removeAt(i);
        args.removeAt(i);
    }
    return values;
}

QString takeSingleOption(QStringList &args, const QString &name, const QString &fallback)
{
    const QStringList v = takeOption(args, name);
    if (v.size() > 1)
        throw QString("option %1 given more than once").arg(name);
    return v.isEmpty() ? fallback : v[0];
}

void applySets(SlicerParams &params, const QStringList &keyValues)
{
    for (const QString &kv : keyValues)
        params.applyOverride(kv);
}

void rejectUnknownOptions(const QStringList &args)
{
    for (const QString &a : args)
        if (a.startsWith("--"))
            throw QString("unknown option %1").arg(a);
}
