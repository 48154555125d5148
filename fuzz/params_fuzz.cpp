// Parameter text and "Key=Value" overrides from arbitrary bytes: never a
// crash, and whatever was read writes and reads back to the same text.
#include "params/slicerparams.h"

#include <QList>
#include <QString>

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
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));

    SlicerParams p;
    p.fromText(bytes);
    const QByteArray text = p.toText();
    SlicerParams q;
    q.fromText(text);
    if (q.toText() != text)
        std::abort();

    // Each line as an override; bad ones are refused with a message.
    SlicerParams o;
    for (const QByteArray &line : bytes.split('\n')) {
        try {
            o.applyOverride(QString::fromUtf8(line));
        } catch (const QString &) {
        }
    }
    SlicerParams r;
    r.fromText(o.toText());
    if (r.toText() != o.toText())
        std::abort();
    return 0;
}
