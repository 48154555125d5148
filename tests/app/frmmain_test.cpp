#include "app/frmmain.h"
#include "app/ipc.h"
#include "common/ini.h"
#include "common/utils.h"
#include "view/glviewer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include "fixtures/events.h"

#include <gtest/gtest.h>

namespace {
// Runs the event loop until `done` holds or `ms` passed (first frames compile shaders).
// Answers the next modal message box with `button` as soon as it shows;
// returns its text through `text`.
void answerNextBox(QMessageBox::StandardButton button, QString *text)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, button, text] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            *text = box->text();
            poll->stop();
            poll->deleteLater();
            box->button(button)->click();
        }
    });
    poll->start(50);
}

void writeTriangleStl(const QString &path)
{
    writeFile(path, "solid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 10 0 0\nvertex 0 10 0\n"
                    "endloop\nendfacet\nendsolid t\n");
}
} // namespace

TEST(FrmMain, MessagesOpenFilesAndCloseAsksAboutChanges)
{
    Ini::instance().setInt("askForCheckUpdates", 0); // no first-start question in the way
    QFile::remove(dataDir() + "_lastUnsavedProject.tvprj");
    QTemporaryDir dir;
    const QString model = dir.path() + "/tri.stl";
    writeTriangleStl(model);

    const QString name = ipcServerName("tests_app_frmmain");
    ipc_startServer(name);
    auto *w = new FrmMain;
    w->show();
    runEvents(300);
    EXPECT_EQ(w->project().objs.size(), 0u);
    EXPECT_EQ(w->windowTitle().toStdString(), std::string("Tessavo 1.08 beta #10213   Project:[]"));

    // A "showline" without a tab changes nothing but the window's place.
    ASSERT_TRUE(ipc_sendMessage(name, "showline " + model.toUtf8()));
    runEvents(150);
    EXPECT_EQ(w->viewer()->editMode, EM_Select);

    ASSERT_TRUE(ipc_sendMessage(name, "open " + model.toUtf8()));
    runEvents(20000, [w] { return w->windowTitle().endsWith("*"); });
    ASSERT_EQ(w->project().objs.size(), 1u);
    EXPECT_EQ(w->project().objs[0]->name, "tri");
    EXPECT_EQ(w->windowTitle().toStdString(), std::string("Tessavo 1.08 beta #10213   Project:[]*"));

    // Cancel keeps the window; Discard closes it and keeps the unnamed project.
    QString text;
    answerNextBox(QMessageBox::Cancel, &text);
    EXPECT_FALSE(w->close());
    EXPECT_EQ(text, "The Tessavo project has been modified.");
    EXPECT_TRUE(w->isVisible());
    answerNextBox(QMessageBox::Discard, &text);
    EXPECT_TRUE(w->close());
    EXPECT_EQ(Ini::instance().getString("lastProject", "x"), "");
    QByteArray saved = readFile(dataDir() + "_lastUnsavedProject.tvprj");
    EXPECT_TRUE(saved.contains(QByteArray("t\0r\0i\0", 6)));
    delete w;
    ipc_stopServer();
}

TEST(FrmMain, FirstStartShowsTheWelcomeSceneThenAsksOnceAboutUpdates)
{
    Ini &ini = Ini::instance();
    ini.setInt("askForCheckUpdates", 1);
    ini.setString("lastProject", "");
    QFile::remove(dataDir() + "_lastUnsavedProject.tvprj");
    {
        FrmMain w;
        w.show();
        ASSERT_TRUE(runEvents(20000, [&w] { return !w.project().objs.empty(); }));
        EXPECT_GE(w.project().objs.size(), 3u);
        EXPECT_EQ(w.fileOps().fileName(), "") << "the welcome scene is not saved over the resource";
        EXPECT_TRUE(w.viewer()->animating || w.viewer()->framesPainted > 0);
        QString text;
        answerNextBox(QMessageBox::No, &text);
        // The question comes a second after the first tick.
        ASSERT_TRUE(runEvents(20000, [&text] { return !text.isEmpty(); }));
        EXPECT_EQ(text, "Looks like Tessavo started for the first time.");
        EXPECT_EQ(ini.getInt("askForCheckUpdates", 1), 0);
        w.fileOps().newDocument(false); // nothing to ask about on close
    }
    // A later start shows neither the welcome scene nor the question.
    QFile::remove(dataDir() + "_lastUnsavedProject.tvprj");
    FrmMain w;
    w.show();
    bool asked = false;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&asked] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            asked = true;
            box->reject();
        }
    });
    probe.start(50);
    runEvents(1800);
    EXPECT_FALSE(asked);
    EXPECT_TRUE(w.project().objs.empty());
}
