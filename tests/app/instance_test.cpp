// The program as the user meets it: two real processes for the single-instance
// rule, and settings that survive closing and starting the window again.
#include "app/ipc.h"
#include "scene/faces.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
const QString kTessavo = QStringLiteral(TESSAVO_BINARY_DIR "/tessavo");

void writeCubeStl(const QString &path)
{
    Faces f;
    const Vec3 c[8] = {{-10, 0, -10}, {10, 0, -10}, {10, 0, 10}, {-10, 0, 10},
                       {-10, 20, -10}, {10, 20, -10}, {10, 20, 10}, {-10, 20, 10}};
    const int q[6][4] = {{0, 1, 2, 3}, {4, 7, 6, 5}, {0, 4, 5, 1}, {1, 5, 6, 2}, {2, 6, 7, 3}, {3, 7, 4, 0}};
    for (auto &s : q) {
        f.append(c[s[0]], c[s[1]], c[s[2]]);
        f.append(c[s[0]], c[s[2]], c[s[3]]);
    }
    f.exportFile(path, true);
}

// A private home for one user of the program: settings, data and runtime folders.
struct Sandbox {
    QTemporaryDir dir;
    Sandbox()
    {
        QDir(dir.path()).mkpath("run");
        QFile::setPermissions(dir.path() + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir(dir.path()).mkpath("config/Ilvenor");
        QDir(dir.path()).mkpath("data");
    }
    QString settingsFile() const { return dir.path() + "/config/Ilvenor/tessavo.conf"; }
    QString unsavedProject() const { return dir.path() + "/data/tessavo/_lastUnsavedProject.tvprj"; }
    QJsonObject settings() const
    {
        QSettings s(settingsFile(), QSettings::IniFormat);
        return QJsonDocument::fromJson(s.value("iniData").toByteArray()).object();
    }
    void setSettings(const QJsonObject &o) const
    {
        QSettings s(settingsFile(), QSettings::IniFormat);
        s.setValue("iniData", QJsonDocument(o).toJson());
    }
    QProcessEnvironment env() const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("XDG_RUNTIME_DIR", dir.path() + "/run");
        e.insert("XDG_CONFIG_HOME", dir.path() + "/config");
        e.insert("XDG_DATA_HOME", dir.path() + "/data");
        return e;
    }
    // Starts the window, lets it run, then asks it to end as the system does.
    int runWindow(const QStringList &args, int ms = 3000) const
    {
        QProcess p;
        p.setProcessEnvironment(env());
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start(kTessavo, args);
        if (!p.waitForStarted(10000))
            return -100;
        QThread::msleep(ms);
        p.terminate();
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished();
            return -101;
        }
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -102;
    }
};

QList<QByteArray> collectMessages(int count, int timeoutMs)
{
    QList<QByteArray> got;
    QElapsedTimer t;
    t.start();
    while (got.size() < count && t.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QByteArray m;
        while (ipc_pollMessage(m))
            got << m;
    }
    return got;
}
} // namespace

TEST(SingleInstance, SecondStartHandsItsFileToTheFirstAndExits)
{
    QTemporaryDir work;
    writeCubeStl(work.path() + "/part one.stl");
    const QString name = ipcServerName("tessavo");
    ipc_startServer(name); // this process plays the running instance

    QProcess second;
    second.setWorkingDirectory(work.path());
    second.start(kTessavo, {"part one.stl"});
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);

    QList<QByteArray> msgs = collectMessages(2, 5000);
    ASSERT_EQ(msgs.size(), 2);
    EXPECT_EQ(msgs[0], "focus");
    EXPECT_EQ(QString::fromUtf8(msgs[1]), "open " + QDir(work.path()).absoluteFilePath("part one.stl"));

    // Without an argument only "focus" arrives.
    second.start(kTessavo, QStringList());
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 0);
    msgs = collectMessages(2, 1500);
    ASSERT_EQ(msgs.size(), 1);
    EXPECT_EQ(msgs[0], "focus");
    ipc_stopServer();
}

