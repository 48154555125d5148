// G-code text from arbitrary bytes: never a crash or a read past the buffer,
// and a load in two pieces cut anywhere equals the whole load.
#include "gcode/gcodesim.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Up to 1 MB: long lines are where a rescan per command would show.
    if (size > (1 << 20))
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));

    GCodeSim whole;
    whole.load(bytes);
    (void)whole.statsText(true, QString::fromLatin1(kDefaultFilamentPrices));

    const int cut = size ? int((data[0] * 251u + data[size - 1]) % (size + 1)) : 0;
    GCodeSim pieces;
    pieces.append(bytes.left(cut));
    pieces.append(bytes.mid(cut));
    pieces.finish();

    if (whole.moves() != pieces.moves() || whole.layers().size() != pieces.layers().size()
        || whole.parser().firstError() != pieces.parser().firstError()
        || whole.rejected() != pieces.rejected())
        std::abort();
    for (int i = 0; i < whole.layers().size(); ++i) {
        const GCodeLayer &a = whole.layers()[i], &b = pieces.layers()[i];
        if (!(a.z == b.z || (a.z != a.z && b.z != b.z)) || a.ranges.size() != b.ranges.size())
            std::abort();
        for (int r = 0; r < a.ranges.size(); ++r)
            if (a.ranges[r].begin != b.ranges[r].begin || a.ranges[r].end != b.ranges[r].end)
                std::abort();
    }
    return 0;
}
