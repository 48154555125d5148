#include "raster/exactcoverage.h"
#include "raster/rasterkernels.h"
#include "raster/rasterperf.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr int kBandShift = 4; // bands of 16 pixel rows
using rk::ceilInt;
using rk::floorInt; // every value here is inside 2^30 pixels: ends beyond are dropped

// A segment in pixel units; dir +1 when it runs toward larger y.
struct PixSeg {
    double x0, y0, x1, y1; // y0 < y1: the lower end first
    double slope;          // x change per unit of y
    int dir;
};

// One piece of a segment inside one pixel: the signed height it spans
// (cover, the winding it adds to every pixel right of it) and the part of
// that height's band inside this pixel right of the piece (area).
struct Cell {
    int column;
    float area, cover;
};

class BandCells {
public:
    // touched: the band's row of 16-pixel block flags (null: not wanted);
    // a block whose pixel changes gets 1.
    // The cell stores are the thread's, kept from layer to layer (taken on
    // construction, given back on destruction): a store per row and call
    // cost small layers an allocation per row.
    BandCells(int width, int firstRow, uchar *touched = nullptr) : m_w(width), m_row0(firstRow), m_touched(touched)
    {
        Stores &s = stores();
        for (int i = 0; i < (1 << kBandShift); ++i) {
            m_rows[i].swap(s.rows[i]);
            m_rows[i].clear();
            m_rows[i].reserve(16); // room for a row's usual few cells at once
        }
        m_levels.swap(s.levels);
    }
    ~BandCells()
    {
        Stores &s = stores();
        for (int i = 0; i < (1 << kBandShift); ++i)
            m_rows[i].swap(s.rows[i]);
        m_levels.swap(s.levels);
    }
    BandCells(const BandCells &) = delete;
    BandCells &operator=(const BandCells &) = delete;

    // Starts another band with the same width; the cell stores keep their room.
    void reset(int firstRow, uchar *touched)
    {
        m_row0 = firstRow;
        m_touched = touched;
        for (int i = 0; i < (1 << kBandShift); ++i)
            m_rows[i].clear();
    }

    // The parts of g inside pixel rows ra .. rb when g runs along the rows
    // (slope 0): what addRowPiece gives it, one piece a row in one column,
    // without working out the column again in every row.
    void addColumnPieces(const PixSeg &g, int ra, int rb)
    {
        const double x = g.x0; // x0 + (y - y0) * 0, and the mean of two such
        if (x >= m_w)
            return;
        const int c = x < 0 ? -1 : int(x);
        for (int r = ra; r <= rb; ++r) {
            const double ya = std::max(g.y0, double(r)), yb = std::min(g.y1, double(r + 1));
            if (yb > ya)
                add(r - m_row0, c, (yb - ya) * g.dir, x);
        }
    }

    // The part of g inside pixel row r between heights ya < yb.
    void addRowPiece(const PixSeg &g, int r, double ya, double yb)
    {
        const double xa = g.x0 + (ya - g.y0) * g.slope, xb = g.x0 + (yb - g.y0) * g.slope;
        const double dy = (yb - ya) * g.dir;
        const int local = r - m_row0;
        const double lo = std::min(xa, xb), hi = std::max(xa, xb);
        if (lo >= m_w)
            return;
        // Cut the piece at every column border it crosses inside the plane;
        // left of the plane it is one piece (it covers pixel 0 wholly).
        const int k0 = std::max(0, floorInt(lo) + 1), k1 = std::min(m_w, ceilInt(hi) - 1);
        const double span = xb - xa;
        double tPrev = 0, xPrev = xa;
        auto piece = [&](double t, double x) {
            const double mid = 0.5 * (xPrev + x);
            add(local, mid < 0 ? -1 : int(mid), dy * (t - tPrev), mid); // truncation is the floor at mid >= 0
            tPrev = t;
            xPrev = x;
        };
        if (k0 <= k1 && span != 0) {
            if (span > 0)
                for (int k = k0; k <= k1; ++k)
                    piece((k - xa) / span, double(k));
            else
                for (int k = k1; k >= k0; --k)
                    piece((k - xa) / span, double(k));
        } else if (lo < 0 && hi > 0 && span != 0) {
            piece((0 - xa) / span, 0.0);
        }
        piece(1.0, xb);
    }

