#include "toolpath/stripegraph.h"
#include "geometry/nearestpairs.h"

#include <polyclipping/clipper.hpp>

#include <QDebug>
#include <QString>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Farthest coordinate taken from a cross-section: keeps every fixed-point
// value and every product of two within the range the clipper computes in.
constexpr double kMaxCoordMm = 1e6;

quint64 cellKey(qint64 cx, qint64 cy)
{
    return quint64(cx) * 0x9E3779B97F4A7C15ull ^ quint64(cy);
}

qint64 cellOf(qint64 v)
{
    // Floor division, so cells are the same size on both sides of zero.
    return v >= 0 ? v / StripeGraph::kTol : -((-v + StripeGraph::kTol - 1) / StripeGraph::kTol);
}

StripePoint toFixed(double x, double y)
{
    return StripePoint{qint64(std::llround(x * StripeGraph::kScale)), qint64(std::llround(y * StripeGraph::kScale))};
}

double dist2(const StripePoint &a, const StripePoint &b)
{
    const double dx = double(a.x - b.x), dy = double(a.y - b.y);
    return dx * dx + dy * dy;
}

// Whether b lies within kTol of the segment a-c (so a ring loses nothing
// by dropping it).
bool negligible(const StripePoint &a, const StripePoint &b, const StripePoint &c)
{
    const double ax = double(c.x - a.x), ay = double(c.y - a.y);
    const double bx = double(b.x - a.x), by = double(b.y - a.y);
    const double len2 = ax * ax + ay * ay;
    const double tol = double(StripeGraph::kTol);
    if (len2 == 0)
        return bx * bx + by * by <= tol * tol;
    const double t = ax * bx + ay * by;
    if (t < 0 || t > len2)
        return false;
    const double cross = ax * by - ay * bx;
    return cross * cross <= tol * tol * len2;
}

ClipperLib::PolyFillType clipperRule(int polyFillerAlg)
{
    return polyFillerAlg == 0 ? ClipperLib::pftNonZero
                              : polyFillerAlg == 1 ? ClipperLib::pftPositive : ClipperLib::pftEvenOdd;
}

} // namespace

// ---- StripePoly ----

void StripePoly::build(const StripeGraph &g, int first, QVector<bool> &used)
{
    pts.clear();
    stripes.clear();
    const int start = g.stripes[first].from;
    int cur = first;
    for (;;) {
        used[cur] = true;
        const Stripe &s = g.stripes[cur];
        pts.append(g.joints[s.from].pos);
        stripes.append(cur);
        if (s.to == start)
            return;
        int next = -1;
        for (int o : g.joints[s.to].out) {
            if (used[o])
                continue;
            if (next < 0)
                next = o;
            if (g.stripes[o].ring == s.ring) {
                next = o;
                break;
            }
        }
        if (next < 0)
            throw QString("StripePoly::build() FATAL ERROR");
        cur = next;
    }
}

double StripePoly::area() const
{
    double a = 0;
    for (int i = 0, n = pts.size(); i < n; i++) {
        const StripePoint &p = pts[i], &q = pts[(i + 1) % n];
        a += double(p.x) * double(q.y) - double(q.x) * double(p.y);
    }
    return a * 0.5;
}

// ---- StripeGraph: building ----

int StripeGraph::jointAt(StripePoint p)
{
    const qint64 cx = cellOf(p.x), cy = cellOf(p.y);
    int best = -1;
    for (qint64 dy = -1; dy <= 1; dy++)
        for (qint64 dx = -1; dx <= 1; dx++) {
            auto it = m_cells.constFind(cellKey(cx + dx, cy + dy));
            if (it == m_cells.constEnd())
                continue;
            // The oldest joint in reach wins, so the result does not depend
            // on the order the cells are searched in.
            for (int j : *it) {
                if (best >= 0 && j >= best)
                    break;
                const StripePoint &q = joints[j].pos;
                if (std::llabs(q.x - p.x) <= kTol && std::llabs(q.y - p.y) <= kTol) {
                    best = j;
                    break;
                }
            }
        }
    if (best >= 0)
        return best;
    StripeJoint j;
    j.pos = p;
    joints.append(j);
    m_cells[cellKey(cx, cy)].append(joints.size() - 1);
    return joints.size() - 1;
}

int StripeGraph::addStripe(StripePoint a, StripePoint b, int ring)
{
    return addStripeBetween(jointAt(a), jointAt(b), ring);
}

