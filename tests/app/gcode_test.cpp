#include "app/frmmain.h"
#include "app/qmyapp.h"
#include "common/ini.h"
#include "common/utils.h"
#include "driver/slicer.h"
#include "view/gcodepreview.h"
#include "view/glviewer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include "fixtures/events.h"

#include <gtest/gtest.h>

namespace {
// Answers every modal message box with `button` while it lives; collects their texts.
struct BoxAnswerer {
    QTimer poll;
    QStringList texts;
    explicit BoxAnswerer(QMessageBox::StandardButton button = QMessageBox::Ok)
    {
        QObject::connect(&poll, &QTimer::timeout, [this, button] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                texts << box->text();
                if (QAbstractButton *b = box->button(button))
                    b->click();
                else
                    box->reject();
            }
        });
        poll.start(20);
    }
};

// A window in G-code mode with the test cube in its scene and no questions.
std::unique_ptr<FrmMain> windowWithCube()
{
    Ini::instance().setInt("askForCheckUpdates", 0);
    Ini::instance().setString("lastProject", "");
    QFile::remove(dataDir() + "_lastUnsavedProject.tvprj");
    auto w = std::make_unique<FrmMain>();
    w->show();
    runEvents(200);
    w->project().addObject(TESSAVO_TEST_DATA "/driver/cube.stl", false);
    return w;
}

QString exceptionText(const std::function<void()> &f)
{
    try {
        f();
    } catch (const QString &e) {
        return e;
    } catch (...) {
        return currentExceptionText();
    }
    return QString();
}
} // namespace

TEST(GCodeHandOff, BackgroundSliceStreamsTheSameBytesAndGivesTheUiBack)
{
    auto w = windowWithCube();
    // What the window looks like whenever events run during the slice.
    bool sawBusy = false;
    int layersWhileBusy = 0;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (!w->uiEnabled()) {
            sawBusy = true;
            EXPECT_FALSE(w->centralWidget()->isEnabled());
            layersWhileBusy = std::max(layersWhileBusy, w->gcodePreview().layerCount());
        }
    });
    probe.start(0);
    w->sliceBackground();
    probe.stop();

    EXPECT_TRUE(sawBusy) << "the slice processed events";
    EXPECT_GT(layersWhileBusy, 0) << "layers reached the preview while slicing";
    EXPECT_TRUE(w->uiEnabled());
    EXPECT_TRUE(w->centralWidget()->isEnabled());
    EXPECT_EQ(w->viewer()->editMode, EM_GCode);
    EXPECT_EQ(w->gcodeTitle(), "Unsaved GCode: ");
    EXPECT_TRUE(w->windowTitle().endsWith("GCode:[Unsaved GCode: ]*")) << w->windowTitle().toStdString();

    // The streamed G-code is what slicing the scene gives, and what the preview holds.
    BuildVolume bv = w->viewer()->volume;
    const QByteArray direct = sliceScene(&w->project(), &w->params(), &bv, {});
    EXPECT_EQ(w->gcode(), direct);
    EXPECT_EQ(w->gcodePreview().sim().text(), direct);
    EXPECT_GT(w->gcodePreview().layerCount(), 10);
    EXPECT_EQ(w->gcodePreview().topLayer, w->gcodePreview().layerCount() - 1);
    w->fileOps().newDocument(false);
}

TEST(GCodeHandOff, AFailingSliceStillGivesTheUiBack)
{
    auto w = windowWithCube();
    w->params().LayerHeight = -1;
    const QString error = exceptionText([&] { w->sliceBackground(); });
    EXPECT_TRUE(error.startsWith("Invalid parameter LayerHeight")) << error.toStdString();
    EXPECT_TRUE(w->uiEnabled());
    EXPECT_TRUE(w->centralWidget()->isEnabled());
    EXPECT_EQ(w->gcodeTitle(), "Empty GCode ");
    EXPECT_TRUE(w->gcode().isEmpty());
    EXPECT_EQ(w->gcodePreview().layerCount(), 0);

    // sliceNow the same.
    EXPECT_FALSE(exceptionText([&] { w->sliceNow(); }).isEmpty());
    EXPECT_TRUE(w->uiEnabled());
    EXPECT_TRUE(w->centralWidget()->isEnabled());
    w->fileOps().newDocument(false);
}

