#include "fixtures/meshes.h"
#include "scene/project.h"
#include "scene/raycount.h"

#include <cstring>
#include <random>

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

static QString thrownBy(const std::function<void()> &f)
{
    try {
        f();
    } catch (const QString &s) {
        return s;
    }
    return QString();
}

static QString dataFile(const char *name) { return QString(TESSAVO_TEST_DATA "/scene/") + name; }

// Two objects sharing one mesh, one with its own, and a support bar.
static void buildSample(Project &p)
{
    p.addObject(boxMesh({0, 0, 0}, {10, 10, 10}), "cube", true);
    Obj *b = p.addObject(boxMesh({0, 0, 0}, {10, 10, 10}), "cube", false);
    b->moveBy({20, 0, 0});
    b->hidden = true;
    Faces tetra;
    tetra.append({0, 0, 0}, {0, 0, 5}, {5, 0, 0});
    tetra.append({0, 0, 0}, {0, 5, 0}, {0, 0, 5});
    tetra.append({0, 0, 0}, {5, 0, 0}, {0, 5, 0});
    tetra.append({5, 0, 0}, {0, 0, 5}, {0, 5, 0});
    p.addObject(tetra, QString::fromUtf8("t\xc3\xa9tra"), false)->transform = Mat4::rotation(1, 90);
    p.bars.append(SupportBar({1, 2, 3}, {1, 0, 3}, 1.5f));
}

TEST(ProjectStream, EmptyProjectIsTwelveBytes)
{
    Project p;
    EXPECT_EQ(p.saveToStr(false), QByteArray::fromHex("98EDDAEE0000000000000000"));
    EXPECT_EQ(p.saveToStr(true), QByteArray::fromHex("98EDDAEE0000000000000000"));
}

TEST(ProjectStream, MatchesGoldenFileAndLoadsBack)
{
    Project p;
    buildSample(p);
    const QByteArray bytes = p.saveToStr(false);
    QFile golden(dataFile("sample.tvprj"));
    ASSERT_TRUE(golden.open(QIODevice::ReadOnly));
    EXPECT_EQ(bytes, golden.readAll());

    Project q;
    q.loadFile(bytes);
    ASSERT_EQ(q.objs.size(), 3u);
    EXPECT_EQ(q.cache.size(), 2);
    EXPECT_EQ(q.objs[0]->mesh, q.objs[1]->mesh); // shared through the hash reference
    EXPECT_EQ(q.objs[1]->transform, p.objs[1]->transform);
    EXPECT_EQ(q.objs[1]->savedTransform, p.objs[1]->transform);
    EXPECT_TRUE(q.objs[0]->selected);
    EXPECT_TRUE(q.objs[1]->hidden);
    EXPECT_EQ(q.objs[2]->name, QString::fromUtf8("t\xc3\xa9tra"));
    EXPECT_EQ(q.objs[1]->displayName, "cube(2)");
    ASSERT_EQ(q.bars.size(), 1);
    EXPECT_EQ(q.bars[0].end, Vec3(1, 0, 3));
    EXPECT_EQ(q.bars[0].mesh.count(), 16);
    EXPECT_EQ(q.saveToStr(false), bytes);
}

TEST(ProjectStream, CacheModeSnapshotsHoldNoMeshes)
{
    Project p;
    buildSample(p);
    const QByteArray snap = p.saveToStr(true);
    const QByteArray full = p.saveToStr(false);
    QFile golden(dataFile("sample_snapshot.tvprj"));
    ASSERT_TRUE(golden.open(QIODevice::ReadOnly));
    EXPECT_EQ(snap, golden.readAll()); // every object by hash, no mesh blocks
    Project q;
    EXPECT_EQ(thrownBy([&] { q.loadFromStr(snap, true); }), "FacesCache: FATAL error, hash not found.");
    EXPECT_EQ(thrownBy([&] { q.loadFromStr(snap, false); }), "FacesCache: FATAL error, hash not found.");
    p.objs[0]->moveBy({0, 5, 0});
    p.loadFromStr(snap, true); // an undo restore: the cache still has the meshes
    EXPECT_EQ(p.objs[0]->transform.m[13], 0.0f);
    EXPECT_EQ(p.saveToStr(false), full);
}

