// Preset list text from arbitrary bytes: never a crash, a list that was read
// writes and reads back unchanged, and every preset loads.
#include "params/slicerpresets.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Qt 5.15's JSON parser leaks a container value that a later duplicate key
// replaces ({"a":[1],"a":1}). Its frames carry no names under the fast
// unwinder and nest arbitrarily deep, so leaks allocated inside Qt Core are
// suppressed by module; this code owns no raw allocations of its own.
extern "C" const char *__lsan_default_suppressions() { return "leak:libQt5Core.so.5\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1 << 20))
        return 0;
    SlicerPresets s;
    s.fromText(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    const QByteArray text = s.toText();
    SlicerPresets r;
    r.fromText(text);
    if (r.names() != s.names() || r.toText() != text)
        std::abort();
    for (const QString &name : s.names()) {
        SlicerParams p;
        s.load(name, p);
    }
    return 0;
}
