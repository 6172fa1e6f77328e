#pragma once
// Dragging a frameless dialog by its title strip.

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

}  // namespace titledrag
