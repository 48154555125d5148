// tessavo-cli convert IN OUT [--ascii]: mesh conversion between STL and OBJ.
#include "cli/commands.h"
#include "scene/faces.h"

#include <cstdio>

static int runConvert(const QStringList &args)
{
    QStringList files;
    bool ascii = false;
    for (const QString &a : args) {
        if (a == "--ascii")
            ascii = true;
        else if (a.startsWith("--")) {
            std::fprintf(stderr, "error: unknown option '%s'\n", qPrintable(a));
            return 1;
        } else
            files << a;
    }
    if (files.size() != 2) {
        std::fprintf(stderr, "error: usage: tessavo-cli convert IN OUT [--ascii]\n");
        return 1;
    }
    Faces f;
    const bool flipped = f.importFile(files[0]);
    // An empty output would hide that the input was not read as a mesh.
    if (f.count() == 0)
        throw QString("%1: no triangles read (not a mesh file, or an empty one)").arg(files[0]);
    f.exportFile(files[1], !ascii);
    std::printf("%s -> %s: %d triangles%s\n", qPrintable(files[0]), qPrintable(files[1]), f.count(),
                flipped ? " (turned outward)" : "");
    return 0;
}

static const CliRegistrar convertCommand({"convert",
    "Usage: tessavo-cli convert IN OUT [--ascii]\n"
    "\n"
    "Reads a mesh (.stl binary or ASCII, .obj), turns it outward when it was\n"
    "inside out, and writes it by OUT's extension: .stl (binary, or ASCII with\n"
    "--ascii) or .obj.\n",
    runConvert});
