#pragma once
// Connected areas of a bit plane, found on horizontal runs of pixels (memory
// grows with the number of runs, not with the plane's area). 8-connected.
// Used to tell which island a path lies in and whether two points can be
// joined by a travel that stays inside a mask.
#include "raster/plane1.h"

#include <QVector>

class RunLabels {
public:
    RunLabels() = default;
    // Labels the pixels whose bit equals `value`. Labels are 0 .. count()-1,
    // numbered in scan order of each area's first run (top row first, then
    // left to right), so they do not depend on anything but the plane.
    RunLabels(const Plane1 &plane, bool value);

    // Label of pixel (x, y), or -1 when the pixel is outside the plane or
    // does not have the labelled value.
    int label(int x, int y) const;
    // Label of the pixel containing the raster point (x, y) (pixel index =
    // floor of the coordinate).
    int labelAt(float x, float y) const;
    int count() const { return m_count; }
    int width() const { return m_width; }
    int height() const { return m_height; }

private:
    struct Run {
        int x0, x1; // [x0, x1)
        int label;
    };
    QVector<Run> m_runs;
    QVector<int> m_rowStart; // index of each row's first run; height + 1 entries
    int m_width = 0, m_height = 0, m_count = 0;
};
