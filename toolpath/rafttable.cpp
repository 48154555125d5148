#include "toolpath/rafttable.h"

#include <QList>

#include <cmath>

namespace {

bool toFiniteFloat(const QByteArray &cell, float &out)
{
    bool ok = false;
    const float v = cell.toFloat(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

} // namespace

QVector<RaftRow> parseRaftConfig(const QByteArray &text)
{
    QVector<RaftRow> rows;
    QList<QByteArray> lines;
    for (const QByteArray &line : text.split('\n')) {
        if (!line.trimmed().isEmpty())
            lines.append(line);
    }
    if (lines.isEmpty())
        return rows;
    int typeCol = -1, heightCol = -1, densityCol = -1, angleCol = -1;
    const QList<QByteArray> names = lines[0].split(';');
    for (int c = 0; c < names.size(); ++c) {
        const QByteArray n = names[c].trimmed();
        // The first column of a name counts when a name repeats.
        if (n == "Type" && typeCol < 0)
            typeCol = c;
        else if (n == "LayerHeight" && heightCol < 0)
            heightCol = c;
        else if (n == "FillDensity" && densityCol < 0)
            densityCol = c;
        else if (n == "Angle" && angleCol < 0)
            angleCol = c;
    }
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> cells = lines[i].split(';');
        auto cell = [&cells](int c) { return c >= 0 && c < cells.size() ? cells[c].trimmed() : QByteArray(); };
        RaftRow row;
        bool ok = false;
        const int type = cell(typeCol).toInt(&ok);
        if (!ok || type < 0 || type > 3)
            continue;
        row.type = type;
        toFiniteFloat(cell(heightCol), row.layerHeight);
        if (row.layerHeight < 0.03f || row.layerHeight > 3.0f)
            continue;
        toFiniteFloat(cell(densityCol), row.fillDensity);
        row.fillDensity = std::min(std::max(row.fillDensity, 0.001f), 1.0f);
        float angle = 0;
        if (toFiniteFloat(cell(angleCol), angle))
            row.angle = int(std::trunc(std::fmod(angle, 360.0f)));
        rows.append(row);
    }
    return rows;
}
