#include "toolpath/shellsteps.h"

#include "common/perfdata.h"
#include "geometry/fasthypot.h"
#include "params/slicerparams.h"
#include "raster/contourdetect3.h"
#include "toolpath/distancestep.h"
#include "toolpath/hairdetect.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

int roundHalfUp(float v)
{
    return int(std::floor(v + 0.5f));
}

// The window ThresholdScaleFromWinsize picks for a distance.
int windowFor(float distance, float factor)
{
    // Clamped before rounding: a huge VShellOffset overflowed the int and
    // picked the smallest window instead of the largest.
    const float f = std::clamp((distance * 4 * factor - 1) * 0.5f, -8.0f, 8.0f);
    return std::clamp(2 * roundHalfUp(f) + 1, 3, 15);
}

// Keeps the distance where the window's threshold stays within 1 … 254.
float reachableDistance(float distance, float factor)
{
    if (!std::isfinite(distance))
        return 0;
    for (int it = 0; it < 4; ++it) {
        const float win = float(windowFor(distance, factor));
        const float lo = win * (2.0f / 255 - 0.5f), hi = win * (253.0f / 255 - 0.5f);
        distance = std::clamp(distance, lo, hi);
    }
    return distance;
}

} // namespace

bool anyInside(const Plane8 &cov, const Plane8 &summary)
{
    const int bw = summary.width, bh = summary.height;
    for (int by = 0; by < bh; ++by)
        for (int bx = 0; bx < bw; ++bx) {
            const uchar state = summary.data[by * bw + bx];
            if (state == 255)
                return true;
            if (state == 0)
                continue;
            for (int y = 0; y < 16; ++y) {
                const uchar *r = cov.data + (by * 16 + y) * cov.width + bx * 16;
                for (int x = 0; x < 16; ++x)
                    if (r[x] >= 128)
                        return true;
            }
        }
    return false;
}

void blockSummary8(const Plane8 &src, Plane8 &summary)
{
    summary = src.blockSummary();
}

float rampAfter(float distance, float factor)
{
    const ThresholdScale ts = ThresholdScaleFromWinsize(reachableDistance(distance, factor), factor);
    return float(ts.win) / ts.scale;
}

namespace {

// Applies lut to the mixed blocks of cov and summarises them again; uniform
// blocks must map to themselves.
void mapMixedBlocks(Plane8 &cov, Plane8 &summary, const uchar *lut)
{
    const int bw = summary.width, bh = summary.height;
    for (int by = 0; by < bh; ++by)
        for (int bx = 0; bx < bw; ++bx) {
            uchar &state = summary.data[by * bw + bx];
            if (state != 128)
                continue;
            bool all0 = true, all255 = true;
            for (int y = 0; y < 16; ++y) {
                uchar *r = cov.data + (by * 16 + y) * cov.width + bx * 16;
                for (int x = 0; x < 16; ++x) {
                    r[x] = lut[r[x]];
                    all0 &= r[x] == 0;
                    all255 &= r[x] == 255;
                }
            }
            state = all0 ? 0 : all255 ? 255 : 128;
        }
}

} // namespace