void StripeGraph::addRing(const QVector<StripePoint> &pts, int ring)
{
    if (pts.isEmpty())
        return;
    const int first = jointAt(pts[0]);
    int prev = first;
    for (int i = 1; i < pts.size(); i++) {
        const int j = jointAt(pts[i]);
        addStripeBetween(prev, j, ring);
        prev = j;
    }
    addStripeBetween(prev, first, ring);
}

int StripeGraph::addStripeBetween(int ja, int jb, int ring)
{
    if (ja == jb)
        return -1;
    Stripe s;
    s.from = ja;
    s.to = jb;
    s.ring = ring;
    stripes.append(s);
    const int id = stripes.size() - 1;
    joints[ja].out.append(id);
    joints[jb].in.append(id);
    return id;
}

void StripeGraph::removeStripes(const QVector<bool> &dead)
{
    QVector<Stripe> kept;
    kept.reserve(stripes.size());
    for (int i = 0; i < stripes.size(); i++)
        if (!dead.value(i))
            kept.append(stripes[i]);
    stripes = kept;
    for (StripeJoint &j : joints) {
        j.in.clear();
        j.out.clear();
    }
    for (int i = 0; i < stripes.size(); i++) {
        joints[stripes[i].from].out.append(i);
        joints[stripes[i].to].in.append(i);
    }
}

StripeGraph StripeGraph::fromSegs(const Segments &segs, int polyFillerAlg)
{
    StripeGraph g;
    g.fillRule = polyFillerAlg;
    for (const Segment &s : segs) {
        const double c[4] = {s.x0, s.y0, s.x1, s.y1};
        if (!std::all_of(c, c + 4, [](double v) { return std::isfinite(v) && std::fabs(v) <= kMaxCoordMm; }))
            continue;
        // Reversed: the slicer's outer outlines run clockwise, ours counter-clockwise.
        g.addStripe(toFixed(s.x1, s.y1), toFixed(s.x0, s.y0));
    }
    g.sgRepair();
    g.repairJoints();
    return g;
}

// ---- repairs ----

int StripeGraph::sgRepair()
{
    QVector<int> ends, starts; // joints; one entry per missing stripe
    for (int j = 0; j < joints.size(); j++) {
        const int balance = joints[j].in.size() - joints[j].out.size();
        for (int k = 0; k < balance; k++)
            ends.append(j);
        for (int k = 0; k < -balance; k++)
            starts.append(j);
    }
    if (ends.isEmpty() && starts.isEmpty())
        return 0;
    if ((ends.size() + starts.size()) % 2 != 0)
        qDebug().noquote() << "StripeGraph::sgRepair(): Fatal error: odd number of bad segment endpoints. Cannot connect all.";

    QVector<bool> startTaken(starts.size(), false);
    // Free starts in a grid of about one start per cell, searched ring by
    // ring outwards from the end's cell, so a badly broken layer with many
    // ends costs far less than every end against every start.
    qint64 minX = joints[starts[0]].pos.x, minY = joints[starts[0]].pos.y, maxX = minX, maxY = minY;
    for (int j : starts) {
        minX = std::min(minX, joints[j].pos.x);
        maxX = std::max(maxX, joints[j].pos.x);
        minY = std::min(minY, joints[j].pos.y);
        maxY = std::max(maxY, joints[j].pos.y);
    }
    const double spanX = double(maxX - minX) + 1, spanY = double(maxY - minY) + 1;
    const double cell = std::max({1.0, std::sqrt(spanX * spanY / starts.size()), spanX / 1024, spanY / 1024});
    const int gw = int(spanX / cell) + 1, gh = int(spanY / cell) + 1;
    QVector<QVector<int>> grid(gw * gh);
    auto cellX = [&](qint64 x) { return int(std::max(0.0, std::min(double(gw - 1), double(x - minX) / cell))); };
    auto cellY = [&](qint64 y) { return int(std::max(0.0, std::min(double(gh - 1), double(y - minY) / cell))); };
    for (int s = 0; s < starts.size(); s++)
        grid[cellY(joints[starts[s]].pos.y) * gw + cellX(joints[starts[s]].pos.x)].append(s);
    auto nearest = [&](int e, NearestPair &c) {
        c = NearestPair{0, e, -1};
        const StripePoint &p = joints[ends[e]].pos;
        const int cx = cellX(p.x), cy = cellY(p.y);
        for (int r = 0; r <= std::max(gw, gh); r++) {
            // Cells of ring r + 1 and beyond are at least r cells away.
            if (c.start >= 0 && c.d2 < (double(r - 1) * cell) * (double(r - 1) * cell))
                break;
            for (int y = cy - r; y <= cy + r; y++) {
                if (y < 0 || y >= gh)
                    continue;
                const bool edgeRow = y == cy - r || y == cy + r;
                for (int x = cx - r; x <= cx + r; x += edgeRow ? 1 : 2 * std::max(r, 1)) {
                    if (x < 0 || x >= gw)
                        continue;
                    for (int s : grid[y * gw + x]) {
                        if (startTaken[s])
                            continue;
                        const double d = dist2(p, joints[starts[s]].pos);
                        if (c.start < 0 || d < c.d2 || (d == c.d2 && s < c.start))
                            c = NearestPair{d, e, s};
                    }
                }
            }
        }
        return c.start >= 0;
    };
    // Globally nearest (end, start) pair first; every end and start takes one pair.
    auto startFree = [&](int s) { return !startTaken[s]; };
    const int added = joinNearestPairs(ends.size(), nearest, startFree, [&](const NearestPair &c) {
        startTaken[c.start] = true;
        const int a = ends[c.end], b = starts[c.start];
        // Joints are never closer than kTol, so this always adds a stripe;
        // an end and start at one joint cannot exist (they would balance).
        Stripe s;
        s.from = a;
        s.to = b;
        stripes.append(s);
        joints[a].out.append(stripes.size() - 1);
        joints[b].in.append(stripes.size() - 1);
        return false;
    });
    qDebug().noquote() << QString("StripeGraph::sgRepair(): graph repaired using %1 segs").arg(added);
    return added;
}

