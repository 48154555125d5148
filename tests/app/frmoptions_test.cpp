#include "app/frmoptions.h"
#include "common/ini.h"
#include "scene/project.h"
#include "raster/paralell.h"
#include "driver/slicer.h"
#include "gcode/gcodetransform.h"

#include <QComboBox>
#include <QRegularExpression>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <gtest/gtest.h>

namespace {

struct Lists {
    int widthDirection, depthDirection, widthOrigin, depthOrigin;
};

void setLists(FrmOptions &o, const Lists &l)
{
    o.findChild<QComboBox *>("cbWidthDirection")->setCurrentIndex(l.widthDirection);
    o.findChild<QComboBox *>("cbDepthDirection")->setCurrentIndex(l.depthDirection);
    o.findChild<QComboBox *>("cbWidthOrigin")->setCurrentIndex(l.widthOrigin);
    o.findChild<QComboBox *>("cbDepthOrigin")->setCurrentIndex(l.depthOrigin);
}

Lists lists(FrmOptions &o)
{
    return {o.findChild<QComboBox *>("cbWidthDirection")->currentIndex(),
            o.findChild<QComboBox *>("cbDepthDirection")->currentIndex(),
            o.findChild<QComboBox *>("cbWidthOrigin")->currentIndex(),
            o.findChild<QComboBox *>("cbDepthOrigin")->currentIndex()};
}

// A scene point on the bed (x across, z toward the front) as the G-code writer prints it.
PolyPoint written(const FrmOptions &o, float x, float z)
{
    GCodeTransform xf;
    xf.volume = o.buildVolume();
    return xf.toMachine({x, z});
}

void resetOptions()
{
    QJsonObject &data = Ini::instance().data();
    for (const QString &key : data.keys())
        if (key.startsWith("FrmOptions."))
            data.remove(key);
}

} // namespace

TEST(FrmOptions, OriginButtonsShowAndSetTheFourLists)
{
    resetOptions();
    FrmOptions o;
    auto *frontLeft = o.findChild<QPushButton *>("bFrontLeftCorner");
    auto *center = o.findChild<QPushButton *>("bCenter");
    struct Case {
        Lists l;
        bool frontLeft, center;
    };
    const Case cases[] = {
        {{0, 0, 0, 0}, true, false},  {{0, 0, 1, 1}, false, true},  {{1, 0, 0, 0}, false, false},
        {{0, 1, 1, 1}, false, false}, {{0, 0, 1, 0}, false, false}, {{0, 0, 2, 2}, false, false},
    };
    for (const Case &c : cases) {
        setLists(o, c.l);
        EXPECT_EQ(frontLeft->isChecked(), c.frontLeft) << c.l.widthDirection << c.l.depthDirection << c.l.widthOrigin;
        EXPECT_EQ(center->isChecked(), c.center) << c.l.widthDirection << c.l.depthDirection << c.l.widthOrigin;
    }
    setLists(o, {1, 1, 2, 2});
    center->click();
    Lists l = lists(o);
    EXPECT_TRUE(l.widthDirection == 0 && l.depthDirection == 0 && l.widthOrigin == 1 && l.depthOrigin == 1);
    EXPECT_TRUE(center->isChecked());
    EXPECT_FALSE(frontLeft->isChecked());
    center->click(); // clicking the checked button keeps it checked
    EXPECT_TRUE(center->isChecked());
    frontLeft->click();
    l = lists(o);
    EXPECT_TRUE(l.widthDirection == 0 && l.depthDirection == 0 && l.widthOrigin == 0 && l.depthOrigin == 0);
    EXPECT_TRUE(frontLeft->isChecked());
    EXPECT_FALSE(center->isChecked());
}

TEST(FrmOptions, BuildVolumeReachesTheWritersMapping)
{
    resetOptions();
    FrmOptions o;
    // Defaults 250 x 200: front-left corner is 0,0, back-right 250,200.
    PolyPoint p = written(o, -125, 100);
    EXPECT_FLOAT_EQ(p.x, 0);
    EXPECT_FLOAT_EQ(p.y, 0);
    p = written(o, 125, -100);
    EXPECT_FLOAT_EQ(p.x, 250);
    EXPECT_FLOAT_EQ(p.y, 200);

    // "Center": the bed centre is 0,0, whatever the size.
    o.findChild<QSpinBox *>("seWidth")->setValue(300);
    o.findChild<QSpinBox *>("seDepth")->setValue(300);
    o.findChild<QPushButton *>("bCenter")->click();
    p = written(o, 0, 0);
    EXPECT_FLOAT_EQ(p.x, 0);
    EXPECT_FLOAT_EQ(p.y, 0);
    p = written(o, 150, -150); // back-right corner
    EXPECT_FLOAT_EQ(p.x, 150);
    EXPECT_FLOAT_EQ(p.y, 150);

    // Right to Left with the origin on the right: the right edge is X 0 and X grows leftward.
    setLists(o, {1, 0, 2, 0});
    EXPECT_FLOAT_EQ(written(o, 150, 0).x, 0);
    EXPECT_FLOAT_EQ(written(o, 140, 0).x, 10);
    EXPECT_FLOAT_EQ(written(o, -150, 0).x, 300);
}

