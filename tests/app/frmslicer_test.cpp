#include "app/frmslicer.h"
#include "app/frmslicersimple.h"
#include "common/ini.h"
#include "common/utils.h"
#include "modalhelper.h"

#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QProgressBar>
#include <QRadioButton>
#include <QCheckBox>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

SlicerParams withOverrides(const QStringList &overrides)
{
    SlicerParams p;
    for (const QString &o : overrides)
        p.applyOverride(o);
    return p;
}

// Every key away from its default, at the precision the dialog offers.
const QStringList kFineValues = {
    "ExtrusionWidth=0.456", "LayerHeight=0.123", "FirstLayerHeight=0.345", "ZAdjust=-0.125",
    "UseVectorOffseter=true", "HShellCnt=7", "VShellCnt=4", "VShellOffset=-0.055", "PathSmoothing=1.25",
    "RepairCorners=true", "PolyFillerAlg=2", "PerimeterGap=0.3", "HShellType=1", "HShellDensity=1.5",
    "HShellMinLineLen=1.4", "HShellAngle=-35", "HShellAngleInc=120", "InfillDensity=0.35", "InfillType=2",
    "InfillThickness=3", "InfillAngle=15", "InfillAngleInc=60", "LoopFillOverlap=-2", "SkirtEnable=false",
    "SkirtOffset=12", "SkirtMinCount=3", "SkirtMinLength=450", "BrimEnable=true", "BrimCount=9",
    "RaftEnable=true", "RaftOffset=7", "RaftConfig=Type ; H\\n1 ; 0.3 \t; é\\n", "DrawSpeed=65.5",
    "FirstLayerDrawSpeed=12.25", "VerticalSpeed=7.5", "RetractSpeed=35", "FilamentDiameter=2.85",
    "ExtruderSpeedRatio=97.5", "FirstLayerExtruderSpeedRatio=110.5", "TravelSpeed=150", "TravelMinDist=2.5",
    "TravelHeight=0.4", "TravelRetract=1.25", "TravelPrime=1.375", "WipeLength=3.5", "WipeSpeed=45",
    "InitialLayerCnt=2", "InitialLayerSpeed=0.35", "MinLayerTime=12.5", "LayerStartPos=6", "OuterHair=false",
    "InnerHair=false", "HeadTempEnabled=false", "HeadTemp=245", "BedTempEnabled=false", "BedTemp=95",
    "FanEnable=false", "FanFirstLayer=10", "FanSecondLayer=128", "FanNthLayer=255", "FanN=7",
    "GCodeHeader=M117 hi\\nG28\\n", "GCodeFooter=M84", "FFactor_Perimeter=0.85", "FFactor_Loop=0.95",
    "FFactor_HShell=1.1", "FFactor_Infill=1.25", "FFactor_Support=2", "FFactor_SoftSupport=1.75",
    "FFactor_Skirt=0.5", "FFactor_Raft=0.6", "FFactor_OuterHair=0.7", "FFactor_InnerHair=0.8",
    "EFactor_Perimeter=1.05", "EFactor_Loop=0.9", "EFactor_HShell=1.15", "EFactor_Infill=0.75",
    "EFactor_Support=0.65", "EFactor_SoftSupport=0.45", "EFactor_Skirt=2.5", "EFactor_Raft=1.5",
    "EFactor_OuterHair=1.2", "EFactor_InnerHair=1.3",
};

// The ends of the fields: the dialog's range, narrowed where the slicer
// accepts less (ExtrusionWidth, heights, ZAdjust, HShellDensity, FilamentDiameter).
const QStringList kRangeEnds = {
    "ExtrusionWidth=10", "LayerHeight=0.01", "FirstLayerHeight=5", "ZAdjust=-10", "HShellCnt=20",
    "VShellCnt=1", "VShellOffset=1", "PathSmoothing=9", "PerimeterGap=3", "HShellDensity=0.1",
    "HShellMinLineLen=0.1", "HShellAngle=-360", "HShellAngleInc=360", "InfillDensity=1", "InfillThickness=20",
    "LoopFillOverlap=5", "SkirtOffset=20", "SkirtMinCount=100", "SkirtMinLength=1000", "BrimCount=100",
    "RaftOffset=1", "DrawSpeed=500", "FirstLayerDrawSpeed=1", "VerticalSpeed=500", "RetractSpeed=1",
    "FilamentDiameter=5", "ExtruderSpeedRatio=500", "FirstLayerExtruderSpeedRatio=20", "TravelSpeed=500",
    "TravelMinDist=1000", "TravelHeight=10", "TravelRetract=20", "TravelPrime=20", "WipeLength=20",
    "WipeSpeed=500", "InitialLayerCnt=20", "InitialLayerSpeed=0.1", "MinLayerTime=20", "HeadTemp=300",
    "BedTemp=0", "FanFirstLayer=255", "FanN=100", "FFactor_Perimeter=10", "EFactor_Skirt=0.1",
};