TEST(ProjectStream, CorruptStreamsKeepTheScene)
{
    Project p;
    buildSample(p);
    const QByteArray good = p.saveToStr(false);
    struct Case { const char *what; QByteArray bytes; QString error; };
    QByteArray bigCount = good;
    bigCount[7] = char(0x40); // object count 0x40000003
    QByteArray bigMesh = good;
    // First mesh block count: after signature, count, name "cube" (4 + 8),
    // transform (64), flags (2), reference (4).
    bigMesh[8 + 12 + 64 + 2 + 4 + 3] = char(0x7f);
    const Case cases[] = {
        {"signature", "\x01\x02\x03\x04" + good.mid(4), "Project::loadFromStr() Invalid file signature."},
        {"object count", bigCount, "Project::loadFromStr() Corrupt data: object count exceeds the remaining bytes."},
        {"triangle count", bigMesh, "Faces::readBlock() Corrupt data: triangle count exceeds the remaining bytes."},
        {"cut inside an object", good.left(good.size() - 34), "Project::loadFromStr() Corrupt data: unexpected end of data."},
        {"too short", QByteArray("\x98\xed"), "Project::loadFromStr() Invalid file signature."},
    };
    for (const Case &c : cases) {
        Project q;
        buildSample(q);
        q.objs[2]->moveBy({1, 2, 3});
        const QByteArray before = q.saveToStr(false);
        EXPECT_EQ(thrownBy([&] { q.loadFile(c.bytes); }), c.error) << c.what;
        EXPECT_EQ(q.saveToStr(false), before) << c.what;
    }
}

TEST(ProjectStream, BarListEndsQuietlyWithTheData)
{
    Project p;
    buildSample(p);
    p.bars.append(SupportBar({5, 5, 5}, {5, 0, 5}, 2));
    QByteArray bytes = p.saveToStr(false);
    Project q;
    q.loadFile(bytes.left(bytes.size() - 10)); // second bar cut short
    EXPECT_EQ(q.objs.size(), 3u);
    EXPECT_EQ(q.bars.size(), 1);
}

TEST(ProjectObjects, DisplayNames)
{
    Project p;
    for (const char *n : {"A", "A", "B", "A", "a"})
        p.addObject(boxMesh({0, 0, 0}, {10, 10, 10}), n, false);
    QStringList shown;
    for (const auto &o : p.objs)
        shown << o->displayName;
    EXPECT_EQ(shown, QStringList({"A(1)", "A(2)", "B", "A(3)", "a"}));
    Obj copy(*p.objs[2]);
    EXPECT_EQ(copy.displayName, "<must call Prj::updateNames>");
}

TEST(ProjectObjects, AddFromFileStandsOnBedWithUnitGuess)
{
    QTemporaryDir dir;
    struct Case { float size; float scale; };
    for (const Case &c : {Case{2, 25.4f}, Case{500, 0.1f}, Case{4, 1}, Case{400, 1}}) {
        const QString path = dir.filePath("part.model.stl");
        boxMesh({3, 7, -2}, {3 + c.size, 7 + c.size / 2, -2 + c.size / 4}).exportFile(path, true);
        Project p;
        p.addObject(boxMesh({0, 0, 0}, {1, 1, 1}), "other", true);
        Obj *o = p.addObject(path, true);
        EXPECT_EQ(o->name, "part.model");
        EXPECT_EQ(o->transform, Mat4::scaling({c.scale, c.scale, c.scale})) << c.size;
        EXPECT_EQ(o->localBox.min.y, 0) << c.size;
        EXPECT_FLOAT_EQ(o->localBox.min.x, -o->localBox.max.x) << c.size;
        EXPECT_FALSE(p.objs[0]->selected);
        EXPECT_TRUE(o->selected);
    }
}