void offsetCoverage(Plane8 &cov, Plane8 &summary, float distance, float factor, OffsetScratch &s,
                    float rampWidth)
{
    const ThresholdScale ts = ThresholdScaleFromWinsize(reachableDistance(distance, factor), factor);
    // The blur's level lies half a pixel or so from the end of its spread;
    // an edge ramp wider than a pixel rounds that end and the step lands
    // too far in (1.04 width after the perimeter's 1.75-pixel ramp).
    if (rampWidth > 1.01f) {
        uchar sharpen[256];
        for (int v = 0; v < 256; ++v)
            sharpen[v] = uchar(std::clamp(int(std::lround((v - 127.5f) * rampWidth + 127.5f)), 0, 255));
        mapMixedBlocks(cov, summary, sharpen);
    }
    // Uniform blocks that already hold their value are not written again:
    // tmp keeps the previous offset's pixels, cov its own (summary is exact).
    Plane8::blur2(ts.win, 0, true, cov, s.tmp, summary, false, s.tmpSummary, nullptr, nullptr, s.tmpKnown);
    s.tmpKnown = true;
    // The blur spreads an edge by up to win / 2 pixels: blocks at the ends of
    // uniform runs must be computed in the second pass. (Marking them mixed
    // keeps tmpSummary a true description of tmp.)
    s.tmpSummary.edgeReduce(255, true, true);
    s.tmpSummary.edgeReduce(0, true, true);
    Plane8::blur2(ts.win, 0, true, s.tmp, cov, s.tmpSummary, false, summary, nullptr, nullptr, true);
    // Stretch around the threshold so that the offset edge is the new 128 level.
    // Each pass truncates its average; taking the level half a step lower
    // undoes that bias, which otherwise moves every step a few hundredths of
    // a pixel too far in and adds up over many loops.
    const float thr = ts.threshold - 0.5f;
    uchar lut[256];
    for (int v = 0; v < 256; ++v)
        lut[v] = uchar(std::clamp(int(std::lround((v - thr) * ts.scale + 128)), 0, 255));
    // Uniform blocks keep their value (0 and 255 map to themselves), so only
    // mixed blocks are stretched and summarised again.
    mapMixedBlocks(cov, summary, lut);
}

float minOutlineArea(float p)
{
    return 0.25f * p * p;
}

namespace {

// The kept outlines of a trace, already simplified by the tracer.
PathList keepOutlines(PathList traced, int type, float minArea)
{
    PathList out;
    for (PolyLine &pl : traced) {
        if (pl.pts.size() < 3 || std::fabs(pl.area()) < minArea)
            continue;
        pl.type = type;
        pl.closed = true;
        out.append(pl);
    }
    return out;
}

} // namespace

PathList traceOutlines(const Plane8 &cov, const Plane8 &summary, const PathParams &pp, int type,
                       float minArea, OffsetScratch &s)
{
    return keepOutlines(contourDetect3(cov, summary, s.visited, pp), type, minArea);
}

PathList outlinesFromTrace(const PathList &traced, const PathParams &pp, int type, float minArea)
{
    // The tracer simplifies each line as it finishes it; simplifying the
    // kept crossings (repeats already gone) afterwards is the same work.
    PathList simplified;
    simplified.reserve(traced.size());
    for (const PolyLine &raw : traced) {
        PolyLine pl = raw;
        pl.simplify(pp);
        simplified.append(pl);
    }
    return keepOutlines(simplified, type, minArea);
}

void repairCorners(PolyLine &outline, float minSide, float maxReach, float minSine, bool convexOnly,
                   const std::function<bool(PolyPoint)> &accept, float gentleReach)
{
    const int n = outline.pts.size();
    if (!outline.closed || n < 4 || !outline.w.isEmpty())
        return;
    const QVector<PolyPoint> p = outline.pts;
    auto segLen = [&](int i) {
        const PolyPoint d = p[(i + 1) % n] - p[i];
        return fastHypot(d.x, d.y);
    };
    QVector<int> longSegs;
    for (int i = 0; i < n; ++i)
        if (segLen(i) >= minSide)
            longSegs.append(i);
    if (longSegs.size() < 2)
        return;
    QVector<PolyPoint> out;
    out.reserve(n);
    bool changed = false;
    // Every vertex lies in exactly one range (end of one long segment …
    // start of the next), so emitting the ranges in order rebuilds the loop.
    for (int li = 0; li < longSegs.size(); ++li) {
        const int i = longSegs[li];
        const int j = longSegs[(li + 1) % longSegs.size()];
        const int first = (i + 1) % n;
        const int count = ((j - first) % n + n) % n + 1;  // vertices first … j
        bool repaired = false;
        if (count >= 2) {
            const PolyPoint a0 = p[i], a1 = p[first], b0 = p[j], b1 = p[(j + 1) % n];
            const PolyPoint da = a1 - a0, db = b1 - b0;
            const float la = fastHypot(da.x, da.y), lb = fastHypot(db.x, db.y);
            const float cross = da.x * db.y - da.y * db.x;
            if (la > 0 && lb > 0 && std::fabs(cross) / (la * lb) >= minSine && (!convexOnly || cross > 0)) {
                const PolyPoint w = b0 - a0;
                const float t = (w.x * db.y - w.y * db.x) / cross;  // along a, 1 = a1
                const float u = (w.x * da.y - w.y * da.x) / cross;  // along b, 0 = b0
                const PolyPoint x = a0 + da * t;
                const bool ahead = t >= 1 && u <= 0;
                const bool gentle = da.x * db.x + da.y * db.y > 0.5f * la * lb;  // under 60 degrees
                const float reach = gentle && gentleReach >= 0 ? gentleReach : maxReach;
                if (ahead && fastHypot(x.x - a1.x, x.y - a1.y) <= reach
                    && fastHypot(x.x - b0.x, x.y - b0.y) <= reach && (!accept || accept(x))) {
                    out.append(x);
                    repaired = changed = true;
                }
            }
        }
        if (!repaired)
            for (int k = 0; k < count; ++k)
                out.append(p[(first + k) % n]);
    }
    if (changed && out.size() >= 3)
        outline.pts = out;
}

