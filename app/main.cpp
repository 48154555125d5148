// Entry: hand the file to a running instance, or become the instance.
#include "app/frmmain.h"
#include "app/ipc.h"
#include "app/qmyapp.h"
#include "common/ompwait.h"
#include "common/version.h"

#include <QFileInfo>
#include <QIcon>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_termPipe[2] = {-1, -1};

void onTerm(int)
{
    char c = 1;
    ssize_t r = ::write(g_termPipe[1], &c, 1);
    (void)r;
}

// A termination request from the system (logout, kill) closes the window
// the orderly way, so the last state is stored; nobody is there to answer
// questions then. The handler goes in first; a request that comes before
// the window exists waits in the pipe.
void catchTerm()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_termPipe) != 0)
        return;
    struct sigaction sa = {};
    sa.sa_handler = onTerm;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

void closeOnTerm(FrmMain *w, QObject *owner)
{
    if (g_termPipe[0] < 0)
        return;
    auto *n = new QSocketNotifier(g_termPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(n, &QSocketNotifier::activated, owner, [w, n]() {
        char c;
        ssize_t r = ::read(g_termPipe[0], &c, 1);
        (void)r;
        n->setEnabled(false);
        w->requestClose(false);
    });
}
} // namespace

int main(int argc, char *argv[])
{
    // Answered before anything needs a display or reaches a running instance.
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("Usage: tessavo [file]\n"
                    "Opens the file in the running Tessavo window, or starts one.\n"
                    "  file       a project (.tvprj), a model (.stl, .obj) or G-code (.gcode, .gco, .zcode)\n"
                    "  --help     this text\n"
                    "  --version  the version\n");
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s\n", TESSAVO_VERSION);
        return 0;
    }
    ensurePassiveOmpWait(argv);
    QMyApp app(argc, argv);
    const QString name = ipcServerName(QCoreApplication::applicationName());
    try {
        QString arg = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
        if (ipc_sendMessage(name, "focus")) {
            if (!arg.isEmpty())
                ipc_sendMessage(name, "open " + QFileInfo(arg).absoluteFilePath().toUtf8());
            return 0;
        }
        ipc_startServer(name);
        catchTerm();
        applyDarkLook(app);
        app.setWindowIcon(QIcon(":/res/tessavo.png"));
        std::unique_ptr<FrmMain> w(new FrmMain(arg));
        closeOnTerm(w.get(), w.get());
        w->show();
        int rc = app.exec();
        ipc_stopServer();
        w.reset();
        return rc;
    } catch (...) {
        handleException(currentExceptionText());
        ipc_stopServer();
        return -1;
    }
}
