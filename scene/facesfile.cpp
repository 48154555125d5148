// Mesh files: STL (binary and ASCII) and Wavefront OBJ, read and written.
#include "scene/faces.h"
#include "common/utils.h"

#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QtEndian>

#include <omp.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// STL files are Z up: file (x, y, z) is internal (x, z, -y).
inline Vec3 fromZUp(float x, float y, float z) { return {x, z, -y}; }
inline Vec3 toZUp(const Vec3 &v) { return {v.x, -v.z, v.y}; }

QString extensionOf(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf('.');
    return dot < 0 ? QString() : name.mid(dot);
}

// Calls f(line) for every line-feed separated piece, without building a list
// of all lines first (large ASCII files).
template <typename F>
void forEachLine(const QByteArray &data, F f)
{
    int from = 0;
    while (from <= data.size()) {
        int nl = data.indexOf('\n', from);
        if (nl < 0)
            nl = data.size();
        f(QByteArray::fromRawData(data.constData() + from, nl - from));
        from = nl + 1;
    }
}

// Pieces separated by any run of blanks (spaces, tabs, CR, form feeds):
// editors and exporters use tabs as readily as spaces.
QList<QByteArray> pieces(const QByteArray &line)
{
    QList<QByteArray> out;
    for (const QByteArray &p : line.simplified().split(' '))
        if (!p.isEmpty())
            out.append(p);
    return out;
}

// A missing or malformed number reads as NaN, so that the triangle using it
// is dropped rather than given a vertex at 0 that the file never had.
float readFloat(const QList<QByteArray> &pc, int i)
{
    if (i >= pc.size())
        return std::numeric_limits<float>::quiet_NaN();
    bool ok = false;
    const float v = pc[i].toFloat(&ok);
    return ok ? v : std::numeric_limits<float>::quiet_NaN();
}

// Triangles with a non-finite vertex (NaN, or a number like 1e999 that
// overflows) are dropped: one infinite corner would stretch the bounding box
// to infinity and the anchoring would move every vertex by -inf.
void appendFinite(Faces &f, const Vec3 &p, const Vec3 &q, const Vec3 &r)
{
    if (isFinite(p) && isFinite(q) && isFinite(r))
        f.append(p, q, r);
}

void loadBinaryStl(Faces &f, const QByteArray &data)
{
    if (data.size() < 84)
        throw QString("STL loader: invalid header");
    const bool convert = !data.left(80).trimmed().startsWith("solid ");
    const uchar *bytes = reinterpret_cast<const uchar *>(data.constData());
    const qint32 count = qFromLittleEndian<qint32>(bytes + 80);
    if (count > (data.size() - 84) / 50)
        throw QString("STL loader: Corrupt BinarySTL, triangleCnt > filesize");
    if (count <= 0)
        return;
    // Records are read in contiguous chunks on all threads, each chunk's
    // kept triangles written from its own first slot; the chunks are then
    // closed up in order, so the mesh is the one a single pass gives.
    const int base = f.count();
    f.tris.resize(base + count);
    Triangle *out = f.tris.data() + base;
    const int chunks = std::max(1, std::min(omp_get_max_threads(), count / 20000));
    std::vector<int> kept(size_t(chunks), 0);
#pragma omp parallel for schedule(static) num_threads(chunks)
    for (int c = 0; c < chunks; ++c) {
        const int i0 = int(qint64(count) * c / chunks), i1 = int(qint64(count) * (c + 1) / chunks);
        Triangle *dst = out + i0;
        const uchar *rec = bytes + 84 + qint64(i0) * 50;
        for (int i = i0; i < i1; ++i, rec += 50) {
            float v[9];
            for (int k = 0; k < 9; ++k)
                v[k] = qFromLittleEndian<float>(rec + 12 + 4 * k);
            const Vec3 p = convert ? fromZUp(v[0], v[1], v[2]) : Vec3(v[0], v[1], v[2]);
            const Vec3 q = convert ? fromZUp(v[3], v[4], v[5]) : Vec3(v[3], v[4], v[5]);
            const Vec3 r = convert ? fromZUp(v[6], v[7], v[8]) : Vec3(v[6], v[7], v[8]);
            if (isFinite(p) && isFinite(q) && isFinite(r)) // as appendFinite
                *dst++ = Triangle{p, q, r, faceNormal(p, q, r)};
        }
        kept[size_t(c)] = int(dst - (out + i0));
    }
    int n = kept[0];
    for (int c = 1; c < chunks; ++c) {
        const int i0 = int(qint64(count) * c / chunks);
        if (n != i0)
            std::memmove(out + n, out + i0, sizeof(Triangle) * size_t(kept[size_t(c)]));
        n += kept[size_t(c)];
    }
    f.tris.resize(base + n);
}

