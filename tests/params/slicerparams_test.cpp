#include "params/slicerparams.h"

#include "geometry/polyline.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

static SlicerParams read(const QByteArray &text)
{
    SlicerParams p;
    p.LayerHeight = 0.3f; // reading must reset, not merge
    p.fromText(text);
    return p;
}

TEST(SlicerParamsText, WritesAllKeysSortedWithWidenedFloats)
{
    const QByteArray text = SlicerParams().toText();
    const QJsonObject o = QJsonDocument::fromJson(text).object();
    EXPECT_EQ(o.size(), 63 + 20);
    int factorKeys = 0;
    for (const QString &k : o.keys())
        factorKeys += k.startsWith("FFactor_") || k.startsWith("EFactor_");
    EXPECT_EQ(factorKeys, 20);

    // Indented writer, sorted keys: the first members of the text.
    EXPECT_TRUE(text.startsWith("{\n    \"BedTemp\": 60,\n    \"BedTempEnabled\": true,\n"))
        << text.left(80).constData();
    for (const char *line : {"    \"LayerHeight\": 0.20000000298023224,\n",
                             "    \"ExtrusionWidth\": 0.4000000059604645,\n",
                             "    \"EFactor_SoftSupport\": 0.5,\n",
                             "    \"FFactor_Support\": 1.5,\n",
                             "    \"InfillType\": 3,\n",
                             "    \"UseVectorOffseter\": false,\n",
                             "    \"GCodeHeader\": \"G28 X0 Y0\\nG28 Z0\\n\",\n",
                             "    \"GCodeFooter\": \"G0X0Y0\\n\",\n"})
        EXPECT_TRUE(text.contains(line)) << line;
    EXPECT_EQ(o.value("RaftConfig").toString().toUtf8(), SlicerParams::defaultRaftConfig());
    EXPECT_TRUE(SlicerParams::defaultRaftConfig().startsWith(
        "Type ; LayerHeight ; FillDensity ; Angle\n3       ;  0.4              ; 0.1            ; 45\n"));
}

TEST(SlicerParamsText, RoundTripIsBitExact)
{
    SlicerParams p;
    int i = 0;
    // Awkward values in every field: subnormals, extremes, non-ASCII text.
    // (-0 is left out: the toolkit's JSON writer prints it as 0.)
    const float floats[] = {0.1f, -1.5e-7f, FLT_MIN / 4, FLT_MAX, -FLT_MAX, 1e-30f, 123456.789f, 1.0f / 3};
    const int ints[] = {INT_MIN, INT_MAX, -1, 0, 7};
    p.forEachField([&](const char *, auto &v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, float>)
            v = floats[i % 8];
        else if constexpr (std::is_same_v<T, int>)
            v = ints[i % 5];
        else if constexpr (std::is_same_v<T, bool>)
            v = !v;
        else
            v = QByteArray("line \"quoted\"\n\ttab \xc3\xa9\\ ") + QByteArray::number(i);
        ++i;
    });
    SlicerParams q;
    q.fromText(p.toText());
    EXPECT_TRUE(q == p);
    EXPECT_EQ(q.toText(), p.toText());
}

TEST(SlicerParamsText, ReadingKeepsDefaultsForBadInput)
{
    const SlicerParams defaults;
    const QByteArray cases[] = {
        "",
        "[1, 2, 3]",
        "\"just a string\"",
        "{ broken",
        "\xff\xfe\x00garbage",
        "{\"NoSuchKey\": 1, \"AnotherOne\": \"x\"}",
        // wrong JSON types keep the default
        "{\"InfillType\": \"1\", \"SkirtEnable\": 0, \"ExtrusionWidth\": true,"
        " \"GCodeHeader\": 5, \"HeadTemp\": null, \"BedTemp\": [60], \"LayerHeight\": {}}",
        // numbers that fit no int / no float are treated as wrong types
        "{\"HShellCnt\": 1e300, \"BedTemp\": -3e9, \"FanN\": 2147483648,"
        " \"ExtrusionWidth\": 1e300, \"LayerHeight\": -1e39}",
        "{\"HShellCnt\": 1e400}",
    };
    for (const QByteArray &c : cases)
        EXPECT_TRUE(read(c) == defaults) << c.constData();
}

TEST(SlicerParamsText, ReadingConvertsEachKind)
{
    const struct { const char *json; int SlicerParams::*member; int want; } ints[] = {
        {"{\"HShellCnt\": 2.5}", &SlicerParams::HShellCnt, 3},
        {"{\"HShellCnt\": -2.5}", &SlicerParams::HShellCnt, -2},
        {"{\"HShellCnt\": 2.49}", &SlicerParams::HShellCnt, 2},
        {"{\"InfillType\": 1}", &SlicerParams::InfillType, 1},
        {"{\"LayerStartPos\": 99}", &SlicerParams::LayerStartPos, 99}, // not range-checked here
        {"{\"BedTemp\": 2147483647}", &SlicerParams::BedTemp, INT_MAX},
        {"{\"BedTemp\": -2147483648.4}", &SlicerParams::BedTemp, INT_MIN},
    };
    for (const auto &c : ints) {
        SlicerParams want;
        want.*c.member = c.want;
        EXPECT_TRUE(read(c.json) == want) << c.json;
    }
    const SlicerParams p = read("{\"LayerHeight\": 0.1, \"SkirtEnable\": false,"
                                " \"GCodeFooter\": \"M84\\n\u00e9\"}");
    EXPECT_EQ(p.LayerHeight, 0.1f);
    EXPECT_FALSE(p.SkirtEnable);
    EXPECT_EQ(p.GCodeFooter, QByteArray("M84\n\xc3\xa9"));
    EXPECT_EQ(p.ExtrusionWidth, 0.4f);
    // The keyless height limits always keep their defaults.
    EXPECT_EQ(p.MinSliceHeight, 0.0f);
    EXPECT_EQ(p.MaxSliceHeight, 1000.0f);
}

