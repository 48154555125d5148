#include "cli/inputs.h"
#include "params/slicerparams.h"
#include "scene/project.h"

#include <QFile>
#include <QFileInfo>

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
        QFile f(inputs[0]);
        if (!f.open(QIODevice::ReadOnly))
            throw QString("Cannot read %1").arg(inputs[0]);
        project.loadFile(f.readAll());
        return;
    }

    for (const QString &path : inputs) {
        const QString ext = QFileInfo(path).suffix().toLower();
        if (ext != "stl" && ext != "obj")
            throw QString("unsupported input %1 (expected .stl, .obj or .tvprj)").arg(path);
        project.addObject(path, false);
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
