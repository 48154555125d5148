#pragma once
// CRC-32 as in zip/PNG: reflected polynomial 0xEDB88320, initial value and
// final XOR 0xFFFFFFFF. crc32("abc") == 0x352441C2.
#include <QByteArray>
#include <QtGlobal>
#include <cstddef>

// Continues a running checksum: pass the previous result as `crc` (0 to start),
// so crc32(b, n2, crc32(a, n1)) equals the checksum of a followed by b.
quint32 crc32(const void *data, size_t len, quint32 crc = 0);

inline quint32 crc32(const QByteArray &bytes, quint32 crc = 0)
{
    return crc32(bytes.constData(), size_t(bytes.size()), crc);
}
