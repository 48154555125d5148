#include "cli/commands.h"

#include <vector>

static std::vector<CliCommand> &registry()
{
    static std::vector<CliCommand> r;
    return r;
}

CliRegistrar::CliRegistrar(const CliCommand &c) { registry().push_back(c); }

const CliCommand *findCliCommand(const QString &name)
{
    for (const CliCommand &c : registry())
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}
