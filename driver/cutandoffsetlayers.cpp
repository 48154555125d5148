#include "common/perfdata.h"
#include "driver/stages.h"
#include "params/slicerparams.h"
#include "toolpath/vectoroffset.h"

#include <atomic>
#include <cstring>
#include <emmintrin.h>
#include <utility>

bool sameSection(const Plane8 &a, const Plane8 &aSummary, const Plane8 &b, const Plane8 &bSummary)
{
    if (a.size() != b.size() || aSummary.size() != bSummary.size() || a.width % 16 || a.height % 16
        || aSummary.width != a.width / 16 || aSummary.height != a.height / 16)
        return false;
    const int bw = aSummary.width, bh = aSummary.height;
    if (std::memcmp(aSummary.data, bSummary.data, size_t(bw) * bh) != 0)
        return false;
    // Uniform blocks are equal by their summaries; mixed ones row by row,
    // sixteen bytes at a time.
    auto ld = [](const uchar *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); };
    for (int by = 0; by < bh; ++by)
        for (int bx = 0; bx < bw; ++bx) {
            const uchar v = aSummary.data[size_t(by) * bw + bx];
            if (v == 0 || v == 255)
                continue;
            const size_t off = size_t(by) * 16 * a.width + size_t(bx) * 16;
            __m128i same = _mm_set1_epi8(char(0xFF));
            for (int y = 0; y < 16; ++y) {
                const size_t o = off + size_t(y) * a.width;
                same = _mm_and_si128(same, _mm_cmpeq_epi8(ld(a.data + o), ld(b.data + o)));
            }
            if (_mm_movemask_epi8(same) != 0xFFFF)
                return false;
        }
    return true;
}

namespace {

bool wholeBlocks(const Plane8 &a, const Plane8 &summary)
{
    return a.width % 16 == 0 && a.height % 16 == 0 && summary.width == a.width / 16
           && summary.height == a.height / 16;
}

bool uniformBlock(uchar v)
{
    return v == 0 || v == 255;
}

} // namespace

bool sameSection(const Plane8 &a, const Plane8 &aSummary, const LastSection &last)
{
    if (a.size() != QSize(last.width, last.height) || !wholeBlocks(a, aSummary)
        || aSummary.size() != last.summary.size())
        return false;
    const int bw = aSummary.width, bh = aSummary.height;
    if (std::memcmp(aSummary.data, last.summary.data, size_t(bw) * bh) != 0)
        return false;
    auto ld = [](const uchar *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); };
    const uchar *kept = last.mixed.data();
    for (int by = 0; by < bh; ++by)
        for (int bx = 0; bx < bw; ++bx) {
            if (uniformBlock(aSummary.data[size_t(by) * bw + bx]))
                continue;
            const size_t off = size_t(by) * 16 * a.width + size_t(bx) * 16;
            __m128i same = _mm_set1_epi8(char(0xFF));
            for (int y = 0; y < 16; ++y, kept += 16)
                same = _mm_and_si128(same, _mm_cmpeq_epi8(ld(a.data + off + size_t(y) * a.width), ld(kept)));
            if (_mm_movemask_epi8(same) != 0xFFFF)
                return false;
        }
    return true;
}

void keepSection(const Plane8 &raster, const Plane8 &summary, LastSection &last)
{
    last.mixed.clear();
    if (!wholeBlocks(raster, summary)) {
        // Nothing a section can be compared with.
        last.width = last.height = 0;
        last.summary = Plane8();
        return;
    }
    last.width = raster.width;
    last.height = raster.height;
    last.summary = summary;
    const int bw = summary.width, bh = summary.height;
    size_t mixed = 0;
    for (size_t b = 0; b < size_t(bw) * bh; ++b)
        mixed += !uniformBlock(summary.data[b]);
    last.mixed.resize(mixed * 256);
    uchar *kept = last.mixed.data();
    for (int by = 0; by < bh; ++by)
        for (int bx = 0; bx < bw; ++bx) {
            if (uniformBlock(summary.data[size_t(by) * bw + bx]))
                continue;
            const uchar *src = raster.data + size_t(by) * 16 * raster.width + size_t(bx) * 16;
            for (int y = 0; y < 16; ++y, kept += 16)
                std::memcpy(kept, src + size_t(y) * raster.width, 16);
        }
}

QVector<CutLayer> cutAndOffsetLayers(const LayerGrid &grid, const SlicerParams &sp,
                                     QVector<SliceLayer> &layers, int first, int count, CutState &state,
                                     QVector<CutLayer> recycled)
{
    PerfScope perf("cutAndOffset");
    return cutLayers(grid, sp, layers, first, count, state, offsetFollowUp(grid, sp), std::move(recycled));
}

CutFollowUp offsetFollowUp(const LayerGrid &grid, const SlicerParams &sp)
{
    return [&grid, &sp](const SliceLayer &layer, CutScratch &s, CutLayer &out) {
        if (sp.UseVectorOffseter) {
            // Outlines from the cross-section's polygons; no hairs on this path.
            VectorOffsetResult v;
            vectorOffsetLayer(layer.segs, grid, sp, v);
            out.outlines = std::move(v.outlines);
            out.hairs.clear();
            std::swap(out.inner, v.infill);
            out.innerId = 0;
            return;
        }
        // The shell steps are a function of the section alone: a section
        // equal to the last one this thread offset gets the same result.
        LastSection &last = s.last;
        const Plane8 &summary = s.summary;
        if (last.valid && sameSection(s.raster, summary, last)) {
            out.outlines = last.outlines;
            out.hairs = last.hairs;
            // A recycled plane may hold this result already (a prism's
            // layers come back round the driver's ring).
            if (out.innerId != last.innerId || out.inner.size() != last.inner.size())
                out.inner = last.inner;
            out.innerId = last.innerId;
            return;
        }
        last.valid = false;  // until the result below is complete
        // The steps work on the raster itself (no second full plane): the
        // section is kept first, and the summary follows the raster.
        keepSection(s.raster, summary, last);
        s.summaryValid = false;
        shellStepsInPlace(grid, s.raster, s.summary, sp, s.shells, s.offset);
        s.summaryValid = true;
        out.outlines = std::move(s.shells.outlines);
        out.hairs = std::move(s.shells.hairs);
        std::swap(out.inner, s.shells.infill);
        static std::atomic<quint64> nextInnerId{1};
        out.innerId = nextInnerId++;
        s.shells.outlines.clear();
        s.shells.hairs.clear();
        last.outlines = out.outlines;
        last.hairs = out.hairs;
        last.inner = out.inner;
        last.innerId = out.innerId;
        last.valid = true;
    };
}
