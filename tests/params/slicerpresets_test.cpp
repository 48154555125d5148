#include "params/slicerpresets.h"

#include "common/ini.h"
#include "common/utils.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>

static SlicerParams withLayer(float h)
{
    SlicerParams p;
    p.LayerHeight = h;
    return p;
}

TEST(SlicerPresets, StoreReplacesAndNamesSortByCharacterCode)
{
    SlicerPresets s;
    s.store("a", withLayer(0.1f));
    s.store("B", withLayer(0.3f));
    s.store("a", withLayer(0.15f));
    EXPECT_EQ(s.names(), (QStringList{"B", "a"}));
    SlicerParams p;
    EXPECT_TRUE(s.load("a", p));
    EXPECT_EQ(p.LayerHeight, 0.15f);
    EXPECT_THROW(s.store("", p), QString);
    try {
        s.store("", p);
    } catch (const QString &msg) {
        EXPECT_EQ(msg, QString("SlicerPresets::StorePreset() name is empty"));
    }
    EXPECT_TRUE(s.remove("a"));
    EXPECT_FALSE(s.remove("a"));
    EXPECT_EQ(s.names(), QStringList{"B"});
}

TEST(SlicerPresets, LoadResetsToDefaultsOrLeavesUntouched)
{
    SlicerPresets s;
    s.fromText(R"([{"Key": "partial", "Value": "{\"BedTemp\": 70}"},
                   {"Key": "empty", "Value": ""},
                   {"Key": "notext", "Value": 12}])");
    SlicerParams p = withLayer(0.3f);
    EXPECT_TRUE(s.load("partial", p));
    SlicerParams want;
    want.BedTemp = 70;
    EXPECT_TRUE(p == want); // LayerHeight back at its default, not the previous 0.3
    for (const char *name : {"empty", "notext", "unknown"}) {
        SlicerParams q = withLayer(0.3f);
        EXPECT_FALSE(s.load(name, q)) << name;
        EXPECT_EQ(q.LayerHeight, 0.3f) << name;
    }
}

TEST(SlicerPresets, ListTextRoundTripAndFormat)
{
    SlicerPresets s;
    s.store("PLA fine", withLayer(0.1f));
    s.store("\u00c9tude \"q\"", withLayer(0.25f));
    const QByteArray text = s.toText();
    EXPECT_TRUE(text.startsWith("[\n    {\n        \"Key\": \"PLA fine\",\n        \"Value\": \"{\\n"))
        << text.left(80).constData();
    SlicerPresets r;
    r.fromText(text);
    EXPECT_EQ(r.names(), s.names());
    EXPECT_EQ(r.toText(), text);
    SlicerParams p;
    ASSERT_TRUE(r.load("\u00c9tude \"q\"", p));
    EXPECT_TRUE(p == withLayer(0.25f));
}

TEST(SlicerPresets, BadListTextSkipsBadElements)
{
    const struct { const char *text; QStringList names; } cases[] = {
        {"", {}},
        {"{\"Key\": \"x\", \"Value\": \"{}\"}", {}}, // an object, not an array
        {"[1, \"s\", null, [], {\"Value\": \"{}\"}, {\"Key\": \"\"}, {\"Key\": 5}]", {}},
        {"[{\"Key\": \"x\"}, {\"Value\": \"{}\"}, {\"Key\": \"y\", \"Value\": \"{}\"}]", {"x", "y"}},
        {"[{\"Key\": \"d\", \"Value\": \"{\\\"BedTemp\\\": 1}\"}, {\"Key\": \"d\", \"Value\": \"{\\\"BedTemp\\\": 2}\"}]", {"d"}},
        {"[ truncated", {}},
    };
    for (const auto &c : cases) {
        SlicerPresets s;
        s.store("old", SlicerParams());
        s.fromText(c.text);
        EXPECT_EQ(s.names(), c.names) << c.text;
    }
    SlicerPresets dup;
    dup.fromText(cases[4].text);
    SlicerParams p;
    ASSERT_TRUE(dup.load("d", p));
    EXPECT_EQ(p.BedTemp, 2); // the later duplicate wins
}

TEST(SlicerPresets, PresetFilesAndSettings)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("fine.tvsp");
    SlicerPresets::exportFile(path, withLayer(0.1f));
    EXPECT_EQ(readFile(path), withLayer(0.1f).toText());
    EXPECT_TRUE(SlicerPresets::importFile(path) == withLayer(0.1f));

    writeFile(path, "{\"InfillType\": 1}");
    SlicerParams want;
    want.InfillType = 1;
    EXPECT_TRUE(SlicerPresets::importFile(path) == want);
    writeFile(path, "\x89PNG garbage");
    EXPECT_TRUE(SlicerPresets::importFile(path) == SlicerParams());
    EXPECT_THROW(SlicerPresets::importFile(dir.filePath("missing.tvsp")), QString);
    // --params pipe.tvsp blocked forever waiting for a writer.
    const QString fifo = dir.filePath("pipe.tvsp");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    try {
        SlicerPresets::importFile(fifo);
        ADD_FAILURE() << "a FIFO was read as a preset";
    } catch (const QString &e) {
        EXPECT_TRUE(e.contains("not a regular file")) << qPrintable(e);
    }

    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    SlicerPresets s;
    s.store("one", withLayer(0.1f));
    {
        Ini ini("Ilvenor", "PresetTest");
        s.storeToIni(ini);
        EXPECT_EQ(ini.getString("Presets").toUtf8(), s.toText());
    }
    Ini ini("Ilvenor", "PresetTest");
    SlicerPresets r;
    r.loadFromIni(ini);
    EXPECT_EQ(r.names(), QStringList{"one"});
}