TEST(ProjectObjects, SelectionAndDelete)
{
    Project p;
    buildSample(p);
    p.objs[1]->selected = true;
    EXPECT_EQ(p.selectedObjects().size(), 2);
    p.deleteSelected();
    ASSERT_EQ(p.objs.size(), 1u);
    EXPECT_EQ(p.objs[0]->name, QString::fromUtf8("t\xc3\xa9tra"));
    EXPECT_EQ(p.cache.size(), 2); // meshes stay cached
    EXPECT_FALSE(p.anySelected());
    p.selectAll();
    EXPECT_TRUE(p.anySelected());
}

TEST(ProjectObjects, RayIntersectFiltersAndMirroring)
{
    Project p;
    Obj *o = p.addObject(boxMesh({0, 0, 0}, {10, 10, 10}), "cube", false);
    // Ray along -x at height 5 towards the +x face (x = 5 after centring).
    const Vec3 from(20, 5, 1), to(19, 5, 1);
    struct Case { char what; bool selected; bool hit; float x; };
    const Case cases[] = {
        {'a', false, true, -5}, // box test keeps faces pointing away: the far side
        {'o', false, true, 5}, {'p', false, false, 0}, {'p', true, true, 5},
        {'q', true, false, 0}, {'q', false, true, 5},
    };
    for (const Case &c : cases) {
        o->selected = c.selected;
        const Obj::Hit h = o->rayIntersect(c.what, from, to);
        EXPECT_EQ(h.hit, c.hit) << c.what;
        if (h.hit) {
            EXPECT_FLOAT_EQ(h.point.x, c.x) << c.what;
            EXPECT_NEAR(h.normal.x, c.what == 'a' ? -1 : 1, 1e-3) << c.what;
        }
    }
    EXPECT_EQ(thrownBy([&] { o->rayIntersect('z', from, to); }), "Obj::rayIntersect() invalid 'what' parameter");
    EXPECT_FALSE(o->rayIntersect('z', {20, 50, 1}, {19, 50, 1}).hit); // no box hit: no error

    o->mirror(0);
    ASSERT_LT(o->transform.det3(), 0);
    const Obj::Hit h = o->rayIntersect('o', from, to);
    ASSERT_TRUE(h.hit);
    EXPECT_NEAR(h.normal.x, 1, 1e-3); // still outward
    o->transform = Mat4::translation({0, 3, 0}) * Mat4::scaling({2, 2, 2});
    o->dropToBed();
    EXPECT_EQ(o->sceneBox().min.y, 0);
}

TEST(ProjectObjects, GatherPlacesAndKeepsFacing)
{
    Project p;
    Faces one;
    one.append({0, 0, 0}, {1, 0, 0}, {0, 0, -1}); // normal +y
    Obj *o = p.addObject(one, "t", false);
    o->transform = Mat4::translation({5, 0, 0}) * Mat4::scaling({-1, 1, 1});
    QVector<Triangle> t = p.gatherTriangles();
    ASSERT_EQ(t.size(), 1);
    EXPECT_GT(t[0].n.y, 0.99f); // mirrored but reversed back
    EXPECT_EQ(t[0].p.x, 5.5f); // corner (-0.5, 0, 0.5) mirrored and moved
    o->facesReversed = true;
    EXPECT_LT(p.gatherTriangles()[0].n.y, -0.99f);
}

