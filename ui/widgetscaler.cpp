#include "ui/widgetscaler.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QSpacerItem>
#include <QTabWidget>
#include <QWidget>

namespace {

// Maximum sizes from here up mean "unbounded" and are never scaled.
constexpr int kUnboundedSize = 8000;

// Scaled values always drop the fraction: 13 px at 1.5 is 19 px.
int scaled(int value, double factor) { return static_cast<int>(value * factor); }

// Records are keyed by the layout item that holds a widget, sub-layout or
// spacer; a layout is its own item.
const void* keyOf(const QLayoutItem* item) { return item; }
const void* keyOf(const QLayout* layout) { return static_cast<const QLayoutItem*>(layout); }

const QDialogButtonBox::StandardButton kBoxButtons[] = {
    QDialogButtonBox::Ok, QDialogButtonBox::Yes, QDialogButtonBox::Cancel, QDialogButtonBox::No};

}  // namespace

void CWidgetScaler::recordBaseSize(int width, int height, QWidget* window) {
  if (m_baseWidth != 0 || m_baseHeight != 0) return;
  m_baseWidth = width;
  m_baseHeight = height;
  if (window) recordLayout(window->layout());
}

void CWidgetScaler::recordLayoutSelf(QLayout* layout) {
  ScaleItemInfo info;
  info.kind = SCALE_ITEM_LAYOUT;
  QMargins margins = layout->contentsMargins();
  info.leftMargin = margins.left();
  info.topMargin = margins.top();
  info.rightMargin = margins.right();
  info.bottomMargin = margins.bottom();
  info.spacing = layout->spacing();
  m_items.insert(keyOf(layout), info);
}

void CWidgetScaler::recordLayout(QLayout* layout) {
  if (!layout) return;
  recordLayoutSelf(layout);
  for (int i = 0; i < layout->count(); ++i) {
    QLayoutItem* item = layout->itemAt(i);
    if (QWidget* widget = item->widget()) {
      recordWidget(keyOf(item), widget);
      recordLayout(widget->layout());
      recordWidgetParts(keyOf(item), widget);
    } else if (QLayout* sub = item->layout()) {
      recordLayout(sub);
    } else if (QSpacerItem* spacer = item->spacerItem()) {
      recordSpacer(item, spacer);
    }
  }
}

void CWidgetScaler::recordWidget(const void* key, QWidget* widget) {
  ScaleItemInfo info;
  info.kind = SCALE_ITEM_WIDGET;
  info.width = widget->width();
  info.height = widget->height();
  info.sizePolicy = widget->sizePolicy();
  info.minimumSize = widget->minimumSize();
  info.maximumSize = widget->maximumSize();
  m_items.insert(key, info);
}

// Widgets whose children are not items of the widget's own layout.
void CWidgetScaler::recordWidgetParts(const void* key, QWidget* widget) {
  if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
    for (int i = 0; i < tabs->count(); ++i) {
      if (QWidget* page = tabs->widget(i)) {
        recordWidget(page, page);
        recordLayout(page->layout());
      }
    }
  } else if (auto* scroll = qobject_cast<QScrollArea*>(widget)) {
    // The scroll area keeps its size; what it shows is scaled.
    if (QWidget* content = scroll->widget()) {
      m_items.remove(key);
      recordWidget(content, content);
      recordLayout(content->layout());
    }
  } else if (auto* box = qobject_cast<QDialogButtonBox*>(widget)) {
    for (auto which : kBoxButtons)
      if (QPushButton* button = box->button(which)) recordWidget(button, button);
  }
}

void CWidgetScaler::recordSpacer(QLayoutItem* item, QSpacerItem* spacer) {
  ScaleItemInfo info;
  info.kind = SCALE_ITEM_SPACER;
  QSize hint = spacer->sizeHint();
  info.spacerWidth = hint.width();
  info.spacerHeight = hint.height();
  info.spacerPolicy = spacer->sizePolicy();
  m_items.insert(keyOf(item), info);
}

void CWidgetScaler::applyScale(double factor, QWidget* window) {
  if (!window || m_baseWidth == 0 || m_baseHeight == 0) return;
  m_factor = factor;
  applyLayout(window->layout(), false);
  window->setFixedSize(scaled(m_baseWidth, factor), scaled(m_baseHeight, factor));
}

