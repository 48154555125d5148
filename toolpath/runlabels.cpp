#include "toolpath/runlabels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

int findRoot(QVector<int> &parent, int i)
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
    QVector<int> parent;
    const int stride = plane.stride();
    const int words = (m_width + 63) / 64;
    std::vector<quint64> bits(size_t(words) + 1, 0);
    for (int y = 0; y < m_height; ++y) {
        m_rowStart[y] = m_runs.size();
        const int prevBegin = y > 0 ? m_rowStart[y - 1] : 0;
        const int prevEnd = m_runs.size();
        int scan = prevBegin;
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
            const int id = m_runs.size();
            m_runs.append({x0, x, id});
            parent.append(id);
            // Runs of the row above touching [x0 - 1, x] (8-connected).
            while (scan < prevEnd && m_runs[scan].x1 < x0)
                ++scan;
            for (int j = scan; j < prevEnd && m_runs[j].x0 <= x; ++j) {
                const int a = findRoot(parent, id), b = findRoot(parent, j);
                if (a != b)
                    parent[std::max(a, b)] = std::min(a, b);
            }
        }
    }
    m_rowStart[m_height] = m_runs.size();
    // Roots are the lowest run index of their area, so numbering roots in run
    // order numbers areas by their first run in scan order.
    QVector<int> rootLabel(m_runs.size(), -1);
    for (int i = 0; i < m_runs.size(); ++i) {
        const int r = findRoot(parent, i);
        if (rootLabel[r] < 0)
            rootLabel[r] = m_count++;
        m_runs[i].label = rootLabel[r];
    }
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
