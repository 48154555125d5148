// tessavo-cli info FILE: what a mesh or project file holds.
#include "cli/commands.h"
#include "cli/inputs.h"
#include "common/utils.h"
#include "scene/project.h"

#include <QFileInfo>

#include <cstdio>

static void printBox(const char *label, const Box3 &b)
{
    if (b.isEmpty()) {
        std::printf("%s: empty\n", label);
        return;
    }
    // Adding 0 turns -0 into 0 for printing.
    std::printf("%s: min %g %g %g max %g %g %g (mm, Y up)\n", label, b.min.x + 0.0, b.min.y + 0.0,
                b.min.z + 0.0, b.max.x + 0.0, b.max.y + 0.0, b.max.z + 0.0);
}

// Standard input has no file name: a project stream starts with its
// signature, an OBJ with one of its statements; anything else is STL (which
// tells binary from ASCII itself).
static QString sniffKind(const QByteArray &data)
{
    if (data.startsWith(QByteArray::fromHex("98EDDAEE")))
        return ".tvprj";
    static const char *const objWords[] = {"v", "vn", "vt", "f", "o", "g", "s", "usemtl", "mtllib"};
    int from = 0;
    while (from < data.size() && from < 4096) {
        int nl = data.indexOf('\n', from);
        if (nl < 0)
            nl = data.size();
        const QByteArray line = data.mid(from, nl - from).simplified();
        from = nl + 1;
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QByteArray word = line.left(line.indexOf(' ') < 0 ? line.size() : line.indexOf(' '));
        for (const char *w : objWords)
            if (word == w)
                return ".obj";
        break;
    }
    return ".stl";
}

static int runInfo(const QStringList &args)
{
    if (args.size() != 1) {
        std::fprintf(stderr, "error: usage: tessavo-cli info FILE\n");
        return 1;
    }
    const QString path = args[0];
    // "-" is standard input; its kind is told by its content.
    const QByteArray stdinData = path == "-" ? readInput(path) : QByteArray();
    const QString kind = path == "-" ? sniffKind(stdinData) : "." + QFileInfo(path).suffix().toLower();
    if (kind == ".tvprj") {
        Project p;
        if (path == "-")
            p.loadFile(stdinData);
        else
            loadProjectFile(p, path);
        std::printf("project: %s\nobjects: %d\n", qPrintable(path), int(p.objs.size()));
        for (const auto &o : p.objs) {
            const Box3 b = o->sceneBox();
            std::printf("  %s: triangles %d, hash %08x%s%s, scene box %g %g %g .. %g %g %g\n",
                        o->displayName.toUtf8().constData(), o->mesh->count(), o->mesh->hash,
                        o->selected ? ", selected" : "", o->hidden ? ", hidden" : "",
                        double(b.min.x), double(b.min.y), double(b.min.z), double(b.max.x), double(b.max.y),
                        double(b.max.z));
        }
        std::printf("meshes: %d\nsupport bars: %d\n", p.cache.size(), int(p.bars.size()));
        printBox("bounding box", p.sceneBox());
        return 0;
    }
    Faces f;
    const bool flipped = path == "-" ? f.importBytes(stdinData, kind) : f.importFile(path);
    std::printf("mesh: %s\ntriangles: %d\n", qPrintable(path), f.count());
    printBox("bounding box", f.boundingBox());
    std::printf("hash: %08x\nflipped on load: %s\n", f.contentHash(), flipped ? "yes" : "no");
    return 0;
}

static const CliRegistrar infoCommand({"info",
    "Usage: tessavo-cli info FILE\n"
    "\n"
    "FILE \"-\" reads standard input (mesh or project, told by its content).\n"
    "Mesh (.stl, .obj): triangle count, bounding box in the scene frame (mm, Y up),\n"
    "content hash (CRC-32, hex) and whether the mesh was turned outward on load.\n"
    "Project (.tvprj): its objects with display names, meshes and support bars.\n",
    runInfo});