float boxOffsetAt(float t, int win, float nx, float ny)
{
    // Across a straight edge with unit normal (nx, ny) the square box blurs a
    // step into the sum of two uniform spreads, of widths a and b.
    float a = win * std::fabs(nx), b = win * std::fabs(ny);
    if (a < b)
        std::swap(a, b);
    const float h = t - 0.5f;
    const float sign = h < 0 ? -1.0f : 1.0f;
    const float q = std::fabs(h);
    if (b <= 0 || q * 2 * a <= a - b)
        return h * a;  // the linear middle of the trapezoid
    return sign * ((a + b) * 0.5f - std::sqrt(std::max(0.0f, 2 * a * b * (0.5f - q))));
}

void straightenOffset(PolyLine &outline, int win, float threshold, float reach)
{
    const int n = outline.pts.size();
    if (!outline.closed || n < 3 || win <= 0)
        return;
    const float t = threshold / 255.0f;
    const float axis = boxOffsetAt(t, win, 1, 0);
    // A pixel of anti-aliasing and the box window, across the edge.
    const float variance = (float(win) * win + 1) / 12;
    const QVector<PolyPoint> p = outline.pts;
    auto len = [](PolyPoint d) { return fastHypot(d.x, d.y); };
    // The point `reach` along the outline from vertex i, backwards or forwards.
    auto along = [&](int i, int dir, float span) {
        float left = span;
        int a = i;
        for (int steps = 0; steps < n; ++steps) {
            const int b = ((a + dir) % n + n) % n;
            const PolyPoint d = p[b] - p[a];
            const float l = len(d);
            if (l >= left)
                return p[a] + d * (left / l);
            left -= l;
            a = b;
        }
        return p[a];
    };
    for (int i = 0; i < n; ++i) {
        const PolyPoint back = p[i] - along(i, -1, reach), fwd = along(i, 1, reach) - p[i];
        const float lb = len(back), lf = len(fwd);
        if (lb <= 0 || lf <= 0)
            continue;
        // Only where the outline runs straight: at a corner the two sides
        // were offset with their own errors and the corner is left alone.
        const float cosTurn = (back.x * fwd.x + back.y * fwd.y) / (lb * lf);
        const float weight = std::clamp((cosTurn - 0.866f) / (0.966f - 0.866f), 0.0f, 1.0f);
        // The end of a long straight stretch that meets a corner is still a
        // point of the stretch's edge, and the simplified side is one chord
        // to it: left short of the side's correction, it would turn the
        // whole side (out at one end, in at the other).
        const float segPrev = len(p[i] - p[(i + n - 1) % n]), segNext = len(p[(i + 1) % n] - p[i]);
        const float segLong = std::max(segPrev, segNext), segShort = std::min(segPrev, segNext);
        if (weight < 1 && segLong >= 2 * reach && segLong > 3 * segShort) {
            const PolyPoint d = segPrev >= segNext ? p[i] - p[(i + n - 1) % n] : p[(i + 1) % n] - p[i];
            const float sx = -d.y / segLong, sy = d.x / segLong;
            outline.pts[i] = p[i] + PolyPoint(sx, sy) * (axis - boxOffsetAt(t, win, sx, sy));
            continue;
        }
        if (weight <= 0)
            continue;
        const PolyPoint tan = back * (1 / lb) + fwd * (1 / lf);
        const float lt = len(tan);
        if (lt <= 0)
            continue;
        // Material lies left of the direction of travel, outside and in holes.
        const float nx = -tan.y / lt, ny = tan.x / lt;
        // On a curve the kernel's mass beyond the tangent is lost (convex)
        // or gained (concave): the level moves the edge towards the centre
        // of curvature by variance × curvature / 2 of the section's edge.
        // Measured over two spans: a staircase (pixel-stepped diagonal)
        // wiggles at the short one, a corner nearby bends only the long
        // one; only a real arc bends both alike.
        auto curvature = [](PolyPoint u, PolyPoint v, float lu, float lv) {
            const float turn = std::atan2(u.x * v.y - u.y * v.x, u.x * v.x + u.y * v.y);
            return turn / (0.5f * (lu + lv));  // > 0 convex (left turns)
        };
        const PolyPoint backL = p[i] - along(i, -1, 3 * reach), fwdL = along(i, 1, 3 * reach) - p[i];
        const float lbL = len(backL), lfL = len(fwdL);
        const float cs = curvature(back, fwd, lb, lf);
        const float curv = lbL > 0 && lfL > 0 ? curvature(backL, fwdL, lbL, lfL) : 0;
        // The end of a long straight side beside a rounded corner sees the
        // corner's bend but stands for the side: arcs are sampled evenly.
        const bool even = std::max(segPrev, segNext) <= 3 * std::min(segPrev, segNext);
        const bool arc = even && std::fabs(cs - curv) <= 0.5f * std::fabs(curv) + 0.03f;
        const float edgeCurv = arc ? curv / std::max(0.2f, 1 + axis * curv) : 0;
        const float pull = variance * 0.5f * edgeCurv;
        const float shift = weight * (axis - boxOffsetAt(t, win, nx, ny) - pull);
        outline.pts[i] = p[i] + PolyPoint(nx, ny) * shift;
    }
}

