#include "view/gcodepreview.h"

#include "geometry/polyline.h"
#include "view/gllist.h"
#include "view/glviewer.h"

#include <QElapsedTimer>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {
const int kNoLimit = 0x7fffffff;
// The rebuild budget of one paint: at least this many layers are counted.
const int kBudgetMinLayers = 5;
// Travel lines float this many layer heights above the bead centre.
const float kTravelLift = 0.66f;

struct ScenePoint {
    float x, z;
};

inline ScenePoint toScene(const BuildVolume &v, float X, float Y)
{
    // Inverse of sceneToMachine (kx, ky are ±1).
    return {X * v.kx + (v.cx - v.W * 0.5f), Y * v.ky + (v.cy - v.D * 0.5f)};
}

// Inside the drawable space: finite, within 10 × the build volume around its
// centre, and not cut away by the clipping box.
struct DrawableTest {
    const BuildVolume &v;
    const GCodeClipBox &clip;
    bool operator()(const GCodeMove &m) const
    {
        if (!std::isfinite(m.x) || !std::isfinite(m.y) || !std::isfinite(m.z))
            return false;
        const ScenePoint s = toScene(v, m.x, m.y);
        if (!(std::fabs(s.x) <= 5 * v.W && std::fabs(s.z) <= 5 * v.D && std::fabs(m.z - v.H * 0.5f) <= 5 * v.H))
            return false;
        if (!clip.xOff && m.x > clip.right)
            return false;
        if (!clip.yOff && m.y < clip.front)
            return false;
        if (!clip.zOff && m.z < clip.bottom)
            return false;
        return true;
    }
};

void appendVertex(QVector<float> &v, float x, float z, float code)
{
    v.append(x);
    v.append(z);
    v.append(code);
}
} // namespace

bool GCodeClipBox::operator==(const GCodeClipBox &o) const
{
    return right == o.right && front == o.front && bottom == o.bottom && xOff == o.xOff && yOff == o.yOff
        && zOff == o.zOff;
}

bool GCodeGroupRuns::operator==(const GCodeGroupRuns &o) const
{
    if (colour != o.colour || runs.size() != o.runs.size())
        return false;
    for (int i = 0; i < runs.size(); ++i)
        if (runs[i].begin != o.runs[i].begin || runs[i].end != o.runs[i].end)
            return false;
    return true;
}

QVector<GCodeGroupRuns> groupLayer(const std::vector<GCodeMove> &moves, const GCodeLayer &layer,
                                   const GCodeGroupingInput &in)
{
    QVector<GCodeGroupRuns> groups;
    const DrawableTest drawable{in.volume, in.clip};
    auto addRun = [&groups](int begin, int end, std::uint32_t colour) {
        // The layer's groups are searched from the newest backwards.
        for (int g = groups.size() - 1; g >= 0; --g) {
            if (groups[g].colour == colour) {
                groups[g].runs.append({begin, end});
                return;
            }
        }
        GCodeGroupRuns g;
        g.colour = colour;
        g.runs.append({begin, end});
        groups.append(g);
    };

    GroupState st;
    st.mode = in.mode;
    const int count = int(moves.size());
    for (const GCodeRange &r : layer.ranges) {
        const int end = std::min({r.end, count, in.recordLimit});
        int i = std::max(r.begin, 1); // a record draws the move from the one before it
        int runStart = -1;
        st.start = true;
        while (i < end) {
            const bool joins = drawable(moves[size_t(i)]) && drawable(moves[size_t(i - 1)])
                && continuesGroup(st, moves[size_t(i - 1)], moves[size_t(i)]);
            if (joins) {
                if (runStart < 0)
                    runStart = i;
                ++i;
                continue;
            }
            if (runStart >= 0) {
                // The breaking record starts the next run.
                addRun(runStart, i, st.colour);
                runStart = -1;
            } else {
                ++i; // it cannot start a run either
            }
            st.start = true;
        }
        if (runStart >= 0)
            addRun(runStart, end, st.colour);
    }
    return groups;
}

