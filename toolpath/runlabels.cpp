#include "toolpath/runlabels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

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
    // Union-find in the runs' label fields: a run's parent is never after
    // it (unions hang the later root under the earlier one), so the root of
    // an area is its first run in scan order.
    const int *const rowStart = m_rowStart.constData();
    Run *const r = runs.data();
    const int n = int(runs.size());
    for (int i = 0; i < n; ++i)
        r[i].label = i;
    auto root = [r](int i) {
        while (r[i].label != i) {
            r[i].label = r[r[i].label].label;
            i = r[i].label;
        }
        return i;
    };
    for (int y = 1; y < m_height; ++y) {
        int scan = rowStart[y - 1];
        const int prevEnd = rowStart[y];
        for (int id = rowStart[y]; id < rowStart[y + 1]; ++id) {
            const int x0 = r[id].x0, x1 = r[id].x1;
            // Runs of the row above touching [x0 - 1, x1] (8-connected).
            while (scan < prevEnd && r[scan].x1 < x0)
                ++scan;
            for (int j = scan; j < prevEnd && r[j].x0 <= x1; ++j) {
                const int a = root(id), b = root(j);
                if (a != b)
                    r[std::max(a, b)].label = std::min(a, b);
            }
        }
    }
    // In run order every parent is labelled before its children: an area
    // takes the next number at its first run.
    for (int i = 0; i < n; ++i) {
        const int p = r[i].label;
        r[i].label = p == i ? m_count++ : r[p].label;
    }
    m_runs.resize(n);
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
