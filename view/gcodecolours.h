#pragma once
// How the G-code preview cuts a layer's move records into runs that draw as
// one polyline in one colour, and which colour each colouring mode gives.
// Colour values are packed 0xAABBGGRR (red in the lowest byte), as
// red + 256·green + 65536·blue + 16777216·alpha. Pure functions and palettes:
// no GL, usable from tests.
#include "gcode/gcodesim.h"

#include <QImage>
#include <QVector>
#include <cstdint>

// The "Coloring by" list's index + 1.
enum GCodeColourMode { CM_Type = 1, CM_Sequence = 2, CM_FeedRate = 3, CM_Extrusion = 4, CM_Direction = 5 };

constexpr std::uint32_t kTravelColour = 0xccff00;
constexpr std::uint32_t kRetractColour = 0xff8800; // also counts as travel when drawn
constexpr std::uint32_t kHighlightGrey = 0x505050;
constexpr std::uint32_t kWhite = 0xffffff;

// Colour of segment type 0..11 (SegType); white for anything else.
std::uint32_t segTypeColour(int segType);
bool isTravelColour(std::uint32_t colour);

// The run being scanned. `start` is set when the next record begins a run.
struct GroupState {
    int mode = CM_Type;
    bool start = true;
    bool travel = false;
    std::uint32_t colour = 0;
    int counter = 0; // runs begun so far (Sequence mode)
};

// Colour of the move from `prev` to `rec`: travel colour when E does not rise,
// else by the state's mode.
std::uint32_t recordColour(const GroupState &state, const GCodeMove &prev, const GCodeMove &rec);

// True when `rec` joins the current run (or begins it, which fixes the run's
// travel flag and colour and counts it). False breaks the run: travel/extrusion
// change, Z or segment type change, an XY move of 0.01 mm or less, or (FeedRate,
// Extrusion, Direction) another colour.
bool continuesGroup(GroupState &state, const GCodeMove &prev, const GCodeMove &rec);

// n colours around the hue circle, starting at hue 10°, darkened to 160/256,
// alpha 0.
QVector<std::uint32_t> huePalette(int n);
// The 24-entry direction palette and the 8-entry sequence palette (made once).
const QVector<std::uint32_t> &directionPalette();
const QVector<std::uint32_t> &sequencePalette();

// Colour scales from the image "heatPalette.png": nine rows of 64 entries.
class HeatPalette {
public:
    enum { Width = 64, Rows = 9 };
    // Throws QString "HeatPal: incompatible image" unless the image is exactly 64 × 9.
    void setImage(const QImage &image);
    // Loads "heatPalette.png" through the resource lookup (a file beside the
    // executable overrides the built-in one) unless an image is set already.
    void ensureLoaded();
    bool loaded() const { return !m_entries.isEmpty(); }
    // The row in use, clamped to 0..8.
    void setRow(int row);
    int row() const { return m_row; }
    std::uint32_t entry(int index) const; // index 0..63 of the active row

    static HeatPalette &instance();

private:
    QVector<std::uint32_t> m_entries; // Rows × Width, row-major
    int m_row = 0;
};

// Entry ⌊64·t⌋ with its lowest bit cleared of the active heat row, t clamped
// to 0..0.999 (NaN counts as 0). Loads the palette on first use.
std::uint32_t heatColour(float t);

// 0xAABBGGRR from a QColor and back (alpha kept).
std::uint32_t packColour(const QColor &c);
QColor unpackColour(std::uint32_t c);
