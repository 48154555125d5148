#pragma once
// The application object: the last catch site for exceptions thrown while an
// event is handled, and the dark look every widget shares.
#include <QApplication>

class QMyApp : public QApplication {
public:
    QMyApp(int &argc, char **argv) : QApplication(argc, argv) {}
    // Forwards; an exception is shown by handleException and the event counts
    // as not handled.
    bool notify(QObject *receiver, QEvent *event) override;
};

// "### EXCEPTION: " + message to the debug log and a critical box "EXCEPTION : %1".
void handleException(const QString &message);
// Message text of the exception in flight (call inside a catch block):
// char strings and QString as they are, std::exception's what(), else
// "unknown exception type".
QString currentExceptionText();

// Style "Fusion", the dark palette and the tooltip style sheet.
void applyDarkLook(QApplication &app);
