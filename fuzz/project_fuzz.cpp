// Project streams from arbitrary bytes: a clear error that leaves the scene
// untouched, or a project whose own stream reads back to the same bytes.
#include "scene/project.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1 << 18))
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    Project p;
    Faces tri;
    tri.append({0, 0, 0}, {1, 0, 0}, {0, 0, 1});
    p.addObject(tri, "keep", true);
    const QByteArray before = p.saveToStr(false);
    try {
        p.loadFile(bytes);
    } catch (const QString &) {
        if (p.saveToStr(false) != before)
            std::abort();
        try {
            p.loadFromStr(bytes, true); // as an undo snapshot against the cache
        } catch (const QString &) {
            if (p.saveToStr(false) != before)
                std::abort();
        }
        return 0;
    }
    const QByteArray full = p.saveToStr(false);
    Project q;
    q.loadFile(full);
    if (q.saveToStr(false) != full)
        std::abort();
    const QByteArray snap = p.saveToStr(true);
    p.loadFromStr(snap, true);
    if (p.saveToStr(false) != full)
        std::abort();
    return 0;
}