QVector<float> beadGeometry(const std::vector<GCodeMove> &moves, const GCodeGroupRuns &group,
                            const BuildVolume &volume, float height, float width, bool travel)
{
    QVector<float> v;
    if (travel) {
        int n = 0;
        for (const GCodeRange &r : group.runs)
            n += r.end - r.begin;
        v.reserve(n * 6);
        for (const GCodeRange &r : group.runs) {
            for (int i = r.begin; i < r.end; ++i) {
                const ScenePoint a = toScene(volume, moves[size_t(i - 1)].x, moves[size_t(i - 1)].y);
                const ScenePoint b = toScene(volume, moves[size_t(i)].x, moves[size_t(i)].y);
                // A hair above the plane with an upward normal: evenly lit.
                appendVertex(v, a.x, a.z, 5);
                appendVertex(v, b.x, b.z, 5);
            }
        }
        return v;
    }

    int points = 0;
    for (const GCodeRange &r : group.runs)
        points += r.end - r.begin + 1;
    v.reserve((points * 4 + group.runs.size() * 3) * 3);
    const float topCode = std::max(height * 0.5f, 0.001f) * 10000.0f;
    const float half = width * 0.5f;
    std::vector<ScenePoint> p;
    std::vector<float> lx, lz, rx, rz, lc, rc;
    for (const GCodeRange &r : group.runs) {
        p.clear();
        for (int i = r.begin - 1; i < r.end; ++i)
            p.push_back(toScene(volume, moves[size_t(i)].x, moves[size_t(i)].y));
        const size_t n = p.size();
        lx.assign(n, 0);
        lz.assign(n, 0);
        rx.assign(n, 0);
        rz.assign(n, 0);
        lc.assign(n, 0);
        rc.assign(n, 0);
        for (size_t i = 0; i < n; ++i) {
            // Side normals of the segments before and after the point; at a
            // corner their bisector, stretched (at most 2×) to keep the width.
            float nx = 0, nz = 0, ix = 0, iz = 0;
            auto segNormal = [&p](size_t a, size_t b, float &ox, float &oz) {
                const float dx = p[b].x - p[a].x, dz = p[b].z - p[a].z;
                const float len = std::sqrt(dx * dx + dz * dz);
                if (len > 0) {
                    ox = -dz / len;
                    oz = dx / len;
                }
            };
            if (i > 0)
                segNormal(i - 1, i, ix, iz);
            float ox = ix, oz = iz;
            if (i + 1 < n)
                segNormal(i, i + 1, ox, oz);
            if (i == 0) {
                ix = ox;
                iz = oz;
            }
            nx = ix + ox;
            nz = iz + oz;
            float len = std::sqrt(nx * nx + nz * nz);
            float stretch = 1;
            if (len < 1e-3f) {
                nx = ix;
                nz = iz;
            } else {
                nx /= len;
                nz /= len;
                stretch = 1 / std::max(nx * ix + nz * iz, 0.5f);
            }
            const float d = half * stretch;
            lx[i] = p[i].x + nx * d;
            lz[i] = p[i].z + nz * d;
            rx[i] = p[i].x - nx * d;
            rz[i] = p[i].z - nz * d;
            // Normal (sin c, 0, cos c) in the scene's x-z plane.
            lc[i] = std::atan2(nx, nz);
            rc[i] = std::atan2(-nx, -nz);
        }
        // One strip: left face forward, end cap, right face backward, start
        // cap. A degenerate pair joins it to the previous run's strip.
        if (!v.isEmpty()) {
            const int last = v.size() - 3;
            v.append(v[last]);
            v.append(v[last + 1]);
            v.append(v[last + 2]);
            appendVertex(v, lx[0], lz[0], lc[0]);
        }
        for (size_t i = 0; i < n; ++i) {
            appendVertex(v, lx[i], lz[i], lc[i]);
            appendVertex(v, p[i].x, p[i].z, topCode);
        }
        for (size_t k = n; k-- > 0;) {
            if (k + 1 < n)
                appendVertex(v, p[k].x, p[k].z, topCode);
            appendVertex(v, rx[k], rz[k], rc[k]);
        }
        appendVertex(v, lx[0], lz[0], lc[0]);
    }
    return v;
}

// ------------------------------------------------------------------ preview

struct GCodePreview::Group {
    std::uint32_t colour = 0;
    QVector<GCodeRange> runs;
    bool travel = false;
    QVector<float> geometry; // until uploaded
    std::unique_ptr<GLList_GCode> list;
    int vertexCount = 0;
};

