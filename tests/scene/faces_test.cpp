#include "fixtures/meshes.h"
#include "scene/facescache.h"
#include "scene/raycount.h"
#include "common/crc32.h"

#include <QBuffer>
#include <QDataStream>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <cstdio>
#include <random>

static QString thrownBy(const std::function<void()> &f)
{
    try {
        f();
    } catch (const QString &s) {
        return s;
    }
    return QString();
}

TEST(Faces, NormalIsFastUnitAndFollowsWinding)
{
    const Vec3 n = faceNormal({0, 0, 0}, {2, 0, 0}, {0, 3, 0});
    EXPECT_NEAR(n.z, 1.0f, 1.0f / 2048);
    EXPECT_EQ(n.x, 0.0f);
    const Vec3 m = faceNormal({0, 0, 0}, {0, 3, 0}, {2, 0, 0});
    EXPECT_NEAR(m.z, -1.0f, 1.0f / 2048);
}

TEST(Faces, ContentHashIsCrcOfVerticesOnly)
{
    Faces f;
    EXPECT_EQ(f.contentHash(), 0u);
    f.append({0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    EXPECT_EQ(f.contentHash(), 0x88a3708fu); // zlib.crc32 of the nine floats
    f.append({1, 2, 3}, {4, 5, 6}, {7, 8, 9.5f});
    EXPECT_EQ(f.contentHash(), 0x164c285fu);
    f.tris[0].n = Vec3(5, 5, 5);
    EXPECT_EQ(f.contentHash(), 0x164c285fu);
}

TEST(Faces, AnchorAndBoxes)
{
    Faces f = boxMesh({2, 4, 6}, {4, 10, 8});
    f.moveToAnchor({0, -1, 0});
    const Box3 b = f.boundingBox();
    EXPECT_EQ(b.min.x, -1); EXPECT_EQ(b.max.x, 1);
    EXPECT_EQ(b.min.y, 0); EXPECT_EQ(b.max.y, 6);
    EXPECT_EQ(b.min.z, -1); EXPECT_EQ(b.max.z, 1);
    const Box3 m = f.boundingBox(Mat4::translation({10, 0, 0}) * Mat4::scaling({2, 1, 1}));
    EXPECT_EQ(m.min.x, 8); EXPECT_EQ(m.max.x, 12);
    EXPECT_TRUE(Faces().boundingBox().isEmpty());
}

// The boxes are taken four lanes at a time; they must equal Box3::add over
// every corner (mapped by Mat4::map) to the bit: which zero (-0 or +0) wins
// a tie, NaN skipped, infinities kept.
static Box3 plainBox(const Faces &f, const Mat4 *m)
{
    Box3 b;
    for (const Triangle &t : f.tris)
        for (const Vec3 &v : {t.p, t.q, t.r})
            b.add(m ? m->map(v) : v);
    return b;
}

TEST(Faces, BoxesEqualThePlainLoopToTheBit)
{
    std::vector<Faces> meshes;
    for (const char *file : {"cube.stl", "tetrahedron.stl", "self_overlapping_cubes.stl", "random_bits.stl"}) {
        Faces f;
        f.importFile(QString(TESSAVO_TEST_DATA "/scene/") + file);
        meshes.push_back(f);
    }
    std::mt19937 rng(19);
    const float odd[] = {0.0f, -0.0f, 1.0f, -1.0f, 3.5f, NAN, INFINITY, -INFINITY, 1e-40f, -2.5f};
    for (int k = 0; k < 40; ++k) {
        Faces f;
        const int n = int(rng() % 50);
        auto pick = [&] {
            return (rng() & 1) ? odd[rng() % 10] : std::uniform_real_distribution<float>(-50, 50)(rng);
        };
        for (int i = 0; i < n; ++i) {
            f.append({pick(), pick(), pick()}, {pick(), pick(), pick()}, {pick(), pick(), pick()});
            f.tris.back().n = Vec3(pick(), pick(), pick()); // the lane after r.z: must not count
        }
        meshes.push_back(f);
    }
    std::vector<Mat4> ms = {Mat4(), Mat4::scaling({-1, 1, 1}), Mat4::translation({0, -0.0f, 3}),
                            Mat4::translation({1, 2, 3}) * Mat4::rotation(1, 33) * Mat4::scaling({0.1f, 25.4f, -2})};
    for (int k = 0; k < 6; ++k) {
        Mat4 m;
        for (float &v : m.m)
            v = std::uniform_real_distribution<float>(-3, 3)(rng);
        ms.push_back(m);
    }
    for (size_t i = 0; i < meshes.size(); ++i) {
        const Box3 a = meshes[i].boundingBox(), b = plainBox(meshes[i], nullptr);
        EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << i;
        for (size_t j = 0; j < ms.size(); ++j) {
            const Box3 c = meshes[i].boundingBox(ms[j]), d = plainBox(meshes[i], &ms[j]);
            EXPECT_EQ(std::memcmp(&c, &d, sizeof c), 0) << i << " " << j;
        }
    }
}

TEST(FacesStl, BinaryFormAxisConversionAndCount)
{
    const std::initializer_list<float> tri = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    struct Case { const char *what; QByteArray bytes; int tris; Vec3 firstP; QString error; };
    const Case cases[] = {
        {"plain header converts Z up", binaryStl("made by x", 1, tri), 1, {1, 3, -2}, {}},
        {"solid header stays binary, no conversion", binaryStl("  solid thing", 1, tri), 1, {1, 2, 3}, {}},
        {"trailing bytes ignored", binaryStl("x", 1, tri) + QByteArray(49, 'z'), 1, {1, 3, -2}, {}},
        {"count beyond size", binaryStl("x", 2, tri), 0, {}, "STL loader: Corrupt BinarySTL, triangleCnt > filesize"},
        {"empty file", QByteArray(), 0, {}, "STL loader: empty file."},
        {"short text is ASCII and empty", QByteArray(83, 'a'), 0, {}, {}},
    };
    for (const Case &c : cases) {
        Faces f;
        f.append({9, 9, 9}, {9, 9, 8}, {9, 8, 9});
        const QString err = thrownBy([&] { f.loadStl(c.bytes); });
        EXPECT_EQ(err, c.error) << c.what;
        if (!c.error.isEmpty())
            continue;
        ASSERT_EQ(f.count(), 1 + c.tris) << c.what; // the loader appends
        if (c.tris) {
            EXPECT_EQ(f.tris[1].p, c.firstP) << c.what;
        }
    }
}

// Large binary files are read and hashed in chunks on several threads; the
// mesh (order, dropped non-finite triangles, normals) and its hash must be
// those of one plain pass, for any thread count.
TEST(FacesStl, ChunkedBinaryReadAndHashEqualOnePass)
{
    std::mt19937 rng(83);
    std::uniform_real_distribution<float> u(-100, 100);
    for (const char *head : {"binary", "solid but binary"}) {
        const int count = 61237;
        QByteArray data = QByteArray(head).leftJustified(80, '\0');
        data.append(reinterpret_cast<const char *>(&count), 4);
        data.append(50 * count, '\0');
        for (int i = 0; i < count; ++i) {
            float v[9];
            for (float &x : v)
                x = u(rng);
            if (i % 997 == 3 || (i >= 30000 && i < 30700)) // a run of drops across a chunk border
                v[rng() % 9] = (i & 1) ? NAN : INFINITY;
            std::memcpy(data.data() + 84 + 50 * i + 12, v, 36);
        }
        // The plain pass: every record in order, finite ones appended.
        Faces want;
        const bool convert = data.left(80).trimmed().startsWith("solid ") == false;
        for (int i = 0; i < count; ++i) {
            float v[9];
            std::memcpy(v, data.constData() + 84 + 50 * i + 12, 36);
            Vec3 c[3];
            for (int k = 0; k < 3; ++k)
                c[k] = convert ? Vec3(v[3 * k], v[3 * k + 2], -v[3 * k + 1]) : Vec3(v[3 * k], v[3 * k + 1], v[3 * k + 2]);
            if (isFinite(c[0]) && isFinite(c[1]) && isFinite(c[2]))
                want.append(c[0], c[1], c[2]);
        }
        quint32 wantHash = 0;
        for (const Triangle &t : want.tris)
            wantHash = crc32(&t, 36, wantHash);
        ASSERT_LT(want.count(), count - 700);
        const int saved = omp_get_max_threads();
        for (int threads : {1, 2, 3}) {
            omp_set_num_threads(threads);
            Faces got;
            got.append({1, 2, 3}, {4, 5, 6}, {7, 8, 9}); // loaders append to what is there
            got.loadStl(data);
            ASSERT_EQ(got.count(), want.count() + 1) << threads;
            EXPECT_EQ(std::memcmp(got.tris.constData() + 1, want.tris.constData(), sizeof(Triangle) * size_t(want.count())), 0)
                << threads;
            got.tris.removeFirst();
            EXPECT_EQ(got.contentHash(), wantHash) << threads;
        }
        omp_set_num_threads(saved);
    }
}

TEST(FacesStl, ByteEightyThreeDecidesTheForm)
{
    // Same 134 bytes, only byte 83 differs: 9 and 200 are binary (200 makes the
    // signed count negative: no triangles), 10 is read as ASCII text.
    for (int b83 : {9, 10, 200}) {
        QByteArray bytes = binaryStl("x", 1, {1, 2, 3, 4, 5, 6, 7, 8, 9});
        bytes[83] = char(b83);
        Faces f;
        const QString err = thrownBy([&] { f.importBytes(bytes, ".STL"); });
        if (b83 == 9)
            EXPECT_EQ(err, "STL loader: Corrupt BinarySTL, triangleCnt > filesize");
        else
            EXPECT_TRUE(err.isEmpty()) << b83;
        EXPECT_EQ(f.count(), 0);
    }
}

TEST(FacesStl, AsciiFacetsVertexCountsAndConversion)
{
    const QByteArray text =
        "solid x\r\n"
        "facet normal 0 0 0\n outer loop\n vertex 1 1 1\n vertex 1 1 1\n vertex 1 1 1\n vertex 1 1 1\n endloop\nendfacet\n"
        "  facet normal 9 9 9\n   outer loop\n  vertex 1 2 3\nvertex   4 5 6  \n\tvertex\t7 8\t 9\r\n endloop\n endfacet\n"
        "endsolid x\n";
    Faces f;
    f.loadStl(text);
    ASSERT_EQ(f.count(), 1); // the four-vertex facet gives nothing
    EXPECT_EQ(f.tris[0].p, Vec3(1, 3, -2));
    EXPECT_EQ(f.tris[0].q, Vec3(4, 6, -5));
    EXPECT_EQ(f.tris[0].r, Vec3(7, 9, -8)); // tabs separate like spaces

    Faces g;
    g.loadStl("solidx\nouter loop\nvertex 1 2 3\nvertex 4 5 6\nvertex 7 8 9\nendloop\n");
    ASSERT_EQ(g.count(), 1);
    EXPECT_EQ(g.tris[0].p, Vec3(1, 2, 3)); // no "solid " prefix: no conversion
}

// A vertex that is not three finite numbers drops its facet: reading it as 0
// invented a corner, and an overflowing 1e999 (infinity) stretched the box
// to infinity so that anchoring emptied the whole object.
TEST(FacesStl, AsciiFacetWithBadNumberIsDropped)
{
    const char *bad[] = {"7 bad 9", "7 8", "1e999 8 9", "7 -1e999 9", "nan 8 9", "inf 8 9", "7 8 9x"};
    for (const char *v : bad) {
        const QByteArray text = QByteArray("solid x\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex ") + v
            + "\nendloop\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\nendloop\n";
        Faces f;
        f.loadStl(text);
        ASSERT_EQ(f.count(), 1) << v;
        EXPECT_EQ(f.tris[0].r, Vec3(0, 0, -1)) << v;
        const Box3 b = f.boundingBox();
        EXPECT_TRUE(isFinite(b.min) && isFinite(b.max)) << v;
    }
}

TEST(FacesObj, FansNegativeIndicesAndDroppedLines)
{
    const QByteArray text =
        "# comment\nv 0 0 0\nv 1 0 0\nv 1 1 0 extra\nv 0 1 0\nvn 0 0 1\n"
        "f 1/1/1 2/2/1 3/3/1 4/4/1\n"   // quad: (0,1,2), (0,2,3)
        "f -3 -2 -1\n"                  // the last three: 1, 2, 3
        "f 1 2 0\n"                     // index 0: dropped
        "f 1 2 5\n"                     // beyond the vertices read: dropped
        "f 1 x 2\n"                     // not a number: dropped
        "f 1 2\n"                       // fewer than four pieces: ignored
        "v 0 0 5\nf 1 2 -1\n";          // -1 is the vertex just read
    Faces f;
    f.loadObj(text);
    ASSERT_EQ(f.count(), 4);
    const Vec3 v[] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 5}};
    const int want[4][3] = {{0, 1, 2}, {0, 2, 3}, {1, 2, 3}, {0, 1, 4}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(f.tris[i].p, v[want[i][0]]) << i;
        EXPECT_EQ(f.tris[i].q, v[want[i][1]]) << i;
        EXPECT_EQ(f.tris[i].r, v[want[i][2]]) << i;
    }
}

