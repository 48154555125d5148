#include "params/slicerparams.h"
#include "toolpath/rafttable.h"

#include <gtest/gtest.h>

TEST(RaftTable, DefaultTable)
{
    const QVector<RaftRow> rows = parseRaftConfig(SlicerParams::defaultRaftConfig());
    ASSERT_EQ(rows.size(), 4);
    const int expected[4][2] = {{3, 45}, {3, 0}, {1, 20}, {1, 90}};
    const float height[4] = {0.4f, 0.4f, 0.1f, 0.1f};
    const float density[4] = {0.1f, 0.1f, 0.3f, 0.3f};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(rows[i].type, expected[i][0]);
        EXPECT_EQ(rows[i].angle, expected[i][1]);
        EXPECT_FLOAT_EQ(rows[i].layerHeight, height[i]);
        EXPECT_FLOAT_EQ(rows[i].fillDensity, density[i]);
    }
}

TEST(RaftTable, RowRules)
{
    const struct {
        const char *row;   // under the header "Type;LayerHeight;FillDensity;Angle"
        bool kept;
        int type = 0;
        float height = 0, density = 0;
        int angle = 0;
    } cases[] = {
        {"0;0.3;0.5;10", true, 0, 0.3f, 0.5f, 10},     // drawn as nothing, still raises
        {"1;5;0.5;10", false, 0, 0, 0, 0},                          // too high: ignored
        {"1;0.02;0.5;10", false, 0, 0, 0, 0},                       // too low: ignored
        {"4;0.3;0.5;10", false, 0, 0, 0, 0},                        // no such type
        {"-1;0.3;0.5;10", false, 0, 0, 0, 0},
        {"x;0.3;0.5;10", false, 0, 0, 0, 0},                        // no type at all
        {"2;0.3;2;10", true, 2, 0.3f, 1.0f, 10},        // density capped at 1
        {"2;0.3;0.00001;10", true, 2, 0.3f, 0.001f, 10},
        {"2;0.3;abc;10", true, 2, 0.3f, 0.1f, 10},     // unparsable: default density
        {"2;0.3", true, 2, 0.3f, 0.1f, 0},              // missing cells: defaults
        {"3;0.3;0.5;45.9", true, 3, 0.3f, 0.5f, 45},    // angle truncated
        {"3;0.3;0.5;-30.7", true, 3, 0.3f, 0.5f, -30},
        {"3;nan;0.5;0", false, 0, 0, 0, 0},                         // NaN is no height
        {"3;0.3;nan;inf", true, 3, 0.3f, 0.1f, 0},
        {"  1 ;\t0.2 ; 0.4 ; 7 \r", true, 1, 0.2f, 0.4f, 7},
    };
    for (const auto &c : cases) {
        const QVector<RaftRow> rows =
            parseRaftConfig(QByteArray("Type;LayerHeight;FillDensity;Angle\n") + c.row + "\n");
        ASSERT_EQ(rows.size(), c.kept ? 1 : 0) << c.row;
        if (!c.kept)
            continue;
        EXPECT_EQ(rows[0].type, c.type) << c.row;
        EXPECT_FLOAT_EQ(rows[0].layerHeight, c.height) << c.row;
        EXPECT_FLOAT_EQ(rows[0].fillDensity, c.density) << c.row;
        EXPECT_EQ(rows[0].angle, c.angle) << c.row;
    }
}

TEST(RaftTable, ColumnsByNameAndEmptyTables)
{
    const QVector<RaftRow> rows =
        parseRaftConfig(" Angle ; FillDensity;Type;LayerHeight\n\n30;0.2;1;0.25\n\n\n");
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].type, 1);
    EXPECT_EQ(rows[0].angle, 30);
    EXPECT_FLOAT_EQ(rows[0].layerHeight, 0.25f);
    EXPECT_FLOAT_EQ(rows[0].fillDensity, 0.2f);
    EXPECT_TRUE(parseRaftConfig("").isEmpty());
    EXPECT_TRUE(parseRaftConfig("Type ; LayerHeight\n").isEmpty());
    // Without a Type column no row has a type.
    EXPECT_TRUE(parseRaftConfig("LayerHeight\n0.3\n").isEmpty());
}