struct GCodePreview::Entry {
    int builtMoves = -1; // the layer's record count when grouped
    int builtMode = -1;
    int builtRow = -1;
    int builtLimit = kNoLimit;
    int builtClip = -1;
    bool groupsDirty = true, geometryDirty = true, gpuDirty = true;
    float height = 0.2f;
    std::vector<Group> groups;
};

GCodePreview::GCodePreview() = default;

GCodePreview::~GCodePreview() = default;

void GCodePreview::clear(const GCodeClipBox &clip)
{
    m_sim.clear();
    for (auto &e : m_entries)
        m_retired.push_back(std::move(e));
    m_entries.clear();
    m_clip = clip;
    ++m_clipStamp;
    m_recordLimit = kNoLimit;
    topLayer = 0;
    followTop = true;
    highlightOn = false;
}

void GCodePreview::append(const QByteArray &chunk)
{
    m_sim.append(chunk);
    syncEntries();
}

void GCodePreview::loadAll(const QByteArray &text, int chunkSize, const std::function<void(int)> &progress)
{
    chunkSize = std::max(chunkSize, 1);
    if (!m_entries.empty())
        clear(m_clip);
    // The simulation shares the text's bytes: a 100 MB file is not copied.
    m_sim.startWhole(text);
    for (;;) {
        const int percent = m_sim.parseStep(chunkSize);
        syncEntries();
        if (percent == 100)
            break;
        if (progress)
            progress(percent);
    }
    if (progress)
        progress(100);
    showAllLines();
}

void GCodePreview::finish()
{
    m_sim.finish();
    syncEntries();
    showAllLines();
}

void GCodePreview::syncEntries()
{
    const QVector<GCodeLayer> &layers = m_sim.layers();
    while (int(m_entries.size()) < layers.size())
        m_entries.push_back(std::make_unique<Entry>());
    // Layers that grew are regrouped when next drawn (builtMoves differs).
}

QString GCodePreview::ignoredError() const
{
    if (!m_sim.rejected().isEmpty())
        return m_sim.rejected();
    return m_sim.parser().firstError();
}

qint64 GCodePreview::memoryBytes() const
{
    qint64 bytes = qint64(m_sim.moves().capacity() * sizeof(GCodeMove));
    for (const GCodeLayer &l : m_sim.layers())
        bytes += qint64(sizeof(GCodeLayer) + l.ranges.capacity() * sizeof(GCodeRange));
    for (const auto &e : m_entries) {
        bytes += qint64(sizeof(Entry));
        for (const Group &g : e->groups)
            bytes += qint64(sizeof(Group) + g.runs.capacity() * sizeof(GCodeRange)
                            + g.geometry.capacity() * sizeof(float) + qint64(g.vertexCount) * 12);
    }
    return bytes;
}

int GCodePreview::selectLine(int line)
{
    const std::vector<GCodeMove> &moves = m_sim.moves();
    // Records are in line order: the last one at or before the line.
    auto it = std::upper_bound(moves.begin(), moves.end(), line,
                               [](int l, const GCodeMove &m) { return l < m.line; });
    if (it == moves.begin())
        return -1;
    const int record = int(it - moves.begin()) - 1;
    const QVector<GCodeLayer> &layers = m_sim.layers();
    for (int L = 0; L < layers.size(); ++L) {
        for (const GCodeRange &r : layers[L].ranges) {
            if (record >= r.begin && record < r.end) {
                setRecordLimit(record + 1);
                topLayer = L;
                followTop = false;
                return L;
            }
        }
    }
    return -1;
}

void GCodePreview::showAllLines()
{
    setRecordLimit(kNoLimit);
}

void GCodePreview::setRecordLimit(int record)
{
    markLimitChange(m_recordLimit, record);
    m_recordLimit = record;
}

int GCodePreview::layerRecord(int layer, int k) const
{
    if (layer < 0 || layer >= layerCount() || k < 0)
        return -1;
    for (const GCodeRange &r : m_sim.layers()[layer].ranges) {
        if (k < r.end - r.begin)
            return r.begin + k;
        k -= r.end - r.begin;
    }
    return -1;
}

