#include "common/ini.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Every test gets its own application name inside a private settings folder,
// so nothing touches the user's real settings.
struct IniTest : ::testing::Test {
    static QTemporaryDir *dir;
    static void SetUpTestSuite()
    {
        dir = new QTemporaryDir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir->path());
    }
    static void TearDownTestSuite() { delete dir; }

    QString app = QString("IniTest_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    QByteArray rawIniData()
    {
        QSettings s("Ilvenor", app);
        return s.value("iniData").toByteArray();
    }
    QStringList storedKeys()
    {
        QSettings s("Ilvenor", app);
        return s.allKeys();
    }
};
QTemporaryDir *IniTest::dir = nullptr;

} // namespace

TEST_F(IniTest, FirstRunGivesDefaultsAndWritesNothing)
{
    {
        Ini ini("Ilvenor", app);
        EXPECT_TRUE(ini.data().isEmpty());
        EXPECT_EQ(ini.getInt("autoDrop", 7), 7);
        EXPECT_EQ(ini.getString("lastProject", "none"), QString("none"));
        EXPECT_EQ(ini.getDouble("x", 1.5), 1.5);
        EXPECT_FALSE(ini.isDirty());
        ini.store();
    }
    EXPECT_TRUE(storedKeys().isEmpty());
}

TEST_F(IniTest, StoresOneIndentedJsonValueAndReadsItBack)
{
    {
        Ini ini("Ilvenor", app);
        ini.setInt("autoDrop", 1);
        ini.setDouble("zoom", 0.25);
        ini.setString("lastProject", "/tmp/\u00e9.tvprj");
        EXPECT_TRUE(ini.isDirty());
        ini.store();
        EXPECT_FALSE(ini.isDirty());
        EXPECT_EQ(storedKeys(), QStringList{"iniData"});
        EXPECT_EQ(rawIniData(), QJsonDocument(ini.data()).toJson(QJsonDocument::Indented));
        EXPECT_TRUE(rawIniData().startsWith("{\n    \""));
    }
    Ini again("Ilvenor", app);
    EXPECT_EQ(again.getInt("autoDrop", 0), 1);
    EXPECT_EQ(again.getDouble("zoom", 0), 0.25);
    EXPECT_EQ(again.getString("lastProject"), QString("/tmp/\u00e9.tvprj"));
}

TEST_F(IniTest, UnsavedValueIsStoredWhenDestroyed)
{
    {
        Ini ini("Ilvenor", app);
        ini.setString("viewGCode", "yes");
    }
    Ini again("Ilvenor", app);
    EXPECT_EQ(again.getString("viewGCode"), QString("yes"));
}

TEST_F(IniTest, GetIntRoundsHalvesUpAndRejectsOtherTypes)
{
    Ini ini("Ilvenor", app);
    const struct { const char *key; QJsonValue v; int want; } cases[] = {
        {"a", 2.5, 3},   {"b", -2.5, -2}, {"c", 2.49, 2}, {"d", -0.6, -1},
        {"e", "3", 42},  {"f", true, 42}, {"g", 1e300, 42}, {"h", -3e9, 42},
        {"i", 2147483647.0, 2147483647},
    };
    for (const auto &c : cases)
        ini.data().insert(c.key, c.v);
    for (const auto &c : cases)
        EXPECT_EQ(ini.getInt(c.key, 42), c.want) << c.key;
    EXPECT_EQ(ini.getString("a", "def"), QString("def"));
    EXPECT_EQ(ini.getDouble("e", -1), -1);
}

TEST_F(IniTest, UnreadableStoredValueGivesEmptySettings)
{
    {
        QSettings s("Ilvenor", app);
        s.setValue("iniData", QByteArray("{ not json"));
    }
    Ini ini("Ilvenor", app);
    EXPECT_TRUE(ini.data().isEmpty());
    EXPECT_EQ(ini.getInt("autoDrop", 5), 5);
}

TEST_F(IniTest, DialogFoldersRememberPerCategory)
{
    Ini ini("Ilvenor", app);
    {
        DialogFolders f(ini);
        EXPECT_EQ(f.folder("gcode"), QDir::homePath() + "/");
        f.remember("gcode", "/data/prints/cube.gcode");
        f.remember("model", "/models/a/b.stl");
        EXPECT_EQ(f.folder("gcode"), QString("/data/prints/"));
        EXPECT_EQ(f.saveStartPath("gcode", "./cube.gcode"), QString("/data/prints/cube.gcode"));
        EXPECT_EQ(f.saveStartPath("gcode", "part.gcode"), QString("/data/prints/part.gcode"));
        EXPECT_EQ(f.saveStartPath("gcode", "/abs/part.gcode"), QString("/abs/part.gcode"));
        EXPECT_EQ(f.saveStartPath("gcode", "sub/part.gcode"), QString("sub/part.gcode"));
        EXPECT_EQ(f.saveStartPath("other", "x.stl"), QDir::homePath() + "/x.stl");
    }
    // Kept as JSON text under "openDialogPaths" and read back from there.
    const QJsonObject o = QJsonDocument::fromJson(ini.getString("openDialogPaths").toUtf8()).object();
    EXPECT_EQ(o.value("model").toString(), QString("/models/a/"));
    DialogFolders fresh(ini);
    EXPECT_EQ(fresh.folder("model"), QString("/models/a/"));
}

// The process store writes once more during static destruction; Qt's settings
// globals must still exist then (this used to crash at exit).
TEST_F(IniTest, ProcessStoreWritesAtExit)
{
    EXPECT_EXIT(
        {
            QCoreApplication::setApplicationName(app);
            Ini::instance().setInt("atExit", 1);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    Ini ini("Ilvenor", app);
    EXPECT_EQ(ini.getInt("atExit", 0), 1);
}
