#pragma once
// Connected areas of a bit plane, found on horizontal runs of pixels (memory
// grows with the number of runs, not with the plane's area). 8-connected.
// Used to tell which island a path lies in and whether two points can be
// joined by a travel that stays inside a mask.
#include "raster/plane1.h"

#include <QVector>

#include <vector>

class RunLabels {
public:
    struct Run {
        int x0, x1; // [x0, x1)
        int label;
    };

    RunLabels() = default;
    // Labels the pixels whose bit equals `value`. Labels are 0 .. count()-1,
    // numbered in scan order of each area's first run (top row first, then
    // left to right), so they do not depend on anything but the plane.
    RunLabels(const Plane1 &plane, bool value);
    // The same for a plane given as its runs: row y's are runs[rowStart[y]]
    // .. runs[rowStart[y + 1] - 1], left to right, each as long as it goes
    // (no two touch); rowStart has height + 1 entries. Labels are ignored.
    RunLabels(int width, int height, std::vector<Run> runs, const std::vector<int> &rowStart);

    // Row y's runs are run(rowBegin(y)) .. run(rowBegin(y + 1) - 1).
    int rowBegin(int y) const { return m_rowStart[y]; }
    const Run &run(int i) const { return m_runs[i]; }

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
    // Joins touching runs of neighbouring rows (m_rowStart set) and numbers
    // the areas; moves the runs into m_runs.
    void labelRuns(std::vector<Run> &runs);

    QVector<Run> m_runs;
    QVector<int> m_rowStart; // index of each row's first run; height + 1 entries
    int m_width = 0, m_height = 0, m_count = 0;
};
