#pragma once
// Subcommands of tessavo-cli. Each lives in its own cli/cmd_<name>.cpp and
// registers itself with a static CliRegistrar, so adding one touches no other file.
#include <QStringList>

struct CliCommand {
    const char *name;
    const char *help;            // printed for "<command> --help"
    int (*run)(const QStringList &args); // 0 done, 1 bad input/usage; may throw a message
};

const CliCommand *findCliCommand(const QString &name);

struct CliRegistrar {
    explicit CliRegistrar(const CliCommand &c);
};
