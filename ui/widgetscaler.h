#pragma once
// Redraws a window designed at 96 dpi at 1.5 or 2 times its size without a
// second form: the designed geometry of every layout, widget and spacer is
// recorded once, at the first show, and each factor change rescales from
// those designed values, so changes never accumulate.

#include <QMap>
#include <QSize>
#include <QSizePolicy>

class QLayout;
class QLayoutItem;
class QSpacerItem;
class QWidget;

enum {
  SCALE_ITEM_WIDGET = 0,
  SCALE_ITEM_LAYOUT = 1,
  SCALE_ITEM_SPACER = 2,
};

struct ScaleItemInfo {
  int kind = SCALE_ITEM_WIDGET;
  int width = 0;
  int height = 0;
  QSizePolicy sizePolicy;
  QSize minimumSize;
  QSize maximumSize;
  int leftMargin = 0;
  int topMargin = 0;
  int rightMargin = 0;
  int bottomMargin = 0;
  int spacing = 0;
  int spacerWidth = 0;
  int spacerHeight = 0;
  QSizePolicy spacerPolicy;
};

class CWidgetScaler {
 public:
  // Records the window's size and its layout tree; only the first call does.
  void recordBaseSize(int width, int height, QWidget* window);
  // Rescales everything recorded to `factor` times its designed value (the
  // fraction cut off) and fixes the window at factor times its base size.
  void applyScale(double factor, QWidget* window);

 private:
  void recordLayout(QLayout* layout);
  void recordLayoutSelf(QLayout* layout);
  void recordWidget(const void* key, QWidget* widget);
  void recordWidgetParts(const void* key, QWidget* widget);
  void recordSpacer(QLayoutItem* item, QSpacerItem* spacer);

  void applyLayout(QLayout* layout, bool isItem);
  void applyWidget(const void* key, QWidget* widget);
  void applyWidgetRule(const ScaleItemInfo& info, QWidget* widget) const;
  void applyWidgetParts(const void* key, QWidget* widget);
  void applySpacer(QLayoutItem* item, QSpacerItem* spacer);

  int m_baseWidth = 0;
  int m_baseHeight = 0;
  QMap<const void*, ScaleItemInfo> m_items;
  double m_factor = 0.0;
};
