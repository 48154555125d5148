#include "common/crc32.h"

#include <array>

namespace {

constexpr std::array<quint32, 256> makeTable()
{
    std::array<quint32, 256> t{};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
    }
    return t;
}

constexpr std::array<quint32, 256> kTable = makeTable();

} // namespace

quint32 crc32(const void *data, size_t len, quint32 crc)
{
    const unsigned char *p = static_cast<const unsigned char *>(data);
    crc = ~crc;
    for (size_t i = 0; i < len; ++i)
        crc = kTable[(crc ^ p[i]) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}
