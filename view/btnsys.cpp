#include "btnsys.h"

#include "common/utils.h"
#include "view/mousestate.h"
#include "view/shaders.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QTextDocument>
#include <cmath>

namespace {
const int kStep = 64;    // button pitch along a bar
const int kThick = 72;   // bar thickness
const int kSize = 60;    // button square
const int kInset = 6;    // first button's corner inside the bar
const int kOverlap = 3;  // a shown bar reaches this far across its edge

bool alongTopOrBottom(char edge)
{
    return edge == 't' || edge == 'b';
}
} // namespace

// ---- Btn ----

Btn::Btn(BtnGrp *g, const QString &n, int ic, const QColor &c, std::function<void()> act, std::function<bool()> en)
    : name(n), icon(ic), color(c), group(g), action(std::move(act)), enabled(std::move(en))
{
    g->btns.emplace_back(this);
}

int Btn::index() const
{
    for (size_t i = 0; i < group->btns.size(); ++i)
        if (group->btns[i].get() == this)
            return int(i);
    throw "Fatal error: Btn::index() failed";
}

QRect Btn::rect(int w, int h) const
{
    QRect g = group->sys->groupRect(group, w, h);
    QRect r(g.x() + kInset, g.y() + kInset, kSize, kSize);
    int along = index() * kStep;
    return alongTopOrBottom(group->edge) ? r.translated(along, 0) : r.translated(0, along);
}

// ---- BtnGrp ----

BtnGrp::BtnGrp(BtnSys *s, int pg, char e, float off, bool tog) : sys(s), page(pg), edge(e), offset(off), toggle(tog)
{
    direction(); // an unknown edge is refused at once
    s->groups.emplace_back(this);
}

QPoint BtnGrp::direction() const
{
    switch (edge) {
    case 'b': return QPoint(0, -1);
    case 'l': return QPoint(1, 0);
    case 'r': return QPoint(-1, 0);
    case 't': return QPoint(0, 1);
    }
    throw "BtnGrp.edge unknown enum";
}

// ---- BtnSys ----

BtnSys::BtnSys() = default;
BtnSys::~BtnSys() = default;

Btn *BtnSys::find(const QString &name) const
{
    for (const auto &g : groups)
        for (const auto &b : g->btns)
            if (b->name == name)
                return b.get();
    return nullptr;
}

void BtnSys::select(Btn *b)
{
    if (!b)
        return;
    for (auto &other : b->group->btns)
        other->selected = false;
    b->selected = true;
}

bool BtnSys::press(Btn *b)
{
    if (!b || (uiEnabled && !*uiEnabled) || !b->isEnabled())
        return false;
    if (b->group->toggle)
        select(b);
    clickHandled = true;
    if (b->action)
        b->action();
    return true;
}

QRect BtnSys::groupRect(const BtnGrp *g, int w, int h) const
{
    const QPoint dir = g->direction();
    const int n = int(g->btns.size());
    const int length = n * kStep + 8;
    const bool horizontal = alongTopOrBottom(g->edge);
    const int rw = horizontal ? length : kThick;
    const int rh = horizontal ? kThick : length;
    const int shift = int(std::lround(g->offset * kStep));
    int x, y;
    if (horizontal) {
        x = (w - rw) / 2 + shift;
        y = g->edge == 't' ? 0 : h - rh;
    } else {
        y = (h - rh) / 2 + shift;
        x = g->edge == 'l' ? 0 : w - rw;
    }
    // Slide-in: outward, across the edge.
    const int out = kOverlap + int((1.0f - g->visibility) * kThick);
    x -= dir.x() * out;
    y -= dir.y() * out;
    // Page slide while the view mode changes; halves round upward.
    x += int(std::floor((float(g->page) - smoothPage) * float(w) + 0.5f));
    return QRect(x, y, rw, rh);
}

Btn *BtnSys::buttonAt(int x, int y, int w, int h) const
{
    for (const auto &g : groups)
        for (const auto &b : g->btns)
            if (b->rect(w, h).contains(x, y))
                return b.get();
    return nullptr;
}

bool BtnSys::mouse(const MouseState &m, int w, int h, bool *looksChanged)
{
    clickHandled = false;
    const bool leftPressed = m.justPressed && (m.buttons & Qt::LeftButton);
    const bool leftReleased = (m.prevButtons & Qt::LeftButton) && !(m.buttons & Qt::LeftButton);
    bool changed = false, overAny = false;
    Btn *pressedOn = nullptr;
    Btn *releasedOn = nullptr;
    for (const auto &g : groups) {
        for (const auto &b : g->btns) {
            const bool inside = b->rect(w, h).contains(m.x, m.y);
            overAny = overAny || inside;
            const bool hover = !captured && inside;
            // Only the button the press began on looks pressed: releasing
            // anywhere else does not click.
            const bool look = hover && m.dominantButton == 1 && (pressStarted == b.get() || leftPressed);
            changed = changed || hover != b->hover || look != b->pressedLook;
            b->hover = hover;
            b->pressedLook = look;
            if (!hover)
                continue;
            if (leftPressed)
                pressedOn = b.get();
            else if (leftReleased)
                releasedOn = b.get();
        }
    }
    const bool belongs = (overAny && !captured) || pressStarted;
    if (leftPressed) {
        pressStarted = pressedOn;
        // A press in the scene belongs to the view until released.
        captured = !pressedOn;
    } else if (leftReleased) {
        Btn *started = pressStarted;
        pressStarted = nullptr;
        captured = false;
        if (started && releasedOn == started && !clickHandled) {
            press(releasedOn);
            changed = true;
        }
    } else if (!(m.buttons & (Qt::LeftButton | Qt::RightButton | Qt::MiddleButton))) {
        captured = false;
        pressStarted = nullptr;
    } else if (m.justPressed && !pressStarted) {
        captured = true; // another button pressed in the scene
    }
    if (looksChanged)
        *looksChanged = changed;
    return belongs;
}

