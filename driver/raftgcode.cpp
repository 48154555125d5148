#include "driver/raftgcode.h"

#include "gcode/gcodewriter.h"

QByteArray raftGCode(const SlicerParams &sp, const RaftResult &raft, const GCodeTransform &xf,
                     float rasterUnit)
{
    QByteArray text;
    for (const RaftLayer &layer : raft.layers) {
        SlicerParams layerParams = sp;
        layerParams.FirstLayerHeight = layer.layerHeight;
        text += "\r\n";
        text += writeLayerGCode(layerParams, 0, layer.layerHeight, layer.paths, xf, rasterUnit, layer.zOffset);
        text += "\r\n";
    }
    return text;
}
