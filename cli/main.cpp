// tessavo-cli: the slicing engine without a window.
#include "cli/commands.h"
#include "common/ompwait.h"
#include "common/version.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

static const char *kUsage =
    "Usage: tessavo-cli <command> [options]\n"
    "\n"
    "Commands:\n"
    "  slice INPUT... -o OUT.gcode [--params FILE] [--set Key=Value]... [--threads N]\n"
    "                 [--build-volume W,D,H] [--support SIZE,ANGLE]\n"
    "  stats FILE.gcode [--prices TEXT]\n"
    "  info FILE\n"
    "  convert IN OUT [--ascii]\n"
    "  layers INPUT... --out DIR [--set Key=Value]...\n"
    "  print FILE.gcode --port PATH [--baud N]\n"
    "\n"
    "Options:\n"
    "  --help       this text (or a command's own help after the command)\n"
    "  --version    the program's version\n";

// Standard output is buffered: a full disk or a closed pipe shows only when
// it is flushed. A report that did not arrive is a failure.
static int finishOutput(int status)
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "error: cannot write standard output: %s\n", std::strerror(errno));
        return 1;
    }
    return status;
}

int main(int argc, char **argv)
{
    ensurePassiveOmpWait(argv);
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    // A usage error shows the usage where errors go; asked-for help is output.
    if (args.isEmpty()) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::fputs(kUsage, stdout);
        return finishOutput(0);
    }
    if (args[0] == "--version") {
        std::printf("%s\n", TESSAVO_VERSION);
        return finishOutput(0);
    }
    const QString cmd = args.takeFirst();
    try {
        const CliCommand *c = findCliCommand(cmd);
        if (!c) {
            std::fprintf(stderr, "error: unknown command '%s' (see --help)\n", qPrintable(cmd));
            return 1;
        }
        if (args.contains("--help") || args.contains("-h")) {
            std::fputs(c->help, stdout);
            return finishOutput(0);
        }
        return finishOutput(c->run(args));
    } catch (const QString &msg) {
        std::fprintf(stderr, "error: %s\n", qPrintable(msg));
    } catch (const char *msg) {
        std::fprintf(stderr, "error: %s\n", msg);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "error: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "error: unknown exception type\n");
    }
    return 1;
}
