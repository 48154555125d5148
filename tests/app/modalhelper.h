#pragma once
// Helpers for driving modal dialogs in GUI tests: run the event loop until a
// condition holds, and answer whatever modal window comes up.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>

// Runs events until `done` holds (true) or `ms` passed (false; true without `done`).
inline bool pumpEvents(int ms, const std::function<bool()> &done = {})
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

// While alive, answers every message box with `button` (recording its text)
// and hands any other modal window to `other`.
class ModalResponder {
public:
    explicit ModalResponder(QMessageBox::StandardButton button = QMessageBox::Ok,
                            std::function<void(QWidget *)> other = {})
        : m_button(button), m_other(std::move(other))
    {
        QObject::connect(&m_poll, &QTimer::timeout, [this] { poll(); });
        m_poll.start(20);
    }
    void setButton(QMessageBox::StandardButton b) { m_button = b; }
    QStringList texts;

private:
    void poll()
    {
        QWidget *w = QApplication::activeModalWidget();
        if (!w)
            m_handled = nullptr; // the same dialog may come up again later
        if (!w || w == m_handled)
            return;
        if (auto *box = qobject_cast<QMessageBox *>(w)) {
            texts << box->text();
            m_handled = w;
            QAbstractButton *b = box->button(m_button);
            if (!b)
                b = box->buttons().value(0);
            b->click();
        } else if (m_other) {
            m_handled = w;
            m_other(w);
        }
    }

    QTimer m_poll;
    QMessageBox::StandardButton m_button;
    std::function<void(QWidget *)> m_other;
    QPointer<QWidget> m_handled;
};