TEST(FacesOrientation, InsideOutIsFlippedOutwardIsKept)
{
    const Faces out = tessellatedBox(10, 3);
    Faces in = out;
    in.flip();
    EXPECT_TRUE(out.orientationCheck());
    EXPECT_FALSE(in.orientationCheck());

    Faces loaded;
    EXPECT_TRUE(loaded.importBytes(in.exportFata(".stl", true), ".stl"));
    ASSERT_EQ(loaded.count(), out.count());
    for (int i = 0; i < out.count(); ++i) {
        EXPECT_EQ(loaded.tris[i].p, out.tris[i].p);
        EXPECT_EQ(loaded.tris[i].q, out.tris[i].q);
        EXPECT_EQ(loaded.tris[i].r, out.tris[i].r);
    }
    Faces kept;
    EXPECT_FALSE(kept.importBytes(out.exportFata(".stl", true), ".stl"));
    EXPECT_TRUE(Faces().orientationCheck());
}

TEST(FacesOrientation, BatchedCountsEqualThePlainLoop)
{
    // Rays through vertices and shared edges of a grid, and random rays, must
    // count exactly as the one-triangle-at-a-time loop does.
    Faces f = tessellatedBox(8, 8);
    // Degenerate and sliver triangles (det at or near zero), and a count
    // that leaves lanes of the last group empty.
    f.append(Vec3(1, 1, 1), Vec3(2, 2, 2), Vec3(3, 3, 3));
    f.append(Vec3(4, 4, 4), Vec3(4, 4, 4), Vec3(5, 4, 4));
    f.append(Vec3(0, 4, 2), Vec3(8, 4, 2.0001f), Vec3(8, 4.00001f, 2));
    f.append(Vec3(-1, 3, 3), Vec3(9, 3.5f, 3), Vec3(4, 3.25f, 3.00002f));
    f.append(Vec3(2, 2, 9), Vec3(6, 2, 9), Vec3(4, 6, 9));
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> d(-2, 10);
    QVector<CrossingRay> rays;
    for (int i = 0; i < 200; ++i) {
        Vec3 o(d(rng), d(rng), d(rng)), dir(d(rng) - 4, d(rng) - 4, d(rng) - 4);
        if (i % 3 == 0)
            o = Vec3(float(i % 9), 4.0f, float(i % 5)), dir = Vec3(1, 0, 0); // along grid lines
        if (i % 3 == 1)
            o = Vec3(float(i % 9), 1.0f + (i % 7), -1), dir = Vec3(0, 0, 1); // through vertices
        rays.append(CrossingRay{o, dir, i % 4 == 0 ? i % f.count() : -1});
    }
    // The orientation check's own rays: from every centroid along the
    // normal, skipping the triangle itself.
    for (int j = 0; j < f.count(); j += 7) {
        const Triangle &t = f.tris[j];
        const Vec3 m = (t.p + t.q + t.r) * 0.3333333f;
        rays.append(CrossingRay{m, (m + t.n) - m, j});
    }
    const QVector<int> fast = countCrossings(f.tris, rays);
    EXPECT_EQ(countCrossings(f.tris, rays, false), fast);
    const int saved = omp_get_max_threads();
    for (int threads : {1, 3}) { // rays dealt out to the threads in turn
        omp_set_num_threads(threads);
        EXPECT_EQ(countCrossings(f.tris, rays), fast) << threads;
        EXPECT_EQ(countCrossings(f.tris, rays, false), fast) << threads;
    }
    omp_set_num_threads(saved);
    const RayMesh rm(f.tris);
    for (int i = 0; i < rays.size(); ++i) {
        const CrossingRay &r = rays[i];
        EXPECT_EQ(fast[i], f.rayCrossings(r.origin, r.origin + r.dir, r.skip)) << i;
        // Hits one by one, with their t, in triangle order.
        QVector<QPair<int, float>> plain, batched;
        for (int k = 0; k < f.count(); ++k) {
            float t;
            if (rayCrossesTriangle(r.origin, r.dir, f.tris[k].p, f.tris[k].q, f.tris[k].r, &t))
                plain.append({k, t});
        }
        rm.forEachHit(r.origin, r.dir, [&](int k, float t) { batched.append({k, t}); });
        EXPECT_EQ(batched, plain) << i;
    }
}

