#include "driver/slicer.h"
#include "common/perfdata.h"
#include "driver/raftgcode.h"
#include "driver/shellregions.h"
#include "driver/slicefaces.h"
#include "driver/stages.h"
#include "gcode/gcodewriter.h"
#include "gcode/paramcheck.h"
#include "raster/paralell.h"
#include "scene/project.h"

#include <QDebug>
#include <omp.h>

#include <algorithm>
#include <exception>
#include <cmath>
#include <utility>

namespace {

Slicer *g_running = nullptr;

// Clears the running-job pointer however slice() is left.
struct RunningGuard {
    ~RunningGuard() { g_running = nullptr; }
};

} // namespace

Slicer::Slicer(Project *scene, const SlicerParams *params, const BuildVolume *machineSize,
               SliceProgress progress)
    : m_scene(scene), m_params(params), m_machineSize(machineSize), m_progress(std::move(progress))
{
    m_progressTimer.start();
}

Slicer::~Slicer() = default;

Slicer *Slicer::running()
{
    return g_running;
}

QByteArray sliceScene(Project *scene, const SlicerParams *params, const BuildVolume *machineSize,
                      const SliceProgress &progress)
{
    Slicer s(scene, params, machineSize, progress);
    return s.slice();
}

QByteArray Slicer::slice()
{
    if (g_running)
        throw QString("FATAL ERROR: Already slicing.");
    g_running = this;
    RunningGuard guard;

    // Before any work: a parameter the writer cannot print fails the job
    // with one message naming it, not with garbage G-code.
    const SlicerParams &sp = *m_params;
    validateParams(sp);
    perfClear();
    initialise();

    const int N = m_layerCount, H = m_lookahead, B = m_batchSize;
    LayerRings &r = *m_rings;
    ShellRegionRings regions{r.innerRegions, r.regionPairs, r.stackIntersections, r.shellRegions,
                             r.infillRegions, &r.shellSummaries, &r.infillSummaries};
    QByteArray result, pending;
    for (int i = -2 * H; i < N; ++i) {
        const int L = i + H;
        sliceLayer(L);
        if (L == 0)
            m_firstLayer = firstLayerExtras(m_grid, sp, r.layerMasks.get(0), m_layers[0].supportSegs, m_head);
        shellRegionsStep(i, H, N, regions);
        if (i >= 0) {
            if (sp.HShellType == 1)
                concentricShellStep(m_grid, sp, r.shellRegions.get(i), r.fillLists.get(i), m_offsetScratch);
            if (i % B == B - 1 || i == N - 1)
                runBatch(i / B * B, i, result, pending);
        }
        reportProgress(i, pending, false);
    }
    if (m_progress)
        m_progress(100, QByteArray(pending));
    pending.clear();

    qDebug().noquote() << perfReport();
    return result;
}

void Slicer::initialise()
{
    const SlicerParams &sp = *m_params;
    m_batchSize = std::max(1, threadBudget());
    m_minBarWidth = m_scene->minBarWidth();
    m_head = PolyPoint(0, 0);

    const SliceFrame frame = SliceFaces(*m_scene, sp, m_layers);
    m_layerCount = m_layers.size();
    // More shell layers than the object has change nothing (every layer is
    // shell either way) but would stretch the loop and the rings: clamp.
    m_lookahead = std::min(std::max(sp.HShellCnt, 0), m_layerCount);

    m_grid = layerGrid(frame.rect, sp.ExtrusionWidth);

    m_rings = std::make_unique<LayerRings>(m_batchSize, m_lookahead);
    m_outsideMask.setSize(QSize(m_grid.width, m_grid.height));
    m_outsideMask.fill(0xFF);
    m_cut.clear();
    m_cutFirst = 0;
    m_cutState = CutState();
    m_travelCache.clear();
}