int StripeGraph::terminalJointCount() const
{
    int n = 0;
    for (const StripeJoint &j : joints)
        n += j.in.size() != j.out.size();
    return n;
}

void StripeGraph::repairJoints()
{
    for (int pass = 0;; pass++) {
        QVector<int> terminal;
        int badDirection = 0;
        for (int j = 0; j < joints.size(); j++) {
            const StripeJoint &jt = joints[j];
            if (jt.in.size() == jt.out.size())
                continue;
            terminal.append(j);
            // Two stripes pointing the same way with nothing to pair them.
            if (jt.in.size() >= 2 || jt.out.size() >= 2)
                ++badDirection;
        }
        qDebug().noquote() << QString(" No. of joints with bad direction stripes = %1").arg(badDirection);
        if (terminal.isEmpty())
            return;
        if (pass >= 1)
            throw QString("StripeGraph::repairJoints(): Maximum no of passes reached, and there are still terminal joints.");
        qDebug().noquote() << QString(" Removing stripes at terminal joints. cnt=%1").arg(terminal.size());

        QVector<bool> dead(stripes.size(), false);
        auto live = [&](const QVector<int> &list) {
            int n = 0;
            for (int s : list)
                n += !dead[s];
            return n;
        };
        auto liveOnly = [&](const QVector<int> &list, int &only) {
            only = -1;
            int n = 0;
            for (int s : list)
                if (!dead[s]) {
                    only = s;
                    ++n;
                }
            return n == 1;
        };
        for (int j : terminal) {
            for (;;) {
                const int surplus = live(joints[j].out) - live(joints[j].in);
                if (surplus == 0)
                    break;
                const bool forward = surplus > 0;
                // Follow each candidate through plain joints (one way in, one
                // way out) to where it ends: at another unbalanced joint the
                // chain dangles and can go; back here it winds round a ring.
                QVector<int> bestChain;
                int winding = 0, unknown = 0;
                for (int s0 : forward ? joints[j].out : joints[j].in) {
                    if (dead[s0])
                        continue;
                    QVector<int> chain{s0};
                    int at = forward ? stripes[s0].to : stripes[s0].from;
                    int kind = 0; // 1 dangling, 2 winding, 3 unknown
                    while (kind == 0) {
                        const StripeJoint &jt = joints[at];
                        int nextStripe;
                        if (at == j)
                            kind = 2;
                        else if (live(jt.in) != live(jt.out))
                            kind = 1;
                        else if (chain.size() <= stripes.size() &&
                                 liveOnly(forward ? jt.out : jt.in, nextStripe) &&
                                 live(forward ? jt.in : jt.out) == 1) {
                            chain.append(nextStripe);
                            at = forward ? stripes[nextStripe].to : stripes[nextStripe].from;
                        } else
                            kind = 3;
                    }
                    if (kind == 1 && (bestChain.isEmpty() || chain.size() < bestChain.size()))
                        bestChain = chain;
                    winding += kind == 2;
                    unknown += kind == 3;
                }
                if (!bestChain.isEmpty()) {
                    qDebug().noquote() << "removing terminal joint";
                    for (int s : bestChain)
                        dead[s] = true;
                    continue;
                }
                if (winding > 0 && unknown == 0) {
                    qDebug().noquote() << "StripeGraph::repairJoints()/pass" << pass << " Fount a terminal joint with winding";
                    throw QString("StripeGraph::repairJoints(): Fatal error");
                }
                qDebug().noquote() << "dont know which stripe to remove.";
                break;
            }
        }
        removeStripes(dead);
    }
}

