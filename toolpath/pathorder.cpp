#include "toolpath/pathorder.h"
#include "toolpath/nearestends.h"

#include "toolpath/runlabels.h"
#include "toolpath/travelrouter.h"

#include <QString>

#include <algorithm>
#include <exception>
#include <cmath>
#include <cstdint>
#include <memory>

namespace {

float dist2(PolyPoint a, PolyPoint b)
{
    const float dx = a.x - b.x, dy = a.y - b.y;
    return dx * dx + dy * dy;
}

bool isShellType(int type)
{
    return type == Perimeter || type == Loop;
}


// Every path vertex of the islands of a layer in a uniform grid, for the
// question "which island has the vertex nearest to the head": asked once per
// island, and scanning all vertices each time was quadratic in the number of
// islands (thousands of small parts on one bed). The answer is the scan's:
// the smallest float distance, ties to the lowest island index.
class IslandPoints {
public:
    explicit IslandPoints(const QVector<Island> &islands) : taken_(islands.size(), false)
    {
        auto each = [&](auto &&f) {
            for (int i = 0; i < islands.size(); ++i) {
                for (const PathList &s : islands[i].shells)
                    for (const PolyLine &path : s)
                        for (const PolyPoint &q : path.pts)
                            f(i, q);
                for (const PolyLine &path : islands[i].fill)
                    for (const PolyPoint &q : path.pts)
                        f(i, q);
            }
        };
        double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
        qint64 n = 0;
        each([&](int, const PolyPoint &q) {
            if (!std::isfinite(q.x) || !std::isfinite(q.y))
                return; // never nearer than 1e30 (the scan's start)
            x0 = std::min(x0, double(q.x));
            y0 = std::min(y0, double(q.y));
            x1 = std::max(x1, double(q.x));
            y1 = std::max(y1, double(q.y));
            ++n;
        });
        if (n == 0)
            return;
        // About eight vertices per cell.
        side_ = int(std::clamp(std::ceil(std::sqrt(double(n) / 8)), 1.0, 1024.0));
        ox_ = x0;
        oy_ = y0;
        cell_ = std::max({(x1 - x0) / side_, (y1 - y0) / side_, 1e-3});
        cells_.resize(size_t(side_) * side_);
        each([&](int i, const PolyPoint &q) {
            if (std::isfinite(q.x) && std::isfinite(q.y))
                cells_[size_t(cellIndex(clampCell(q.x, ox_), clampCell(q.y, oy_)))].push_back({q, i});
        });
    }

    void take(int island) { taken_[island] = true; }

    // The island with the vertex nearest to head, or -1 when none is nearer
    // than 1e30 (squared).
    int nearest(PolyPoint head)
    {
        if (cells_.empty())
            return -1;
        float best = 1e30f;
        int idx = -1;
        const qint64 hx = virtualCell(head.x, ox_), hy = virtualCell(head.y, oy_);
        // A head beyond the cell range has no cell of its own: no early stop.
        const bool exact = std::abs(hx) < 100000000 && std::abs(hy) < 100000000;
        // Chebyshev ring distances from the head's (possibly outside) cell
        // to the nearest and the farthest cell of the grid.
        auto gap = [](qint64 h, qint64 lo, qint64 hi) { return h < lo ? lo - h : h > hi ? h - hi : 0; };
        const qint64 last = side_ - 1;
        const qint64 rMin = std::max(gap(hx, 0, last), gap(hy, 0, last));
        const qint64 rMax = std::max({std::abs(hx), std::abs(hx - last), std::abs(hy), std::abs(hy - last)});
        for (qint64 r = rMin; r <= rMax; ++r) {
            // Any vertex in ring r lies at least (r - 1) cells from the head
            // (the head may sit anywhere in its own cell); a little slack
            // keeps float ties inside.
            const double reach = double(r - 1) * cell_;
            if (exact && r >= 2 && reach * reach > double(best) * (1 + 1e-5) + 1e-6)
                break;
            const qint64 ya = std::max<qint64>(hy - r, 0), yb = std::min<qint64>(hy + r, last);
            for (qint64 cy = ya; cy <= yb; ++cy) {
                const bool edgeRow = cy == hy - r || cy == hy + r;
                const qint64 step = edgeRow ? 1 : 2 * r;
                for (qint64 cx = hx - r; cx <= hx + r; cx += std::max<qint64>(step, 1)) {
                    if (cx < 0 || cx > last)
                        continue;
                    scan(cells_[size_t(cellIndex(int(cx), int(cy)))], head, best, idx);
                }
            }
        }
        return idx;
    }

private:
    struct Vertex {
        PolyPoint q;
        int island;
    };

