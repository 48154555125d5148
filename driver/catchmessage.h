#pragma once
// An exception must not leave an OpenMP region (the process would end): the
// parallel stages run each layer's work through catchMessage and throw the
// lowest failing layer's message after the join, so the message never
// depends on thread timing.
#include <QString>

#include <exception>

// Runs f(); returns false with `message` set when it threw.
template <class F>
bool catchMessage(F &&f, QString &message)
{
    try {
        f();
        return true;
    } catch (const QString &e) {
        message = e;
    } catch (const char *e) {
        message = QString::fromUtf8(e);
    } catch (const std::exception &e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
        message = QStringLiteral("unknown exception type");
    }
    return false;
}