TEST(FacesExport, BinaryStlLayoutAndExactRoundTrip)
{
    Faces f;
    f.append({0.1f, 0.2f, 0.3f}, {1.7f, -2.5f, 3.25f}, {1e-7f, 12345.678f, -0.0f});
    const QByteArray b = f.exportFata(".STL", true);
    ASSERT_EQ(b.size(), 84 + 50);
    EXPECT_EQ(b.left(80), QByteArray("STL export ").leftJustified(80, ' '));
    EXPECT_EQ(qFromLittleEndian<quint32>(b.constData() + 80), 1u);
    // P written back to Z up: (x, -z, y).
    EXPECT_EQ(qFromLittleEndian<float>(b.constData() + 84 + 12), 0.1f);
    EXPECT_EQ(qFromLittleEndian<float>(b.constData() + 84 + 16), -0.3f);
    EXPECT_EQ(qFromLittleEndian<float>(b.constData() + 84 + 20), 0.2f);
    Faces g;
    g.loadStl(b);
    ASSERT_EQ(g.count(), 1);
    EXPECT_EQ(g.tris[0].p, f.tris[0].p);
    EXPECT_EQ(g.tris[0].q, f.tris[0].q);
    EXPECT_EQ(g.tris[0].r, f.tris[0].r);
}

