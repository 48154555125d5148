#pragma once
// Widget persistence on the settings store: a widget's value lives under
// "<top-level object name>.<object name>" (its own name when it has no
// parent); window geometry under "<window name>.PosX" etc.
#include <QList>
#include <QString>

class Ini;
class QWidget;

QString widgetKey(const QWidget *w);
// Stores (load = false) or restores the widget's value; a missing key leaves
// the widget as it is. Throws QString "unhandled type in INI operation: " +
// class name for classes without a rule. A null widget is skipped.
void ioWidget(Ini &ini, QWidget *w, bool load);
void storeWidgets(Ini &ini, const QList<QWidget *> &widgets);
void loadWidgets(Ini &ini, const QList<QWidget *> &widgets);

// Position and size are kept only while not maximized, so a maximized window
// comes back maximized over its normal size.
void storeWindowGeometry(Ini &ini, QWidget *window);
void restoreWindowGeometry(Ini &ini, QWidget *window);