void loadAsciiStl(Faces &f, const QByteArray &data)
{
    const bool convert = data.startsWith("solid ");
    Vec3 v[3];
    int held = 0;
    forEachLine(data, [&](const QByteArray &line) {
        const QList<QByteArray> pc = pieces(line);
        if (pc.isEmpty())
            return;
        if (pc[0] == "vertex") {
            if (held < 3) {
                const float x = readFloat(pc, 1), y = readFloat(pc, 2), z = readFloat(pc, 3);
                v[held] = convert ? fromZUp(x, y, z) : Vec3(x, y, z);
            }
            if (held < 4) // counts past three only need to stay above three
                ++held;
        } else if (pc[0] == "endloop") {
            if (held == 3)
                appendFinite(f, v[0], v[1], v[2]);
            held = 0;
        }
    });
}

QByteArray num7(float v) { return ' ' + QByteArray::number(double(v), 'g', 7); }

QByteArray asciiStl(const Faces &f, const QString &name)
{
    QByteArray out = "solid " + name.toUtf8() + '\n';
    for (const Triangle &t : f.tris) {
        const Vec3 n = toZUp(t.n);
        out += "facet normal" + num7(n.x) + num7(n.y) + num7(n.z) + "\n  outer loop\n";
        for (const Vec3 &p : {t.p, t.q, t.r}) {
            const Vec3 c = toZUp(p);
            out += "    vertex" + num7(c.x) + num7(c.y) + num7(c.z) + '\n';
        }
        out += "  endloop\nendfacet\n";
    }
    out += "endsolid\n";
    return out;
}

QByteArray binaryStl(const Faces &f, const QString &name)
{
    QByteArray out = QString("STL export %1").arg(name).toUtf8().left(80);
    out = out.leftJustified(80, ' ');
    out.reserve(84 + 50 * f.count());
    uchar word[4];
    qToLittleEndian<quint32>(quint32(f.count()), word);
    out.append(reinterpret_cast<const char *>(word), 4);
    for (const Triangle &t : f.tris) {
        for (const Vec3 &p : {t.n, t.p, t.q, t.r}) {
            const Vec3 c = toZUp(p);
            for (int k = 0; k < 3; ++k) {
                qToLittleEndian<float>(c[k], word);
                out.append(reinterpret_cast<const char *>(word), 4);
            }
        }
        out.append(2, '\0');
    }
    return out;
}

// Exact float equality (so -0 equals 0, NaN equals nothing) as a hash key.
struct VertexKey {
    float x, y, z;
    bool operator==(const VertexKey &o) const { return x == o.x && y == o.y && z == o.z; }
};
uint qHash(const VertexKey &k, uint seed = 0)
{
    auto bits = [](float f) {
        if (f == 0.0f)
            f = 0.0f;
        quint32 u;
        std::memcpy(&u, &f, 4);
        return u;
    };
    return ::qHash(bits(k.x), seed) ^ (::qHash(bits(k.y), seed) * 31u) ^ (::qHash(bits(k.z), seed) * 131u);
}

