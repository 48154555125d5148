#include "common/crc32.h"

#include <array>
#include <cstring>

namespace {

// kTables[0] is the classic byte table; kTables[k][i] is the CRC of byte i
// followed by k zero bytes, which lets the loop fold eight bytes per step.
using Tables = std::array<std::array<quint32, 256>, 8>;

constexpr Tables makeTables()
{
    Tables t{};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (int k = 1; k < 8; ++k)
        for (int i = 0; i < 256; ++i)
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
    return t;
}

constexpr Tables kTables = makeTables();

} // namespace

quint32 crc32(const void *data, size_t len, quint32 crc)
{
    const unsigned char *p = static_cast<const unsigned char *>(data);
    crc = ~crc;
    // Eight bytes at a time (little-endian loads, as on every x86-64).
    while (len >= 8) {
        quint32 lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 4);
        lo ^= crc;
        crc = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
              kTables[4][lo >> 24] ^ kTables[3][hi & 0xFF] ^ kTables[2][(hi >> 8) & 0xFF] ^
              kTables[1][(hi >> 16) & 0xFF] ^ kTables[0][hi >> 24];
        p += 8;
        len -= 8;
    }
    while (len--)
        crc = kTables[0][(crc ^ *p++) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}