// gatherTriangles maps four lanes at a time, large objects on several
// threads; every float must equal Mat4::map and faceNormal of the corners in
// the order the facing asks for.
TEST(ProjectObjects, GatherEqualsThePlainMapToTheBit)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-40, 40);
    Project p;
    const Mat4 transforms[] = {Mat4::scaling({25.4f, 25.4f, 25.4f}),
                               Mat4::translation({3, -0.0f, 1}) * Mat4::scaling({-1, 1, 1}),
                               Mat4::translation({-7, 2, 9}) * Mat4::rotation(2, 17) * Mat4::scaling({0.1f, 2, 3})};
    const int sizes[] = {3, 25000, 100};
    for (int k = 0; k < 3; ++k) {
        Faces f;
        for (int i = 0; i < sizes[k]; ++i)
            f.append({u(rng), u(rng), u(rng)}, {u(rng), u(rng), u(rng)}, {u(rng), -0.0f, 0.0f});
        Obj *o = p.addObject(f, QString("o%1").arg(k), false);
        o->transform = transforms[k];
        o->facesReversed = k == 2;
    }
    QVector<Triangle> want;
    for (const auto &o : p.objs) {
        const bool reverse = (o->transform.det3() < 0) != o->facesReversed;
        for (const Triangle &t : o->mesh->tris) {
            const Vec3 a = o->transform.map(t.p), b = o->transform.map(reverse ? t.r : t.q),
                       c = o->transform.map(reverse ? t.q : t.r);
            want.append(Triangle{a, b, c, faceNormal(a, b, c)});
        }
    }
    ASSERT_EQ(p.triangleCount(), want.size());
    for (bool normals : {true, false}) {
        const QVector<Triangle> got = p.gatherTriangles(normals);
        ASSERT_EQ(got.size(), want.size());
        for (int i = 0; i < got.size(); ++i) {
            Triangle w = want[i];
            if (!normals)
                w.n = Vec3();
            ASSERT_EQ(std::memcmp(&got[i], &w, sizeof w), 0) << normals << " " << i;
        }
    }
}

TEST(Mat4, RotationInverseAndPlacementHelpers)
{
    const Mat4 r = Mat4::rotation(1, 90); // right-handed about Y: +x goes to -z
    const Vec3 x = r.map({1, 0, 0});
    EXPECT_NEAR(x.x, 0, 1e-6);
    EXPECT_NEAR(x.z, -1, 1e-6);
    const Mat4 m = Mat4::translation({3, -4, 5}) * Mat4::rotation(0, 33) * Mat4::scaling({2, 0.5f, -1});
    const Mat4 id = m * m.inverted();
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(id.m[i], Mat4().m[i], 1e-5) << i;
    EXPECT_LT(m.det3(), 0);
    EXPECT_EQ(Mat4::scaling({0, 1, 1}).inverted().m[15], 0); // singular: zeros

    Project p;
    Obj *o = p.addObject(boxMesh({0, 0, 0}, {10, 10, 10}), "c", false);
    o->transformAbout(Mat4::rotation(2, 90), {0, 5, 0}); // about its own centre
    const Box3 b = o->sceneBox();
    EXPECT_NEAR(b.min.y, 0, 1e-5);
    EXPECT_NEAR(b.max.x, 5, 1e-5);
    o->moveBy({1, 2, 3});
    EXPECT_EQ(o->transform.translationPart().z, 3);
}

TEST(ProjectObjects, PreparedMeshPicksTheSameHit)
{
    Project p;
    Faces f = tessellatedBox(10, 6);
    f.append({-3, 2, -3}, {12, 2, -3}, {-3, 2, 12}); // an inner plate: ties and nearer hits
    Obj *o = p.addObject(f, "b", false);
    o->transform = Mat4::translation({1, 2, 3}) * Mat4::rotation(0, 20) * Mat4::scaling({1, -1.5f, 1});
    const RayMesh rm(o->mesh->tris);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> d(-15, 15);
    int hits = 0;
    for (int i = 0; i < 300; ++i) {
        const Vec3 from(d(rng), d(rng), d(rng)), to(d(rng), d(rng), d(rng));
        const Obj::Hit a = o->rayIntersect('o', from, to), b = o->rayIntersect('o', from, to, &rm);
        ASSERT_EQ(a.hit, b.hit) << i;
        hits += a.hit;
        EXPECT_EQ(a.point, b.point) << i;
        EXPECT_EQ(a.normal, b.normal) << i;
    }
    EXPECT_GT(hits, 50);
}
