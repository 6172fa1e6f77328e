#pragma once
// The soft shadow around the white frame of every frameless window.

#include <QColor>
#include <QGraphicsDropShadowEffect>
#include <QWidget>

inline void addFrameShadow(QWidget* frame) {
  auto* shadow = new QGraphicsDropShadowEffect(frame);
  shadow->setOffset(0, 0);
  shadow->setColor(QColor(0x44, 0x44, 0x44));
  shadow->setBlurRadius(10);
  frame->setGraphicsEffect(shadow);
}
