#include "qmyapp.h"

#include <QDebug>
#include <QMessageBox>
#include <QPalette>
#include <QStyleFactory>
#include <exception>

QString currentExceptionText()
{
    try {
        throw;
    } catch (const char *e) {
        return QString::fromUtf8(e);
    } catch (const QString &e) {
        return e;
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return "unknown exception type";
    }
}

void handleException(const QString &message)
{
    qDebug() << Q_FUNC_INFO << "main" << ("### EXCEPTION: " + message);
    QMessageBox box(QMessageBox::Critical, QString(), QString("EXCEPTION : %1").arg(message));
    box.exec();
}

bool QMyApp::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        handleException(currentExceptionText());
    }
    return false;
}

void applyDarkLook(QApplication &app)
{
    app.setStyle(QStyleFactory::create("Fusion"));
    QPalette p;
    p.setColor(QPalette::Window, QColor(53, 53, 53));
    p.setColor(QPalette::WindowText, Qt::white);
    p.setColor(QPalette::Base, QColor(25, 25, 25));
    p.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
    p.setColor(QPalette::ToolTipBase, Qt::white);
    p.setColor(QPalette::ToolTipText, Qt::white);
    p.setColor(QPalette::Text, Qt::white);
    p.setColor(QPalette::Button, QColor(53, 53, 53));
    p.setColor(QPalette::ButtonText, Qt::white);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Link, QColor(42, 130, 218));
    p.setColor(QPalette::Highlight, QColor(42, 130, 218));
    p.setColor(QPalette::HighlightedText, Qt::black);
    // Without these a disabled button reads exactly like an enabled one.
    const QColor dim(120, 120, 120);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, dim);
    p.setColor(QPalette::Disabled, QPalette::WindowText, dim);
    p.setColor(QPalette::Disabled, QPalette::Text, dim);
    app.setPalette(p);
    app.setStyleSheet("QToolTip { color: #ffffff; background-color: #2a82da; border: 1px solid white; }");
}
