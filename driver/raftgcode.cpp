#include "driver/raftgcode.h"

#include "gcode/gcodewriter.h"

QByteArray raftGCode(const SlicerParams &sp, const RaftResult &raft, const LayerGrid &grid,
                     const BuildVolume &volume)
{
    QByteArray text;
    for (const RaftLayer &layer : raft.layers) {
        SlicerParams layerParams = sp;
        layerParams.FirstLayerHeight = layer.layerHeight;
        text += "\r\n";
        text += writeLayerGCode(layerParams, 0, layer.layerHeight, layer.paths, grid, volume, layer.zOffset);
        text += "\r\n";
    }
    return text;
}