TEST(FacesExport, AsciiStlAndObjTexts)
{
    Faces f;
    f.append({0, 0, 0}, {1, 0, 0}, {0, 0, -1.5f});
    // The normal is (0, ~1, 0), written back as (x, -z, y); zeros print
    // without a sign.
    const Vec3 n = f.tris[0].n;
    char normal[100];
    std::snprintf(normal, sizeof normal, "facet normal %.7g %.7g %.7g", double(n.x + 0.0f), double(-n.z + 0.0f),
                  double(n.y));
    EXPECT_EQ(f.exportFata(".stl", false),
              "solid \n" + QByteArray(normal) + "\n  outer loop\n"
                         "    vertex 0 0 0\n    vertex 1 0 0\n    vertex 0 1.5 0\n"
                         "  endloop\nendfacet\nendsolid\n");
    f.append({0, 0, 0}, {0, 0, -1.5f}, {0.12345f, 2, 3});
    EXPECT_EQ(f.exportFata(".obj", true),
              QByteArray("v 0.000 0.000 0.000\r\nv 1.000 0.000 0.000\r\nv 0.000 0.000 -1.500\r\n"
                         "v 0.123 2.000 3.000\r\nf 1 2 3\r\nf 1 3 4\r\n"));
    EXPECT_EQ(thrownBy([&] { f.exportFata(".ply", true); }), "Faces::exportFata() unsupported extension: .ply");
}

