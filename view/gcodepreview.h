#pragma once
// The G-code preview: receives G-code text whole or in pieces (while the
// slicer still runs), keeps the simulated move records and layers, cuts each
// layer into coloured runs ("groups", one GLList_GCode per colour), builds
// their bead geometry lazily within a time budget per paint, and draws the
// chosen layers into the view's main pass; the legend is drawn over the
// frame with QPainter.
//
// Coordinates: records are machine mm (G-code X, Y, Z); drawing maps them into
// the scene (Y up, bed centred) through the build volume. GUI thread only;
// everything that touches GL runs with the view's context current (inside
// the view's draw hook, or releaseGL).
#include "common/buildvolume.h"
#include "gcode/gcodesim.h"
#include "view/gcodecolours.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QVector>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class GLList_GCode;
class GCodeDrawBatch;
class QPainter;

// Cuts away what lies right of X = right, in front of Y = front (machine Y
// below it) or below Z = bottom; each plane only while its "off" flag is clear.
struct GCodeClipBox {
    float right = 0, front = 0, bottom = 0; // machine mm
    bool xOff = true, yOff = true, zOff = true;
    bool operator==(const GCodeClipBox &o) const;
    bool operator!=(const GCodeClipBox &o) const { return !(*this == o); }
};

// One coloured group of a layer: the runs of records [begin, end) drawn as
// polylines (each run's line starts at the record before `begin`).
struct GCodeGroupRuns {
    std::uint32_t colour = 0;
    QVector<GCodeRange> runs;
    bool operator==(const GCodeGroupRuns &o) const;
};

// What decides which records of a layer are drawn.
struct GCodeGroupingInput {
    int mode = CM_Type;
    int recordLimit = 0x7fffffff; // records at or after this index are not drawn (line selection)
    GCodeClipBox clip;
    BuildVolume volume;           // nothing beyond 10 × the volume is drawn
};

// The groups of one layer, keyed by colour, in order of their first run.
QVector<GCodeGroupRuns> groupLayer(const std::vector<GCodeMove> &moves, const GCodeLayer &layer,
                                   const GCodeGroupingInput &in);

// Bead geometry of a group in the G-code vertex format (x, z of the scene,
// code; 12 bytes per vertex): one triangle strip per group, each run a left
// and a right face from the bead's top (code = height × 10000, upward normal)
// down to its sides at the layer plane (code = the outward normal's angle).
// Travel groups give line pairs instead. `height` and `width` in mm.
QVector<float> beadGeometry(const std::vector<GCodeMove> &moves, const GCodeGroupRuns &group,
                            const BuildVolume &volume, float height, float width, bool travel);

class GCodePreview {
public:
    GCodePreview();
    ~GCodePreview();
    GCodePreview(const GCodePreview &) = delete;
    GCodePreview &operator=(const GCodePreview &) = delete;

    // --- text ---
    // Forgets the G-code (GPU lists are released on the next draw) and sets
    // the clipping box.
    void clear(const GCodeClipBox &clip = GCodeClipBox());
    // One piece of a text that keeps coming (slicing); pieces may be cut anywhere.
    void append(const QByteArray &chunk);
    // Replaces what was loaded with the whole text, parsed in pieces of
    // `chunkSize` bytes; `progress(percent)` after each piece (it may process
    // events). Ends finished.
    void loadAll(const QByteArray &text, int chunkSize, const std::function<void(int)> &progress);
    // The text is complete; every line is shown.
    void finish();
    // Shows the layer holding G-code line `line` (0-based) up to that line;
    // returns the layer, or -1 when no record has that line.
    int selectLine(int line);
    // Shows every line again.
    void showAllLines();
    // Records at or after `record` are not drawn (the line slider).
    void setRecordLimit(int record);
    int recordLimit() const { return m_recordLimit; }
    // Index of the k-th record of a layer (in record order), or -1.
    int layerRecord(int layer, int k) const;

    const GCodeSim &sim() const { return m_sim; }
    int layerCount() const { return m_sim.layers().size(); }
    // The parser's first ignored error or why the text was refused; empty when none.
    QString ignoredError() const;
    // Bytes held for records, layers and GPU lists (not the text).
    qint64 memoryBytes() const;

    // --- what is shown (set by the G-code panel) ---
    int colourMode = CM_Type;
    int paletteRow = 0;       // heat palette row 0..8
    int topLayer = 0;         // the layer on show
    bool followTop = true;    // topLayer follows new layers (the slider is at its top)
    int additionalLayers = 0; // layers below it, drawn dimmed
    bool showTravel = false;
    bool showLegend = false;
    bool highlightOn = false;       // one legend colour in colour, the rest grey
    std::uint32_t highlightColour = 0;
    // Additional layers are drawn in their colours at this brightness (0..1);
    // a single forced colour would hide what the layers below are made of.
    float dimFactor = 0.45f;
    float beadWidth = 0.4f;   // mm
    BuildVolume volume;
    GCodeClipBox clipBox() const { return m_clip; }
    void setClipBox(const GCodeClipBox &clip); // redraws what it changes

    // The rebuild budget of one paint (ms).
    int budgetMs = 100;
    // Above 0: a paint draws at most about this many vertices, the top
    // layers first (while a job runs, so that its paints stay short).
    int vertexCap = 0;

    // --- drawing (GL context current) ---
    // Brings layers first..last up to date (groups, geometry, GPU buffers,
    // as their dirty flags ask) and draws them: `last` in its colours, the
    // rest dimmed. Without `unlimited`, stops rebuilding once budgetMs have
    // passed and at least 5 layers were counted; returns true when work
    // remains (the view should paint again).
    bool drawLayers(int first, int last, bool unlimited = false);
    // drawLayers for topLayer and its additional layers.
    bool draw();
    // Releases every GPU list (context current).
    void releaseGL();
    // Vertices drawn by the last draw (for the view's statistics line).
    int lastDrawnVertices() const { return m_drawnVertices; }
    // Layers rebuilt by the last draw.
    int lastRebuiltLayers() const { return m_rebuilt; }

    // Groups of a layer as last built (tests); empty before the first draw.
    QVector<GCodeGroupRuns> builtGroups(int layer) const;

    // --- legend (2D, over the frame) ---
    void paintLegend(QPainter &p, QSize viewSize) const;
    // A click on a legend entry toggles highlighting of its colour; true
    // when the point lies on the legend.
    bool legendClick(QPoint pos);

private:
    struct Group;
    struct Entry;
    struct LegendItem {
        QRect rect;
        std::uint32_t colour;
    };

    void syncEntries();
    void markLimitChange(int oldLimit, int newLimit);
    float layerHeight(int layer) const;
    void rebuild(int layer, Entry &e);
    void drawEntry(int layer, Entry &e, bool dimmed, GCodeDrawBatch &batch);
    QVector<LegendItem> legendItems(QSize viewSize) const;

    GCodeSim m_sim;
    std::vector<std::unique_ptr<Entry>> m_entries;
    // Lists of a cleared preview, released on the next draw (context current).
    std::vector<std::unique_ptr<Entry>> m_retired;
    GCodeClipBox m_clip;
    int m_recordLimit = 0x7fffffff;
    int m_clipStamp = 0;
    int m_drawnVertices = 0;
    int m_rebuilt = 0;
    mutable QSize m_legendViewSize;
};
