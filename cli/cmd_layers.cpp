// tessavo-cli layers: every layer's raster mask as a PNG, cut and filled the
// way the slicer does it.
#include "cli/commands.h"
#include "cli/inputs.h"
#include "common/graypng.h"
#include "common/utils.h"
#include "params/slicerparams.h"
#include "scene/project.h"
#include "driver/cutlayers.h"
#include "driver/slicefaces.h"
#include "gcode/paramcheck.h"

#include <QDir>
#include <omp.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const char *kHelp =
    "Usage: tessavo-cli layers INPUT... --out DIR [--set Key=Value]...\n"
    "\n"
    "Cuts the scene into layers and writes each layer's raster mask as\n"
    "DIR/<layer index>.png (inside white, +Y of the layer up). INPUT is one\n"
    ".tvprj or any number of .stl/.obj files laid side by side.\n"
    "Prints one line per layer: index, z (mm), segment count, whether the\n"
    "cross-section needed repair, and the inside area (mm2).\n"
    "\n"
    "  --out DIR          folder for the images (created when missing)\n"
    "  --set Key=Value    overrides a slicer parameter (repeatable)\n";

// One layer's mask (set = outside) as DIR/<index>.png, and its line.
void writeLayer(const QString &outDir, const SliceLayer &layer, const CutLayer &cut, int segCount,
                double pixelArea, int width, int height, std::vector<unsigned char> &img)
{
    long long inside = 0;
    for (int y = 0; y < height; ++y) {
        unsigned char *line = img.data() + size_t(height - 1 - y) * width;
        for (int x = 0; x < width; ++x) {
            const bool in = !cut.mask.pixel(x, y);
            line[x] = in ? 255 : 0;
            inside += in;
        }
    }
    const QString file = QDir(outDir).filePath(QString("%1.png").arg(layer.index));
    // Encoded in memory and written through writeFile, which reports a
    // full disk instead of leaving an empty file behind.
    const QByteArray png = encodeGrayPng(img.data(), width, height);
    if (png.isEmpty())
        throw QString("Cannot encode %1").arg(file);
    writeFile(file, png);
    std::printf("layer %d z=%.3f segments=%d repaired=%s area=%.3f\n", layer.index, double(layer.z),
                segCount, cut.repaired ? "yes" : "no", double(inside) * pixelArea);
}

int run(const QStringList &argsIn)
{
    QStringList args = argsIn;
    const QString outDir = takeSingleOption(args, "--out");
    SlicerParams params;
    applySets(params, takeOption(args, "--set"));
    validateParams(params); // the bounds the slicer holds every job to
    rejectUnknownOptions(args);
    if (outDir.isEmpty())
        throw QString("layers: --out DIR is required");
    if (!QDir().mkpath(outDir))
        throw QString("Cannot create folder %1").arg(outDir);

    Project project;
    loadInputs(project, args);

    QVector<SliceLayer> layers;
    const SliceFrame frame = SliceFaces(project, params, layers);
    const LayerGrid grid = layerGrid(frame.rect, params.ExtrusionWidth);
    const double pixelArea = double(grid.pitchX) * grid.pitchY;
    std::vector<unsigned char> img(size_t(grid.width) * size_t(grid.height));
    QVector<int> segCounts;
    for (const SliceLayer &l : layers)
        segCounts << l.segs.size();
    // The slicer's cut, a few layers per thread at a time.
    CutState state;
    const int chunk = 4 * std::max(1, omp_get_max_threads());
    for (int first = 0; first < layers.size(); first += chunk) {
        const QVector<CutLayer> cuts =
            cutLayers(grid, params, layers, first, std::min(chunk, layers.size() - first), state);
        for (int k = 0; k < cuts.size(); ++k)
            writeLayer(outDir, layers[first + k], cuts[k], segCounts[first + k], pixelArea, grid.width,
                       grid.height, img);
    }
    std::fflush(stdout);
    return 0;
}

const CliRegistrar reg({"layers", kHelp, run});

} // namespace
