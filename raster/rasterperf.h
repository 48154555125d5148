#pragma once
// Profiling bracket for raster operations, also inside parallel layer
// batches (PerfData keeps per-thread records there).
#include "common/perfdata.h"

#include <unordered_map>

// The stage name as a QString, made once per name and thread: making it at
// every bracket cost small layers more than the timing itself.
inline const QString &rasterPerfName(const char *name)
{
    thread_local std::unordered_map<const char *, QString> names;
    auto it = names.find(name);
    if (it == names.end())
        it = names.emplace(name, QString::fromLatin1(name)).first;
    return it->second;
}

class RasterPerf {
public:
    RasterPerf(const char *name, bool enabled = true)
        : m_name(enabled ? name : nullptr)
    {
        if (m_name)
            perfBegin(rasterPerfName(m_name));
    }
    ~RasterPerf()
    {
        if (m_name)
            perfEnd(rasterPerfName(m_name));
    }
    RasterPerf(const RasterPerf &) = delete;
    RasterPerf &operator=(const RasterPerf &) = delete;

private:
    const char *m_name;
};

// Bytes of pixel data: `bytes` rounded up to 16; throws when a plane would
// not fit in an int.
int planeByteSize(qint64 bytes, const char *who);

// 32-bit little-endian word access without aliasing concerns.
#include <cstring>
inline quint32 load32(const uchar *p)
{
    quint32 v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void store32(uchar *p, quint32 v) { std::memcpy(p, &v, 4); }
