#include "fixtures/meshes.h"
#include "scene/project.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(SupportBarMesh, GroupsOfFourForTheCutter)
{
    for (const Vec3 &end : {Vec3(0, 0, 0), Vec3(3, 20, -1)}) {
        const SupportBar bar({1, 10, 2}, end, 2.0f);
        ASSERT_EQ(bar.mesh.count(), 16);
        EXPECT_TRUE(bar.mesh.orientationCheck());
        const Vec3 lo = end.y < 10 ? end : Vec3(1, 10, 2);
        for (int g = 0; g < 4; ++g) {
            const Triangle &t = bar.mesh.tris[4 * g + 1];
            // a0, a1 at the lower end; b1 above a1; the fourth corner b1 + a0 - a1
            // lies on the same side face (its normal is perpendicular to it).
            EXPECT_EQ(t.p.y, lo.y);
            EXPECT_EQ(t.q.y, lo.y);
            const Vec3 fourth = t.r + t.p - t.q;
            EXPECT_NEAR(dot(fourth - t.p, t.n), 0, 1e-4);
            EXPECT_NEAR(dot(bar.mesh.tris[4 * g].n, t.n), 1, 1e-3); // both halves of one face
            EXPECT_NEAR(std::fabs(bar.mesh.tris[4 * g + 2].n.y), 1, 1e-3); // caps
            EXPECT_NEAR(std::fabs(bar.mesh.tris[4 * g + 3].n.y), 1, 1e-3);
        }
        const Box3 b = bar.boundingBox();
        EXPECT_FLOAT_EQ(b.max.x - b.min.x, 2.0f + std::fabs(end.x - 1));
    }
}

// A table 20 mm wide whose top slab (y 10..12) overhangs a thin leg.
static Project &table(Project &p)
{
    Obj *o = p.addObject(boxMesh({0, 10, 0}, {20, 12, 20}), "slab", false);
    o->transform = Mat4::translation({0, 10, 0});
    return p;
}

