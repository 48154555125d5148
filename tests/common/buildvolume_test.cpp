#include "common/buildvolume.h"

#include <gtest/gtest.h>

// Scene: bed centred on the origin, depth (z) grows toward the front.
TEST(BuildVolume, DescriptorFromOptions)
{
    const BuildVolume d = BuildVolume::fromOptions(250, 200, 180, 0, 0, 0, 0);
    EXPECT_EQ(d.toArray(), (std::array<float, 7>{250, 180, 200, 0, 200, 1, -1}));
    const BuildVolume c = BuildVolume::fromOptions(250, 200, 180, 1, 1, 1, 1);
    EXPECT_EQ(c.toArray(), (std::array<float, 7>{250, 180, 200, 125, 100, -1, 1}));
    const BuildVolume r = BuildVolume::fromOptions(300, 220, 100, 2, 0, 2, 0);
    EXPECT_EQ(r.cx, 300);
    EXPECT_EQ(r.cy, 0);
    EXPECT_EQ(BuildVolume::fromArray(c.toArray()).toArray(), c.toArray());
}

TEST(BuildVolume, SceneToMachine)
{
    const struct {
        const char *what;
        int wOrigin, wDir, dOrigin, dDir;
        float x, z, X, Y;
    } cases[] = {
        {"defaults, front-left corner", 0, 0, 0, 0, -125, 100, 0, 0},
        {"defaults, back-right corner", 0, 0, 0, 0, 125, -100, 250, 200},
        {"defaults, bed centre", 0, 0, 0, 0, 0, 0, 125, 100},
        {"centre origin, bed centre", 1, 0, 1, 0, 0, 0, 0, 0},
        {"centre origin, front-right", 1, 0, 1, 0, 125, 100, 125, -100},
        {"right to left from right, right edge", 2, 1, 0, 0, 125, 100, 0, 0},
        {"right to left from right, left edge", 2, 1, 0, 0, -125, 100, 250, 0},
        {"back to front from back, back edge", 0, 0, 2, 1, -125, -100, 0, 0},
        {"back to front from back, front edge", 0, 0, 2, 1, -125, 100, 0, 200},
    };
    for (const auto &c : cases) {
        const BuildVolume bv = BuildVolume::fromOptions(250, 200, 200, c.wOrigin, c.wDir, c.dOrigin, c.dDir);
        const MachineXY m = sceneToMachine(bv, c.x, c.z);
        EXPECT_FLOAT_EQ(m.X, c.X) << c.what;
        EXPECT_FLOAT_EQ(m.Y, c.Y) << c.what;
    }
}
