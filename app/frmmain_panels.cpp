// The edge panels of the main window: one small widget panel per edit mode,
// laid over an edge of the view, and the scene operations behind their
// buttons.
#include "app/frmmain.h"

#include "app/frmoptions.h"
#include "view/btnsys.h"
#include "view/glviewer.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <cmath>

namespace {
const char *const kCameraHelp =
    "In every tool, camera and selection work as in Select: the wheel zooms and sets the view target, the middle or "
    "right button orbits, with Shift pans and with Ctrl looks around.";

QFrame *makePanel(QWidget *parent, const QString &name, const QString &title, const QString &help)
{
    auto *p = new QFrame(parent);
    p->setObjectName(name);
    p->setFrameShape(QFrame::StyledPanel);
    p->setAutoFillBackground(false);
    p->setStyleSheet("QFrame#" + name +
                     " { background-color: rgba(28, 31, 38, 225); border: 1px solid #5a6478; border-radius: 6px; }");
    p->setToolTip(help + "\n\n" + kCameraHelp);
    auto *layout = new QHBoxLayout(p);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(8);
    auto *caption = new QLabel("<b>" + title + "</b>", p);
    caption->setObjectName("lTitle" + name.mid(1));
    auto *help1 = new QLabel("<b>?</b>", p);
    help1->setObjectName("lHelp" + name.mid(1));
    help1->setToolTip(p->toolTip());
    help1->setStyleSheet("QLabel { color: #9fd0ff; }");
    layout->addWidget(caption);
    layout->addWidget(help1);
    p->hide();
    return p;
}

// Shows as much of a long text (a file path) as fits, with its end; the
// whole text in the tooltip. Its width comes from the layout, not the text.
class ElidedLabel : public QLabel {
public:
    using QLabel::QLabel;
    QSize sizeHint() const override { return QSize(160, QLabel::sizeHint().height()); }
    QSize minimumSizeHint() const override { return QSize(60, QLabel::minimumSizeHint().height()); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setPen(palette().color(QPalette::WindowText));
        const QRect r = contentsRect();
        p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, fontMetrics().elidedText(text(), Qt::ElideLeft, r.width()));
        if (toolTip() != text())
            const_cast<ElidedLabel *>(this)->setToolTip(text());
    }
};

template <class W>
W *add(QWidget *panel, W *w, const QString &name)
{
    w->setObjectName(name);
    panel->layout()->addWidget(w);
    return w;
}

QLabel *label(QWidget *panel, const QString &text)
{
    return add(panel, new QLabel(text, panel), "l" + QString(text).remove(QRegExp("[^A-Za-z]")));
}

QPushButton *button(QWidget *panel, const QString &text, const QString &name)
{
    return add(panel, new QPushButton(text, panel), name);
}

QDoubleSpinBox *dspin(QWidget *panel, const QString &name, double lo, double hi, double value, double step,
                      const QString &suffix, int decimals = 2)
{
    auto *s = add(panel, new QDoubleSpinBox(panel), name);
    s->setRange(lo, hi);
    s->setDecimals(decimals);
    s->setSingleStep(step);
    s->setValue(value);
    s->setSuffix(suffix);
    return s;
}

QCheckBox *check(QWidget *panel, const QString &text, const QString &name, bool on)
{
    auto *c = add(panel, new QCheckBox(text, panel), name);
    c->setChecked(on);
    return c;
}

} // namespace

