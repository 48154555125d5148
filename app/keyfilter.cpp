#include "keyfilter.h"

#include "app/frmmain.h"
#include "view/glviewer.h"

#include <QKeyEvent>
#include <QKeySequence>

QString KeyFilter::keyName(const QKeyEvent *e)
{
    return QKeySequence(int(e->modifiers()) + e->key()).toString(QKeySequence::PortableText);
}

bool KeyFilter::staysWithWidget(const QString &cls, const QString &key)
{
    static const QString editKeys =
        " 0 1 2 3 4 5 6 7 8 9 + - , . Space Num0 Num1 Num2 Num3 Num4 Num5 Num6 Num7 Num8 Num9 Left Right Up "
        "Down PgUp PgDown Home End Ins Del Shift+Del Ctrl+Ins Shift+Home Shift+End Ctrl+X Ctrl+C Ctrl+V Ctrl+A";
    static const QString moveKeys = " Space Left Right Up Down PgUp PgDown Home End Ins Del Shift+Del Ctrl+Ins";
    const QString framed = " " + key + " ";
    if (cls == "QDoubleSpinBox" || cls == "QSpinBox")
        return (editKeys + " ").contains(framed);
    if (cls == "QComboBox" || cls == "QSlider" || cls == "QCheckBox" || cls == "QPushButton" || cls == "QListView")
        return (moveKeys + " ").contains(framed);
    return false;
}

bool KeyFilter::eventFilter(QObject *object, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !m_window->isActiveWindow())
        return false;
    const QString cls = object->metaObject()->className();
    if (cls == "QWidgetWindow" || cls == "QWidget" || cls == m_window->metaObject()->className())
        return false;
    auto *e = static_cast<QKeyEvent *>(event);
    const QString key = keyName(e);
    if (object == m_window->viewer())
        return m_window->handleKeyPress(key);
    if (staysWithWidget(cls, key))
        return false;
    return m_window->handleKeyPress(key);
}