    void scan(std::vector<Vertex> &cell, PolyPoint head, float &best, int &idx)
    {
        for (size_t k = 0; k < cell.size();) {
            const Vertex &v = cell[k];
            if (taken_[v.island]) { // gone: dropped from the cell for good
                cell[k] = cell.back();
                cell.pop_back();
                continue;
            }
            const float d = dist2(v.q, head);
            if (d < best || (d == best && idx >= 0 && v.island < idx)) {
                best = d;
                idx = v.island;
            }
            ++k;
        }
    }
    int clampCell(float v, double o) const
    {
        return int(std::clamp<qint64>(virtualCell(v, o), 0, side_ - 1));
    }
    qint64 virtualCell(float v, double o) const
    {
        const double c = std::floor((double(v) - o) / cell_);
        return qint64(std::clamp(c, -1e9, 1e9)); // NaN: 1e9 or -1e9 via clamp's comparisons
    }
    int cellIndex(int cx, int cy) const { return cy * side_ + cx; }

    std::vector<bool> taken_;
    std::vector<std::vector<Vertex>> cells_;
    int side_ = 0;
    double ox_ = 0, oy_ = 0, cell_ = 1;
};

} // namespace

int findNearest(const PathList &pool, float a, PolyPoint head, bool allowReverse, int *vertex)
{
    const float r = 1.5f * a;
    const float r2 = r * r;
    float best = 1e30f;
    int bestPath = -1, bestVertex = 0;
    bool done = false;
    auto test = [&](int i, int v, PolyPoint p) {
        const float d = dist2(p, head);
        if (d < best) {
            best = d;
            bestPath = i;
            bestVertex = v;
            done = d <= r2; // good enough: stop searching
        }
    };
    for (int i = 0; i < pool.size() && !done; ++i) {
        const PolyLine &path = pool[i];
        const int n = path.pts.size();
        if (n == 0)
            continue;
        if (path.closed) {
            for (int v = 0; v < n && !done; ++v)
                test(i, v, path.pts[v]);
        } else {
            test(i, 0, path.pts[0]);
            if (allowReverse && !done && n > 1)
                test(i, n - 1, path.pts[n - 1]);
        }
    }
    if (vertex)
        *vertex = bestVertex;
    return bestPath;
}

void removePerimeterGap(PolyLine &path, float gapLength)
{
    const int n = path.pts.size();
    if (n < 2 || !(gapLength > 0))
        return;
    const float half = gapLength * 0.5f;
    auto pull = [half](PolyPoint &end, PolyPoint toward) {
        const PolyPoint d = toward - end;
        const float len = std::sqrt(d.x * d.x + d.y * d.y);
        if (len > 0)
            end = end + d * std::min(half / len, 1.0f); // never past the neighbour
    };
    // Both moves use the unmoved neighbours, so a two-point loop shrinks evenly.
    const PolyPoint second = path.pts[1], beforeLast = path.pts[n - 2];
    pull(path.pts[0], second);
    pull(path.pts[n - 1], beforeLast);
}

void moveSeamOffSharpTip(PolyLine &path, float a)
{
    const int n = path.pts.size();
    if (n < 4 || !path.hairs.isEmpty() || path.pts.first() != path.pts.last())
        return;
    const PolyPoint tip = path.pts[0];
    const PolyPoint in = tip - path.pts[n - 2], out = path.pts[1] - tip;
    const float lenIn = std::sqrt(in.x * in.x + in.y * in.y);
    const float lenOut = std::sqrt(out.x * out.x + out.y * out.y);
    if (!(lenIn > 0) || !(lenOut > 0))
        return;
    // Turns of more than 100 degrees: tips sharper than 80 degrees.
    if ((in.x * out.x + in.y * out.y) / (lenIn * lenOut) > -0.17365f)
        return;
    // Half a unit is past the tip's join yet still where a user looks for
    // the seam.
    const float along = std::min(0.5f * a, 0.5f * lenOut);
    const PolyPoint seam = tip + out * (along / lenOut);
    path.pts[0] = seam;
    path.pts.append(seam);
    if (path.w.size() == n) {
        const float wSeam = path.w[0] + (path.w[1] - path.w[0]) * (along / lenOut);
        path.w[0] = wSeam;
        path.w.append(wSeam);
    }
}