TEST(SingleInstance, SocketLeftByACrashedInstanceDoesNotBlockTheNextStart)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/stale.ipc";
    // A bound and closed socket leaves its file behind, as a crash does.
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, path.toLocal8Bit().constData(), sizeof(addr.sun_path) - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(path));

    EXPECT_FALSE(ipc_sendMessage(path, "focus"));
    EXPECT_NO_THROW(ipc_startServer(path));
    EXPECT_TRUE(ipc_sendMessage(path, "focus"));
    EXPECT_EQ(collectMessages(1, 3000), QList<QByteArray>{"focus"});
    ipc_stopServer();
}

TEST(LastState, SurvivesClosingAndStartingAgain)
{
    Sandbox box;
    const QString model = box.dir.path() + "/cube.stl";
    writeCubeStl(model);
    QJsonObject seed{{"askForCheckUpdates", 0}, {"FrmMain.PosX", 30}, {"FrmMain.PosY", 40},
                     {"FrmMain.Width", 700}, {"FrmMain.Height", 500}};
    box.setSettings(seed);

    // Run 1: a model from the command line; the project has no name.
    ASSERT_EQ(box.runWindow({model}), 0);
    QJsonObject s = box.settings();
    EXPECT_EQ(s.value("FrmMain.Width").toInt(), 700);
    EXPECT_EQ(s.value("FrmMain.Height").toInt(), 500);
    EXPECT_EQ(s.value("FrmMain.PosX").toInt(), 30);
    EXPECT_EQ(s.value("FrmMain.PosY").toInt(), 40);
    EXPECT_EQ(s.value("FrmMain.Maximized").toInt(-1), 0);
    EXPECT_EQ(s.value("lastProject").toString("x"), "");
    EXPECT_TRUE(s.value("cam").toString().contains("\"fovy\""));
    QFile unsaved(box.unsavedProject());
    ASSERT_TRUE(unsaved.open(QIODevice::ReadOnly));
    QByteArray prj = unsaved.readAll();
    unsaved.close();
    EXPECT_GT(prj.size(), 12) << "the model is in the unsaved project";
    EXPECT_TRUE(prj.contains(QByteArray("c\0u\0b\0e\0", 8)));

    // Run 2, no arguments: the unsaved project comes back, still unnamed; a
    // camera pose set in between is taken and stored back.
    QJsonObject cam = QJsonDocument::fromJson(s.value("cam").toString().toUtf8()).object();
    cam["fovy"] = 45;
    cam["center1"] = 12.5;
    s["cam"] = QString::fromUtf8(QJsonDocument(cam).toJson());
    s["FrmMain.Width"] = 640;
    box.setSettings(s);
    QFile::remove(model); // nothing may depend on the original file
    ASSERT_EQ(box.runWindow(QStringList()), 0);
    s = box.settings();
    EXPECT_EQ(s.value("lastProject").toString("x"), "");
    EXPECT_EQ(s.value("FrmMain.Width").toInt(), 640);
    QJsonObject cam2 = QJsonDocument::fromJson(s.value("cam").toString().toUtf8()).object();
    EXPECT_EQ(cam2.value("fovy").toDouble(), 45);
    EXPECT_EQ(cam2.value("center1").toDouble(), 12.5);
    ASSERT_TRUE(unsaved.open(QIODevice::ReadOnly));
    EXPECT_EQ(unsaved.readAll(), prj) << "reopened and written back unchanged";
    unsaved.close();

    // Run 3: a named project is reopened from "lastProject"; a camera text
    // that is not JSON gives the reset pose.
    const QString named = box.dir.path() + "/named.tvprj";
    ASSERT_TRUE(QFile::copy(box.unsavedProject(), named));
    s["lastProject"] = named;
    s["cam"] = "this is not json";
    box.setSettings(s);
    ASSERT_EQ(box.runWindow(QStringList()), 0);
    s = box.settings();
    EXPECT_EQ(s.value("lastProject").toString(), named);
    QJsonObject cam3 = QJsonDocument::fromJson(s.value("cam").toString().toUtf8()).object();
    EXPECT_EQ(cam3.value("fovy").toDouble(), 60);
    EXPECT_EQ(cam3.value("eye13").toDouble(), 30);
}