TEST(FrmOptions, ValuesPersistAndReachTheThreadBudget)
{
    resetOptions();
    {
        FrmOptions o;
        EXPECT_EQ(o.maxCores(), 64);
        EXPECT_EQ(o.filamentPrices(), "PLA=0.091; ABS=0.075");
        EXPECT_TRUE(o.updateServer().isEmpty());
        o.findChild<QSpinBox *>("seWidth")->setValue(300);
        o.findChild<QPushButton *>("bCenter")->click();
        o.findChild<QSpinBox *>("seMaxCores")->setValue(1);
        o.findChild<QComboBox *>("cbThreadPriority")->setCurrentIndex(1);
        o.applyProcessorSettings();
        EXPECT_EQ(threadBudget(), 1);
        EXPECT_EQ(o.threadPriority(), QThread::HighPriority);
    }
    FrmOptions again;
    EXPECT_EQ(again.buildVolume().W, 300.0f);
    EXPECT_TRUE(again.findChild<QPushButton *>("bCenter")->isChecked());
    EXPECT_EQ(again.maxCores(), 1);
    EXPECT_EQ(again.threadPriorityIndex(), 1);
    again.findChild<QSpinBox *>("seMaxCores")->setValue(2);
    again.applyProcessorSettings();
    EXPECT_EQ(threadBudget(), std::min(2, QThread::idealThreadCount()));
    again.findChild<QSpinBox *>("seMaxCores")->setValue(64);
    again.findChild<QComboBox *>("cbThreadPriority")->setCurrentIndex(0);
    again.applyProcessorSettings();
}

namespace {
// Centre of the extruding moves' X/Y box in the G-code of a cube sliced with
// the options' build volume.
QPointF printedCentre(const FrmOptions &o)
{
    Project project;
    project.addObject(QString(TESSAVO_TEST_DATA) + "/driver/cube.stl", false);
    SlicerParams params;
    params.SkirtEnable = false;
    const BuildVolume volume = o.buildVolume();
    const QByteArray gcode = sliceScene(&project, &params, &volume, {});
    static const QRegularExpression move("^G1 X(-?[0-9.]+) Y(-?[0-9.]+) E");
    double x0 = 1e9, x1 = -1e9, y0 = 1e9, y1 = -1e9;
    for (const QByteArray &line : gcode.split('\n')) {
        const QRegularExpressionMatch m = move.match(QString::fromLatin1(line));
        if (!m.hasMatch())
            continue;
        const double x = m.captured(1).toDouble(), y = m.captured(2).toDouble();
        x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
    }
    EXPECT_LT(x0, x1) << "no extruding moves found";
    return {(x0 + x1) / 2, (y0 + y1) / 2};
}
} // namespace

TEST(FrmOptions, GCodeCoordinatesFollowTheOrigin)
{
    resetOptions();
    FrmOptions o;
    struct Case {
        int width, depth;
        const char *button;
        QPointF centre; // where the cube in the middle of the bed is printed
    } cases[] = {
        {250, 200, "bFrontLeftCorner", {125, 100}},
        {300, 300, "bFrontLeftCorner", {150, 150}},
        {300, 300, "bCenter", {0, 0}},
    };
    for (const Case &c : cases) {
        o.findChild<QSpinBox *>("seWidth")->setValue(c.width);
        o.findChild<QSpinBox *>("seDepth")->setValue(c.depth);
        o.findChild<QPushButton *>(c.button)->click();
        const QPointF got = printedCentre(o);
        EXPECT_NEAR(got.x(), c.centre.x(), 0.5) << c.width << c.button;
        EXPECT_NEAR(got.y(), c.centre.y(), 0.5) << c.width << c.button;
    }
}