TEST(FacesExport, ObjReusesOnlyTheLastThousandVertices)
{
    Faces f;
    for (int i = 0; i < 334; ++i) // 1002 distinct vertices
        f.append({float(3 * i), 0, 0}, {float(3 * i + 1), 0, 0}, {float(3 * i + 2), 0, 0});
    f.append({0, 0, 0}, {5, 0, 0}, {1000, 0, 0}); // 0 has left the window, 5 and 1000 are in it
    const QByteArray obj = f.exportFata(".obj", true);
    EXPECT_EQ(obj.count("v "), 1003);
    EXPECT_TRUE(obj.endsWith("f 1003 6 1001\r\n"));
}

TEST(FacesFiles, ImportFileErrors)
{
    QTemporaryDir dir;
    Faces f = boxMesh({0, 0, 0}, {1, 1, 1});
    const QString missing = dir.filePath("nope.stl");
    EXPECT_EQ(thrownBy([&] { f.importFile(missing); }), "Faces::importFile() File not found: " + missing);
    EXPECT_EQ(f.count(), 12); // unchanged
    const QString ply = dir.filePath("a.b.ply");
    f.exportFile(dir.filePath("x.stl"), true);
    QFile::copy(dir.filePath("x.stl"), ply);
    EXPECT_EQ(thrownBy([&] { f.importFile(ply); }), "Faces::importFile() unsupported extension: .ply");
    EXPECT_EQ(f.count(), 0);
    EXPECT_FALSE(f.importFile(dir.filePath("x.stl")));
    EXPECT_EQ(f.count(), 12);
}