namespace {

// A route worth a Travel path: one that bends, or a straight one after which
// the travel counts as far.
bool keepTravel(const PolyLine &travel)
{
    return travel.pts.size() > 2 || (travel.pts.size() == 2 && travel.farTravelAfter);
}

} // namespace

void routeTravels(const TravelRouter &router, const std::vector<TravelRequest> &later, PathList &output)
{
    const int n = int(later.size());
    if (n == 0)
        return;
    std::vector<PolyLine> travels(later.size());
    std::vector<std::exception_ptr> errors(later.size());
    PolyLine *const out = travels.data();
    const TravelRequest *const req = later.data();
#pragma omp parallel for schedule(dynamic, 1) if (n > 1)
    for (int i = 0; i < n; ++i) {
        try {
            out[i] = router.route(req[i].from, req[i].to);
        } catch (...) {
            errors[size_t(i)] = std::current_exception();
        }
    }
    for (const std::exception_ptr &e : errors)
        if (e)
            std::rethrow_exception(e);
    PathList merged;
    merged.reserve(output.size() + n);
    int r = 0;
    for (int idx = 0; idx < output.size(); ++idx) {
        for (; r < n && req[r].at == idx; ++r)
            if (keepTravel(out[r]))
                merged.append(out[r]);
        merged.append(output[idx]);
    }
    output = merged;
}

bool orderPaths(float a, float k, float gap, PathList &pool, PathList &output, bool allowReverse,
                PolyPoint &head, bool single, const TravelRouter *router, std::vector<TravelRequest> *later)
{
    int vertex = 0;
    int idx;
    // A long pool (a layer's infill lines) asks a grid of its path ends:
    // testing every end for every path taken grew with the square of the
    // count. ids: each remaining path's index in the pool as it came.
    const bool grid = !single && pool.size() > 32;
    NearestEnds ends(grid ? pool : PathList(), a, allowReverse);
    std::vector<int> ids;
    if (ends.valid())
        for (int i = 0; i < pool.size(); ++i)
            ids.push_back(i);
    auto next = [&]() {
        if (!ends.valid())
            return findNearest(pool, a, head, allowReverse, &vertex);
        const int id = ends.find(head, &vertex);
        if (id < 0)
            return -1;
        ends.remove(id);
        const int at = int(std::lower_bound(ids.begin(), ids.end(), id) - ids.begin());
        ids.erase(ids.begin() + at);
        return at;
    };
    while ((idx = next()) >= 0) {
        PolyLine path = pool.takeAt(idx);
        if (path.closed)
            path = path.rotatedFrom(vertex, false);
        else if (vertex != 0)
            path = path.reversed();
        const bool wasClosed = path.closed;
        path.openLoop();
        if (wasClosed && a * gap > 0) {
            moveSeamOffSharpTip(path, a);
            removePerimeterGap(path, a * gap);
        }

        const PolyPoint first = path.pts[0];
        const bool join = !output.isEmpty() && output.last().type == path.type &&
                          !isShellType(path.type) &&
                          std::fabs(first.x - head.x) + std::fabs(first.y - head.y) <= k * a;
        if (!join && router) {
            // From where the nozzle really is: after a loop the head was
            // nudged off the path's end for the search only.
            const PolyPoint nozzle =
                output.isEmpty() || output.last().pts.isEmpty() ? head : output.last().pts.last();
            if (later) {
                later->push_back({output.size(), nozzle, first});
            } else {
                const PolyLine travel = router->route(nozzle, first);
                if (keepTravel(travel))
                    output.append(travel);
            }
        }
        path.spliceInto(output, join);

        const PolyLine &last = output.last();
        head = last.pts.last();
        const int n = last.pts.size();
        if (isShellType(last.type) && n >= 2) {
            // Nudge the search point ahead of the seam and to the side, so the
            // next loop does not start right where this one ended.
            const PolyPoint d = last.pts[n - 1] - last.pts[n - 2];
            const float len = std::sqrt(d.x * d.x + d.y * d.y);
            if (len > 0) {
                const PolyPoint u{d.x / len, d.y / len};
                const PolyPoint nrm{-u.y, u.x};
                head = head + u * (1.5f * a) + nrm * a;
            }
        }
        if (single)
            break;
    }
    return !output.isEmpty();
}

