#include "view/gcodecolours.h"

#include "common/utils.h"

#include <QColor>
#include <cmath>

namespace {
const std::uint32_t kSegTypeColours[12] = {0x8877dd, 0xffffff, 0xff8000, 0x40ffcc, 0x1eff00, 0x0070dd,
                                           0xfd50c0, 0xff0020, 0x102060, 0x573bf6, 0x372bb6, 0xccff00};

// log2 of the feed rates (mm/min) at both ends of the FeedRate scale.
const double kLogF0 = std::log2(200.0);
const double kLogF1 = std::log2(9000.0);

inline bool extrudes(const GCodeMove &prev, const GCodeMove &rec)
{
    return rec.e > prev.e;
}
} // namespace

std::uint32_t segTypeColour(int segType)
{
    return segType >= 0 && segType < 12 ? kSegTypeColours[segType] : kWhite;
}

bool isTravelColour(std::uint32_t colour)
{
    return colour == kTravelColour || colour == kRetractColour;
}

std::uint32_t packColour(const QColor &c)
{
    return std::uint32_t(c.red()) | std::uint32_t(c.green()) << 8 | std::uint32_t(c.blue()) << 16
        | std::uint32_t(c.alpha()) << 24;
}

QColor unpackColour(std::uint32_t c)
{
    return QColor(int(c & 255), int((c >> 8) & 255), int((c >> 16) & 255), int(c >> 24));
}

std::uint32_t recordColour(const GroupState &state, const GCodeMove &prev, const GCodeMove &rec)
{
    if (!extrudes(prev, rec))
        return kTravelColour;
    switch (state.mode) {
    case CM_Type:
        return segTypeColour(rec.segType);
    case CM_Sequence: {
        const QVector<std::uint32_t> &p = sequencePalette();
        return p[int(unsigned(state.counter) % unsigned(p.size()))];
    }
    case CM_FeedRate: {
        // F <= 0 gives -inf, NaN stays NaN: both land at the slow end.
        const double t = (std::log2(double(rec.f)) - kLogF0) / (kLogF1 - kLogF0);
        return heatColour(float(t));
    }
    case CM_Extrusion: {
        const double dx = double(rec.x) - prev.x, dy = double(rec.y) - prev.y, dz = double(rec.z) - prev.z;
        const double len = std::sqrt(dx * dx + dy * dy + dz * dz);
        const double ratio = len < 0.0001 ? 0.0 : (double(rec.e) - prev.e) / len;
        return heatColour(float(10 * ratio));
    }
    case CM_Direction: {
        const double a = std::atan2(double(rec.x) - prev.x, double(rec.y) - prev.y);
        if (!std::isfinite(a))
            return directionPalette()[0];
        // 24 steps per turn; +24 keeps the index positive.
        const int index = int(std::lround(a * 3.8197186 + 24));
        return directionPalette()[index % 24];
    }
    default:
        return kWhite;
    }
}

bool continuesGroup(GroupState &state, const GCodeMove &prev, const GCodeMove &rec)
{
    const bool travel = !extrudes(prev, rec);
    if (state.start)
        state.travel = travel;
    if (travel != state.travel || rec.z != prev.z || rec.segType != prev.segType)
        return false;
    // Written as a negation so that NaN coordinates break the run too.
    if (!(std::fabs(rec.x - prev.x) > 0.01f || std::fabs(rec.y - prev.y) > 0.01f))
        return false;
    if (state.start) {
        state.colour = recordColour(state, prev, rec);
        ++state.counter;
        state.start = false;
        return true;
    }
    if (state.mode == CM_FeedRate || state.mode == CM_Extrusion || state.mode == CM_Direction)
        return recordColour(state, prev, rec) == state.colour;
    return true;
}

QVector<std::uint32_t> huePalette(int n)
{
    QVector<std::uint32_t> out;
    if (n <= 0)
        return out;
    const double step = 360.0 / n;
    for (double h = 0; h < 360 && out.size() < n; h += step) {
        const QColor c = QColor::fromHsv((int(h) + 10) % 360, 255, 255);
        // Blended toward black with weight 96 of 256; alpha 0.
        out.append(std::uint32_t(c.red() * 160 / 256) | std::uint32_t(c.green() * 160 / 256) << 8
                   | std::uint32_t(c.blue() * 160 / 256) << 16);
    }
    return out;
}

const QVector<std::uint32_t> &directionPalette()
{
    static const QVector<std::uint32_t> p = huePalette(24);
    return p;
}

const QVector<std::uint32_t> &sequencePalette()
{
    static const QVector<std::uint32_t> p = huePalette(8);
    return p;
}

HeatPalette &HeatPalette::instance()
{
    static HeatPalette p;
    return p;
}

void HeatPalette::setImage(const QImage &image)
{
    if (image.width() != Width || image.height() != Rows)
        throw QString("HeatPal: incompatible image");
    const QImage img = image.convertToFormat(QImage::Format_ARGB32);
    QVector<std::uint32_t> entries;
    entries.reserve(Width * Rows);
    for (int y = 0; y < Rows; ++y)
        for (int x = 0; x < Width; ++x)
            entries.append(packColour(QColor::fromRgba(img.pixel(x, y))));
    m_entries = entries;
}

void HeatPalette::ensureLoaded()
{
    if (loaded())
        return;
    const QString path = resourcePath("heatPalette.png");
    QImage img(path);
    if (img.isNull())
        throw QString("HeatPal: incompatible image");
    setImage(img);
}

void HeatPalette::setRow(int row)
{
    m_row = std::max(0, std::min(int(Rows) - 1, row));
}

std::uint32_t HeatPalette::entry(int index) const
{
    if (m_entries.isEmpty())
        return kWhite;
    index = std::max(0, std::min(int(Width) - 1, index));
    return m_entries[m_row * Width + index];
}

std::uint32_t heatColour(float t)
{
    HeatPalette &p = HeatPalette::instance();
    p.ensureLoaded();
    if (!(t > 0))
        t = 0;
    if (t > 0.999f)
        t = 0.999f;
    const int index = int(std::floor(64 * t)) & ~1;
    return p.entry(index);
}