    // Rewrites the touched pixels of the band's rows.
    void resolve(Plane8 &raster, int rule)
    {
        std::vector<Cell> *last = nullptr; // the row resolved before, its cells kept until the next
        bool levelsKept = false;           // m_levels are last's
        for (int local = 0; local < (1 << kBandShift); ++local) {
            std::vector<Cell> &cells = m_rows[local];
            if (cells.empty())
                continue;
            sortRow(cells);
            uchar *row = raster.row(m_row0 + local);
            auto apply = [&](const Levels &l) { putLevels(row, l, rule); };
            // The levels are a function of the row's cells alone: a row with
            // the cells of the row before (a wall along the rows gives the
            // same cells row after row) takes that row's levels, kept from
            // the second such row on.
            bool again = last && last->size() == cells.size();
            for (size_t k = 0; again && k < cells.size(); ++k) // most rows differ in their first cell
                again = std::memcmp(&cells[k], &(*last)[k], sizeof(Cell)) == 0;
            if (!again) {
                levelsOf(cells, rule, apply);
                levelsKept = false;
            } else {
                if (!levelsKept) {
                    m_levels.clear();
                    levelsOf(cells, rule, [&](const Levels &l) { m_levels.push_back(l); });
                    levelsKept = true;
                }
                for (const Levels &l : m_levels)
                    apply(l);
            }
            if (last)
                last->clear();
            last = &cells;
        }
        if (last)
            last->clear();
    }

private:
    // A touched pixel's level, the level up to the next touched pixel of
    // the row, and where that is.
    struct Levels {
        int x, exact, gap, next;
    };

    // The levels of a row's sorted cells, left to right, to emit.
    template <typename Emit>
    void levelsOf(const std::vector<Cell> &cells, int rule, Emit emit) const
    {
        const size_t n = cells.size();
        double running = 0;
        size_t i = 0;
        while (i < n) {
            const int x = cells[i].column;
            double area = 0, cover = 0;
            for (; i < n && cells[i].column == x; ++i) {
                area += cells[i].area;
                cover += cells[i].cover;
            }
            const int exact = level(running + area, rule);
            running += cover;
            // Up to the next touched pixel the coverage is the running sum;
            // it is fractional only beside a horizontal edge (a side that
            // starts or ends inside this pixel row).
            emit(Levels{x, exact, level(running, rule), i < n ? cells[i].column : m_w});
        }
    }

    void putLevels(uchar *row, const Levels &l, int rule)
    {
        put(row, l.x, l.exact);
        const int x = l.x, next = l.next, gap = l.gap;
        if (gap != 0 && gap != 255) {
            for (int g = x + 1; g < next; ++g)
                put(row, g, gap);
        } else if (gap == 255 && rule != 0 && rule != 1) {
            // The Odd fill tops out at 240 in the four-pixel groups it
            // resolves sample by sample, next to an edge.
            for (int g = x + 1; g < std::min(next, x + 5); ++g)
                put(row, g, gap);
            for (int g = std::max(x + 5, next - 4); g < next; ++g)
                put(row, g, gap);
        }
    }

    static int level(double e, int rule)
    {
        double v;
        if (rule == 0) {
            v = std::min(std::fabs(e), 1.0);
        } else if (rule == 1) {
            v = std::clamp(e, 0.0, 1.0);
        } else {
            const double f = std::fmod(std::fabs(e), 2.0);
            v = f <= 1 ? f : 2 - f;
        }
        // lround for the 0 … 255 this always is, without the library call:
        // truncation is the floor there and x - i is exact.
        const double x = v * 255;
        if (!(x >= 0 && x <= 255))
            return int(std::lround(x));
        const int i = int(x);
        return i + (x - i >= 0.5 ? 1 : 0);
    }
    void put(uchar *row, int x, int exact)
    {
        uchar &pixel = row[x];
        if (exact != pixel && std::abs(exact - int(pixel)) <= kExactCoverageTolerance) {
            pixel = uchar(exact);
            if (m_touched)
                m_touched[x >> 4] = 1;
        }
    }

    // xMid: the piece's mean x inside column c (c < 0: left of the plane).
    void add(int local, int c, double dy, double xMid)
    {
        if (dy == 0 || c >= m_w)
            return;
        double area;
        if (c < 0) {
            c = 0;
            area = dy;
        } else {
            area = dy * std::clamp(double(c + 1) - xMid, 0.0, 1.0);
        }
        m_rows[local].push_back(Cell{c, float(area), float(dy)});
    }

    // A row's cells by column, equal columns in the order they came (their
    // sums are taken in it). A row holds few cells, placed in insertion
    // order, so most rows need no move at all.
    static void sortRow(std::vector<Cell> &cells)
    {
        const size_t n = cells.size();
        if (n > 24) {
            std::stable_sort(cells.begin(), cells.end(), [](const Cell &x, const Cell &y) { return x.column < y.column; });
            return;
        }
        for (size_t i = 1; i < n; ++i) {
            const Cell c = cells[i];
            size_t j = i;
            while (j > 0 && cells[j - 1].column > c.column) {
                cells[j] = cells[j - 1];
                --j;
            }
            cells[j] = c;
        }
    }

    struct Stores {
        std::vector<Cell> rows[1 << kBandShift];
        std::vector<Levels> levels;
    };
    static Stores &stores()
    {
        thread_local Stores s;
        return s;
    }

    int m_w, m_row0;
    uchar *m_touched;
    std::vector<Cell> m_rows[1 << kBandShift]; // the band's cells, row by row
    std::vector<Levels> m_levels; // a row's levels, kept for the rows after it with the same cells
};

} // namespace