void FrmMain::buildPanels()
{
    // Select
    QFrame *p = makePanel(m_viewer, "pSelect", "Select",
                          "Select: click an object or drag a rectangle with the left button to select; Shift adds, "
                          "Ctrl toggles.");
    connect(button(p, "Select all", "bSelectAll"), &QPushButton::clicked, this, [this] { selectAll(); });
    connect(button(p, "Select none", "bSelectNone"), &QPushButton::clicked, this, [this] { selectNone(); });
    m_panels[EM_Select] = p;

    // Move
    p = makePanel(m_viewer, "pMove", "Move",
                  "Move: drag the selected objects; Shift snaps to an axis, Alt clones.");
    connect(button(p, "Realign", "bRealign"), &QPushButton::clicked, this, [this] { realignAll(); });
    m_panels[EM_Move] = p;

    // Rotate
    p = makePanel(m_viewer, "pRotate", "Rotate",
                  "Rotate: drag to rotate the selection; Alt rolls, Shift toggles angle snap.");
    m_persistentWidgets << check(p, "Angle snap", "chAngleSnap", true);
    m_persistentWidgets << dspin(p, "seAngleSnap", 0.01, 180, 15, 1, "\u00b0");
    connect(button(p, "Reset", "bRotReset"), &QPushButton::clicked, this, [this] { resetRotation(); });
    m_panels[EM_Rotate] = p;

    // Scale
    p = makePanel(m_viewer, "pScale", "Scale", "Scale: drag to resize the selection; Shift along one axis.");
    connect(button(p, "Mirror X", "bMirrorX"), &QPushButton::clicked, this, [this] { mirror(0); });
    connect(button(p, "MirrorY", "bMirrorY"), &QPushButton::clicked, this, [this] { mirror(1); });
    connect(button(p, "MirrorZ", "bMirrorZ"), &QPushButton::clicked, this, [this] { mirror(2); });
    m_persistentWidgets << check(p, "Uniform", "chUniform", true);
    QDoubleSpinBox *scaleBy = dspin(p, "seScaleBy", 0.1, 10000, 100, 10, " %", 1);
    m_persistentWidgets << scaleBy;
    connect(button(p, "Scale by", "bScaleBy"), &QPushButton::clicked, this,
            [this, scaleBy] { scaleSelectionBy(float(scaleBy->value() / 100.0)); });
    connect(button(p, "Reset", "bScaleReset"), &QPushButton::clicked, this, [this] { resetScale(); });
    m_panels[EM_Scale] = p;

    // Drop plane
    p = makePanel(m_viewer, "pDropPlane", "Drop plane",
                  "Drop plane: click a surface to lay it on the ground; drag to pick the target surface, Alt rolls "
                  "about the surface normal, Shift toggles angle snap.");
    m_panels[EM_DropPlane] = p;

    // Support
    p = makePanel(m_viewer, "pSupport", "Support",
                  "Support: click a surface to place bars, drag to another surface for a free-hand bar; Shift "
                  "straightens vertically, Ctrl deletes bars, keypad +/- change the bar size.");
    label(p, "SupportBar base thickness");
    m_seBarSize = dspin(p, "seBarSize", 0.2, 10, 1.0, 0.1, " mm");
    m_persistentWidgets << m_seBarSize;
    label(p, "Minimum surface steepness:");
    m_persistentWidgets << dspin(p, "seSteepness", 0, 90, 45, 1, "\u00b0", 1);
    connect(button(p, "Auto-Generate Support", "bAutoSupport"), &QPushButton::clicked, this,
            [this] { generateSupports(); });
    connect(button(p, "Clear all the suppotrs", "bClearSupports"), &QPushButton::clicked, this,
            [this] { clearSupports(); });
    m_panels[EM_Support] = p;

    // GCode: built here, driven by the G-code preview (found by object name).
    p = makePanel(m_viewer, "pGCode", "GCode",
                  "GCode: the layer box and slider choose the top layer shown; the wheel zooms, the middle or right "
                  "button orbits.");
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    static_cast<QHBoxLayout *>(p->layout())->addLayout(grid);
    auto put = [grid, p](QWidget *w, const QString &name, int row, int col, int span = 1) {
        w->setObjectName(name);
        w->setParent(p);
        grid->addWidget(w, row, col, 1, span);
        return w;
    };
    put(new QLabel("Layer"), "lLayer", 0, 0);
    auto *seLayer = static_cast<QSpinBox *>(put(new QSpinBox, "seLayer", 0, 1));
    auto *slLayer = new QSlider(Qt::Horizontal);
    put(slLayer, "slLayer", 0, 2, 4);
    slLayer->setMinimumWidth(260);
    connect(seLayer, QOverload<int>::of(&QSpinBox::valueChanged), slLayer, &QSlider::setValue);
    connect(slLayer, &QSlider::valueChanged, seLayer, &QSpinBox::setValue);
    put(new QLabel("Additional layers"), "lAdditionalLayers", 0, 6);
    auto *seAdd = static_cast<QSpinBox *>(put(new QSpinBox, "seAdditionalLayers", 0, 7));
    seAdd->setRange(0, 100000);
    m_persistentWidgets << seAdd;
    auto *slLine = new QSlider(Qt::Horizontal);
    slLine->setToolTip("Moves within the top layer");
    put(slLine, "slLine", 1, 2, 4);
    put(new QLabel("Line"), "lLine", 1, 0);

    put(new QLabel("Coloring by"), "lColoringBy", 2, 0);
    auto *cb = static_cast<QComboBox *>(put(new QComboBox, "cbColoringBy", 2, 1, 2));
    cb->addItems({"Type", "Sequence", "FeedRate", "Extrusion", "Direction"});
    m_persistentWidgets << cb;
    m_persistentWidgets << put(new QCheckBox("Travel"), "chTravel", 2, 3);
    auto *legend = static_cast<QCheckBox *>(put(new QCheckBox("Legend"), "chShowLegend", 2, 4));
    legend->setChecked(true);
    m_persistentWidgets << legend;

    put(new ElidedLabel("GCode filename"), "lGCodeTitle", 3, 0, 3);
    connect(static_cast<QPushButton *>(put(new QPushButton("Clear"), "bClearGCode", 3, 3)), &QPushButton::clicked,
            this, [this] { clearGCode(); });
    connect(static_cast<QPushButton *>(put(new QPushButton("Print"), "bPrintGCode", 3, 4)), &QPushButton::clicked,
            this, [this] { printGCode(); });
    connect(static_cast<QPushButton *>(put(new QPushButton("Statistics"), "bStatistics", 3, 5)),
            &QPushButton::clicked, this, [this] {
                m_viewStats = !m_viewStats;
                setStatsVisible(m_viewStats);
            });
    put(new QPushButton("Redraw"), "bRedraw", 3, 6, 2);

    auto *clip = new QGroupBox("Clipping", p);
    clip->setObjectName("gbClipping");
    grid->addWidget(clip, 0, 8, 4, 1);
    auto *cl = new QGridLayout(clip);
    cl->setContentsMargins(6, 2, 6, 2);
    cl->setVerticalSpacing(2);
    const char *const sides[3][3] = {{"Right", "chClipRight", "X off"},
                                     {"Front", "chClipFront", "Y off"},
                                     {"Bottom", "chClipBottom", "Z off"}};
    const char *const spins[3] = {"seClipX", "seClipY", "seClipZ"};
    for (int i = 0; i < 3; ++i) {
        auto *c = new QCheckBox(sides[i][0], clip);
        c->setObjectName(sides[i][1]);
        auto *s = new QDoubleSpinBox(clip);
        s->setObjectName(spins[i]);
        s->setRange(-1, 1000);
        s->setValue(-1);
        s->setSpecialValueText(sides[i][2]); // at the minimum the plane is off
        s->setSuffix(" mm");
        cl->addWidget(c, i, 0);
        cl->addWidget(s, i, 1);
        m_persistentWidgets << c << s;
    }
    m_panels[EM_GCode] = p;

    for (QWidget *panel : m_panels)
        panel->adjustSize();
}

