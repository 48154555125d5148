#include "mousestate.h"

#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>
#include <cstdlib>

namespace {
bool anyPressed(Qt::MouseButtons b)
{
    return b & (Qt::LeftButton | Qt::RightButton | Qt::MiddleButton);
}
} // namespace

void MouseState::update(Qt::MouseButtons newButtons, Qt::KeyboardModifiers newModifiers, int nx, int ny, int delta)
{
    bool pressed = anyPressed(newButtons);
    bool wasPressed = anyPressed(buttons);
    justPressed = pressed && !wasPressed;
    justReleased = !pressed && wasPressed;

    prevButtons = buttons;
    prevModifiers = modifiers;
    prevX = x;
    prevY = y;
    buttons = newButtons;
    modifiers = newModifiers;
    x = nx;
    y = ny;
    dominantButton = (buttons & Qt::LeftButton) ? 1 : (buttons & Qt::RightButton) ? 2 : int(buttons & Qt::MiddleButton);

    if (justPressed) {
        pressX = x;
        pressY = y;
        pressWheel = wheel;
        maxOffsetX = maxOffsetY = 0;
    }
    dx = x - prevX;
    dy = y - prevY;
    offsetX = x - pressX;
    offsetY = y - pressY;
    maxOffsetX = std::max(maxOffsetX, std::abs(offsetX));
    maxOffsetY = std::max(maxOffsetY, std::abs(offsetY));
    dragDistance = std::max(maxOffsetX, maxOffsetY);

    wheel += delta;
    wheelDelta = delta;
    emit changed();
}

bool MouseState::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
        auto *e = static_cast<QMouseEvent *>(event);
        update(e->buttons(), e->modifiers(), e->pos().x(), e->pos().y(), 0);
        break;
    }
    case QEvent::Wheel: {
        auto *e = static_cast<QWheelEvent *>(event);
        QPoint p = e->position().toPoint();
        update(e->buttons(), e->modifiers(), p.x(), p.y(), e->angleDelta().y());
        break;
    }
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        update(buttons, static_cast<QKeyEvent *>(event)->modifiers(), x, y, 0);
        break;
    case QEvent::Enter:
    case QEvent::Leave:
        if (auto *w = qobject_cast<QWidget *>(watched)) {
            QPoint p = w->mapFromGlobal(QCursor::pos());
            update(buttons, modifiers, p.x(), p.y(), 0);
        }
        break;
    default:
        break;
    }
    return false;
}