// ---- rings and conversions ----

QVector<StripePoly> StripeGraph::polys() const
{
    QVector<StripePoly> out;
    QVector<bool> used(stripes.size(), false);
    for (int s = 0; s < stripes.size(); s++) {
        if (used[s])
            continue;
        StripePoly p;
        p.build(*this, s, used);
        if (p.pts.size() >= 3)
            out.append(p);
    }
    return out;
}

StripeGraph StripeGraph::offset(double distance) const
{
    if (!std::isfinite(distance) || std::fabs(distance) > kMaxCoordMm)
        throw QString("StripeGraph::offset() invalid distance %1").arg(distance);
    ClipperLib::Paths in;
    for (const StripePoly &p : polys()) {
        ClipperLib::Path path;
        path.reserve(size_t(p.pts.size()));
        for (const StripePoint &q : p.pts)
            path.push_back(ClipperLib::IntPoint(q.x, q.y));
        in.push_back(std::move(path));
    }
    // The union resolves overlaps, touching islands and self-crossings by the
    // input's rule, so the offset sees simple rings: outer ones counter-
    // clockwise, holes clockwise.
    ClipperLib::Paths region, moved;
    ClipperLib::Clipper clip;
    clip.AddPaths(in, ClipperLib::ptSubject, true);
    clip.Execute(ClipperLib::ctUnion, region, clipperRule(fillRule), clipperRule(fillRule));
    ClipperLib::ClipperOffset off(kMiterLimit);
    off.AddPaths(region, ClipperLib::jtMiter, ClipperLib::etClosedPolygon);
    off.Execute(moved, distance * kScale);

    StripeGraph g;
    g.fillRule = 0;
    QVector<StripePoint> ring;
    for (size_t r = 0; r < moved.size(); r++) {
        ring.clear();
        for (const ClipperLib::IntPoint &p : moved[r])
            ring.append(StripePoint{p.X, p.Y});
        g.addRing(ring, int(r));
    }
    g.sgRepair();
    g.repairJoints();
    return g;
}

StripeGraph StripeGraph::transition() const
{
    StripeGraph g;
    g.fillRule = fillRule;
    int ring = 0;
    for (const StripePoly &p : polys()) {
        QVector<StripePoint> r = p.pts;
        for (bool changed = true; changed && r.size() >= 3;) {
            changed = false;
            for (int i = 0; i < r.size() && r.size() >= 3; i++) {
                const int n = r.size();
                if (negligible(r[(i + n - 1) % n], r[i], r[(i + 1) % n])) {
                    r.remove(i);
                    changed = true;
                    --i;
                }
            }
        }
        StripePoly q;
        q.pts = r;
        if (r.size() < 3 || std::fabs(q.area()) <= double(kTol) * double(kTol))
            continue;
        g.addRing(r, ring++);
    }
    return g;
}

PathList StripeGraph::toPolyLines(int type, double originX, double originY, double pitchX, double pitchY) const
{
    PathList out;
    const double kx = 1.0 / (kScale * pitchX), ky = 1.0 / (kScale * pitchY);
    const double ox = originX * kScale, oy = originY * kScale;
    for (const StripePoly &p : polys()) {
        if (std::fabs(p.area()) <= double(kTol) * double(kTol))
            continue;
        PolyLine pl(type);
        pl.closed = true;
        pl.pts.reserve(p.pts.size());
        for (const StripePoint &q : p.pts)
            pl.pts.append(PolyPoint(float((double(q.x) - ox) * kx), float((double(q.y) - oy) * ky)));
        out.append(pl);
    }
    return out;
}

Segments StripeGraph::toSegs() const
{
    Segments out;
    out.reserve(stripes.size());
    for (const Stripe &s : stripes) {
        const StripePoint &a = joints[s.from].pos, &b = joints[s.to].pos;
        out.append(Segment{float(b.x / kScale), float(b.y / kScale), float(a.x / kScale), float(a.y / kScale)});
    }
    return out;
}
