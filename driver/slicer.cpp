#include "driver/slicer.h"
#include "common/perfdata.h"
#include "driver/catchmessage.h"
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
#include <condition_variable>
#include <mutex>
#include <exception>
#include <future>
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

void sliceSceneStreaming(Project *scene, const SlicerParams *params, const BuildVolume *machineSize,
                         const SliceProgress &progress)
{
    Slicer s(scene, params, machineSize, progress);
    s.setStreaming(true);
    s.slice();
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
            startFirstLayerExtras();
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

    // The stage timings only for whoever asked for them: the logging's own
    // set-up (it looks for configuration files) costs a small job a percent.
    if (qEnvironmentVariableIsSet("TESSAVO_PERF"))
        qDebug().noquote() << perfReport();
    return result;
}

void Slicer::startFirstLayerExtras()
{
    const Plane1 &mask = m_rings->layerMasks.get(0);
    const Segments support = m_layers[0].supportSegs;
    auto job = [this, &mask, support] {
        FirstLayer made;
        made.head = m_head;
        made.extras = firstLayerExtras(m_grid, *m_params, mask, support, made.head);
        return made;
    };
    if (omp_get_max_threads() <= 1) {
        // One thread asked for: no thread beside it.
        std::promise<FirstLayer> done;
        try {
            done.set_value(job());
        } catch (...) {
            done.set_exception(std::current_exception());
        }
        m_firstLayerJob = done.get_future();
        return;
    }
    // The skirt, brim or raft is made beside the cutting and the first
    // batch's preparations (layer 0's mask stays in its ring slot until that
    // batch is written); only layer 0's ordering waits for it.
    m_firstLayerJob = std::async(std::launch::async, [job] {
        perfHelperThread();
        return job();
    });
}

void Slicer::finishFirstLayerExtras()
{
    if (!m_firstLayerJob.valid())
        return;
    FirstLayer made = m_firstLayerJob.get();
    m_firstLayer = std::move(made.extras);
    m_head = made.head;
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
    // Two layers per thread let a batch's orderings (in turn) run beside
    // the other layers' preparation, but every layer of a batch holds a
    // mask and two region planes in the rings: so only while those planes
    // stay small (about 2 MB in all).
    const qint64 planeBytes = qint64(m_grid.width + 7) / 8 * m_grid.height;
    const qint64 perThread = 3 * planeBytes * m_batchSize;
    m_batchSize *= int(std::clamp<qint64>(perThread > 0 ? (qint64(2) << 20) / perThread : 2, 1, 2));
    // With threads to share, each batch's threads also cut the run of
    // layers after the current one (runs as long as batches): the cut fills
    // the time they would wait for an ordering, and two short runs hold
    // fewer planes than one run of several layers per thread.
    m_cutAhead = omp_get_max_threads() > 1 && sp.LayerStartPos <= 0;

    m_rings = std::make_unique<LayerRings>(m_batchSize, m_lookahead);
    m_cut.clear();
    m_cutFirst = 0;
    m_aheadCut.clear();
    m_spareCut.clear();
    m_aheadValid = false;
    m_offsetFollowUp = offsetFollowUp(m_grid, sp);
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
        mask.setSize(QSize(m_grid.width, m_grid.height));
        mask.fill(0xFF);
        inner.setSize(QSize(m_grid.width, m_grid.height));
        inner.fill(0);
        return;
    }
    if (L < m_cutFirst || L >= m_cutFirst + m_cut.size()) {
        if (m_aheadValid && m_aheadFirst == L) {
            // Cut beside the last batch; the run before it gives its planes
            // to the next run cut ahead.
            m_spareCut = std::move(m_cut);
            m_cut = std::move(m_aheadCut);
            m_aheadValid = false;
        } else {
            m_cut = cutAndOffsetLayers(m_grid, *m_params, m_layers, L, cutRunLength(L), m_cutState, std::move(m_cut));
        }
        m_cutFirst = L;
    }
    CutLayer &c = m_cut[L - m_cutFirst];
    std::swap(mask, c.mask);
    m_rings->loopLists.acquire(L) = std::move(c.outlines);
    m_rings->fillLists.acquire(L) = std::move(c.hairs);
    std::swap(inner, c.inner);
    std::swap(innerId, c.innerId);
}

