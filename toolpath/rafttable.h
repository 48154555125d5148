#pragma once
// The raft layer table (`RaftConfig`): a header line naming the columns,
// separated by ";", then one raft layer per line from the bottom up. Cells are
// trimmed and looked up by column name; a missing or unparsable cell takes
// its default. Never throws.
#include <QByteArray>
#include <QVector>

struct RaftRow {
    int type = 0;             // line directions: 0 nothing drawn, 1 lines, 2 square, 3 triangle grid
    float layerHeight = 0;    // mm, 0.03 .. 3.0
    float fillDensity = 0.1f; // fraction, clamped to 0.001 .. 1.0
    int angle = 0;            // whole degrees (reduced modulo 360)
};

// The valid rows, bottom layer first. Rows without a Type in 0 .. 3 or with
// a LayerHeight outside 0.03 .. 3.0 mm are left out.
QVector<RaftRow> parseRaftConfig(const QByteArray &text);
