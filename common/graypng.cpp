#include "common/graypng.h"
#include "common/crc32.h"

#include <QtEndian>

#include <cstring>

namespace {

void putU32(QByteArray &out, quint32 v)
{
    char b[4];
    qToBigEndian(v, b);
    out.append(b, 4);
}

void putChunk(QByteArray &out, const char *type, const QByteArray &data)
{
    putU32(out, quint32(data.size()));
    const int start = out.size();
    out.append(type, 4);
    out.append(data);
    putU32(out, crc32(out.constData() + start, size_t(out.size() - start)));
}

} // namespace

QByteArray encodeGrayPng(const unsigned char *pixels, int width, int height)
{
    // Each row carries a filter byte; the whole image goes through one
    // QByteArray, so keep it under its 2 GB limit.
    if (width <= 0 || height <= 0 || qint64(width + 1) * height > (qint64(1) << 30))
        return QByteArray();
    QByteArray raw(int(qint64(width + 1) * height), Qt::Uninitialized);
    char *dst = raw.data();
    for (int y = 0; y < height; ++y) {
        *dst++ = 0; // filter: none (masks are long runs; deflate does the rest)
        std::memcpy(dst, pixels + qint64(y) * width, size_t(width));
        dst += width;
    }
    // qCompress gives a zlib stream behind a 4-byte length: the stream is
    // exactly what IDAT holds.
    const QByteArray zipped = qCompress(raw).mid(4);
    raw.clear();

    QByteArray ihdr;
    putU32(ihdr, quint32(width));
    putU32(ihdr, quint32(height));
    ihdr.append(char(8)); // bit depth
    ihdr.append(char(0)); // colour type: grey
    ihdr.append(char(0)); // compression
    ihdr.append(char(0)); // filter method
    ihdr.append(char(0)); // no interlace

    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    putChunk(png, "IHDR", ihdr);
    putChunk(png, "IDAT", zipped);
    putChunk(png, "IEND", QByteArray());
    return png;
}