void exactEdgeCoverage(Plane8 &raster, const Segments &segs, const Extents &ext, int rule, Plane8 *touched)
{
    const bool blocks = touched && raster.width % 16 == 0 && raster.height % 16 == 0;
    if (touched) {
        touched->setSize(blocks ? QSize(raster.width / 16, raster.height / 16) : QSize());
        touched->fill(0);
    }
    RasterPerf perf("exactEdgeCoverage");
    const int w = raster.width, h = raster.height;
    const double ew = double(ext.maxX) - ext.minX, eh = double(ext.maxY) - ext.minY;
    if (w <= 0 || h <= 0 || !(ew > 0) || !(eh > 0) || !std::isfinite(ew) || !std::isfinite(eh))
        return;
    const double kx = w / ew, ky = h / eh;
    const double big = double(1 << 30);
    // The calling thread's lists, kept from layer to layer.
    thread_local std::vector<PixSeg> pixStore;
    thread_local std::vector<int> startStore, itemsStore, fillStore;
    std::vector<PixSeg> &pix = pixStore;
    pix.clear();
    pix.reserve(size_t(segs.size()));
    for (const Segment &s : segs) {
        const double x0 = (s.x0 - double(ext.minX)) * kx, y0 = (s.y0 - double(ext.minY)) * ky;
        const double x1 = (s.x1 - double(ext.minX)) * kx, y1 = (s.y1 - double(ext.minY)) * ky;
        if (!(std::fabs(x0) < big && std::fabs(y0) < big && std::fabs(x1) < big && std::fabs(y1) < big))
            continue; // non-finite or absurdly far: the fill skipped it too
        if (y0 == y1)
            continue; // a horizontal piece adds no winding
        PixSeg g;
        g.dir = y1 > y0 ? 1 : -1;
        if (g.dir > 0)
            g.x0 = x0, g.y0 = y0, g.x1 = x1, g.y1 = y1;
        else
            g.x0 = x1, g.y0 = y1, g.x1 = x0, g.y1 = y0;
        if (g.y1 <= 0 || g.y0 >= h)
            continue;
        g.slope = (g.x1 - g.x0) / (g.y1 - g.y0);
        pix.push_back(g);
    }
    const int bands = ((h - 1) >> kBandShift) + 1;
    // Segments by band; a long one is listed in every band it crosses.
    std::vector<int> &start = startStore, &items = itemsStore;
    start.assign(size_t(bands) + 1, 0);
    auto bandRange = [&](const PixSeg &g, int &b0, int &b1) {
        b0 = floorInt(std::max(g.y0, 0.0)) >> kBandShift;
        b1 = std::min(h - 1, ceilInt(std::min(g.y1, double(h))) - 1) >> kBandShift;
    };
    for (const PixSeg &g : pix) {
        int b0, b1;
        bandRange(g, b0, b1);
        for (int b = b0; b <= b1; ++b)
            start[size_t(b) + 1]++;
    }
    for (int b = 0; b < bands; ++b)
        start[size_t(b) + 1] += start[size_t(b)];
    items.resize(size_t(start[size_t(bands)]));
    {
        std::vector<int> &fill = fillStore;
        fill.assign(start.begin(), start.end() - 1);
        for (int i = 0; i < int(pix.size()); ++i) {
            int b0, b1;
            bandRange(pix[size_t(i)], b0, b1);
            for (int b = b0; b <= b1; ++b)
                items[size_t(fill[size_t(b)]++)] = i;
        }
    }

    auto coverBands = [&, w, h, blocks, rule](int firstBand, int endBand) {
    BandCells cells(w, 0);
    for (int b = firstBand; b < endBand; ++b) {
        const int r0 = b << kBandShift, r1 = std::min(h, r0 + (1 << kBandShift));
        cells.reset(r0, blocks ? touched->row(b) : nullptr);
        for (int k = start[size_t(b)]; k < start[size_t(b) + 1]; ++k) {
            const PixSeg &g = pix[size_t(items[size_t(k)])];
            const int ra = std::max(r0, floorInt(g.y0));
            const int rb = std::min(r1 - 1, ceilInt(g.y1) - 1);
            if (g.slope == 0) {
                cells.addColumnPieces(g, ra, rb);
                continue;
            }
            for (int r = ra; r <= rb; ++r) {
                const double ya = std::max(g.y0, double(r)), yb = std::min(g.y1, double(r + 1));
                if (yb > ya)
                    cells.addRowPiece(g, r, ya, yb);
            }
        }
        cells.resolve(raster, rule);
    }
    };
    // As in the fill: within the layer threads' region the bands run here
    // directly, a nested region would get a single thread anyway.
    if (bands >= 8 && omp_get_max_threads() > 1 && !omp_in_parallel()) {
#pragma omp parallel
        {
            const qint64 t = omp_get_thread_num(), nt = omp_get_num_threads();
            coverBands(int(bands * t / nt), int(bands * (t + 1) / nt));
        }
    } else {
        coverBands(0, bands);
    }
}