void BtnSys::setTargets(float target)
{
    for (auto &g : groups)
        g->target = target;
}

bool BtnSys::animate(float dt)
{
    dt = std::min(dt, 0.05f);
    const float k = 1.0f - std::pow(0.6f, 30.0f * dt);
    bool moved = false;
    for (auto &g : groups) {
        if (g->visibility == g->target)
            continue;
        g->visibility += (g->target - g->visibility) * k;
        if (std::fabs(g->visibility - g->target) < 0.01f)
            g->visibility = g->target;
        moved = true;
    }
    return moved;
}

void BtnSys::prepareImage()
{
    if (!m_sheet.isNull() || m_sheetFailed)
        return;
    initViewResources();
    QString path;
    try {
        path = resourcePath(sheetName);
    } catch (...) {
        path.clear();
    }
    if (!path.isEmpty())
        m_sheet.load(path);
    if (m_sheet.isNull()) {
        // Reported once; the bars are drawn without icons afterwards.
        m_sheetFailed = true;
        throw "Fatal error: BtnSys::prepareImage() file not found";
    }
}

void BtnSys::draw(QPainter &p, int w, int h)
{
    prepareImage();
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const QRect view(0, 0, w, h);
    for (const auto &g : groups) {
        if (g->btns.empty())
            continue;
        const QRect gr = groupRect(g.get(), w, h);
        if (!gr.intersects(view))
            continue;
        // A bar reaching across its edge must not peek into the next page.
        const int pageX = int(std::floor((float(g->page) - smoothPage) * float(w) + 0.5f));
        p.setClipRect(QRect(pageX, 0, w, h).intersected(view));
        QPainterPath panel;
        panel.addRoundedRect(QRectF(gr).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
        p.setPen(QPen(QColor(110, 120, 140, 200), 1));
        p.setBrush(QColor(24, 27, 33, 215));
        p.drawPath(panel);
        for (const auto &b : g->btns)
            drawButton(p, b.get(), b->rect(w, h));
        p.setClipping(false);
    }
    p.restore();
}

void BtnSys::drawButton(QPainter &p, const Btn *b, const QRect &r) const
{
    const bool on = b->isEnabled() && (!uiEnabled || *uiEnabled);
    p.save();
    p.setOpacity(on ? 1.0 : 0.35);

    QColor face = b->color;
    if (b->pressedLook)
        face = face.darker(140);
    else if (b->hover && on)
        face = face.lighter(135);
    QLinearGradient grad(r.topLeft(), r.bottomLeft());
    grad.setColorAt(0, face.lighter(115));
    grad.setColorAt(1, face.darker(125));
    p.setPen(QPen(b->hover && on ? QColor(235, 240, 250) : QColor(15, 17, 20), 1));
    p.setBrush(grad);
    p.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);

    // Icon in the upper part, the name below it.
    const int iconSize = 40;
    const QRect iconRect(r.x() + (r.width() - iconSize) / 2, r.y() + 2 + (b->pressedLook ? 1 : 0), iconSize, iconSize);
    if (!m_sheet.isNull() && b->icon >= 0) {
        const int cols = std::max(1, m_sheet.width() / cellSize);
        const QRect cell((b->icon % cols) * cellSize, (b->icon / cols) * cellSize, cellSize, cellSize);
        if (m_sheet.rect().contains(cell))
            p.drawImage(iconRect, m_sheet, cell);
    }

    QTextDocument label;
    QFont font = p.font();
    font.setBold(true);
    // The largest size up to 11 px at which the name fits on one line.
    for (int px = 11; px >= 8; --px) {
        font.setPixelSize(px);
        if (QFontMetrics(font).horizontalAdvance(b->name) <= r.width() - 2)
            break;
    }
    label.setDefaultFont(font);
    label.setDocumentMargin(0);
    label.setTextWidth(r.width());
    label.setDefaultStyleSheet("p { color: #ffffff; }");
    label.setHtml("<p align=center>" + b->name.toHtmlEscaped() + "</p>");
    // Clipped on top of the page clip (drawContents with a rectangle would
    // replace it).
    p.save();
    p.setClipRect(QRect(r.x(), r.bottom() - 15, r.width(), 16), Qt::IntersectClip);
    p.translate(r.x(), r.bottom() - 15);
    label.drawContents(&p);
    p.restore();

    if (b->selected && b->group->toggle) {
        // A bright strip on the side facing into the view.
        QRect mark;
        switch (b->group->edge) {
        case 't': mark = QRect(r.x() + 6, r.bottom() + 2, r.width() - 12, 4); break;
        case 'b': mark = QRect(r.x() + 6, r.top() - 5, r.width() - 12, 4); break;
        case 'l': mark = QRect(r.right() + 2, r.y() + 6, 4, r.height() - 12); break;
        case 'r': mark = QRect(r.left() - 5, r.y() + 6, 4, r.height() - 12); break;
        default: throw "Btn::draw() selected: not inmplemented on this edge";
        }
        p.setOpacity(1.0);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(90, 200, 255));
        p.drawRoundedRect(mark, 2, 2);
        p.setPen(QPen(QColor(90, 200, 255), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(r).adjusted(1, 1, -1, -1), 6, 6);
    }
    p.restore();
}