QWidget *FrmMain::modePanel(int editMode) const
{
    return editMode >= 0 && editMode < 7 ? m_panels[editMode] : nullptr;
}

char FrmMain::panelEdge(int mode) const
{
    // The G-code panel is wide: it runs along the bottom. The tools' panels
    // sit on the side the options choose, clear of the button bars.
    if (mode == EM_GCode)
        return 'b';
    if (m_options)
        return m_options->editorPanelAlignment() == 0 ? 'l' : 'r';
    return 'r';
}

void FrmMain::alignWidgetToEdge(QWidget *w, char edge)
{
    const QSize s = w->sizeHint().expandedTo(w->minimumSizeHint());
    if (s.width() > 1024)
        throw QString("Fatal error: The width of %1 is damn too high. (%2)").arg(w->objectName()).arg(s.width());
    if (s.height() > 700)
        throw QString("Fatal error: The height of %1 is damn too high. (%2)").arg(w->objectName()).arg(s.height());
    if (w->size() != s)
        w->resize(s);
    const int vw = m_viewer->width(), vh = m_viewer->height();
    // Bars of buttons sit on the left, top and right edges: panels there
    // keep clear of them.
    const int bar = 72, gap = 4;
    QPoint pos;
    switch (edge) {
    case 'b': pos = QPoint((vw - s.width()) / 2, vh - s.height() - gap); break;
    case 't': pos = QPoint((vw - s.width()) / 2, bar + gap); break;
    case 'l': pos = QPoint(bar + gap, (vh - s.height()) / 2); break;
    case 'r': pos = QPoint(vw - s.width() - bar - gap, (vh - s.height()) / 2); break;
    default: throw "FrmMain::alignWidgetToEdge() Invalid edge parameter";
    }
    if (w->pos() != pos)
        w->move(pos);
}