TEST(GCodeHandOff, ASecondJobWhileOneRunsIsRefusedAndLeavesTheFirstAlone)
{
    auto w = windowWithCube();
    QStringList refusals;
    bool stillBusy = true;
    QTimer::singleShot(0, [&] {
        refusals << exceptionText([&] { w->sliceBackground(); });
        refusals << exceptionText([&] { w->sliceNow(); });
        refusals << exceptionText([&] { w->loadGCode("G1 X1 E1\n", "other.gcode"); });
        refusals << exceptionText([&] { w->clearGCode(); });
        stillBusy = !w->uiEnabled() && !w->centralWidget()->isEnabled();
    });
    w->sliceBackground();
    ASSERT_EQ(refusals.size(), 4) << "the check ran inside the slice";
    for (const QString &r : refusals)
        EXPECT_EQ(r.toStdString(), "FATAL ERROR: Already slicing.");
    EXPECT_TRUE(stillBusy) << "a refused job does not give the UI back early";
    EXPECT_TRUE(w->uiEnabled());
    EXPECT_EQ(w->gcodeTitle(), "Unsaved GCode: ");
    EXPECT_FALSE(w->gcode().isEmpty());
    EXPECT_EQ(w->gcodePreview().sim().text(), w->gcode());
    w->fileOps().newDocument(false);
}

TEST(GCodeHandOff, ClosingDuringASliceStopsItAndKeepsTheProject)
{
    auto w = windowWithCube();
    BoxAnswerer answer(QMessageBox::Discard);
    QTimer::singleShot(0, [&] { w->close(); });
    EXPECT_NO_THROW(w->sliceBackground());
    EXPECT_TRUE(w->uiEnabled());
    EXPECT_TRUE(runEvents(20000, [&] { return !w->isVisible(); })) << "the window closes after the slice stopped";
    const QByteArray saved = readFile(dataDir() + "_lastUnsavedProject.tvprj");
    EXPECT_TRUE(saved.contains(QByteArray("c\0u\0b\0e\0", 8))) << "the unnamed project was kept";
}

TEST(GCodeHandOff, SaveWritesTheExactBytesAndPrintNamesTemporaryFiles)
{
    auto w = windowWithCube();
    QTemporaryDir dir;
    // CR LF, a lone CR, a NUL and bytes above 127 must all survive.
    const QByteArray bytes = QByteArray("G1 Z0.2 F600\r\nG1 X10 E1\rG1 Y10 E2\n;\0\xff\xfe\n", 41);
    {
        BoxAnswerer answer; // the parser's complaint about the odd bytes
        w->loadGCode(bytes, "loaded.gcode");
    }
    EXPECT_EQ(w->gcode(), bytes);
    const QString target = dir.path() + "/saved.gcode";
    EXPECT_EQ(w->gcodeSaveName(), "loaded.gcode");
    w->saveGCodeAs(target);
    EXPECT_EQ(readFile(target), bytes);
    EXPECT_EQ(w->gcodeTitle(), target);

    // Print of an unsaved G-code: temp_NAME.gco, temp_NAME(1).gco, ... in the
    // data folder; without a printing program a message names the file.
    EXPECT_EQ(exceptionText([&] { w->sliceBackground(); }).toStdString(), "");
    EXPECT_EQ(w->gcodeSaveName(), ".gcode") << "an unnamed project";
    const QString base = dataDir() + "temp_cube";
    for (const QString &suffix : {QString(), QString("(1)"), QString("(2)")})
        QFile::remove(base + suffix + ".gco");
    QStringList shown;
    for (int i = 0; i < 3; ++i) {
        BoxAnswerer answer;
        EXPECT_EQ(exceptionText([&] { w->printGCode(); }).toStdString(), "");
        shown << answer.texts;
    }
    ASSERT_EQ(shown.size(), 3);
    const QString names[] = {base + ".gco", base + "(1).gco", base + "(2).gco"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(shown[i].contains(QDir::toNativeSeparators(names[i]))) << shown[i].toStdString();
        EXPECT_EQ(readFile(names[i]), w->gcode());
        QFile::remove(names[i]);
    }
    EXPECT_EQ(FrmMain::printTempPath(dir.path() + "/", "x"), dir.path() + "/temp_x.gco");
    w->fileOps().newDocument(false);
}

TEST(GCodeHandOff, BadGCodeLoadsShowsTheFirstErrorAndKeepsTheScene)
{
    auto w = windowWithCube();
    QByteArray bad = "G1 Z0.2 F600\nG1 X10 E1\nG1 X20 Y20 E2 $$\nG1 X1000000000 E3\n";
    bad += QByteArray(1 << 20, '\0');
    bad += "\nG1 X30 E4\n";
    BoxAnswerer answer;
    w->loadGCode(bad, "bad.gcode");
    ASSERT_EQ(answer.texts.size(), 1);
    EXPECT_TRUE(answer.texts[0].startsWith("There was an ignored error in the gcode:\nGCodeParser error at line(2)"))
        << answer.texts[0].toStdString();
    EXPECT_EQ(w->project().objs.size(), 1u);
    EXPECT_TRUE(w->uiEnabled());
    EXPECT_EQ(w->gcodeTitle(), "bad.gcode");
    w->viewer()->repaint(); // draws without throwing
    EXPECT_TRUE(w->viewer()->renderer.lastError.isEmpty()) << w->viewer()->renderer.lastError.toStdString();
    w->fileOps().newDocument(false);
}
