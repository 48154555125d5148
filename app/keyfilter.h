#pragma once
// Application-wide key routing: keys that edit a focused field stay with it,
// every other key press in the main window goes to its keyboard map.
#include <QObject>
#include <QString>

class FrmMain;
class QKeyEvent;

class KeyFilter : public QObject {
    Q_OBJECT
public:
    explicit KeyFilter(FrmMain *window, QObject *parent = nullptr) : QObject(parent), m_window(window) {}
    bool eventFilter(QObject *object, QEvent *event) override;

    // "Ctrl+Shift+L", "Num++", "Space", "Del": the portable text of the key
    // with its modifiers.
    static QString keyName(const QKeyEvent *e);
    // Whether a key press stays with a receiver of class `className`.
    static bool staysWithWidget(const QString &className, const QString &keyName);

private:
    FrmMain *m_window;
};
