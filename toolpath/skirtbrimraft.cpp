#include "toolpath/skirtbrimraft.h"

#include "common/perfdata.h"
#include "raster/contourdetect3.h"
#include "raster/plane8.h"
#include "raster/rasterkernels.h"
#include "toolpath/fill.h"
#include "toolpath/pathorder.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

// Offsets beyond this many pixels (hundreds of mm) are clamped: they would
// only ask for planes far larger than any bed.
constexpr int kMaxGrowPixels = 4096;

int roundUp32(int v)
{
    return (v + 31) / 32 * 32;
}

int clampGrow(float pixels)
{
    const float r = std::floor(pixels + 0.5f);
    if (!(r == r))
        return 0;
    return int(std::clamp(r, float(-kMaxGrowPixels), float(kMaxGrowPixels)));
}

// A copy of `src` with `margin` clear pixels on every side (margin a multiple
// of 32), its size a multiple of 32 as the offset operations need.
Plane1 enlarged(const Plane1 &src, int margin)
{
    Plane1 dst(roundUp32(src.width) + 2 * margin, roundUp32(src.height) + 2 * margin);
    dst.fill(0);
    for (int y = 0; y < src.height; ++y) {
        if (src.width % 8 == 0) {
            std::memcpy(dst.row(y + margin) + margin / 8, src.row(y), size_t(src.width / 8));
        } else {
            for (int x = 0; x < src.width; ++x)
                if (src.pixel(x, y))
                    dst.setPixel(x + margin, y + margin, true);
        }
    }
    return dst;
}

// Traces the outer outlines of a growing region, loop after loop, keeping
// its planes: the region only grows, and outside the box of its set pixels
// the coverage is clear, so each loop rewrites the coverage in that box
// rather than over the whole enlarged plane with its wide clear margins.
class OutlineTracer {
public:
    // The outer outlines of region as closed Skirt paths. Holes trace with a
    // negative area and fall below the minimum area with the specks.
    PathList trace(const Plane1 &region, float minArea, const PathParams &pp)
    {
        load(region);
        const Plane8 summary = region.blockSummary();
        PathList traced = contourDetect3(m_coverage, summary, m_visited, pp);
        PathList loops;
        for (PolyLine &c : traced) {
            if (!c.closed || c.area() < minArea)
                continue;
            c.type = Skirt;
            loops.append(c);
        }
        return loops;
    }

private:
    // m_coverage := region as 0 / 255 bytes (Plane8::fromPlane1).
    void load(const Plane1 &region)
    {
        if (region.width % 32 != 0) {
            m_coverage.fromPlane1(region);
            m_kept = false;
            return;
        }
        if (!m_kept || m_coverage.size() != region.size()) {
            m_coverage.setSize(region.size());
            m_coverage.fill(0);
            m_kept = true;
            m_y1 = -1;
        }
        // Rewritten: the rows and words the region or the coverage may have set.
        int y0, y1, x0, x1, uy0 = INT_MAX, uy1 = -1, uk0 = INT_MAX, uk1 = -1;
        auto add = [&](int a, int b, int c, int d) {
            uy0 = std::min(uy0, a);
            uy1 = std::max(uy1, b);
            uk0 = std::min(uk0, c);
            uk1 = std::max(uk1, d);
        };
        if (m_y0 <= m_y1)
            add(m_y0, m_y1, m_k0, m_k1);
        const bool any = region.bounds(y0, y1, x0, x1);
        if (any)
            add(y0, y1, x0 / 32, x1 / 32);
        for (int y = uy0; y <= uy1; ++y)
            rk::expandBitsSse2(region.row(y) + 4 * uk0, 4 * (uk1 - uk0 + 1), m_coverage.row(y) + 32 * uk0);
        m_y0 = any ? y0 : 0;
        m_y1 = any ? y1 : -1;
        m_k0 = any ? x0 / 32 : 0;
        m_k1 = any ? x1 / 32 : -1;
    }

    Plane8 m_coverage;
    Plane1 m_visited;
    bool m_kept = false; // m_coverage is clear outside the box below
    int m_y0 = 0, m_y1 = -1, m_k0 = 0, m_k1 = -1; // rows, 32-pixel words; empty: m_y1 < m_y0
};