int Slicer::cutRunLength(int L) const
{
    // Cut on its own, several layers per thread: with only a batch's few
    // layers per run one thread often waited for the other.
    const int threads = std::max(1, omp_get_max_threads());
    return std::min(m_cutAhead ? m_batchSize : std::max(m_batchSize, 4 * threads), m_layerCount - L);
}

void Slicer::runBatch(int first, int last, QByteArray &result, QByteArray &pending)
{
    PerfScope perf("LineFill_OptToolPath_MakeGCode");
    const SlicerParams &sp = *m_params;
    QVector<LayerWork> work;
    if (sp.LayerStartPos > 0) {
        finishFirstLayerExtras();
        work = paralellLayerProcessing(m_grid, sp, *m_machineSize, *m_rings, m_layers, m_firstLayer, m_minBarWidth,
                                       first, last, &m_travelCache);
    } else {
        // The run of layers the cut gets to next, cut beside this batch.
        const int next = m_cutFirst + m_cut.size();
        const bool ahead = m_cutAhead && !m_aheadValid && next < m_layerCount && m_cut.size() > 0;
        CutRun run;
        if (ahead)
            beginCutRun(m_grid, m_layers, next, cutRunLength(next), m_cutState, m_offsetFollowUp,
                        std::move(m_spareCut), run);
        prepareOrderAndWriteBatch(first, last, work, ahead ? &run : nullptr);
        if (ahead) {
            m_aheadCut = finishCutRun(m_grid, sp, m_cutState, m_offsetFollowUp, run);
            m_aheadFirst = next;
            m_aheadValid = true;
        }
    }
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
    if (!m_streaming)
        result += batch;
    pending += batch;
}

namespace {

// Hands out a batch's work to the threads of one parallel region: each
// layer's preparation, its ordering (in layer order, one at a time: each
// starts where the last ended), its writing, and the layers of a cut run
// beside the batch. An ordering that can run goes first (the batch cannot
// end before the last one), then the preparations in layer order (they
// feed the orderings), then the writing, then the cut: so no thread waits
// for a whole stage of the batch to end, and the cut fills the time a
// thread would wait for an ordering.
class BatchSchedule {
public:
    enum Kind { None, Prepare, Order, Write, Cut };
    struct Item {
        Kind kind;
        int k;
    };

    BatchSchedule(int layers, int cutLayers) : m_n(layers), m_cuts(cutLayers), m_prepared(size_t(layers), 0) {}

    // The next item for the calling thread; None once everything is done.
    Item take()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            if (!m_ordering && m_ordered < m_n && m_prepared[size_t(m_ordered)]) {
                m_ordering = true;
                return begin(Order, m_ordered);
            }
            if (m_nextPrepare < m_n)
                return begin(Prepare, m_nextPrepare++);
            if (m_nextWrite < m_ordered)
                return begin(Write, m_nextWrite++);
            if (m_nextCut < m_cuts)
                return begin(Cut, m_nextCut++);
            if (m_running == 0 && m_ordered == m_n)
                return {None, 0};
            m_wake.wait(lock);
        }
    }

    void done(Item item)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_running;
            if (item.kind == Prepare) {
                m_prepared[size_t(item.k)] = 1;
            } else if (item.kind == Order) {
                m_ordering = false;
                ++m_ordered;
            }
        }
        m_wake.notify_all();
    }

private:
    Item begin(Kind kind, int k)
    {
        ++m_running;
        return {kind, k};
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    const int m_n, m_cuts;
    std::vector<char> m_prepared;
    int m_nextPrepare = 0, m_ordered = 0, m_nextWrite = 0, m_nextCut = 0, m_running = 0;
    bool m_ordering = false;
};

} // namespace