TEST(FacesCache, RegisterSharesAndLookupFails)
{
    FacesCache cache;
    Faces a = boxMesh({0, 0, 0}, {1, 1, 1}), b = boxMesh({0, 0, 0}, {1, 1, 1});
    b.flag = 3;
    Faces *ca = cache.registerMesh(a);
    EXPECT_EQ(cache.registerMesh(b), ca);
    EXPECT_EQ(a.hash, a.contentHash());
    EXPECT_EQ(ca->hash, a.hash);
    EXPECT_EQ(cache.size(), 1);
    EXPECT_EQ(cache.lookup(a.hash), ca);
    EXPECT_EQ(thrownBy([&] { cache.lookup(a.hash + 1); }), "FacesCache: FATAL error, hash not found.");
}

TEST(FacesBlock, RoundTripAndUntrustedCount)
{
    Faces f = boxMesh({0, 0, 0}, {1, 2, 3});
    QByteArray bytes;
    {
        QDataStream s(&bytes, QIODevice::WriteOnly);
        s.setByteOrder(QDataStream::LittleEndian);
        s.setFloatingPointPrecision(QDataStream::SinglePrecision);
        f.writeBlock(s);
    }
    EXPECT_EQ(bytes.size(), 4 + 12 * 36);
    auto read = [](const QByteArray &b, Faces &g) {
        QDataStream s(b);
        s.setByteOrder(QDataStream::LittleEndian);
        s.setFloatingPointPrecision(QDataStream::SinglePrecision);
        g.readBlock(s);
    };
    Faces g;
    read(bytes, g);
    ASSERT_EQ(g.count(), 12);
    EXPECT_EQ(g.contentHash(), f.contentHash());
    EXPECT_EQ(g.tris[5].n, f.tris[5].n);
    // A count that the remaining bytes cannot hold is refused before reserving.
    QByteArray huge = bytes;
    huge[3] = char(0x7f);
    EXPECT_EQ(thrownBy([&] { read(huge, g); }), "Faces::readBlock() Corrupt data: triangle count exceeds the remaining bytes.");
    QByteArray negative = bytes;
    negative[3] = char(0x80);
    read(negative, g);
    EXPECT_EQ(g.count(), 0);
}