// `isItem`: the layout is an item of another layout. Such a layout met for the
// first time is recorded now; a window's or widget's own layout without a
// record is left as it is.
void CWidgetScaler::applyLayout(QLayout* layout, bool isItem) {
  if (!layout) return;
  auto found = m_items.constFind(keyOf(layout));
  if (found != m_items.constEnd() && found->kind == SCALE_ITEM_LAYOUT) {
    layout->setSpacing(scaled(found->spacing, m_factor));
    layout->setContentsMargins(scaled(found->leftMargin, m_factor), scaled(found->topMargin, m_factor),
                               scaled(found->rightMargin, m_factor),
                               scaled(found->bottomMargin, m_factor));
  } else if (isItem) {
    recordLayoutSelf(layout);
  }
  for (int i = 0; i < layout->count(); ++i) {
    QLayoutItem* item = layout->itemAt(i);
    if (QWidget* widget = item->widget()) {
      applyWidget(keyOf(item), widget);
      applyLayout(widget->layout(), false);
      applyWidgetParts(keyOf(item), widget);
    } else if (QLayout* sub = item->layout()) {
      applyLayout(sub, true);
    } else if (QSpacerItem* spacer = item->spacerItem()) {
      applySpacer(item, spacer);
    }
  }
  // Spacer size changes do not reach the layout's cached hints by themselves.
  layout->invalidate();
}

// A widget without a record was added after the first show: it is taken at
// its current size and scaled from there on later changes.
void CWidgetScaler::applyWidget(const void* key, QWidget* widget) {
  auto found = m_items.constFind(key);
  if (found == m_items.constEnd())
    recordWidget(key, widget);
  else if (found->kind == SCALE_ITEM_WIDGET)
    applyWidgetRule(*found, widget);
}

void CWidgetScaler::applyWidgetParts(const void* key, QWidget* widget) {
  if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
    for (int i = 0; i < tabs->count(); ++i) {
      if (QWidget* page = tabs->widget(i)) {
        applyWidget(page, page);
        applyLayout(page->layout(), false);
      }
    }
  } else if (auto* scroll = qobject_cast<QScrollArea*>(widget)) {
    if (QWidget* content = scroll->widget()) {
      m_items.remove(key);
      applyWidget(content, content);
      applyLayout(content->layout(), false);
    }
  } else if (auto* box = qobject_cast<QDialogButtonBox*>(widget)) {
    for (auto which : kBoxButtons)
      if (QPushButton* button = box->button(which)) applyWidget(button, button);
  }
}

void CWidgetScaler::applyWidgetRule(const ScaleItemInfo& info, QWidget* widget) const {
  const double f = m_factor;
  widget->resize(scaled(info.width, f), scaled(info.height, f));

  if (info.sizePolicy.horizontalPolicy() != QSizePolicy::Fixed &&
      info.minimumSize.width() != info.maximumSize.width()) {
    widget->setMinimumWidth(scaled(info.minimumSize.width(), f));
    if (info.maximumSize.width() < kUnboundedSize)
      widget->setMaximumWidth(scaled(info.maximumSize.width(), f));
  } else {
    widget->setFixedWidth(scaled(info.width, f));
  }

  if (info.sizePolicy.verticalPolicy() != QSizePolicy::Fixed &&
      info.minimumSize.height() != info.maximumSize.height()) {
    widget->setMinimumHeight(scaled(info.minimumSize.height(), f));
    if (info.maximumSize.height() < kUnboundedSize)
      widget->setMaximumHeight(scaled(info.maximumSize.height(), f));
  } else {
    widget->setFixedHeight(scaled(info.height, f));
  }
}

// Only spacers that are fixed in some direction and expand in none follow the
// factor; the others keep taking what the layout gives them.
void CWidgetScaler::applySpacer(QLayoutItem* item, QSpacerItem* spacer) {
  auto found = m_items.constFind(keyOf(item));
  if (found == m_items.constEnd()) {
    recordSpacer(item, spacer);
    return;
  }
  if (found->kind != SCALE_ITEM_SPACER) return;
  const QSizePolicy& recorded = found->spacerPolicy;
  if (spacer->sizePolicy().expandingDirections() != 0) return;
  if (recorded.horizontalPolicy() != QSizePolicy::Fixed &&
      recorded.verticalPolicy() != QSizePolicy::Fixed)
    return;
  spacer->invalidate();
  spacer->changeSize(scaled(found->spacerWidth, m_factor), scaled(found->spacerHeight, m_factor),
                     recorded.horizontalPolicy(), recorded.verticalPolicy());
}
