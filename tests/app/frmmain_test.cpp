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
#include <gtest/gtest.h>

namespace {
// Runs the event loop until `done` holds or `ms` passed (first frames compile shaders).
bool runEvents(int ms, const std::function<bool()> &done = {})
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (done && done())
            return true;
    }
    return !done;
}

// Answers the next modal message box with `button`; returns its text through `text`.
void answerNextBox(QMessageBox::StandardButton button, QString *text)
{
    QTimer::singleShot(150, [button, text] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            *text = box->text();
            box->button(button)->click();
        }
    });
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
    runEvents(5000, [w] { return w->windowTitle().endsWith("*"); });
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