void GCodePreview::markLimitChange(int oldLimit, int newLimit)
{
    if (oldLimit == newLimit)
        return;
    const int lo = std::min(oldLimit, newLimit), hi = std::max(oldLimit, newLimit);
    const QVector<GCodeLayer> &layers = m_sim.layers();
    for (int L = 0; L < layers.size() && L < int(m_entries.size()); ++L)
        for (const GCodeRange &r : layers[L].ranges)
            if (r.end > lo && r.begin < hi)
                m_entries[size_t(L)]->groupsDirty = true;
}

void GCodePreview::setClipBox(const GCodeClipBox &clip)
{
    if (clip == m_clip)
        return;
    m_clip = clip;
    ++m_clipStamp;
}

float GCodePreview::layerHeight(int layer) const
{
    const QVector<GCodeLayer> &layers = m_sim.layers();
    const float z = layers[layer].z;
    float h = z;
    if (layer > 0 && layers[layer - 1].z < z)
        h = z - layers[layer - 1].z;
    if (!(h > 0.02f))
        h = 0.02f;
    return std::min(h, 1.0f);
}

QVector<GCodeGroupRuns> GCodePreview::builtGroups(int layer) const
{
    QVector<GCodeGroupRuns> out;
    if (layer < 0 || layer >= int(m_entries.size()))
        return out;
    for (const Group &g : m_entries[size_t(layer)]->groups) {
        GCodeGroupRuns r;
        r.colour = g.colour;
        r.runs = g.runs;
        out.append(r);
    }
    return out;
}

void GCodePreview::rebuild(int layer, Entry &e)
{
    const GCodeLayer &l = m_sim.layers()[layer];
    if (e.groupsDirty) {
        GCodeGroupingInput in;
        in.mode = colourMode;
        in.recordLimit = m_recordLimit;
        in.clip = m_clip;
        in.volume = volume;
        const QVector<GCodeGroupRuns> runs = groupLayer(m_sim.moves(), l, in);
        // Lists of the old groups are reused where the colour stays.
        std::vector<Group> old = std::move(e.groups);
        e.groups.clear();
        for (const GCodeGroupRuns &r : runs) {
            Group g;
            g.colour = r.colour;
            g.runs = r.runs;
            g.travel = isTravelColour(r.colour);
            for (Group &o : old) {
                if (o.list && o.colour == r.colour) {
                    g.list = std::move(o.list);
                    break;
                }
            }
            e.groups.push_back(std::move(g));
        }
        e.builtMoves = l.moveCount();
        e.builtMode = colourMode;
        e.builtRow = HeatPalette::instance().row();
        e.builtLimit = m_recordLimit;
        e.builtClip = m_clipStamp;
        e.groupsDirty = false;
        e.geometryDirty = true;
    }
    if (e.geometryDirty) {
        e.height = layerHeight(layer);
        for (Group &g : e.groups)
            g.geometry = beadGeometry(m_sim.moves(), {g.colour, g.runs}, volume, e.height, beadWidth, g.travel);
        e.geometryDirty = false;
        e.gpuDirty = true;
    }
    if (e.gpuDirty) {
        for (Group &g : e.groups) {
            const GLenum mode = g.travel ? GL_LINES : GL_TRIANGLE_STRIP;
            if (!g.list || g.list->primitiveMode != mode)
                g.list = std::make_unique<GLList_GCode>(mode);
            g.list->clear();
            g.vertexCount = g.geometry.size() / 3;
            if (g.vertexCount > 0)
                g.list->setBuffer('v', g.geometry, 3);
            g.geometry = QVector<float>(); // the GPU copy is the one kept
        }
        e.gpuDirty = false;
    }
}

void GCodePreview::drawEntry(int layer, Entry &e, bool dimmed, GCodeDrawBatch &batch)
{
    const float z = m_sim.layers()[layer].z;
    for (Group &g : e.groups) {
        if (!g.list || g.vertexCount == 0)
            continue;
        if (g.travel && !showTravel)
            continue;
        std::uint32_t c = g.colour;
        if (highlightOn && g.colour != highlightColour)
            c = kHighlightGrey;
        QColor qc = unpackColour(c);
        if (dimmed)
            qc = QColor::fromRgbF(qc.redF() * dimFactor, qc.greenF() * dimFactor, qc.blueF() * dimFactor);
        qc.setAlpha(255);
        g.list->color = GlViewer::shaderColor(qc);
        // The bead's centre plane; travel floats above the bead tops.
        g.list->layerZ = z - e.height * 0.5f + (g.travel ? kTravelLift * e.height : 0.0f);
        batch.draw(*g.list);
        m_drawnVertices += g.vertexCount;
    }
}