TEST(SupportBars, PlacementRule)
{
    Project p;
    table(p);
    SupportBar bar;
    struct Case { const char *what; Vec3 point, normal; bool made; float endY; };
    const Case cases[] = {
        {"down-facing, nothing below: to the bed", {1, 10, 1}, {0, -1, 0}, true, 0},
        {"up-facing on the bed, slab above", {1, 0, 1}, {0, 1, 0}, true, 10},
        {"up-facing on top, nothing above", {1, 12, 1}, {0, 1, 0}, false, 0},
        {"horizontal normal", {1, 5, 1}, {1, 0, 0}, false, 0},
        {"NaN normal", {1, 5, 1}, {0, NAN, 0}, false, 0},
        {"0.05 above the bed", {30, 0.05f, 1}, {0, -1, 0}, false, 0},
        {"start inside the slab", {1, 11.5f, 1}, {0, 1, 0}, false, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(p.buildBar(c.point, c.normal, 1.5f, &bar), c.made) << c.what;
        if (c.made) {
            EXPECT_FLOAT_EQ(bar.start.y, c.point.y + (c.normal.y > 0 ? 0.1f : -0.1f)) << c.what;
            EXPECT_FLOAT_EQ(bar.end.y, c.endY) << c.what;
            EXPECT_EQ(bar.end.x, c.point.x) << c.what;
            EXPECT_EQ(bar.size, 1.5f);
        }
    }
}

TEST(SupportBars, NearestEndAndSpacing)
{
    Project p;
    p.freeHandBar({0, 5, 0}, {0, 0, 0}, 1);
    p.freeHandBar({10, 5, 0}, {10, 0, 0}, 1);
    EXPECT_EQ(p.nearestBarEnd({10.2f, 0.2f, 0.2f}, 1.0f), 1);
    EXPECT_EQ(p.nearestBarEnd({10.4f, 0.4f, 0.4f}, 1.0f), -1); // 1.2 by the sum of differences
    EXPECT_EQ(p.nearestBarEnd({0, 5, 0}, 1.0f), 0);
    EXPECT_FALSE(p.addGeneratedBar({0.3f, 5.3f, 0}, {0, -1, 0}, 1)); // start too near bar 0
    EXPECT_FALSE(p.addGeneratedBar({5, 0.95f, 0}, {0, -1, 0}, 1));   // shorter than 1 mm
    EXPECT_TRUE(p.addGeneratedBar({5, 5, 0}, {0, -1, 0}, 1));
    EXPECT_EQ(p.bars.size(), 3);
    EXPECT_FLOAT_EQ(p.minBarWidth(), 1);
    p.clearBars();
    EXPECT_TRUE(p.bars.isEmpty());
}

TEST(SupportBars, GenerationGridAndRepeat)
{
    Project p;
    // 10 x 10 mm overhang at y 5..6, away from the grid lines' origin.
    Obj *o = p.addObject(boxMesh({0, 0, 0}, {10, 1, 10}), "plate", false);
    o->transform = Mat4::translation({0.5f, 5, 0.5f});
    int calls = 0;
    p.generateSupport(2, 45, [&](int pct) { EXPECT_GE(pct, 0); EXPECT_LE(pct, 100); ++calls; });
    ASSERT_FALSE(p.bars.isEmpty());
    for (const SupportBar &b : p.bars) {
        EXPECT_FLOAT_EQ(b.end.y, 0);
        EXPECT_NEAR(b.start.y, 4.9f, 1e-4);
        // Centres of 2 x 2 blocks of 2 mm cells: x, z = 4k + 1.
        EXPECT_FLOAT_EQ(std::fmod(b.start.x - 1, 4.0f), 0) << b.start.x;
        EXPECT_FLOAT_EQ(std::fmod(b.start.z - 1, 4.0f), 0) << b.start.z;
    }
    EXPECT_EQ(p.bars.size(), 9); // x, z in {1, 5, 9}
    p.generateSupport(2, 45);
    EXPECT_EQ(p.bars.size(), 9);
    EXPECT_THROW(p.generateSupport(0, 45), QString);
    try {
        p.generateSupport(1e-4f, 45); // 10^10 grid rays: refused, not run
        ADD_FAILURE();
    } catch (const QString &e) {
        EXPECT_EQ(e, "Project::generateSupport() bar size too small for the scene");
    }
}

TEST(SupportBars, SteepnessThreshold)
{
    // A slab tilted by 30 degrees: its underside normal has y = -cos 30 = -0.866,
    // selected while cos(a) - 1 is above that, that is for a below 82.3 degrees.
    for (float angle : {80.0f, 85.0f}) {
        Project p;
        Obj *o = p.addObject(boxMesh({0, 0, 0}, {10, 1, 10}), "slab", false);
        o->transform = Mat4::translation({0, 20, 0}) * Mat4::rotation(2, 30);
        p.generateSupport(2, angle);
        EXPECT_EQ(p.bars.isEmpty(), angle > 82.3f) << angle;
    }
}

TEST(SupportBars, NonFiniteMeshesGiveNoBarsAndNoHang)
{
    Project p;
    Faces f = boxMesh({0, 5, 0}, {4, 6, 4});
    f.tris[2].p = Vec3(NAN, 5, 0);
    f.tris[3].q = Vec3(INFINITY, 5, 0);
    Obj *o = p.addObject(f, "odd", false);
    p.generateSupport(1, 45);
    for (const SupportBar &b : p.bars)
        EXPECT_TRUE(isFinite(b.start) && isFinite(b.end));
    o->transform.m[0] = NAN;
    p.clearBars();
    p.generateSupport(1, 45);
    EXPECT_TRUE(p.bars.isEmpty());
    EXPECT_FALSE(o->rayIntersect('o', {1, 10, 1}, {1, 9, 1}).hit);
}
