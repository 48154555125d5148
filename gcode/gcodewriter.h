#pragma once
// The G-code writer: one layer's ordered path list -> G-code text, plus the
// file header and footer blocks. Every line it composes ends with "\r\n".
//
// Pure functions of their inputs; writeLayerGCode is safe to call for
// different layers on different threads at once. Parameters are expected to
// have passed validateParams (gcode/paramcheck.h): nothing here checks
// them again. Path vertices that map to non-finite or absurd machine
// coordinates (beyond 1 km) are left out rather than written.
#include "params/slicerparams.h"
#include "gcode/gcodetransform.h"
#include "geometry/polyline.h"

#include <QByteArray>

// Coordinates, Z and E: rounded half up to thousandths in float arithmetic,
// always three decimals ("12.500", "0.000", "-0.250"). Appends to `out`.
void appendFixed3(QByteArray &out, float v);
QByteArray formatFixed3(float v);

// Fan value of layer `layer` (0-based): first layer, second layer, a linear
// ramp up to layer FanN, then the Nth-layer value.
int fanValue(const SlicerParams &sp, int layer);

// Speed factor of the initial layers: InitialLayerSpeed at layer 0 rising
// linearly to 1.0 at layer InitialLayerCnt.
float initialLayerSpeedFactor(const SlicerParams &sp, int layer);

// User script text: with any LF, CRs are dropped; otherwise CRs become LFs.
// Then every LF becomes CR LF.
QByteArray normalizeLineEnds(const QByteArray &text);

// One layer's G-code. `layerIndex` counts object layers from 0 (raft layers
// are written as layer 0); `layerZ` is the layer's print height in mm as its
// record holds it (SliceLayer::printZ; a raft layer's own height); the head
// prints at layerZ + zOffset + ZAdjust. Paths are in the job's raster
// `grid` (its pitch and origin place them on the bed of `volume`, its pixel
// factor sizes the beads); `zOffset` is the raft height below the object in
// mm (0 without raft). An empty path list gives an empty text.
QByteArray writeLayerGCode(const SlicerParams &sp, int layerIndex, float layerZ, const PathList &paths,
                           const LayerGrid &grid, const BuildVolume &volume, float zOffset);

// User header, bed and head temperature commands, then the raft text.
QByteArray gcodeHeaderBlock(const SlicerParams &sp, const QByteArray &raftText);
// User footer, heater and fan shut-down, and the ";Tessavo_Settings=" line
// (Base64 of qCompress(parameter text, 9)).
QByteArray gcodeFooterBlock(const SlicerParams &sp);

// File assembly: the prefix goes before layer 0's text, the suffix after the
// last layer's (a one-layer job gets both); layer texts join with nothing.
QByteArray gcodeFilePrefix(const SlicerParams &sp, const QByteArray &raftText);
QByteArray gcodeFileSuffix(const SlicerParams &sp);
QByteArray assembleGCode(const SlicerParams &sp, const QByteArray &raftText,
                         const QList<QByteArray> &layerTexts);
