#include "app/iniwidgets.h"
#include "common/ini.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QUuid>
#include <gtest/gtest.h>

namespace {
// A settings store nobody else uses.
QString privateApp()
{
    return "tests_app_" + QUuid::createUuid().toString(QUuid::Id128);
}
} // namespace

TEST(IniWidgets, ValuesRoundTripUnderWindowAndObjectName)
{
    Ini ini("IlvenorTest", privateApp());
    QWidget win;
    win.setObjectName("FrmX");
    auto *e = new QLineEdit(&win);
    e->setObjectName("eName");
    auto *cb = new QComboBox(&win);
    cb->setObjectName("cbKind");
    cb->addItems({"Type", "Sequence", "FeedRate"});
    auto *d = new QDoubleSpinBox(&win);
    d->setObjectName("seSize");
    auto *i = new QSpinBox(&win);
    i->setObjectName("seCount");
    auto *ch = new QCheckBox(&win);
    ch->setObjectName("chOn");
    auto *sl = new QSlider(&win);
    sl->setObjectName("slZoom");
    sl->setRange(0, 100);
    QList<QWidget *> all{e, cb, d, i, ch, sl, nullptr};

    e->setText("hello");
    cb->setCurrentIndex(2);
    d->setValue(2.25);
    i->setValue(7);
    ch->setChecked(true);
    sl->setValue(33);
    storeWidgets(ini, all);
    EXPECT_EQ(ini.getString("FrmX.eName"), "hello");
    EXPECT_EQ(ini.getInt("FrmX.chOn"), 1);

    e->setText("x");
    cb->setCurrentIndex(0);
    d->setValue(0);
    i->setValue(0);
    ch->setChecked(false);
    sl->setValue(0);
    loadWidgets(ini, all);
    EXPECT_EQ(e->text(), "hello");
    EXPECT_EQ(cb->currentText(), "FeedRate");
    EXPECT_DOUBLE_EQ(d->value(), 2.25);
    EXPECT_EQ(i->value(), 7);
    EXPECT_TRUE(ch->isChecked());
    EXPECT_EQ(sl->value(), 33);

    // A key never stored leaves the widget as it is.
    auto *fresh = new QSpinBox(&win);
    fresh->setObjectName("seNew");
    fresh->setValue(5);
    ioWidget(ini, fresh, true);
    EXPECT_EQ(fresh->value(), 5);

    QLabel label(&win);
    label.setObjectName("lInfo");
    try {
        ioWidget(ini, &label, false);
        FAIL() << "no exception";
    } catch (const QString &msg) {
        EXPECT_EQ(msg, "unhandled type in INI operation: QLabel");
    }
}

TEST(IniWidgets, WindowGeometryOnlyWhenStored)
{
    Ini ini("IlvenorTest", privateApp());
    QWidget w;
    w.setObjectName("FrmY");
    w.setGeometry(10, 20, 300, 200);
    restoreWindowGeometry(ini, &w); // nothing stored: stays
    EXPECT_EQ(w.geometry(), QRect(10, 20, 300, 200));
    storeWindowGeometry(ini, &w);
    EXPECT_EQ(ini.getInt("FrmY.Width"), 300);
    EXPECT_EQ(ini.getInt("FrmY.Maximized", -1), 0);
    w.setGeometry(0, 0, 50, 50);
    ini.setInt("FrmY.Maximized", 1);
    restoreWindowGeometry(ini, &w);
    EXPECT_EQ(w.geometry(), QRect(10, 20, 300, 200));
    EXPECT_TRUE(w.windowState() & Qt::WindowMaximized);

    // Values from a bigger or vanished monitor are brought onto the screen.
    QWidget v;
    v.setObjectName("FrmZ");
    ini.setInt("FrmZ.Width", 2000000000);
    ini.setInt("FrmZ.Height", 300);
    ini.setInt("FrmZ.PosX", -900000);
    ini.setInt("FrmZ.PosY", 50);
    restoreWindowGeometry(ini, &v);
    QRect avail = QGuiApplication::primaryScreen()->availableVirtualGeometry();
    EXPECT_LE(v.geometry().width(), avail.width());
    EXPECT_TRUE(avail.contains(v.geometry().center()));
}