bool isChanged(const QWidget *w) { return w->property("changed").toBool(); }

} // namespace

TEST(FrmSlicer, EveryKeyRoundTripsThroughTheWidgets)
{
    FrmSlicer dlg;
    for (const QStringList *set : {&kFineValues, &kRangeEnds}) {
        const SlicerParams p = withOverrides(*set);
        dlg.setParams(p);
        EXPECT_EQ(dlg.params().toText().toStdString(), p.toText().toStdString());
    }
    // Every value of the first set differs from its default, so every field is lit.
    dlg.setParams(withOverrides(kFineValues));
    for (const FieldDef &f : slicerFields())
        EXPECT_TRUE(isChanged(dlg.fieldWidget(f.key))) << f.key;
    dlg.setParams(SlicerParams());
    for (const FieldDef &f : slicerFields())
        EXPECT_FALSE(isChanged(dlg.fieldWidget(f.key))) << f.key;

    // Fractions show as percent; a typed percent comes back as a fraction.
    auto *density = qobject_cast<QDoubleSpinBox *>(dlg.fieldWidget("InfillDensity"));
    ASSERT_TRUE(density);
    EXPECT_EQ(density->value(), 10.0);
    density->setValue(25);
    EXPECT_EQ(dlg.params().InfillDensity, 0.25f);
    EXPECT_TRUE(isChanged(density));
    EXPECT_FALSE(isChanged(dlg.fieldWidget("LayerHeight")));

    // A value beyond a field's range is clamped and named.
    dlg.setParams(withOverrides({"DrawSpeed=900", "LayerStartPos=9"}));
    EXPECT_EQ(dlg.params().DrawSpeed, 500.0f);
    EXPECT_EQ(dlg.params().LayerStartPos, 0);
    const QString status = dlg.findChild<QLabel *>("lStatus")->text();
    EXPECT_TRUE(status.contains("DrawSpeed") && status.contains("LayerStartPos")) << status.toStdString();
}

TEST(FrmSlicer, HintsExplainEveryParameter)
{
    const QString hints = QString::fromUtf8(readFile(resourcePath("hints.htm")));
    SlicerParams().forEachField([&](const char *key, const auto &) {
        EXPECT_TRUE(hints.contains(QString("name=\"%1\"").arg(key))) << key;
    });
    for (const char *companion : {"HShellThickness", "VShellThickness", "BrimSize"})
        EXPECT_TRUE(hints.contains(QString("name=\"%1\"").arg(companion))) << companion;
}

TEST(FrmSlicer, CompanionsFollowTheirCounts)
{
    FrmSlicer dlg;
    auto *thickness = dlg.findChild<QDoubleSpinBox *>("seHShellThickness");
    ASSERT_TRUE(thickness);
    EXPECT_DOUBLE_EQ(thickness->value(), 0.6); // 3 layers of 0.2 mm
    qobject_cast<QDoubleSpinBox *>(dlg.fieldWidget("LayerHeight"))->setValue(0.3);
    EXPECT_DOUBLE_EQ(thickness->value(), 0.9);
    thickness->setValue(1.45); // nearest count: 5 layers
    EXPECT_EQ(dlg.params().HShellCnt, 5);
    EXPECT_DOUBLE_EQ(thickness->value(), 1.5);
}