float chainLength(const PathList &chain)
{
    float s = 0;
    for (const PolyLine &p : chain)
        s += p.length();
    return s;
}

void translateAll(PathList &paths, float d)
{
    for (PolyLine &p : paths)
        p.translate(d, d);
}

} // namespace

PathList skirtLoops(const Plane1 &footprint, float p, float offset, float minLength, int minCount,
                    bool brim, float gap, float pathSmoothing, PolyPoint &head)
{
    PathList chain;
    const int grow = clampGrow(offset * p);
    const int margin = roundUp32(std::max(grow, 0) + int(std::ceil(20 * p)));
    Plane1 region = enlarged(footprint, margin).offsetBy(grow);
    const PathParams pp = PathParams::fromSmoothing(p, pathSmoothing);
    const float shift = float(margin);
    PolyPoint h{head.x + shift, head.y + shift};
    const int step = clampGrow(p);

    float target = minLength;
    OutlineTracer tracer;
    for (int c = 0; c < 20; ++c) {
        PathList loops = tracer.trace(region, 0.2f * p * p, pp);
        if (loops.isEmpty() && chain.isEmpty())
            break; // nothing printed on layer 0: no skirt
        orderPaths(p, 2.5f, gap, loops, chain, false, h);
        if (c < minCount) {
            target = std::max(target, chainLength(chain));
        } else {
            if (PolyLine::truncateChain(chain, target, 0))
                break;
        }
        region = region.offsetBy(step);
    }
    if (brim) {
        // Built from the object outwards; drawn from the outside in, so the
        // last loop ends against the object.
        std::reverse(chain.begin(), chain.end());
        for (PolyLine &path : chain)
            path = path.reversed();
    }
    translateAll(chain, -shift);
    if (!chain.isEmpty())
        head = chain.last().pts.last();
    else
        head = {h.x - shift, h.y - shift};
    return chain;
}

RaftResult raftLayers(const SlicerParams &sp, const Plane1 &footprint, float p, float pixelSize,
                      PolyPoint &head)
{
    RaftResult raft;
    const QVector<RaftRow> rows = parseRaftConfig(sp.RaftConfig);
    if (rows.isEmpty())
        return raft;
    const int grow = clampGrow(sp.RaftOffset / pixelSize);
    const int margin = roundUp32(std::max(grow, 0) + int(std::ceil(20 * p)));
    const Plane1 region = enlarged(footprint, margin).offsetBy(grow);
    const float shift = float(margin);

    for (const RaftRow &row : rows) {
        if (row.type > 0) {
            PathList pool, ordered;
            patternFill(pool, region, Raft, p / row.fillDensity, float(row.angle), row.type, 1, p,
                        2 * p);
            PolyPoint h{head.x + shift, head.y + shift};
            orderPaths(p, 2.5f, sp.PerimeterGap, pool, ordered, true, h);
            head = {h.x - shift, h.y - shift};
            translateAll(ordered, -shift);
            raft.layers.append({ordered, row.layerHeight, raft.height});
        }
        raft.height += row.layerHeight;
    }
    return raft;
}

FirstLayerExtras brimSkirtRaft(const SlicerParams &sp, const Plane1 &footprint, float p,
                               float pixelSize, PolyPoint &head)
{
    PerfScope perf("BrimSkirtRaft");
    FirstLayerExtras extras;
    if (sp.SkirtEnable) {
        extras.skirt = skirtLoops(footprint, p, sp.SkirtOffset, sp.SkirtMinLength / pixelSize,
                                  sp.SkirtMinCount, false, sp.PerimeterGap, sp.PathSmoothing, head);
    } else if (sp.BrimEnable) {
        extras.skirt = skirtLoops(footprint, p, 0.3f, 1.0f / pixelSize, sp.BrimCount, true, sp.PerimeterGap,
                                  sp.PathSmoothing, head);
    } else if (sp.RaftEnable) {
        extras.raft = raftLayers(sp, footprint, p, pixelSize, head);
    }
    return extras;
}
