#pragma once
// Dragging a frameless dialog by its title strip. The dialog keeps the state
// (a drag is under way, the last global mouse position); these do the rest.

#include <QMouseEvent>
#include <QPoint>
#include <QRect>
#include <QWidget>

namespace titledrag {

// The handle's rectangle in global coordinates: its position plus the
// positions of all its ancestors up to and including the window.
inline QRect globalRect(const QWidget* handle, const QWidget* window) {
  QPoint origin;
  for (const QWidget* w = handle; w; w = w->parentWidget()) {
    origin += w->pos();
    if (w == window) break;
  }
  return QRect(origin, handle->size());
}

// A left press on the handle of a window that is not maximised starts a drag.
inline void press(const QMouseEvent* event, const QWidget* handle, const QWidget* window,
                  bool& pressed, QPoint& lastPos) {
  if (event->button() != Qt::LeftButton || window->isMaximized()) return;
  if (!globalRect(handle, window).contains(event->globalPos())) return;
  pressed = true;
  lastPos = event->globalPos();
}

// While a drag is under way the window follows the mouse.
inline void move(const QMouseEvent* event, QWidget* window, bool pressed, QPoint& lastPos) {
  if (!pressed) return;
  window->move(window->pos() + event->globalPos() - lastPos);
  lastPos = event->globalPos();
}

}  // namespace titledrag