bool GCodePreview::drawLayers(int first, int last, bool unlimited)
{
    m_retired.clear(); // context is current here
    m_drawnVertices = 0;
    m_rebuilt = 0;
    const int n = int(m_entries.size());
    first = std::max(first, 0);
    last = std::min(last, n - 1);
    if (first > last)
        return false;

    QOpenGLFunctions *f = QOpenGLContext::currentContext()->functions();
    // Beads are open below and the strips' winding alternates: both sides show.
    f->glDisable(GL_CULL_FACE);
    QElapsedTimer clock;
    clock.start();
    int counted = 0;
    bool spent = false, remains = false;
    const int row = HeatPalette::instance().row();
    const QVector<GCodeLayer> &layers = m_sim.layers();
    // With a vertex cap the newest layers come first and the lowest are
    // left out once the cap is reached.
    const bool capped = vertexCap > 0;
    std::vector<int> drawOrder;
    drawOrder.reserve(size_t(last - first + 1));
    try {
        for (int i = first; i <= last; ++i) {
            const int L = capped ? first + last - i : i;
            if (capped && m_drawnVertices >= vertexCap) {
                remains = true;
                break;
            }
            Entry &e = *m_entries[size_t(L)];
            if (e.builtMode != colourMode || e.builtRow != row || e.builtLimit != m_recordLimit
                || e.builtClip != m_clipStamp || e.builtMoves != layers[L].moveCount())
                e.groupsDirty = true;
            const bool dirty = e.groupsDirty || e.geometryDirty || e.gpuDirty;
            if (dirty) {
                if (spent) {
                    remains = true;
                } else {
                    rebuild(L, e);
                    ++m_rebuilt;
                }
            }
            ++counted;
            if (!unlimited && !spent && counted >= kBudgetMinLayers && clock.elapsed() >= budgetMs)
                spent = true;
            for (const Group &g : e.groups)
                if (g.list && (!g.travel || showTravel))
                    m_drawnVertices += g.vertexCount;
            drawOrder.push_back(L);
        }
        // Top layer first: the beads below are then hidden by the depth test
        // before they are shaded, which is most of a software renderer's frame.
        std::sort(drawOrder.begin(), drawOrder.end(), std::greater<int>());
        m_drawnVertices = 0;
        GCodeDrawBatch batch;
        for (int L : drawOrder)
            drawEntry(L, *m_entries[size_t(L)], L != last, batch);
    } catch (...) {
        f->glEnable(GL_CULL_FACE);
        throw;
    }
    f->glEnable(GL_CULL_FACE);
    return remains;
}

bool GCodePreview::draw()
{
    return drawLayers(topLayer - std::max(additionalLayers, 0), topLayer);
}

void GCodePreview::releaseGL()
{
    m_retired.clear();
    for (auto &e : m_entries) {
        for (Group &g : e->groups) {
            g.list.reset();
            g.vertexCount = 0;
        }
        e->gpuDirty = e->geometryDirty = e->groupsDirty = true;
    }
}

// ------------------------------------------------------------------- legend

namespace {
// Clear of the 72-pixel button bar on the view's left edge.
const int kLegendX = 84, kLegendY = 150, kRowH = 18, kSwatch = 12;
const int kScaleSteps = 32; // the even heat entries
}