QByteArray objText(const Faces &f)
{
    // A vertex is reused when it equals one of the last 1000 distinct vertices
    // written; within that window each position is written at most once, so a
    // map to its latest index finds exactly what a window search would.
    const int window = 1000;
    QHash<VertexKey, int> latest;
    int written = 0;
    QByteArray verts, faces;
    for (const Triangle &t : f.tris) {
        int idx[3];
        int k = 0;
        for (const Vec3 &p : {t.p, t.q, t.r}) {
            const VertexKey key{p.x, p.y, p.z};
            auto it = latest.find(key);
            if (it != latest.end() && it.value() >= written - window) {
                idx[k++] = it.value();
                continue;
            }
            latest.insert(key, written);
            idx[k++] = written++;
            verts += "v " + QByteArray::number(double(p.x), 'f', 3) + ' ' + QByteArray::number(double(p.y), 'f', 3) + ' '
                   + QByteArray::number(double(p.z), 'f', 3) + "\r\n";
        }
        faces += "f " + QByteArray::number(idx[0] + 1) + ' ' + QByteArray::number(idx[1] + 1) + ' '
               + QByteArray::number(idx[2] + 1) + "\r\n";
    }
    return verts + faces;
}

} // namespace

void Faces::loadStl(const QByteArray &data)
{
    if (data.isEmpty())
        throw QString("STL loader: empty file.");
    if (data.size() >= 84 && static_cast<signed char>(data[83]) < 10)
        loadBinaryStl(*this, data);
    else
        loadAsciiStl(*this, data);
}

void Faces::loadObj(const QByteArray &data)
{
    QVector<Vec3> verts;
    QVector<int> face;
    forEachLine(data, [&](const QByteArray &line) {
        const QList<QByteArray> pc = pieces(line);
        if (pc.size() < 4)
            return;
        if (pc[0] == "v") {
            verts.append(Vec3(readFloat(pc, 1), readFloat(pc, 2), readFloat(pc, 3)));
        } else if (pc[0] == "f") {
            face.clear();
            bool good = true;
            for (int i = 1; i < pc.size() && good; ++i) {
                const int slash = pc[i].indexOf('/');
                bool ok = false;
                const int k = (slash < 0 ? pc[i] : pc[i].left(slash)).toInt(&ok, 10);
                const qint64 idx = k >= 1 ? qint64(k) - 1 : qint64(k) + verts.size();
                good = ok && idx >= 0 && idx < verts.size();
                face.append(int(idx));
            }
            if (!good)
                return;
            for (int k = 2; k < face.size(); ++k)
                appendFinite(*this, verts[face[0]], verts[face[k - 1]], verts[face[k]]);
        }
    });
}

bool Faces::importBytes(const QByteArray &data, const QString &ext)
{
    clear();
    const QString e = ext.toLower();
    if (e == ".stl")
        loadStl(data);
    else if (e == ".obj")
        loadObj(data);
    else
        throw QString("Faces::importFile() unsupported extension: ") + ext;
    if (orientationCheck())
        return false;
    flip();
    return true;
}

bool Faces::importFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw QString("Faces::importFile() File not found: ") + path;
    // Devices, pipes and folders could be read without end; files past what a
    // byte array holds cannot be read at all.
    if (!info.isFile())
        throw QString("Faces::importFile() not a regular file: ") + path;
    if (info.size() > qint64(2000000000))
        throw QString("Faces::importFile() file too large: ") + path;
    return importBytes(readFile(path), extensionOf(path));
}

QByteArray Faces::exportFata(const QString &ext, bool binary) const
{
    const QString e = ext.toLower();
    if (e == ".stl")
        return binary ? binaryStl(*this, QString()) : asciiStl(*this, QString());
    if (e == ".obj")
        return objText(*this);
    throw QString("Faces::exportFata() unsupported extension: ") + ext;
}

void Faces::exportFile(const QString &path, bool binary) const
{
    writeFile(path, exportFata(extensionOf(path), binary));
}