PolyPoint layerStartTarget(int layerStartPos, int layer, float bedWidth, float bedDepth,
                           float widthInPixels)
{
    const float w = bedWidth * widthInPixels * 100.0f;
    const float h = bedDepth * widthInPixels * 100.0f;
    float x = 0, y = 0;
    switch (layerStartPos) {
    case 1: {
        // Same layer, same point on every run: a fixed LCG step of the layer.
        const uint32_t r = uint32_t(2u * uint32_t(layer) * 134775813u + 1u);
        const float angle = float(r % 10000u);
        x = w * std::cos(angle);
        y = h * std::sin(angle);
        break;
    }
    case 2: y = -h; break;
    case 3: y = h; break;
    case 4: x = w; break;
    case 5: x = -w; break;
    case 6: {
        // 166 degrees per layer: successive seams land nearly opposite,
        // slowly turning round the part.
        const double deg = std::fmod(double(layer) * 166.0, 360.0);
        const float angle = float(deg * 3.14159265358979323846 / 180.0);
        x = w * std::cos(angle);
        y = h * std::sin(angle);
        break;
    }
    default:
        throw QString("FATAL ERROR: invalid sp.LayerStartPos while paralellLayerProcessing %1")
            .arg(layerStartPos);
    }
    return PolyPoint(std::trunc(x), std::trunc(y));
}

bool Island::isEmpty() const
{
    for (const PathList &s : shells)
        if (!s.isEmpty())
            return false;
    return fill.isEmpty();
}

namespace {

// Distance from q to the layer outline: to the nearest outside pixel's
// centre less half a pixel. Pixels beyond the plane count as outside;
// searching stops at `limit`.
float outlineDistance(const Plane1 &mask, PolyPoint q, int limit)
{
    if (!(std::fabs(q.x) < 1e7f && std::fabs(q.y) < 1e7f))
        return float(limit);
    const int cx = int(std::floor(q.x)), cy = int(std::floor(q.y));
    float best = 1e30f;
    for (int r = 0; r <= limit; ++r) {
        if (float(r) - 1.0f > best)
            break; // every pixel further out is further away than the best
        for (int dy = -r; dy <= r; ++dy) {
            const int step = (dy == -r || dy == r) ? 1 : 2 * r;
            for (int dx = -r; dx <= r; dx += std::max(step, 1)) {
                const int x = cx + dx, y = cy + dy;
                const bool outside =
                    x < 0 || y < 0 || x >= mask.width || y >= mask.height || mask.pixel(x, y);
                if (!outside)
                    continue;
                const float d = std::sqrt(dist2(q, PolyPoint(float(x) + 0.5f, float(y) + 0.5f)));
                best = std::min(best, d);
            }
        }
    }
    return best < 1e30f ? best - 0.5f : float(limit);
}

} // namespace

QVector<PathList> splitShells(const Plane1 &layerMask, const PathList &outlines, float p,
                              float firstOffset)
{
    QVector<PathList> shells(1);
    const int limit = int(std::ceil(22 * p)); // beyond the deepest shell the dialog allows
    for (const PolyLine &path : outlines) {
        int k = 0;
        if (path.type != Perimeter && !path.pts.isEmpty()) {
            QVector<float> d;
            const int n = path.pts.size();
            const int samples = std::min(n, 8);
            for (int i = 0; i < samples; ++i)
                d.append(outlineDistance(layerMask, path.pts[i * n / samples], limit));
            // Every point of an offset loop lies at least the offset away
            // from the outline, and its vertices lie on the offset: the
            // nearest sample measures it.
            const float nearest = *std::min_element(d.begin(), d.end());
            const float shell = std::floor((nearest - firstOffset) / p + 0.5f);
            // Clamped on both sides before the conversion (NaN to 1): a huge
            // offset either way made a float far outside the int range.
            k = shell >= 1.0f ? int(std::min(shell, 1000.0f)) : 1;
        }
        if (shells.size() <= k)
            shells.resize(k + 1);
        shells[k].append(path);
    }
    return shells;
}