void shellSteps(const LayerGrid &grid, const Plane8 &coverage, const SlicerParams &sp, ShellStepsResult &out,
                OffsetScratch &s, const Plane8 *coverageSummary)
{
    if (&coverage == &s.cov) { // the section must stay as it is
        const Plane8 section = coverage;
        shellSteps(grid, section, sp, out, s, coverageSummary);
        return;
    }
    // The working plane is the scratch's, which holds the last layer's end
    // state: only blocks that differ from the section are copied (its
    // summary is dropped until the steps are done, so a step that throws
    // leaves the next layer a whole copy).
    Plane8 summary;
    if (coverageSummary && coverageSummary->size() == QSize(coverage.width / 16, coverage.height / 16))
        summary = *coverageSummary;
    else
        blockSummary8(coverage, summary);
    Plane8::copyChangedBlocks(coverage, summary, s.cov, s.covSummary);
    s.covSummary = Plane8();
    shellStepsInPlace(grid, s.cov, summary, sp, out, s);
    s.covSummary = std::move(summary);
}

void shellStepsInPlace(const LayerGrid &grid, Plane8 &cov, Plane8 &summary, const SlicerParams &sp,
                       ShellStepsResult &out, OffsetScratch &s)
{
    out.outlines.clear();
    out.shells.clear();
    out.hairs.clear();
    const float p = grid.widthInPixels;
    const PathParams pp = PathParams::fromSmoothing(p, sp.PathSmoothing);
    // The perimeter after the distance step is true to a few thousandths of
    // a pixel; its chords may cut a round wall by no more than 0.03 pixels
    // (0.004 mm at 0.4 mm width).
    PathParams ppPerimeter = pp;
    ppPerimeter.maxDeviation = 0.03f;
    const float minArea = minOutlineArea(p);
    if (summary.size() != QSize(cov.width / 16, cov.height / 16))
        blockSummary8(cov, summary);
    // The section itself, for the first step's hairs and the corners'
    // test, kept by its blocks: the steps overwrite the plane.
    BlockSnapshot &coverage = s.section;
    coverage.take(cov, summary);
    const int last = std::max(sp.VShellCnt, 0);
    HairDetector det;
    det.p = p;
    const float d0 = 0.5f * p - sp.VShellOffset * p * p;
    const ThresholdScale firstStep = ThresholdScaleFromWinsize(reachableDistance(d0, 1.0f), 1.0f);
    float ramp = 1;  // the section's coverage rises over one pixel
    const bool exactFirst = std::isfinite(d0) && d0 >= kMinDistanceStep && d0 <= kMaxDistanceStep;
    bool lastExact = false;  // the step before took distances
    float lastD = 0;
    // A restored corner never leaves the section, whatever its shape.
    auto insideSection = [&coverage](PolyPoint q) {
        const int x = int(std::floor(q.x)), y = int(std::floor(q.y));
        return x >= 0 && y >= 0 && x < coverage.width() && y < coverage.height() && coverage.at(x, y) >= 128;
    };
    for (int k = 0; k <= last; ++k) {
        const bool half = k == 0 || k == last;
        const float d = k == 0 ? 0.5f * p - sp.VShellOffset * p * p : half ? 0.5f * p : p;
        const bool detect = (sp.OuterHair && k == 0) || (sp.InnerHair && k >= 1);
        // The region entering step k ends at the centre line of shell k - 1:
        // the perimeter half a width inside the outline, each loop one more.
        // Every step measures distances (see distancestep.h): the first to
        // the section's edge itself, the later ones to the outline before
        // them. The blur stays for steps out of its range.
        const bool exact = exactFirst && d >= kMinDistanceStep && d <= kMaxDistanceStep;
        // A later distance step measures to the outline traced here: one
        // trace with every crossing serves both.
        PathList traced;
        const bool shareTrace = exact && k >= 1;
        if (k >= 1) {
            const PathParams &ppk = k == 1 && exactFirst ? ppPerimeter : pp;
            const int type = k == 1 ? Perimeter : Loop;
            PathList ol;
            if (shareTrace) {
                traced = contourDetect3(cov, summary, s.visited, keepEveryCrossing());
                ol = outlinesFromTrace(traced, ppk, type, minArea);
            } else {
                ol = traceOutlines(cov, summary, ppk, type, minArea, s);
            }
            if (k == 1 && !exactFirst)
                for (PolyLine &o : ol)
                    straightenOffset(o, firstStep.win, firstStep.threshold - 0.5f, 0.7f * p);
            if (lastExact)
                snapToDistance(ol, s.edge, lastD);
            // The blur rounds every convex corner of the region, and each
            // loop inherits the rounding of those before it: the band's
            // corners go unfilled. Where two straight stretches meet, the
            // offset corner is where their lines cross, inside the region.
            // Reflex corners are round in a true offset and stay as traced;
            // gentle turns (facets of a round wall) are left to the trace.
            // RepairCorners repairs the perimeter's corners of both kinds.
            // Rounding builds up loop after loop: a deep loop's corner is cut
            // by a flat stretch over a width long, which must not count as a
            // side, and its sides meet up to about three widths beyond it.
            if (k >= 2 && lastExact) {
                // A loop after a distance step is sharp but for the chamfer
                // across its ridge (more on an acute corner, whose ridge the
                // pixel centres miss); the corner may not reach into what a
                // hair took.
                auto clearOfHairs = [&](PolyPoint q) {
                    if (!insideSection(q))
                        return false;
                    for (const PolyLine &h : out.hairs)
                        for (int i = 0; i + 1 < h.size(); ++i) {
                            const PolyPoint a = h.pts[i], b = h.pts[i + 1], ab = b - a;
                            const float l2 = ab.x * ab.x + ab.y * ab.y;
                            const float t = l2 > 0 ? std::clamp(((q.x - a.x) * ab.x + (q.y - a.y) * ab.y) / l2, 0.0f, 1.0f) : 0;
                            const PolyPoint e = q - (a + ab * t);
                            const float w = h.w.size() == h.size() ? std::max(h.w[i], h.w[i + 1]) : 0;
                            if (fastHypot(e.x, e.y) < (w + p) / 2)
                                return false;
                        }
                    return true;
                };
                for (PolyLine &o : ol)
                    repairCorners(o, 2 * p, 3.3f * p, 0.2f, true, clearOfHairs, 2.5f);
            } else if (k >= 2) {
                for (PolyLine &o : ol)
                    repairCorners(o, 2 * p, 3.3f * p, 0.2f, true, insideSection);
            } else if (!sp.RepairCorners) {
                // After the distance step a convex corner is sharp but for
                // the chamfer the trace cuts across its ridge (a pixel or two,
                // more on an acute tip, whose ridge the pixel centres miss);
                // reaching further on gentle turns would square the facets of
                // a round wall. A hole's corner is mitred as well: the chords
                // of the arc around it would put their beads' corners into
                // the hole.
                for (PolyLine &o : ol)
                    repairCorners(o, 2.5f, 6.0f, 0.2f, false, insideSection, exactFirst ? 2.5f : -1);
            } else {
                for (PolyLine &o : ol)
                    repairCorners(o, 5.0f, 6.0f, 0.03f);
            }
            out.outlines.append(ol);
            out.shells.append(ol);
        }
        // Once nothing is left, later steps would only blur an empty plane:
        // stop, so that an absurd VShellCnt cannot stall the layer.
        if (!anyInside(cov, summary))
            break;
        // The first step starts from the section; a later one's region is
        // kept by its blocks as well.
        if (detect && k >= 1)
            s.beforeBlocks.take(cov, summary);
        const BlockSnapshot &before = k == 0 ? coverage : s.beforeBlocks;
        const float factor = half ? 1.0f : 0.5f;
        if (exact) {
            distanceOffset(cov, summary, d, s.visited, &s.edge, k == 0, shareTrace ? &traced : nullptr);
            ramp = kDistanceRamp;
        } else {
            offsetCoverage(cov, summary, d, factor, s, ramp);
            ramp = rampAfter(d, factor);
        }
        lastExact = exact;
        lastD = d;
        if (!detect)
            continue;
        det.consts = half ? HairConstsA : HairConstsB;
        det.coveredWidth = k == 0 ? 0.0f : p;
        // The distance step drops parts of the region nowhere wider than
        // kThinInset: runs up to a pixel wider than the step takes and that
        // (the ridge between pixel centres is sampled up to half a pixel
        // low) vanish, which the set's window would cut short. Between loops
        // such runs also vanish at the tip of every convex corner, the
        // loops' own gap: hairs there must be two widths long, or their
        // mask would cut the next loop's corner.
        det.widestRun = exact ? 2 * d + kThinInset + 1 : 0;
        det.minLength = k == 0 || !exact ? p : 2 * p;
        const float maxRun = (det.widestRun > 0 ? det.widestRun : det.consts.maxWidth - p) * 1.4143f;
        HairMarkers markers;
        perfBegin("hairDetect0");
        thinRunMarkers(before, cov, true, maxRun, markers);
        hairDetect0(det, cov.width, cov.height, markers);
        perfEnd("hairDetect0");
        // Hairs are built on every detecting step, full steps included: a
        // wall that vanishes between two loops needs its middle filled.
        PathList found;
        perfBegin("hairDetect1");
        thinRunMarkers(before, cov, false, maxRun, markers);
        hairDetect1(det, markers, found, k == 0 ? OuterHair : InnerHair);
        // Outer hairs are fitted to the section's edge the distance step
        // measured to (an island's dot is inscribed in it already).
        if (k == 0 && exact)
            fitHairsToEdge(found, s.edge, coverage);
        if (k == 0)
            islandDots(det, coverage, cov, found, OuterHair);
        perfEnd("hairDetect1");
        if (!found.isEmpty()) {
            perfBegin("hairMasking");
            hairMasking(cov, found, 3.0f);
            blockSummary8(cov, summary);
            perfEnd("hairMasking");
            out.hairs.append(found);
        }
    }
    out.infill.fromPlane8(cov, 128, false, &summary);
    if (sp.LoopFillOverlap != 0)
        out.infill = out.infill.offsetBy(sp.LoopFillOverlap);
}