void Slicer::prepareOrderAndWriteBatch(int first, int last, QVector<LayerWork> &work, CutRun *cut)
{
    const int n = last - first + 1;
    work.resize(n);
    QVector<PathList> ordered(n);
    std::vector<QString> prepareErrors(static_cast<size_t>(n));
    std::vector<char> prepared(static_cast<size_t>(n), 0), orderedOk(static_cast<size_t>(n), 0);
    std::vector<std::exception_ptr> orderErrors(static_cast<size_t>(n)), writeErrors(static_cast<size_t>(n));
    const int threads = std::max(1, omp_get_max_threads());
    if (int(m_travelCache.size()) < threads)
        m_travelCache.resize(size_t(threads));
    // Raw pointers: no container may detach while the threads share it.
    LayerWork *const w = work.data();
    PathList *const paths = ordered.data();
    const SliceLayer *const rec = m_layers.constData() + first;
    TravelCache *const caches = m_travelCache.data();
    const LayerGrid &grid = m_grid;
    const SlicerParams &sp = *m_params;
    const LayerRings &rings = *m_rings;
    // Set by the first ordering that fails or meets a layer that could not
    // be prepared: the layers after it are neither ordered nor written (the
    // orderings run one after the other, so only they touch it).
    bool stopped = false;
    BatchSchedule schedule(n, cut ? cut->cuts.size() : 0);
#pragma omp parallel
    for (;;) {
        const BatchSchedule::Item item = schedule.take();
        const int k = item.k;
        switch (item.kind) {
        case BatchSchedule::None:
            break;
        case BatchSchedule::Prepare:
            prepared[size_t(k)] = catchMessage(
                [&] {
                    prepareLayerWork(grid, sp, rings, rec[k], m_minBarWidth, &caches[omp_get_thread_num()], w[k]);
                },
                prepareErrors[size_t(k)]);
            break;
        case BatchSchedule::Order:
            if (!stopped && prepared[size_t(k)]) {
                try {
                    if (rec[k].index == 0)
                        finishFirstLayerExtras();
                    paths[k] = orderLayerPaths(grid, sp, rec[k], rings.layerMasks.get(rec[k].index), m_firstLayer,
                                               m_minBarWidth, w[k], m_head);
                    orderedOk[size_t(k)] = 1;
                } catch (...) {
                    orderErrors[size_t(k)] = std::current_exception();
                    stopped = true;
                }
            } else {
                stopped = true;
            }
            break;
        case BatchSchedule::Write:
            if (orderedOk[size_t(k)]) {
                try {
                    w[k].gcode = writeOrderedLayer(grid, sp, *m_machineSize, rec[k], m_firstLayer, paths[k]);
                } catch (...) {
                    writeErrors[size_t(k)] = std::current_exception();
                }
                paths[k] = PathList();
            }
            break;
        case BatchSchedule::Cut:
            cutRunLayer(grid, sp, m_offsetFollowUp, *cut, k);
            break;
        }
        if (item.kind == BatchSchedule::None)
            break;
        schedule.done(item);
    }
    // The failure the layers in turn would meet first: the lowest failing
    // layer's, its preparation before its ordering before its writing.
    for (int k = 0; k < n; ++k) {
        if (!prepared[size_t(k)])
            throw prepareErrors[size_t(k)];
        if (orderErrors[size_t(k)])
            std::rethrow_exception(orderErrors[size_t(k)]);
        if (writeErrors[size_t(k)])
            std::rethrow_exception(writeErrors[size_t(k)]);
    }
}

void Slicer::reportProgress(int i, QByteArray &pending, bool force)
{
    if (i < 0)
        return;
    // The first layers go out as soon as they are written (a preview shows
    // them at once); after that at most every 200 ms. The last layer is
    // left to the final report.
    const bool firstLayers = !m_progressReported && !pending.isEmpty() && i < m_layerCount - 1;
    if (m_streaming ? pending.isEmpty() || i == m_layerCount - 1
                    : !force && !firstLayers && m_progressTimer.elapsed() <= 200)
        return;
    m_progressReported = true;
    m_progressTimer.restart();
    const int percent = int(std::lround((i + 1) * 100.0 / m_layerCount));
    if (m_progress)
        m_progress(percent, QByteArray(pending));
    pending.clear();
}
