// tessavo-cli layers: every layer's raster mask as a PNG, cut and filled the
// way the slicer does it.
#include "cli/commands.h"
#include "cli/inputs.h"
#include "common/utils.h"
#include "params/slicerparams.h"
#include "scene/project.h"
#include "driver/layerraster.h"
#include "driver/slicefaces.h"
#include "gcode/paramcheck.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <cstdio>

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
    const SliceFrame frame = SliceFaces(project, 0, 1000, params.LayerHeight, params.FirstLayerHeight,
                                        project.minBarWidth() * 1.1f, 0.5f, layers);
    const LayerGrid grid = layerGrid(frame.rect, params.ExtrusionWidth);
    const double pixelArea = double(grid.pitchX) * grid.pitchY;
    QImage img(grid.width, grid.height, QImage::Format_Grayscale8);
    QVector<int> segCounts;
    for (const SliceLayer &l : layers)
        segCounts << l.segs.size();
    rasterizeLayers(layers, grid, params.PolyFillerAlg, [&](SliceLayer &layer, const Plane8 &, const Plane1 &mask, bool repaired) {
        // The slicer's layer mask: set = outside.
        long long inside = 0;
        for (int y = 0; y < grid.height; ++y) {
            uchar *line = img.scanLine(grid.height - 1 - y);
            for (int x = 0; x < grid.width; ++x) {
                const bool in = !mask.pixel(x, y);
                line[x] = in ? 255 : 0;
                inside += in;
            }
        }
        const QString file = QDir(outDir).filePath(QString("%1.png").arg(layer.index));
        // Encoded in memory and written through writeFile: QImage::save
        // reported success for PNGs a full disk had left empty.
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!img.save(&buffer, "PNG"))
            throw QString("Cannot encode %1").arg(file);
        writeFile(file, png);
        std::printf("layer %d z=%.3f segments=%d repaired=%s area=%.3f\n", layer.index,
                    double(layer.z), segCounts[layer.index], repaired ? "yes" : "no",
                    double(inside) * pixelArea);
    });
    std::fflush(stdout);
    return 0;
}

const CliRegistrar reg({"layers", kHelp, run});

} // namespace
