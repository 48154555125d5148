#pragma once
// What every tool of the view reads about the mouse: buttons, modifiers,
// position (widget pixels), press position, drag distance and wheel. Installed
// as an event filter on the view; it never consumes an event.
#include <QObject>
#include <QPoint>

class MouseState : public QObject {
    Q_OBJECT
public:
    explicit MouseState(QObject *parent = nullptr) : QObject(parent) {}

    void update(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, int x, int y, int wheelDelta);
    bool eventFilter(QObject *watched, QEvent *event) override;

    Qt::MouseButtons buttons = Qt::NoButton;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    int x = 0, y = 0;
    // 1 left, 2 right, 4 middle, 0 none (left wins, then right).
    int dominantButton = 0;
    bool justPressed = false, justReleased = false;

    Qt::MouseButtons prevButtons = Qt::NoButton;
    Qt::KeyboardModifiers prevModifiers = Qt::NoModifier;
    int prevX = 0, prevY = 0;

    int pressX = 0, pressY = 0, pressWheel = 0;
    int dx = 0, dy = 0;           // motion since the previous update
    int offsetX = 0, offsetY = 0; // from the press position
    int maxOffsetX = 0, maxOffsetY = 0;
    int dragDistance = 0;         // 0 for a click

    int wheel = 0, wheelDelta = 0;

signals:
    void changed();
};
