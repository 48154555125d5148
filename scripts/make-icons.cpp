// Draws the button icon sheet res/icons.png: 60 x 60 cells, eight per row,
// in the order of the Icon enumeration of app/frmmain_commands.cpp. The PNG
// is committed; run this only to change the icons:
//   g++ -std=c++17 -fPIC scripts/make-icons.cpp -o /tmp/make-icons $(pkg-config --cflags --libs Qt5Gui)
//   QT_QPA_PLATFORM=offscreen /tmp/make-icons res/icons.png res/tessavo.png
// (the second file is the application icon).
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {
const int kCell = 60;
const int kCols = 8;

const QColor kInk(245, 247, 250);
const QColor kBlue(90, 190, 255);
const QColor kGreen(110, 220, 120);
const QColor kRed(255, 95, 85);
const QColor kYellow(255, 205, 80);
const QColor kOrange(255, 160, 60);

QPen pen(const QColor &c, double w = 4)
{
    return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void arrow(QPainter &p, QPointF from, QPointF to, const QColor &c, double w = 4)
{
    p.setPen(pen(c, w));
    p.drawLine(from, to);
    QPointF d = to - from;
    double len = std::hypot(d.x(), d.y());
    if (len <= 0)
        return;
    QPointF u = d / len, n(-u.y(), u.x());
    QPolygonF head;
    head << to + u * 3 << to - u * 9 + n * 7 << to - u * 9 - n * 7;
    p.setBrush(c);
    p.setPen(pen(c, 1.5));
    p.drawPolygon(head);
    p.setBrush(Qt::NoBrush);
}

void page(QPainter &p, const QColor &c)
{
    QPainterPath s;
    s.moveTo(14, 8);
    s.lineTo(36, 8);
    s.lineTo(46, 18);
    s.lineTo(46, 52);
    s.lineTo(14, 52);
    s.closeSubpath();
    p.setPen(pen(c, 3.5));
    p.setBrush(QColor(255, 255, 255, 30));
    p.drawPath(s);
    p.drawLine(QPointF(36, 8), QPointF(36, 18));
    p.drawLine(QPointF(36, 18), QPointF(46, 18));
    p.setBrush(Qt::NoBrush);
}

void folder(QPainter &p)
{
    QPainterPath s;
    s.moveTo(6, 16);
    s.lineTo(22, 16);
    s.lineTo(26, 21);
    s.lineTo(52, 21);
    s.lineTo(52, 48);
    s.lineTo(6, 48);
    s.closeSubpath();
    p.setPen(pen(kYellow, 3.5));
    p.setBrush(QColor(255, 205, 80, 60));
    p.drawPath(s);
    p.setBrush(Qt::NoBrush);
}

void disk(QPainter &p, const QColor &c)
{
    p.setPen(pen(c, 3.5));
    p.setBrush(QColor(255, 255, 255, 25));
    p.drawRoundedRect(QRectF(10, 8, 40, 42), 4, 4);
    p.drawRect(QRectF(19, 8, 22, 13));
    p.setBrush(c);
    p.drawRect(QRectF(17, 33, 26, 17));
    p.setBrush(Qt::NoBrush);
}

void cube(QPainter &p, QPointF o, double s, const QColor &c, bool filled = true)
{
    QPolygonF top, left, right;
    QPointF a = o, b = o + QPointF(s, -s * 0.5), cc = o + QPointF(0, -s), d = o + QPointF(-s, -s * 0.5);
    QPointF down(0, s);
    top << a << b << cc << d;
    left << d << a << a + down << d + down;
    right << a << b << b + down << a + down;
    p.setPen(pen(c, 2.5));
    if (filled) {
        p.setBrush(QColor(c.red(), c.green(), c.blue(), 140));
        p.drawPolygon(top);
        p.setBrush(QColor(c.red(), c.green(), c.blue(), 90));
        p.drawPolygon(left);
        p.setBrush(QColor(c.red(), c.green(), c.blue(), 50));
        p.drawPolygon(right);
    } else {
        p.setBrush(Qt::NoBrush);
        p.drawPolygon(top);
        p.drawPolygon(left);
        p.drawPolygon(right);
    }
    p.setBrush(Qt::NoBrush);
}

void curvedArrow(QPainter &p, bool clockwise)
{
    p.setPen(pen(kInk, 4.5));
    QRectF r(12, 14, 36, 34);
    QPainterPath s;
    if (clockwise) {
        s.arcMoveTo(r, 200);
        s.arcTo(r, 200, -220);
    } else {
        s.arcMoveTo(r, -20);
        s.arcTo(r, -20, 220);
    }
    p.drawPath(s);
    QPointF tip = s.currentPosition();
    QPolygonF head;
    if (clockwise)
        head << tip + QPointF(-8, -9) << tip + QPointF(8, -4) << tip + QPointF(-3, 8);
    else
        head << tip + QPointF(8, -9) << tip + QPointF(-8, -4) << tip + QPointF(3, 8);
    p.setBrush(kInk);
    p.setPen(pen(kInk, 1.5));
    p.drawPolygon(head);
    p.setBrush(Qt::NoBrush);
}

void gear(QPainter &p)
{
    QPainterPath g;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        double a0 = M_PI * i / teeth, a1 = M_PI * (i + 1) / teeth;
        double r = (i % 2) ? 16 : 22;
        QPointF p0(30 + r * std::cos(a0 + 0.1), 30 + r * std::sin(a0 + 0.1));
        QPointF p1(30 + r * std::cos(a1 - 0.1), 30 + r * std::sin(a1 - 0.1));
        if (i == 0)
            g.moveTo(p0);
        else
            g.lineTo(p0);
        g.lineTo(p1);
    }
    g.closeSubpath();
    g.addEllipse(QPointF(30, 30), 7, 7);
    p.setPen(pen(kInk, 2.5));
    p.setBrush(QColor(200, 210, 225, 120));
    p.drawPath(g);
    p.setBrush(Qt::NoBrush);
}

void text(QPainter &p, const QRectF &r, const QString &t, int px, const QColor &c)
{
    QFont f("DejaVu Sans");
    f.setPixelSize(px);
    f.setBold(true);
    p.setFont(f);
    p.setPen(c);
    p.drawText(r, Qt::AlignCenter, t);
}

void bed(QPainter &p)
{
    QPolygonF b;
    b << QPointF(6, 50) << QPointF(18, 42) << QPointF(54, 42) << QPointF(42, 50);
    p.setPen(pen(QColor(170, 180, 200), 2.5));
    p.setBrush(QColor(170, 180, 200, 80));
    p.drawPolygon(b);
    p.setBrush(Qt::NoBrush);
}

using Painter = std::function<void(QPainter &)>;

std::vector<Painter> icons()
{
    return {
        // 0 New Proj
        [](QPainter &p) {
            page(p, kInk);
            p.setPen(pen(kGreen, 4.5));
            p.drawLine(QPointF(30, 24), QPointF(30, 44));
            p.drawLine(QPointF(20, 34), QPointF(40, 34));
        },
        // 1 Open
        [](QPainter &p) {
            folder(p);
            arrow(p, QPointF(30, 44), QPointF(30, 8), kInk, 4);
        },
        // 2 Save
        [](QPainter &p) { disk(p, kBlue); },
        // 3 SaveAs
        [](QPainter &p) {
            disk(p, kBlue);
            p.setPen(pen(kYellow, 5));
            p.drawLine(QPointF(34, 46), QPointF(54, 24));
            p.setPen(pen(kOrange, 3));
            p.drawLine(QPointF(31, 50), QPointF(34, 46));
        },
        // 4 Export
        [](QPainter &p) {
            cube(p, QPointF(22, 40), 14, kBlue);
            arrow(p, QPointF(30, 30), QPointF(54, 14), kGreen, 4);
        },
        // 5 Undo
        [](QPainter &p) { curvedArrow(p, false); },
        // 6 Redo
        [](QPainter &p) { curvedArrow(p, true); },
        // 7 Add
        [](QPainter &p) {
            cube(p, QPointF(24, 40), 16, kBlue);
            p.setPen(pen(kGreen, 5));
            p.drawLine(QPointF(46, 6), QPointF(46, 26));
            p.drawLine(QPointF(36, 16), QPointF(56, 16));
        },
        // 8 Remove
        [](QPainter &p) {
            cube(p, QPointF(24, 40), 16, kBlue);
            p.setPen(pen(kRed, 5));
            p.drawLine(QPointF(38, 8), QPointF(54, 24));
            p.drawLine(QPointF(54, 8), QPointF(38, 24));
        },
        // 9 Select: pointer arrow
        [](QPainter &p) {
            QPolygonF a;
            a << QPointF(18, 6) << QPointF(18, 46) << QPointF(28, 37) << QPointF(35, 52) << QPointF(42, 49)
              << QPointF(35, 34) << QPointF(48, 33);
            p.setPen(pen(QColor(20, 20, 20), 2));
            p.setBrush(kInk);
            p.drawPolygon(a);
            p.setBrush(Qt::NoBrush);
        },
        // 10 Move: four arrows
        [](QPainter &p) {
            QPointF c(30, 30);
            arrow(p, c, QPointF(30, 6), kInk, 4);
            arrow(p, c, QPointF(30, 54), kInk, 4);
            arrow(p, c, QPointF(6, 30), kInk, 4);
            arrow(p, c, QPointF(54, 30), kInk, 4);
        },
        // 11 Rotate
        [](QPainter &p) {
            cube(p, QPointF(30, 38), 12, kBlue);
            p.setPen(pen(kGreen, 4));
            QRectF r(6, 10, 48, 40);
            p.drawArc(r, 30 * 16, 280 * 16);
            QPointF tip(6 + 24 + 24 * std::cos(M_PI / 6), 30 - 20 * std::sin(M_PI / 6));
            QPolygonF head;
            head << tip + QPointF(-9, -6) << tip + QPointF(5, -8) << tip + QPointF(1, 6);
            p.setBrush(kGreen);
            p.drawPolygon(head);
            p.setBrush(Qt::NoBrush);
        },
        // 12 Scale
        [](QPainter &p) {
            p.setPen(pen(QColor(150, 160, 180), 2.5));
            p.drawRect(QRectF(8, 26, 24, 24));
            p.setPen(pen(kInk, 3.5));
            p.drawRect(QRectF(8, 8, 42, 42));
            arrow(p, QPointF(22, 36), QPointF(44, 14), kGreen, 4);
        },
        // 13 Drop plane: object tipping onto the bed
        [](QPainter &p) {
            bed(p);
            p.save();
            p.translate(30, 24);
            p.rotate(-25);
            p.setPen(pen(kBlue, 3));
            p.setBrush(QColor(90, 190, 255, 90));
            p.drawRect(QRectF(-10, -12, 20, 20));
            p.setPen(pen(kYellow, 4));
            p.drawLine(QPointF(-10, 8), QPointF(10, 8));
            p.restore();
            arrow(p, QPointF(50, 14), QPointF(50, 36), kGreen, 3);
        },
        // 14 Auto drop: object falling onto the bed
        [](QPainter &p) {
            bed(p);
            cube(p, QPointF(30, 22), 10, kBlue);
            arrow(p, QPointF(30, 26), QPointF(30, 40), kGreen, 3.5);
        },
        // 15 Support: object on bars
        [](QPainter &p) {
            bed(p);
            p.setPen(pen(kBlue, 3));
            p.setBrush(QColor(90, 190, 255, 90));
            p.drawRect(QRectF(12, 8, 36, 12));
            p.setBrush(Qt::NoBrush);
            p.setPen(pen(kOrange, 3.5));
            for (int x : {18, 30, 42})
                p.drawLine(QPointF(x, 21), QPointF(x + 0.01, 44));
        },
        // 16 Slice...: layers
        [](QPainter &p) {
            for (int i = 0; i < 5; ++i) {
                QColor c = QColor::fromHsv(200 - i * 35, 200, 255);
                p.setPen(pen(c, 4));
                double y = 48 - i * 8;
                p.drawLine(QPointF(12 + i * 2, y), QPointF(48 - i * 2, y));
            }
            p.setPen(pen(kInk, 2.5));
            p.drawLine(QPointF(6, 14), QPointF(54, 14));
        },
        // 17 Options
        [](QPainter &p) { gear(p); },
        // 18 Objects
        [](QPainter &p) {
            bed(p);
            cube(p, QPointF(20, 36), 10, kBlue);
            cube(p, QPointF(40, 30), 12, kGreen);
        },
        // 19 GCode
        [](QPainter &p) {
            p.setPen(pen(QColor(150, 160, 180), 2));
            p.setBrush(QColor(255, 255, 255, 20));
            p.drawRoundedRect(QRectF(6, 8, 48, 44), 4, 4);
            p.setBrush(Qt::NoBrush);
            text(p, QRectF(6, 8, 48, 22), "G1", 18, kGreen);
            p.setPen(pen(kInk, 2.5));
            p.drawLine(QPointF(12, 36), QPointF(48, 36));
            p.drawLine(QPointF(12, 44), QPointF(38, 44));
        },
        // 20 Stats: bar chart
        [](QPainter &p) {
            p.setPen(pen(kInk, 2.5));
            p.drawLine(QPointF(8, 52), QPointF(52, 52));
            const int h[] = {16, 30, 22, 40};
            const QColor c[] = {kBlue, kGreen, kYellow, kOrange};
            for (int i = 0; i < 4; ++i) {
                p.setPen(Qt::NoPen);
                p.setBrush(c[i]);
                p.drawRect(QRectF(11 + i * 10.5, 50 - h[i], 8, h[i]));
            }
            p.setBrush(Qt::NoBrush);
        },
        // 21 Clear
        [](QPainter &p) {
            page(p, QColor(150, 160, 180));
            p.setPen(pen(kRed, 5));
            p.drawLine(QPointF(18, 22), QPointF(42, 46));
            p.drawLine(QPointF(42, 22), QPointF(18, 46));
        },
        // 22 Load (G-code file)
        [](QPainter &p) {
            folder(p);
            text(p, QRectF(6, 22, 46, 26), "G", 20, kGreen);
        },
        // 23 Print: printer
        [](QPainter &p) {
            p.setPen(pen(kInk, 3.5));
            p.drawLine(QPointF(10, 8), QPointF(10, 52));
            p.drawLine(QPointF(50, 8), QPointF(50, 52));
            p.drawLine(QPointF(10, 12), QPointF(50, 12));
            p.setBrush(kOrange);
            p.setPen(pen(kOrange, 2));
            QPolygonF head;
            head << QPointF(24, 18) << QPointF(36, 18) << QPointF(36, 26) << QPointF(30, 32) << QPointF(24, 26);
            p.drawPolygon(head);
            p.setBrush(QColor(110, 220, 120, 200));
            p.setPen(pen(kGreen, 2));
            p.drawRect(QRectF(20, 40, 20, 8));
            p.setPen(pen(QColor(170, 180, 200), 3));
            p.drawLine(QPointF(12, 50), QPointF(48, 50));
            p.setBrush(Qt::NoBrush);
        },
    };
}

void drawAppIcon(const QString &path)
{
    QImage img(256, 256, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(20, 30, 45), 6));
    QLinearGradient g(0, 0, 0, 256);
    g.setColorAt(0, QColor(60, 150, 230));
    g.setColorAt(1, QColor(25, 60, 120));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(10, 10, 236, 236), 40, 40);
    for (int i = 0; i < 6; ++i) {
        QColor c = QColor::fromHsv(30 + i * 30, 200, 255);
        p.setPen(QPen(c, 16, Qt::SolidLine, Qt::RoundCap));
        double y = 200 - i * 26;
        double half = 90 - i * 12;
        p.drawLine(QPointF(128 - half, y), QPointF(128 + half, y));
    }
    p.end();
    img.save(path);
}
} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: make-icons <icons.png> [<app-icon.png>]\n");
        return 2;
    }
    std::vector<Painter> all = icons();
    const int rows = int((all.size() + kCols - 1) / kCols);
    QImage sheet(kCols * kCell, rows * kCell, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(Qt::transparent);
    for (size_t i = 0; i < all.size(); ++i) {
        QPainter p(&sheet);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(double(int(i) % kCols * kCell), double(int(i) / kCols * kCell));
        p.setClipRect(0, 0, kCell, kCell);
        all[i](p);
    }
    if (!sheet.save(argv[1])) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    if (argc > 2)
        drawAppIcon(argv[2]);
    return 0;
}
