#include "iniwidgets.h"

#include "common/ini.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVariant>
#include <QWidget>

QString widgetKey(const QWidget *w)
{
    if (!w->parentWidget())
        return w->objectName();
    return w->window()->objectName() + "." + w->objectName();
}

void ioWidget(Ini &ini, QWidget *w, bool load)
{
    if (!w)
        return;
    const QString cls = w->metaObject()->className();
    const QString key = widgetKey(w);
    const char *prop = nullptr;
    enum { Str, Dbl, Int } kind;
    if (cls == "QLineEdit") {
        prop = "text"; kind = Str;
    } else if (cls == "QComboBox") {
        prop = "currentText"; kind = Str;
    } else if (cls == "QDoubleSpinBox" || cls == "QSlider") {
        prop = "value"; kind = Dbl;
    } else if (cls == "QSpinBox") {
        prop = "value"; kind = Int;
    } else if (cls == "QCheckBox" || cls == "QRadioButton" || cls == "QGroupBox") {
        prop = "checked"; kind = Int;
    } else {
        throw QString("unhandled type in INI operation: ") + cls;
    }
    QVariant cur = w->property(prop);
    if (load) {
        QVariant v;
        if (kind == Str)
            v = ini.getString(key, cur.toString());
        else if (kind == Dbl)
            v = ini.getDouble(key, cur.toDouble());
        else
            v = ini.getInt(key, cur.toInt());
        if (cur.type() == QVariant::Bool)
            v = v.toInt() != 0;
        else if (cur.type() == QVariant::Int)
            v = qRound(v.toDouble());
        w->setProperty(prop, v);
    } else {
        if (kind == Str)
            ini.setString(key, cur.toString());
        else if (kind == Dbl)
            ini.setDouble(key, cur.toDouble());
        else
            ini.setInt(key, cur.toInt());
    }
}

void storeWidgets(Ini &ini, const QList<QWidget *> &widgets)
{
    for (QWidget *w : widgets)
        ioWidget(ini, w, false);
}

void loadWidgets(Ini &ini, const QList<QWidget *> &widgets)
{
    for (QWidget *w : widgets)
        ioWidget(ini, w, true);
}

void storeWindowGeometry(Ini &ini, QWidget *window)
{
    const QString p = window->objectName() + ".";
    bool maximized = window->isMaximized();
    if (!maximized) {
        QRect g = window->geometry();
        ini.setInt(p + "PosX", g.left());
        ini.setInt(p + "PosY", g.top());
        ini.setInt(p + "Width", g.width());
        ini.setInt(p + "Height", g.height());
    }
    ini.setInt(p + "Maximized", maximized ? 1 : 0);
}

void restoreWindowGeometry(Ini &ini, QWidget *window)
{
    const QString p = window->objectName() + ".";
    if (ini.getInt(p + "Width", 0) <= 0)
        return;
    QRect g = window->geometry();
    int h = ini.getInt(p + "Height", g.height());
    int w = ini.getInt(p + "Width", g.width());
    int y = ini.getInt(p + "PosY", g.top());
    int x = ini.getInt(p + "PosX", g.left());
    // Stored values may be anything: keep the window on a screen that exists
    // now and no larger than it.
    QRect r(x, y, std::max(w, 1), std::max(h, 1));
    if (QScreen *primary = QGuiApplication::primaryScreen()) {
        QRect avail = primary->availableVirtualGeometry();
        r.setWidth(std::min(r.width(), avail.width()));
        r.setHeight(std::min(r.height(), avail.height()));
        if (!QGuiApplication::screenAt(r.center()))
            r.moveTopLeft(avail.topLeft());
    }
    window->setGeometry(r);
    if (ini.getInt(p + "Maximized", 0) != 0)
        window->setWindowState(window->windowState() | Qt::WindowMaximized);
}