QVector<Island> formIslands(const Plane1 &layerMask, const QVector<PathList> &shells,
                            const PathList &fill, PathList &remaining, const RunLabels *given)
{
    const RunLabels own = given ? RunLabels() : RunLabels(layerMask, false);
    const RunLabels &areas = given ? *given : own;
    QVector<Island> islands(areas.count());
    for (Island &isl : islands)
        isl.shells.resize(shells.size());
    auto areaOf = [&areas](const PolyLine &path) {
        for (const PolyPoint &q : path.pts) {
            const int l = areas.labelAt(q.x, q.y);
            if (l >= 0)
                return l;
        }
        return -1;
    };
    for (int k = 0; k < shells.size(); ++k) {
        for (const PolyLine &path : shells[k]) {
            const int l = areaOf(path);
            if (l < 0)
                remaining.append(path);
            else
                islands[l].shells[k].append(path);
        }
    }
    for (const PolyLine &path : fill) {
        const int l = areaOf(path);
        if (l < 0)
            remaining.append(path);
        else
            islands[l].fill.append(path);
    }
    QVector<Island> used;
    for (const Island &isl : islands)
        if (!isl.isEmpty())
            used.append(isl);
    return used;
}

void processIslands(const SlicerParams &sp, float p, float a, QVector<Island> islands,
                    PathList remaining, PolyPoint &head, PathList &output, const Plane1 *routing,
                    const RunLabels *routingAreas)
{
    std::unique_ptr<TravelRouter> router;
    if (routing)
        router = routingAreas ? std::make_unique<TravelRouter>(*routing, *routingAreas)
                              : std::make_unique<TravelRouter>(*routing);
    const float gap = sp.PerimeterGap;
    for (int i = islands.size() - 1; i >= 0; --i)
        if (islands[i].isEmpty())
            islands.removeAt(i);

    // The order does not depend on the travels' routes: they are found
    // afterwards, all at once.
    std::vector<TravelRequest> later;
    IslandPoints points(islands);
    for (int left = islands.size(); left > 0; --left) {
        const int idx = points.nearest(head);
        if (idx < 0)
            throw QString("FATAL ERROR: processIslands_and_RemainingHairs() islandIdx<0 %1").arg(left);
        points.take(idx);
        Island isl = std::move(islands[idx]);

        // Sweeps: each visits the shells from the innermost to the perimeter
        // and takes the nearest loop of each, so inner loops of a contour are
        // drawn before its perimeter.
        bool placed = true;
        while (placed) {
            placed = false;
            for (int k = isl.shells.size() - 1; k >= 0; --k) {
                if (isl.shells[k].isEmpty())
                    continue;
                const int before = isl.shells[k].size();
                orderPaths(p, 0, gap, isl.shells[k], output, false, head, true, router.get(), &later);
                placed = placed || isl.shells[k].size() < before;
            }
        }
        const float k = sp.HShellType == 1 ? 0.5f : 2.5f;
        orderPaths(p, k, gap, isl.fill, output, true, head, false, router.get(), &later);
    }
    if (router)
        routeTravels(*router, later, output);
    orderPaths(a, 2.5f, gap, remaining, output, true, head, false, nullptr);
}

void orderLayer(const SlicerParams &sp, float p, float a, const Plane1 &layerMask,
                const Plane1 *travelMask, const QVector<PathList> &shells, const PathList &fill,
                const PathList &other, PolyPoint &head, PathList &output, const RunLabels *maskAreas,
                const RunLabels *travelAreas)
{
    PathList remaining;
    const QVector<Island> islands = formIslands(layerMask, shells, fill, remaining, maskAreas);
    remaining += other;
    processIslands(sp, p, a, islands, remaining, head, output, travelMask, travelMask ? travelAreas : nullptr);
}