TEST(SlicerParams, FactorsByType)
{
    SlicerParams p;
    EXPECT_EQ(p.fFactor(5), 1.5f);  // Support
    EXPECT_EQ(p.eFactor(6), 0.5f);  // SoftSupport
    EXPECT_EQ(p.eFactor(7), 2.0f);  // Skirt
    EXPECT_EQ(p.eFactor(8), 2.0f);  // Raft
    EXPECT_EQ(p.fFactor(0), 1.0f);  // Unknown
    EXPECT_EQ(p.fFactor(11), 1.0f); // Travel
    EXPECT_EQ(p.fFactor(-3), 1.0f);
    p.FFactor_InnerHair = 0.25f;
    EXPECT_EQ(p.fFactor(10), 0.25f);
    // Each type name's keys reach the member the accessor reads.
    for (int t = 1; t <= 10; ++t) {
        SlicerParams q;
        q.applyOverride(QString("FFactor_%1=3").arg(segTypeName(t)));
        q.applyOverride(QString("EFactor_%1=4").arg(segTypeName(t)));
        EXPECT_EQ(q.fFactor(t), 3.0f) << t;
        EXPECT_EQ(q.eFactor(t), 4.0f) << t;
    }
}

TEST(SlicerParams, OverridesAcceptGoodValues)
{
    SlicerParams p;
    for (const char *kv : {"LayerHeight=0.15", "HShellCnt=4.5", "SkirtEnable=false", "RaftEnable=1",
                           "GCodeHeader=G28\\nM83", "InfillType= 2 "})
        p.applyOverride(kv);
    EXPECT_EQ(p.LayerHeight, 0.15f);
    EXPECT_EQ(p.HShellCnt, 5);
    EXPECT_FALSE(p.SkirtEnable);
    EXPECT_TRUE(p.RaftEnable);
    EXPECT_EQ(p.GCodeHeader, QByteArray("G28\nM83"));
    EXPECT_EQ(p.InfillType, 2);
}

TEST(SlicerParams, OverridesRejectBadInputWithMessage)
{
    const struct { const char *kv; const char *inMessage; } cases[] = {
        {"Nonsense=1", "unknown key \"Nonsense\""},
        {"LayerHeight", "expected Key=Value"},
        {"LayerHeight=thin", "bad value for LayerHeight"},
        {"LayerHeight=nan", "bad value for LayerHeight"},
        {"LayerHeight=1e39", "bad value for LayerHeight"},
        {"HShellCnt=1e10", "bad value for HShellCnt"},
        {"SkirtEnable=maybe", "bad value for SkirtEnable"},
    };
    for (const auto &c : cases) {
        SlicerParams p;
        try {
            p.applyOverride(c.kv);
            ADD_FAILURE() << "accepted " << c.kv;
        } catch (const QString &msg) {
            EXPECT_TRUE(msg.contains(c.inMessage)) << qPrintable(msg);
            EXPECT_TRUE(p == SlicerParams()) << c.kv; // nothing half-applied
        }
    }
}

// What a file named on purpose must not hide: fromText keeps defaults for all
// of these silently.
TEST(SlicerParamsText, TextProblemNamesWhatFromTextWouldSkip)
{
    const struct {
        const char *text;
        const char *problem; // prefix; empty: no problem
    } cases[] = {
        {"{}", ""},
        {"{\"LayerHeight\": 0.3, \"SkirtEnable\": false, \"GCodeHeader\": \"G28\"}", ""},
        {"{\"LayerHeight\": 0.3,", "not valid JSON ("},
        {"", "not valid JSON ("},
        {"[1]", "not a JSON object"},
        {"{\"LayerHeight\": \"0.3\"}", "LayerHeight: expected a number, got a text"},
        {"{\"LayerHeight\": 1e300}", "LayerHeight: expected a number, got 1e+300"},
        {"{\"HShellCnt\": 3e10}", "HShellCnt: expected an integer, got 3e+10"},
        {"{\"SkirtEnable\": 1}", "SkirtEnable: expected true or false, got 1"},
        {"{\"RaftConfig\": null}", "RaftConfig: expected a text, got null"},
        {"{\"InfillType\": [3]}", "InfillType: expected an integer, got an array"},
    };
    for (const auto &c : cases) {
        const QString p = SlicerParams::textProblem(c.text);
        if (!*c.problem)
            EXPECT_TRUE(p.isEmpty()) << c.text << ": " << p.toStdString();
        else
            EXPECT_TRUE(p.startsWith(c.problem)) << c.text << ": " << p.toStdString();
    }
    QStringList unknown;
    EXPECT_TRUE(SlicerParams::textProblem("{\"LayerHeigth\": 1, \"BedTemp\": 50, \"x\": true}", &unknown).isEmpty());
    EXPECT_EQ(unknown, QStringList({"LayerHeigth", "x"}));
}
