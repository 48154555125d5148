#pragma once
// The square command buttons the view draws over its edges. Buttons live in
// bars (groups) that belong to one view page and one edge; the bars slide in
// when shown and slide sideways with the page while the view mode changes.
#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class MouseState;
class QPainter;
class BtnGrp;
class BtnSys;

class Btn {
public:
    // Appends itself to `group`, which owns it.
    Btn(BtnGrp *group, const QString &name, int icon, const QColor &color, std::function<void()> action,
        std::function<bool()> enabled = {});

    QString name; // shown text and lookup key
    int icon;     // cell of the icon sheet, row by row
    QColor color;
    BtnGrp *group;
    std::function<void()> action;
    std::function<bool()> enabled; // none: always enabled

    bool hover = false;
    bool pressedLook = false;
    bool selected = false;

    // Position in its group; throws "Fatal error: Btn::index() failed" when
    // the group does not hold it.
    int index() const;
    bool isEnabled() const { return !enabled || enabled(); }
    // The 60 x 60 square in view pixels, for a view of width w and height h.
    QRect rect(int w, int h) const;
};

class BtnGrp {
public:
    // Registers itself with `sys`, which owns it. `edge` is 'l', 't', 'r' or
    // 'b'; `offset` is in 64-pixel units from the centre of the edge.
    BtnGrp(BtnSys *sys, int page, char edge, float offset, bool toggle);

    BtnSys *sys;
    int page;
    char edge;
    float offset;
    bool toggle;
    float visibility = 0; // 1 shown, 0 hidden (slid out across its edge)
    float target = 1;
    std::vector<std::unique_ptr<Btn>> btns;

    // Unit vector pointing into the view; throws "BtnGrp.edge unknown enum".
    QPoint direction() const;
};

class BtnSys {
public:
    BtnSys();
    ~BtnSys();
    BtnSys(const BtnSys &) = delete;
    BtnSys &operator=(const BtnSys &) = delete;

    std::vector<std::unique_ptr<BtnGrp>> groups; // creation order

    // While set, the view holds the pointer (a drag begun in the scene) and
    // no button reacts.
    bool captured = false;
    // The button a left press began on, if any.
    Btn *pressStarted = nullptr;
    // A click already ran for the input event being handled.
    bool clickHandled = false;
    // Cleared while slicing or loading G-code: then no button reacts. Not
    // owned; none means always enabled.
    const bool *uiEnabled = nullptr;

    // Smoothed view mode (0..2), for the page slide.
    float smoothPage = 0;
    // Sheet file name for the resource lookup (a file beside the
    // executable overrides the built-in one).
    QString sheetName = "icons.png";
    int cellSize = 60; // icon cell edge in the sheet, pixels

    Btn *find(const QString &name) const;
    // Runs the button's action when the UI is enabled and the button is;
    // selects it first in a toggle group. Returns whether the action ran.
    bool press(Btn *b);
    void select(Btn *b);

    // Group rectangle in view pixels for a w x h view.
    QRect groupRect(const BtnGrp *g, int w, int h) const;
    // The enabled button under (x, y), or none.
    Btn *buttonAt(int x, int y, int w, int h) const;

    // Hover, pressed looks and clicks from one mouse update of a w x h view.
    // Returns true when the event belongs to the buttons (pointer over a
    // button, or a press that began on one), so the view's tools skip it.
    // `looksChanged` tells whether a repaint is due.
    bool mouse(const MouseState &m, int w, int h, bool *looksChanged = nullptr);

    // Visibility animation; true when anything moved.
    bool animate(float dt);
    void setTargets(float target);

    void draw(QPainter &p, int w, int h);
    // Loads the icon sheet; throws "Fatal error: BtnSys::prepareImage() file
    // not found" when neither a file beside the executable nor the built-in
    // resource exists.
    void prepareImage();
    const QImage &sheet() const { return m_sheet; }

private:
    void drawButton(QPainter &p, const Btn *b, const QRect &r) const;
    QImage m_sheet;
    bool m_sheetFailed = false;
};