void FrmMain::placePanels()
{
    for (int i = 0; i < 7; ++i)
        if (m_panels[i] && m_panels[i]->isVisible())
            alignWidgetToEdge(m_panels[i], panelEdge(i));
}

void FrmMain::resizeEvent(QResizeEvent *e)
{
    QMainWindow::resizeEvent(e);
    if (m_panels[0])
        placePanels();
}

void FrmMain::refreshPanels()
{
    if (!m_btnSys)
        return;
    m_btnAutoDrop->selected = m_autoDrop;
    m_btnViewGCode->selected = m_viewGCode;
    m_btnViewStats->selected = m_viewStats;
    const int mode = m_viewer->editMode;
    for (int i = 0; i < 7; ++i) {
        QWidget *p = m_panels[i];
        const bool show = i == mode && (i != EM_GCode || m_viewGCode);
        if (show) {
            const char edge = panelEdge(i);
            // A panel on a side edge stacks its controls.
            auto *box = static_cast<QBoxLayout *>(p->layout());
            const auto dir = edge == 'l' || edge == 'r' ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight;
            if (box->direction() != dir)
                box->setDirection(dir);
            // Also follows the view's size, which settles after the window's.
            // An oversized panel is reported once, not on every tick.
            if (!m_panelErrors.contains(p)) {
                try {
                    alignWidgetToEdge(p, edge);
                } catch (...) {
                    m_panelErrors.insert(p);
                    throw;
                }
            }
            if (!p->isVisible()) {
                p->show();
                p->raise();
            }
        } else if (p->isVisible()) {
            p->hide();
        }
    }
}

// ---------------------------------------------------------------- scene operations
// The view's tools own these edits (clamps, one undo entry when something
// changed, progress while generating).

void FrmMain::realignAll() { m_viewer->tools().realign(); }

void FrmMain::resetRotation() { m_viewer->tools().resetRotation(); }

void FrmMain::resetScale() { m_viewer->tools().resetScale(); }

void FrmMain::scaleSelectionBy(float factor) { m_viewer->tools().scaleBy(Vec3(factor, factor, factor)); }

void FrmMain::generateSupports() { m_viewer->tools().generateSupport(); }

void FrmMain::clearSupports() { m_viewer->tools().clearSupport(); }
