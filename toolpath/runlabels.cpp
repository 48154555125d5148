#include "toolpath/runlabels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

int findRoot(std::vector<int> &parent, int i)
{
    while (parent[i] != i) {
        parent[i] = parent[parent[i]];
        i = parent[i];
    }
    return i;
}

} // namespace

RunLabels::RunLabels(const Plane1 &plane, bool value)
    : m_width(plane.width), m_height(plane.height)
{
    m_rowStart.resize(m_height + 1);
    // Plain vectors while labelling: a QVector's every write checks for
    // sharing first.
    std::vector<Run> runs;
    int *const rowStart = m_rowStart.data();
    const int stride = plane.stride();
    const int words = (m_width + 63) / 64;
    std::vector<quint64> bits(size_t(words) + 1, 0);
    for (int y = 0; y < m_height; ++y) {
        rowStart[y] = int(runs.size());
        // The row as 64-pixel words of "pixel has the value" bits; runs are
        // found a word at a time.
        std::memcpy(bits.data(), plane.row(y), size_t(stride));
        for (int i = 0; i < words; ++i)
            if (!value)
                bits[size_t(i)] = ~bits[size_t(i)];
        if (m_width & 63)
            bits[size_t(words - 1)] &= (quint64(1) << (m_width & 63)) - 1;
        auto findFrom = [&](int i, bool set) -> int {
            int w = i >> 6;
            if (w >= words)
                return m_width;
            quint64 b = (set ? bits[size_t(w)] : ~bits[size_t(w)]) & (~quint64(0) << (i & 63));
            while (!b) {
                if (++w >= words)
                    return m_width;
                b = set ? bits[size_t(w)] : ~bits[size_t(w)];
            }
            return std::min(m_width, w * 64 + __builtin_ctzll(b));
        };
        int x = 0;
        while (x < m_width) {
            x = findFrom(x, true);
            if (x >= m_width)
                break;
            const int x0 = x;
            x = findFrom(x, false);
            runs.push_back({x0, x, 0});
        }
    }
    rowStart[m_height] = int(runs.size());
    labelRuns(runs);
}

RunLabels::RunLabels(int width, int height, std::vector<Run> runs, const std::vector<int> &rowStart)
    : m_width(std::max(width, 0)), m_height(std::max(height, 0))
{
    m_rowStart.resize(m_height + 1);
    std::copy(rowStart.begin(), rowStart.begin() + (m_height + 1), m_rowStart.begin());
    labelRuns(runs);
}

void RunLabels::labelRuns(std::vector<Run> &runs)
{
    const int *const rowStart = m_rowStart.constData();
    std::vector<int> parent(runs.size());
    for (size_t i = 0; i < runs.size(); ++i)
        parent[i] = int(i);
    for (int y = 1; y < m_height; ++y) {
        int scan = rowStart[y - 1];
        const int prevEnd = rowStart[y];
        for (int id = rowStart[y]; id < rowStart[y + 1]; ++id) {
            const int x0 = runs[size_t(id)].x0, x1 = runs[size_t(id)].x1;
            // Runs of the row above touching [x0 - 1, x1] (8-connected).
            while (scan < prevEnd && runs[size_t(scan)].x1 < x0)
                ++scan;
            for (int j = scan; j < prevEnd && runs[size_t(j)].x0 <= x1; ++j) {
                const int a = findRoot(parent, id), b = findRoot(parent, j);
                if (a != b)
                    parent[std::max(a, b)] = std::min(a, b);
            }
        }
    }
    // Roots are the lowest run index of their area, so numbering roots in run
    // order numbers areas by their first run in scan order.
    std::vector<int> rootLabel(runs.size(), -1);
    for (size_t i = 0; i < runs.size(); ++i) {
        const int r = findRoot(parent, int(i));
        if (rootLabel[size_t(r)] < 0)
            rootLabel[size_t(r)] = m_count++;
        runs[i].label = rootLabel[size_t(r)];
    }
    m_runs.resize(int(runs.size()));
    std::copy(runs.begin(), runs.end(), m_runs.begin());
}

int RunLabels::label(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return -1;
    int lo = m_rowStart[y], hi = m_rowStart[y + 1];
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (m_runs[mid].x1 <= x)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < m_rowStart[y + 1] && m_runs[lo].x0 <= x)
        return m_runs[lo].label;
    return -1;
}

int RunLabels::labelAt(float x, float y) const
{
    if (!(x >= 0 && y >= 0 && x < float(m_width) && y < float(m_height)))
        return -1;
    return label(int(std::floor(x)), int(std::floor(y)));
}
