// STL bytes (binary or ASCII) into a mesh: a clear error or a mesh, never a
// crash; the vertices read survive a binary STL round trip bit for bit.
#include "scene/faces.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1 << 16))
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    Faces f;
    try {
        f.importBytes(bytes, ".stl");
    } catch (const QString &) {
        if (!f.isEmpty())
            std::abort(); // a failed import leaves the mesh empty
        return 0;
    }
    const QByteArray bin = f.exportFata(".stl", true);
    Faces g;
    g.loadStl(bin);
    // Vertices must come back bit for bit (normals of degenerate triangles
    // are NaNs whose sign a flip may change, so they are not compared).
    if (g.count() != f.count() || g.contentHash() != f.contentHash())
        std::abort();
    f.exportFata(".stl", false);
    f.exportFata(".obj", false);
    return 0;
}
