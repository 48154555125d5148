#include "view/btnsys.h"
#include "app/frmmain.h"
#include "app/frmoptions.h"
#include "app/frmslicer.h"
#include "app/frmslicersimple.h"
#include "common/ini.h"
#include "common/utils.h"
#include "modalhelper.h"
#include "view/glviewer.h"

#include <QDoubleSpinBox>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <gtest/gtest.h>

namespace {
void pressSlice(FrmMain &w)
{
    Btn *slice = w.btnSys().find("Slice...");
    ASSERT_TRUE(slice);
    w.btnSys().press(slice);
}
} // namespace

TEST(FrmMainDialogs, SliceCommandSwitchesDialogsAndSlicesFromTheExpertOne)
{
    Ini &ini = Ini::instance();
    ini.setInt("askForCheckUpdates", 0);
    ini.setString("lastProject", "");
    ini.setInt("frmSlicerIsSimple", 1);
    QFile::remove(dataDir() + "_lastUnsavedProject.tvprj");
    FrmMain w;
    w.show();
    pumpEvents(200);
    ASSERT_TRUE(w.openFile(QString(TESSAVO_TEST_DATA) + "/driver/cube.stl"));

    // Easy first; it asks for the expert dialog, which closes without slicing.
    QStringList seen;
    {
    ModalResponder drive(QMessageBox::Ok, [&](QWidget *dlg) {
        seen << dlg->objectName();
        if (seen.size() == 1) {
            dlg->findChild<QPushButton *>("bSwitchToExpert")->click();
        } else {
            auto *d = qobject_cast<FrmSlicer *>(dlg);
            qobject_cast<QDoubleSpinBox *>(d->fieldWidget("LayerHeight"))->setValue(0.3);
            d->findChild<QPushButton *>("bClose")->click();
        }
    });
    pressSlice(w);
    }
    EXPECT_EQ(seen, (QStringList{"FrmSlicerSimple", "FrmSlicer"}));
    EXPECT_EQ(ini.getInt("frmSlicerIsSimple", 1), 0);

    // The expert dialog comes first now, with the kept value; its Slice
    // stores the values before slicing and the progress bar follows.
    seen.clear();
    int lastProgress = -1;
    ModalResponder slice(QMessageBox::Ok, [&](QWidget *dlg) {
        seen << dlg->objectName();
        auto *d = qobject_cast<FrmSlicer *>(dlg);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->params().LayerHeight, 0.3f);
        auto *bar = d->findChild<QProgressBar *>("progressBar");
        QObject::connect(bar, &QProgressBar::valueChanged, [&lastProgress](int v) { lastProgress = v; });
        d->findChild<QPushButton *>("bSlice")->click();
    });
    pressSlice(w);
    EXPECT_EQ(seen, QStringList{"FrmSlicer"});
    EXPECT_EQ(lastProgress, 100);
    SlicerParams stored;
    stored.fromText(ini.getString("slicerParams").toUtf8());
    EXPECT_EQ(stored.LayerHeight, 0.3f);
    EXPECT_TRUE(w.uiEnabled());
    // The sliced G-code is on show once the dialog has closed.
    EXPECT_TRUE(w.titleText().contains("GCode:[Unsaved GCode: ")) << w.titleText().toStdString();
    w.fileOps().newDocument(false);
}

TEST(FrmMainDialogs, OptionsReachTheView)
{
    Ini::instance().setInt("askForCheckUpdates", 0);
    FrmMain w;
    w.show();
    pumpEvents(100);
    FrmOptions *o = w.options();
    o->findChild<QSpinBox *>("seWidth")->setValue(300);
    o->findChild<QSpinBox *>("seDepth")->setValue(280);
    o->findChild<QPushButton *>("bCenter")->click();
    EXPECT_EQ(w.viewer()->volume.W, 300.0f);
    EXPECT_EQ(w.viewer()->volume.D, 280.0f);
    EXPECT_EQ(w.viewer()->volume.cx, 150.0f);
    o->findChild<QPushButton *>("bFrontLeftCorner")->click();
    o->findChild<QSpinBox *>("seWidth")->setValue(250);
    o->findChild<QSpinBox *>("seDepth")->setValue(200);
    EXPECT_EQ(w.viewer()->volume.cx, 0.0f);
}
