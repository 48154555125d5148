// tessavo-cli stats: parse and simulate a G-code file, print its statistics.
#include "cli/commands.h"
#include "cli/inputs.h"
#include "gcode/gcodesim.h"

#include <cstdio>

namespace {

const char kHelp[] =
    "Usage: tessavo-cli stats FILE.gcode [--prices TEXT]\n"
    "\n"
    "FILE may be a pipe or FIFO, or \"-\" for standard input.\n"
    "Parses and simulates FILE and prints the print statistics (time, finish,\n"
    "filament length, travel share, filament cost per price entry), the layer\n"
    "and move counts, and the first error the parser ignored, if any.\n"
    "\n"
    "  --prices TEXT   price list, currency per metre of filament\n"
    "                  (default \"PLA=0.091; ABS=0.075\")\n";

int runStats(const QStringList &args)
{
    QString file;
    QString prices = QString::fromLatin1(kDefaultFilamentPrices);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--prices") {
            if (i + 1 >= args.size())
                throw QString("stats: --prices needs a value");
            prices = args[++i];
        } else if (args[i].startsWith("--")) {
            throw QString("stats: unknown option '%1'").arg(args[i]);
        } else if (file.isEmpty()) {
            file = args[i];
        } else {
            throw QString("stats: only one file, got '%1' too").arg(args[i]);
        }
    }
    if (file.isEmpty())
        throw QString("stats: no G-code file given (see --help)");

    GCodeSim sim;
    // Only totals are printed: counting mode keeps neither the text nor the
    // records, so a file of any size is read in constant memory.
    sim.setKeepRecords(false);
    // In pieces as they arrive, as the preview reads a slicing run; the
    // result is the same as one whole load. "-" is standard input.
    readInputChunks(file, kMaxInputFileSize, [&sim](const QByteArray &chunk) {
        if (sim.rejected().isEmpty())
            sim.append(chunk);
    });
    sim.finish();
    if (!sim.rejected().isEmpty())
        throw QString("stats: '%1': %2").arg(file, sim.rejected());

    QString text = sim.statsText(true, prices);
    text.replace("\r\n", "\n");
    std::printf("%s\n", qPrintable(text));
    std::printf("Layers: %d\n", sim.layerCount());
    std::printf("Moves: %zu\n", sim.moveCount());
    if (sim.parser().hasError())
        std::printf("There was an ignored error in the gcode:\n%s\n",
                    qPrintable(sim.parser().firstError()));
    return 0;
}

const CliRegistrar reg({"stats", kHelp, &runStats});

} // namespace