TEST(FrmSlicer, OffersOnlyValuesTheSlicerAcceptsAndSlicesWithProgress)
{
    FrmSlicer dlg;
    // Both ends of every numeric field slice.
    for (const FieldDef &f : slicerFields()) {
        QWidget *w = dlg.fieldWidget(f.key);
        QList<std::function<void()>> ends;
        if (auto *d = qobject_cast<QDoubleSpinBox *>(w))
            ends = {[d] { d->setValue(d->minimum()); }, [d] { d->setValue(d->maximum()); }};
        else if (auto *s = qobject_cast<QSpinBox *>(w))
            ends = {[s] { s->setValue(s->minimum()); }, [s] { s->setValue(s->maximum()); }};
        for (const auto &setEnd : ends) {
            setEnd();
            EXPECT_EQ(dlg.validationError().toStdString(), "") << f.key;
        }
        dlg.setParams(SlicerParams());
    }
    // A preset value the slicer would refuse is brought into its bounds and named.
    dlg.setParams(withOverrides({"ExtrusionWidth=15", "FilamentDiameter=0.2"}));
    EXPECT_EQ(dlg.params().ExtrusionWidth, 10.0f);
    EXPECT_EQ(dlg.params().FilamentDiameter, 0.5f);
    EXPECT_TRUE(dlg.validationError().isEmpty());
    const QString status = dlg.findChild<QLabel *>("lStatus")->text();
    EXPECT_TRUE(status.contains("ExtrusionWidth") && status.contains("FilamentDiameter")) << status.toStdString();

    // Slice: the dialog's values, the progress bar following, closed accepted.
    dlg.show();
    qobject_cast<QDoubleSpinBox *>(dlg.fieldWidget("InfillDensity"))->setValue(15);
    SlicerParams sliced;
    QList<int> shown;
    dlg.setSliceFunction([&](const SlicerParams &p, const DialogProgress &progress) {
        sliced = p;
        EXPECT_FALSE(dlg.isEnabled());
        for (int percent : {30, 100}) {
            progress(percent);
            shown << dlg.findChild<QProgressBar *>("progressBar")->value();
        }
    });
    dlg.findChild<QPushButton *>("bSlice")->click();
    EXPECT_EQ(sliced.InfillDensity, 0.15f);
    EXPECT_EQ(sliced.ExtrusionWidth, 10.0f);
    EXPECT_EQ(shown, (QList<int>{30, 100}));
    EXPECT_TRUE(dlg.sliced() && dlg.keepValues());
    EXPECT_TRUE(dlg.isEnabled());
    EXPECT_EQ(dlg.result(), int(QDialog::Accepted));
}

TEST(FrmSlicer, PresetsStoreExportImportAndNeverOverwriteUnasked)
{
    Ini::instance().setString("Presets", "");
    QTemporaryDir dir;
    FrmSlicer dlg;
    ModalResponder answer(QMessageBox::No);

    dlg.setParams(withOverrides({"LayerHeight=0.3", "InfillDensity=0.25"}));
    ASSERT_TRUE(dlg.storePreset("Fine"));
    EXPECT_TRUE(Ini::instance().getString("Presets").contains("Fine"));
    const QString file = dir.path() + "/Fine.tvsp";
    ASSERT_TRUE(dlg.exportPreset(file));
    EXPECT_EQ(readFile(file), dlg.params().toText());

    dlg.findChild<QPushButton *>("bLoadDefaults")->click();
    EXPECT_EQ(dlg.params(), SlicerParams());
    ASSERT_TRUE(dlg.selectPreset("Fine"));
    EXPECT_EQ(dlg.params().LayerHeight, 0.3f);

    // Re-importing the same values asks nothing.
    dlg.setParams(SlicerParams());
    ASSERT_TRUE(dlg.importPreset(file));
    EXPECT_EQ(dlg.params().InfillDensity, 0.25f);
    EXPECT_TRUE(answer.texts.isEmpty());

    // Different values under an existing name: shown, stored only when allowed.
    writeFile(file, "{\"LayerHeight\": 0.15}");
    dlg.setParams(withOverrides({"BedTemp=80"}));
    ASSERT_TRUE(dlg.importPreset(file));
    pumpEvents(50);
    EXPECT_EQ(dlg.params(), withOverrides({"LayerHeight=0.15"})) << "a partial file leaves the rest at defaults";
    ASSERT_EQ(answer.texts.size(), 1);
    EXPECT_TRUE(answer.texts[0].contains("Fine"));
    SlicerPresets stored;
    stored.loadFromIni(Ini::instance());
    SlicerParams fine;
    ASSERT_TRUE(stored.load("Fine", fine));
    EXPECT_EQ(fine.LayerHeight, 0.3f);
    answer.setButton(QMessageBox::Yes);
    ASSERT_TRUE(dlg.importPreset(file));
    pumpEvents(50);
    stored.loadFromIni(Ini::instance());
    ASSERT_TRUE(stored.load("Fine", fine));
    EXPECT_EQ(fine.LayerHeight, 0.15f);

    // Files that are not presets change nothing.
    const SlicerParams before = withOverrides({"HeadTemp=199"});
    dlg.setParams(before);
    answer.texts.clear();
    const QList<QByteArray> notPresets = {"", "hello", "[1,2]", "{\"Foo\": 1}", "{\"LayerHeight\": \"thin\"}"};
    for (const QByteArray &bytes : notPresets) {
        const QString bad = dir.path() + "/other.tvsp";
        writeFile(bad, bytes);
        EXPECT_FALSE(dlg.importPreset(bad)) << bytes.constData();
    }
    EXPECT_FALSE(dlg.importPreset(dir.path() + "/missing.tvsp"));
    EXPECT_FALSE(dlg.importPreset(dir.path()));
    pumpEvents(50);
    EXPECT_EQ(answer.texts.size(), notPresets.size() + 2);
    EXPECT_TRUE(answer.texts.value(1).contains("not a Tessavo slicer preset"));
    EXPECT_EQ(dlg.params(), before);
    EXPECT_EQ(dlg.presetNames(), QStringList{"Fine"});

    EXPECT_TRUE(dlg.deletePreset("Fine"));
    stored.loadFromIni(Ini::instance());
    EXPECT_EQ(stored.size(), 0);
}