TEST(FacesFiles, RealBrokenAndValidFiles)
{
    struct Case { const char *file; int tris; const char *error; bool flipped; };
    const Case cases[] = {
        {"empty_file.stl", 0, "STL loader: empty file.", false},
        {"text_file.stl", 0, nullptr, false},           // short text: ASCII, nothing in it
        {"invalid_stl_ascii.stl", 0, nullptr, false},
        {"random_bits.stl", 0, nullptr, false},
        {"random_bits.obj", 0, nullptr, false},
        {"vertical_line.stl", 1, nullptr, false},       // degenerate triangle kept
        {"zero_size_cube.stl", 12, nullptr, false},
        {"self_overlapping_cubes.stl", 24, nullptr, true}, // parity sampling misreads overlaps
        {"cube.stl", 12, nullptr, false},
        {"tetrahedron.stl", 4, nullptr, false},
        {"negative_indexed.obj", 12, nullptr, false},
        {"vertex_texture_normal_indexed.obj", 12, nullptr, false},
    };
    for (const Case &c : cases) {
        Faces f;
        bool flipped = false;
        const QString err = thrownBy([&] { flipped = f.importFile(QString(TESSAVO_TEST_DATA "/scene/") + c.file); });
        EXPECT_EQ(err, QString(c.error ? c.error : "")) << c.file;
        EXPECT_EQ(f.count(), c.tris) << c.file;
        EXPECT_EQ(flipped, c.flipped) << c.file;
    }
    Faces cube;
    cube.importFile(TESSAVO_TEST_DATA "/scene/cube.stl");
    const Box3 b = cube.boundingBox(); // Z-up file: its z becomes y, its y becomes -z
    EXPECT_EQ(b.min, Vec3(0, 0, -10));
    EXPECT_EQ(b.max, Vec3(10, 10, 0));
}

TEST(FacesFiles, NonFiniteVerticesDropTheirTriangle)
{
    // Binary STL, OBJ and the project's mesh block alike: only the finite
    // triangle is kept and the box stays finite.
    const float nan = std::nanf(""), inf = INFINITY;
    const QByteArray bytes = binaryStl("x", 3, {nan, 0, 0, 1, 0, 0, 0, 1, 0,  //
                                                0, 0, 0, 1, 0, 0, inf, 1, 0,  //
                                                0, 0, 0, 2, 0, 0, 0, 0, 2});
    Faces f;
    EXPECT_NO_THROW(f.importBytes(bytes, ".stl"));
    ASSERT_EQ(f.count(), 1);
    EXPECT_EQ(f.boundingBox().max, Vec3(2, 2, 0));

    Faces o;
    o.loadObj("v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1e999 0 0\nv 0 0 x\nf 1 2 3\nf 1 2 4\nf 1 5 3\n");
    ASSERT_EQ(o.count(), 1);
    EXPECT_EQ(o.tris[0].r, Vec3(0, 1, 0));

    QByteArray block;
    {
        QDataStream w(&block, QIODevice::WriteOnly);
        w.setByteOrder(QDataStream::LittleEndian);
        w.setFloatingPointPrecision(QDataStream::SinglePrecision);
        w << qint32(2);
        for (float v : {0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 0.f, -inf, 0.f, 0.f, 0.f, 1.f, 0.f})
            w << v;
    }
    QDataStream r(block);
    r.setByteOrder(QDataStream::LittleEndian);
    r.setFloatingPointPrecision(QDataStream::SinglePrecision);
    Faces b;
    b.readBlock(r);
    EXPECT_EQ(b.count(), 1);
}

// Any blank separates OBJ pieces: a tab-separated file read as no triangles.
TEST(FacesObj, TabsSeparateLikeSpaces)
{
    Faces f;
    f.loadObj("v\t0\t0\t0\r\nv 1\t0 0\r\nv\t0 1\t\t0\r\nf\t1\t2\t3\r\n");
    ASSERT_EQ(f.count(), 1);
    EXPECT_EQ(f.tris[0].q, Vec3(1, 0, 0));
}