void Slicer::sliceLayer(int L)
{
    Plane1 &mask = m_rings->layerMasks.acquire(L);
    Plane1 &inner = m_rings->innerRegions.acquire(L);
    quint64 &innerId = m_rings->innerIds.acquire(L);
    if (L < 0 || L >= m_layerCount) {
        innerId = 0;
        // Beyond the object's bottom or top every pixel is outside, and the
        // shell-region step reads the inner regions there as empty.
        mask = m_outsideMask;
        inner.setSize(QSize(m_grid.width, m_grid.height));
        inner.fill(0);
        return;
    }
    if (L < m_cutFirst || L >= m_cutFirst + m_cut.size()) {
        // Several layers per thread: with only a batch's few layers per run
        // one thread often waited for the other.
        const int threads = std::max(1, omp_get_max_threads());
        const int count = std::min(std::max(m_batchSize, 4 * threads), m_layerCount - L);
        m_cut = cutAndOffsetLayers(m_grid, *m_params, m_layers, L, count, m_cutState, std::move(m_cut));
        m_cutFirst = L;
    }
    CutLayer &c = m_cut[L - m_cutFirst];
    std::swap(mask, c.mask);
    m_rings->loopLists.acquire(L) = std::move(c.outlines);
    m_rings->fillLists.acquire(L) = std::move(c.hairs);
    std::swap(inner, c.inner);
    std::swap(innerId, c.innerId);
}

void Slicer::runBatch(int first, int last, QByteArray &result, QByteArray &pending)
{
    PerfScope perf("LineFill_OptToolPath_MakeGCode");
    const SlicerParams &sp = *m_params;
    QVector<LayerWork> work = paralellLayerProcessing(m_grid, sp, *m_machineSize, *m_rings, m_layers, m_firstLayer,
                                                      m_minBarWidth, first, last, &m_travelCache);
    if (sp.LayerStartPos <= 0)
        orderAndWriteBatch(first, last, work);
    QByteArray batch;
    for (int L = first; L <= last; ++L) {
        LayerWork &w = work[L - first];
        if (L == 0)
            batch += gcodeFilePrefix(sp, raftGCode(sp, m_firstLayer.raft, m_grid, *m_machineSize));
        batch += w.gcode;
        if (L == m_layerCount - 1)
            batch += gcodeFileSuffix(sp);
        w = LayerWork();
        m_layers[L].segs = Segments();
        m_layers[L].supportSegs = Segments();
    }
    result += batch;
    pending += batch;
}

void Slicer::orderAndWriteBatch(int first, int last, QVector<LayerWork> &work)
{
    // Each layer is ordered from where the one before it ended, in turn; the
    // writing is each layer's own, so the batch's layers are written at once.
    // A failure is rethrown as the layers in turn would meet it: the first
    // layer whose ordering or writing fails, its ordering first.
    const int n = last - first + 1;
    QVector<PathList> ordered(n);
    std::exception_ptr orderError;
    int count = 0;  // layers first … first + count - 1 are ordered
    for (; count < n; ++count) {
        const int L = first + count;
        try {
            ordered[count] = orderLayerPaths(m_grid, *m_params, m_layers[L], m_rings->layerMasks.get(L), m_firstLayer,
                                             m_minBarWidth, work[count], m_head);
        } catch (...) {
            orderError = std::current_exception();
            break;
        }
    }
    // Raw pointers: no container may detach while the threads share it.
    std::vector<std::exception_ptr> errors(static_cast<size_t>(count));
    LayerWork *const w = work.data();
    const PathList *const paths = ordered.constData();
    const SliceLayer *const rec = m_layers.constData() + first;
#pragma omp parallel for schedule(static, 1)
    for (int k = 0; k < count; ++k) {
        try {
            w[k].gcode = writeOrderedLayer(m_grid, *m_params, *m_machineSize, rec[k], m_firstLayer, paths[k]);
        } catch (...) {
            errors[size_t(k)] = std::current_exception();
        }
    }
    for (const std::exception_ptr &e : errors)
        if (e)
            std::rethrow_exception(e);
    if (orderError)
        std::rethrow_exception(orderError);
}

void Slicer::reportProgress(int i, QByteArray &pending, bool force)
{
    if (i < 0)
        return;
    // The first layers go out as soon as they are written (a preview shows
    // them at once); after that at most every 200 ms. The last layer is
    // left to the final report.
    const bool firstLayers = !m_progressReported && !pending.isEmpty() && i < m_layerCount - 1;
    if (!force && !firstLayers && m_progressTimer.elapsed() <= 200)
        return;
    m_progressReported = true;
    m_progressTimer.restart();
    const int percent = int(std::lround((i + 1) * 100.0 / m_layerCount));
    if (m_progress)
        m_progress(percent, QByteArray(pending));
    pending.clear();
}