TEST(FrmSlicerSimple, ChoicesGiveTheirKeysAndLeaveTheRestAtDefaults)
{
    struct Case {
        const char *quality, *material;
        QStringList keys;
    };
    const QList<Case> cases = {
        {"rbHigh", "rbPLA", {"LayerHeight=0.1", "FirstLayerHeight=0.1", "HeadTemp=220", "BedTemp=60"}},
        {"rbMedium", "rbABS", {"LayerHeight=0.2", "FirstLayerHeight=0.2", "HeadTemp=230", "BedTemp=110"}},
        {"rbLow", "rbABS", {"LayerHeight=0.3", "FirstLayerHeight=0.3", "HeadTemp=230", "BedTemp=110"}},
        {"rbLow", "rbPLA", {"LayerHeight=0.3", "FirstLayerHeight=0.3", "HeadTemp=220", "BedTemp=60"}},
    };
    for (const Case &c : cases) {
        FrmSlicerSimple dlg;
        dlg.findChild<QRadioButton *>(c.quality)->click();
        dlg.findChild<QRadioButton *>(c.material)->click();
        dlg.findChild<QCheckBox *>("chSupport")->setChecked(c.quality == QString("rbLow"));
        QStringList calls;
        SlicerParams got;
        dlg.setSupportFunction([&](const DialogProgress &progress) {
            calls << "support";
            progress(100);
        });
        dlg.setSliceFunction([&](const SlicerParams &p, const DialogProgress &progress) {
            calls << "slice";
            got = p;
            EXPECT_FALSE(dlg.isEnabled());
            progress(60);
            EXPECT_EQ(dlg.findChild<QProgressBar *>("progressBar")->value(), 60);
        });
        dlg.findChild<QPushButton *>("bSlice")->click();
        SlicerParams expected = withOverrides(c.keys + QStringList{"HeadTempEnabled=true", "BedTempEnabled=true"});
        EXPECT_EQ(got.toText().toStdString(), expected.toText().toStdString()) << c.quality << c.material;
        EXPECT_EQ(calls, c.quality == QString("rbLow") ? QStringList({"support", "slice"}) : QStringList{"slice"});
        EXPECT_TRUE(dlg.sliced());
        EXPECT_EQ(dlg.result(), int(QDialog::Accepted));
    }
    // The last choices come back with the next dialog.
    FrmSlicerSimple again;
    EXPECT_TRUE(again.findChild<QRadioButton *>("rbLow")->isChecked());
    EXPECT_TRUE(again.findChild<QRadioButton *>("rbPLA")->isChecked());
    EXPECT_TRUE(again.findChild<QCheckBox *>("chSupport")->isChecked());
    again.findChild<QPushButton *>("bSwitchToExpert")->click();
    EXPECT_TRUE(again.switchRequested());
    EXPECT_FALSE(again.sliced());
}
