#include "app/qmyapp.h"

#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace {
QStringList g_log;
void captureLog(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    g_log << msg;
}

struct Thrower : QObject {
    std::function<void()> fn;
    bool event(QEvent *) override
    {
        fn();
        return true;
    }
};
} // namespace

TEST(QMyApp, ExceptionInAnEventIsLoggedShownAndTheProgramRunsOn)
{
    struct Case {
        std::function<void()> fn;
        QString text;
    } cases[] = {
        {[] { throw "plain text"; }, "plain text"},
        {[] { throw QString("qt %1").arg(5); }, "qt 5"},
        {[] { throw 3.5; }, "unknown exception type"},
    };
    auto *app = static_cast<QMyApp *>(QCoreApplication::instance());
    for (const Case &c : cases) {
        g_log.clear();
        QString boxText;
        // Answer the critical box as a user would.
        QTimer::singleShot(100, [&boxText] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                boxText = box->text();
                box->accept();
            }
        });
        Thrower t;
        t.fn = c.fn;
        QEvent e(QEvent::User);
        QtMessageHandler old = qInstallMessageHandler(captureLog);
        bool handled = app->notify(&t, &e);
        qInstallMessageHandler(old);
        EXPECT_FALSE(handled);
        EXPECT_EQ(boxText, "EXCEPTION : " + c.text);
        EXPECT_TRUE(g_log.join("\n").contains("### EXCEPTION: " + c.text)) << g_log.join("\n").toStdString();
    }
}
