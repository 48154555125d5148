#include "fixtures/meshes.h"
#include "scene/meshlod.h"

#include <gtest/gtest.h>

TEST(MeshLod, ClusteringShrinksABigMeshKeepingItsBoxAndFacing)
{
    const Faces box = tessellatedBox(40, 60); // 43200 triangles
    const Faces lod = clusteredMesh(box, 5000);
    EXPECT_LE(lod.count(), 5000);
    EXPECT_GT(lod.count(), 500);
    const Box3 a = box.boundingBox(), b = lod.boundingBox();
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(b.min[k], a.min[k], 40.0f / 20);
        EXPECT_NEAR(b.max[k], a.max[k], 40.0f / 20);
    }
    // Still a closed box facing outward: no triangle turned inside out.
    const Vec3 c = a.center();
    for (const Triangle &t : lod.tris) {
        ASSERT_TRUE(isFinite(t.n));
        EXPECT_GT(dot(t.n, (t.p + t.q + t.r) * (1.0f / 3) - c), 0.0f);
    }
    EXPECT_TRUE(lod.orientationCheck());

    // Small meshes stay as they are; corrupt corners are dropped.
    EXPECT_EQ(clusteredMesh(boxMesh({0, 0, 0}, {1, 1, 1}), 100).count(), 12);
    Faces bad = box;
    bad.tris[0].p = Vec3(NAN, 0, 0);
    for (const Triangle &t : clusteredMesh(bad, 5000).tris)
        EXPECT_TRUE(isFinite(t.p) && isFinite(t.q) && isFinite(t.r));
}
