// Wavefront OBJ text into a mesh: never a crash; faces only name vertices
// that exist, and an OBJ export reads back to the same triangle count.
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
    f.importBytes(bytes, ".obj"); // OBJ reading has no error path
    Faces g;
    g.importBytes(f.exportFata(".obj", true), ".obj");
    if (g.count() != f.count())
        std::abort();
    f.exportFata(".stl", false);
    return 0;
}
