#include "view/btnsys.h"
#include "view/mousestate.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

namespace {
const int W = 800, H = 600;

// Two plain buttons on the top edge and a toggle bar on the left whose first
// button is enabled only on request; every action counts its runs.
struct Bars {
    BtnSys sys;
    bool ui = true;
    bool allowC = false;
    int ran[4] = {};
    BtnGrp *top, *side;
    Btn *a, *b, *c, *d;
    MouseState m;

    Bars()
    {
        sys.uiEnabled = &ui;
        top = new BtnGrp(&sys, 0, 't', 0, false);
        a = new Btn(top, "A", 0, Qt::gray, [this] { ++ran[0]; });
        b = new Btn(top, "B", 1, Qt::gray, [this] { ++ran[1]; });
        side = new BtnGrp(&sys, 0, 'l', 0, true);
        c = new Btn(side, "C", 2, Qt::gray, [this] { ++ran[2]; }, [this] { return allowC; });
        d = new Btn(side, "D", 3, Qt::gray, [this] { ++ran[3]; });
        sys.setTargets(1);
        for (auto &g : sys.groups)
            g->visibility = 1;
    }
    void to(QPoint p, Qt::MouseButtons buttons)
    {
        m.update(buttons, Qt::NoModifier, p.x(), p.y(), 0);
        sys.mouse(m, W, H);
    }
    void drag(const QRect &from, const QRect &onto)
    {
        to(from.center(), Qt::NoButton);
        to(from.center(), Qt::LeftButton);
        to(onto.center(), Qt::LeftButton);
        to(onto.center(), Qt::NoButton);
    }
    void click(Btn *btn) { drag(btn->rect(W, H), btn->rect(W, H)); }
    int total() const { return ran[0] + ran[1] + ran[2] + ran[3]; }
};
} // namespace

TEST(BtnSys, BarsAndButtonsSitOnTheirEdgesSlideInAndFollowThePage)
{
    Bars t;
    // Two buttons: 136 x 72, centred, reaching 3 pixels across the edge.
    EXPECT_EQ(t.sys.groupRect(t.top, W, H), QRect(332, -3, 136, 72));
    EXPECT_EQ(t.a->rect(W, H), QRect(338, 3, 60, 60));
    EXPECT_EQ(t.b->rect(W, H), QRect(402, 3, 60, 60));
    EXPECT_EQ(t.d->rect(W, H), QRect(3, 302, 60, 60));
    EXPECT_EQ(t.d->index(), 1);

    t.top->offset = -2.5f;
    EXPECT_EQ(t.sys.groupRect(t.top, W, H).x(), 332 - 160);
    t.top->offset = 0;

    // Hidden: moved out by its full thickness more.
    t.top->visibility = 0;
    EXPECT_EQ(t.sys.groupRect(t.top, W, H).y(), -75);
    t.top->visibility = 0.5f;
    EXPECT_EQ(t.sys.groupRect(t.top, W, H).y(), -3 - 36);
    t.top->visibility = 1;

    // Halfway from page 0 to page 1: page 0 is half a view to the left.
    t.sys.smoothPage = 0.5f;
    EXPECT_EQ(t.sys.groupRect(t.top, W, H).x(), 332 - 400);
    EXPECT_EQ(t.sys.groupRect(t.top, W + 1, H).x(), (W + 1 - 136) / 2 - 400) << "-400.5 rounds up";
    t.sys.smoothPage = 0;

    // The animation moves toward the target, snaps, and then reports rest.
    t.top->visibility = 0;
    int steps = 0;
    while (t.sys.animate(0.2f) && steps < 100)
        ++steps;
    EXPECT_EQ(t.top->visibility, 1.0f);
    EXPECT_GT(steps, 3) << "dt is limited to 0.05 s a step";
    EXPECT_LT(steps, 20);
}

TEST(BtnSys, ClickRules)
{
    Bars t;
    t.click(t.a);
    EXPECT_EQ(t.ran[0], 1) << "one click, one run";
    EXPECT_EQ(t.total(), 1);

    // Pressed on one button, released on another: neither runs.
    t.drag(t.a->rect(W, H), t.b->rect(W, H));
    EXPECT_EQ(t.total(), 1);
    // Pressed off a button (the scene has the pointer), released on one.
    t.drag(QRect(400, 300, 1, 1), t.b->rect(W, H));
    EXPECT_EQ(t.total(), 1);
    t.to(QPoint(400, 300), Qt::LeftButton);
    t.to(t.a->rect(W, H).center(), Qt::LeftButton);
    EXPECT_FALSE(t.a->hover) << "a captured pointer hovers nothing";
    t.to(t.a->rect(W, H).center(), Qt::NoButton);
    EXPECT_EQ(t.total(), 1);

    // Nothing reacts while the UI is disabled.
    t.ui = false;
    t.click(t.a);
    t.click(t.d);
    EXPECT_EQ(t.total(), 1);
    EXPECT_FALSE(t.d->selected);
    t.ui = true;

    // The enabled predicate, and one selected button per toggle bar.
    t.click(t.c);
    EXPECT_EQ(t.ran[2], 0);
    EXPECT_FALSE(t.c->selected);
    t.click(t.d);
    EXPECT_TRUE(t.d->selected);
    t.allowC = true;
    t.click(t.c);
    EXPECT_EQ(t.ran[2], 1);
    EXPECT_TRUE(t.c->selected);
    EXPECT_FALSE(t.d->selected);
    EXPECT_EQ(t.total(), 3);

    // The view learns which mouse updates belong to the buttons.
    t.m.update(Qt::NoButton, Qt::NoModifier, t.a->rect(W, H).center().x(), 30, 0);
    EXPECT_TRUE(t.sys.mouse(t.m, W, H));
    t.m.update(Qt::NoButton, Qt::NoModifier, 400, 300, 0);
    EXPECT_FALSE(t.sys.mouse(t.m, W, H));
}

TEST(BtnSys, LookupAndErrors)
{
    Bars t;
    EXPECT_EQ(t.sys.find("B"), t.b);
    EXPECT_EQ(t.sys.find("missing"), nullptr);
    t.sys.select(t.d);
    EXPECT_TRUE(t.d->selected);

    auto message = [](const std::function<void()> &f) -> std::string {
        try {
            f();
        } catch (const char *e) {
            return e;
        }
        return "no error";
    };
    EXPECT_EQ(message([&] { new BtnGrp(&t.sys, 0, 'x', 0, false); }), "BtnGrp.edge unknown enum");
    Btn *stray = t.top->btns.back().release();
    t.top->btns.pop_back();
    EXPECT_EQ(message([&] { stray->index(); }), "Fatal error: Btn::index() failed");
    delete stray;

    t.sys.sheetName = "no-such-sheet.png";
    EXPECT_EQ(message([&] { t.sys.prepareImage(); }), "Fatal error: BtnSys::prepareImage() file not found");

    // The built-in sheet has a 60 x 60 cell for every icon the window uses.
    BtnSys real;
    real.prepareImage();
    EXPECT_GE((real.sheet().width() / 60) * (real.sheet().height() / 60), 24);
    // Drawing a selected button in each toggle bar works on every edge.
    for (char edge : {'t', 'b', 'l', 'r'}) {
        auto *g = new BtnGrp(&real, 0, edge, 0, true);
        real.select(new Btn(g, "X", 0, Qt::gray, [] {}));
        g->visibility = 1;
    }
    QImage img(W, H, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::black);
    QPainter p(&img);
    EXPECT_EQ(message([&] { real.draw(p, W, H); }), "no error");
}