QVector<GCodePreview::LegendItem> GCodePreview::legendItems(QSize viewSize) const
{
    QVector<LegendItem> items;
    if (!showLegend)
        return items;
    const int top = std::min(kLegendY, std::max(0, viewSize.height() / 2 - 200));
    if (colourMode == CM_Type) {
        // Unknown, the path types, and travel last.
        for (int t = 0; t < 12; ++t)
            items.append({QRect(kLegendX + 8, top + 26 + t * kRowH, 150, kRowH), segTypeColour(t)});
    } else if (colourMode == CM_FeedRate || colourMode == CM_Extrusion) {
        // Slow / thin at the bottom.
        const int h = 8;
        for (int k = 0; k < kScaleSteps; ++k) {
            const int y = top + 44 + (kScaleSteps - 1 - k) * h;
            items.append({QRect(kLegendX + 8, y, 24, h), heatColour((2 * k + 0.5f) / 64.0f)});
        }
    }
    return items;
}

void GCodePreview::paintLegend(QPainter &p, QSize viewSize) const
{
    m_legendViewSize = viewSize;
    const QVector<LegendItem> items = legendItems(viewSize);
    if (items.isEmpty())
        return;
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    QRect box = items.first().rect;
    for (const LegendItem &it : items)
        box = box.united(it.rect);
    box.adjust(-8, colourMode == CM_Type ? -24 : -40, colourMode == CM_Type ? 8 : 96, 24);
    p.fillRect(box, QColor(20, 22, 28, 200));
    p.setPen(QColor(200, 200, 200));
    p.drawRect(box);
    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);
    auto swatchColour = [this](std::uint32_t c) {
        QColor q = unpackColour(highlightOn && c != highlightColour ? kHighlightGrey : c);
        q.setAlpha(255);
        return q;
    };
    if (colourMode == CM_Type) {
        p.setPen(Qt::white);
        p.drawText(QRect(box.left() + 8, box.top() + 4, box.width() - 16, 18), Qt::AlignLeft | Qt::AlignVCenter,
                   "Legend");
        for (int t = 0; t < items.size(); ++t) {
            const QRect r = items[t].rect;
            p.fillRect(QRect(r.left(), r.top() + 3, kSwatch, kSwatch), swatchColour(items[t].colour));
            p.setPen(highlightOn && items[t].colour == highlightColour ? QColor(255, 255, 120) : QColor(230, 230, 230));
            p.drawText(QRect(r.left() + kSwatch + 8, r.top(), r.width() - kSwatch - 8, r.height()),
                       Qt::AlignLeft | Qt::AlignVCenter, segTypeName(t));
        }
    } else {
        const bool feed = colourMode == CM_FeedRate;
        p.setPen(Qt::white);
        p.drawText(QRect(box.left() + 8, box.top() + 4, box.width() - 16, 18), Qt::AlignLeft | Qt::AlignVCenter,
                   feed ? "FeedRate" : "Extrusion");
        p.setPen(QColor(200, 200, 200));
        p.drawText(QRect(box.left() + 8, box.top() + 20, box.width() - 16, 16), Qt::AlignLeft | Qt::AlignVCenter,
                   feed ? "mm/s" : "mm/mm");
        for (const LegendItem &it : items)
            p.fillRect(it.rect, swatchColour(it.colour));
        // Labels at the ends and between: 200..9000 mm/min on a log scale
        // (3.33..150 mm/s); extrusion 0..0.1 mm of filament per mm.
        const int x = items.first().rect.right() + 8;
        const int yBottom = items.first().rect.bottom(), yTop = items.last().rect.top();
        p.setPen(QColor(230, 230, 230));
        for (int k = 0; k <= 4; ++k) {
            const double t = k / 4.0;
            const int y = int(yBottom + (yTop - yBottom) * t);
            const double value = feed ? 200.0 * std::pow(9000.0 / 200.0, t) / 60.0 : 0.1 * t;
            const QString text = feed ? QString::number(value, 'f', value < 10 ? 2 : 0) : QString::number(value, 'f', 3);
            p.drawText(QRect(x, y - 8, 80, 16), Qt::AlignLeft | Qt::AlignVCenter, text);
        }
    }
    p.restore();
}

bool GCodePreview::legendClick(QPoint pos)
{
    const QVector<LegendItem> items = legendItems(m_legendViewSize.isValid() ? m_legendViewSize : QSize(1280, 800));
    for (const LegendItem &it : items) {
        if (it.rect.contains(pos)) {
            if (highlightOn && highlightColour == it.colour) {
                highlightOn = false;
            } else {
                highlightOn = true;
                highlightColour = it.colour;
            }
            return true;
        }
    }
    return false;
}
