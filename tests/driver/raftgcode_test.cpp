// The raft as the driver writes it: toolpath's raft layers through the writer.
#include "driver/raftgcode.h"
#include "fixtures/rasterfixtures.h"

#include <gtest/gtest.h>

namespace {

const float P = 1.0f / 0.333f; // one extrusion width in raster units
const float PixelSize = 0.4f * 0.333f;

SlicerParams plainParams()
{
    SlicerParams sp;
    sp.PerimeterGap = 0;
    sp.SkirtEnable = sp.BrimEnable = sp.RaftEnable = false;
    sp.MinLayerTime = 0;
    sp.FanEnable = false;
    sp.TravelHeight = 0;
    return sp;
}

struct RaftText {
    QByteArray text;
    float height = 0;
};

RaftText run(const SlicerParams &sp, PolyPoint &head)
{
    LayerGrid grid;
    grid.pitchX = grid.pitchY = PixelSize;
    const FirstLayerExtras ex = brimSkirtRaft(sp, squareFootprint(), P, PixelSize, head);
    return {raftGCode(sp, ex.raft, grid, BuildVolume()), ex.raft.height};
}

} // namespace

TEST(Raft, RowsRaiseAndWriteLayers)
{
    SlicerParams sp = plainParams();
    sp.RaftEnable = true;
    sp.RaftOffset = 1;
    sp.FirstLayerDrawSpeed = 20;
    sp.DrawSpeed = 50;
    sp.InitialLayerCnt = 0;
    sp.RaftConfig = "Type;LayerHeight;FillDensity;Angle\n"
                    "1;0.4;0.3;0\n"
                    "0;0.3;0.5;0\n"  // nothing drawn, raises by 0.3
                    "1;5;0.5;0\n"    // ignored: too high
                    "2;0.2;0.3;45\n";
    PolyPoint head{0, 0};
    const RaftText ex = run(sp, head);
    EXPECT_FLOAT_EQ(ex.height, 0.9f);
    const QByteArray &t = ex.text;
    EXPECT_EQ(t.count("; Layer #0\r\n"), 2);
    EXPECT_TRUE(t.startsWith("\r\n; ------"));
    EXPECT_TRUE(t.endsWith("\r\n\r\n"));
    EXPECT_TRUE(t.contains(";segType:Raft\r\n"));
    // Bottom layer at its own height with first-layer speed; the top one
    // above both lower rows, at the normal speed.
    EXPECT_TRUE(t.contains("G0 F600 Z0.400\r\n"));
    EXPECT_TRUE(t.contains("G0 F600 Z0.900\r\n"));
    EXPECT_TRUE(t.contains("G1 F1200 "));
    EXPECT_TRUE(t.contains("G1 F3000 "));
    EXPECT_NE(head, PolyPoint(0, 0)); // handed over to the object's first layer
}

TEST(Raft, DensityAboveOneDrawsAsOne)
{
    SlicerParams sp = plainParams();
    sp.RaftEnable = true;
    sp.RaftOffset = 1;
    PolyPoint h1{0, 0}, h2{0, 0};
    sp.RaftConfig = "Type;LayerHeight;FillDensity;Angle\n1;0.3;2;0\n";
    const QByteArray dense = run(sp, h1).text;
    sp.RaftConfig = "Type;LayerHeight;FillDensity;Angle\n1;0.3;1;0\n";
    EXPECT_EQ(dense, run(sp, h2).text);
    EXPECT_FALSE(dense.isEmpty());
    // An empty table: no raft at all.
    sp.RaftConfig = "Type;LayerHeight;FillDensity;Angle\n";
    const RaftText none = run(sp, h1);
    EXPECT_TRUE(none.text.isEmpty());
    EXPECT_EQ(none.height, 0);
}
