// The layout scaler: recording the designed geometry and applying 1, 1.5
// and 2 with the fraction cut off, from the designed values every time.

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpacerItem>
#include <QStackedWidget>
#include <QTabWidget>
#include <QVBoxLayout>

#include "ui/widgetscaler.h"
#include "uitestmain.h"

namespace {

QWidget* fixedWidget(QWidget* parent, int w, int h) {
  auto* widget = new QLabel(parent);
  widget->setFixedSize(w, h);
  return widget;
}

// A window in the style of the application's forms.
struct Window {
  QWidget window;
  QVBoxLayout* top;
  QHBoxLayout* row;
  QLabel* label;
  QLineEdit* edit;
  QSpacerItem* preferredSpacer;
  QSpacerItem* fixedSpacer;
  QSpacerItem* expandingSpacer;
  QStackedWidget* stack;
  QPushButton* hiddenPageButton;
  QDialogButtonBox* box;
  QTabWidget* tabs;
  QWidget* tabContent;
  QScrollArea* scroll;
  QWidget* scrollContent;

  Window() {
    window.resize(340, 560);
    top = new QVBoxLayout(&window);
    top->setSpacing(4);
    top->setContentsMargins(10, 10, 10, 10);

    row = new QHBoxLayout;
    row->setSpacing(5);
    row->setContentsMargins(13, 2, 20, 0);
    label = new QLabel(QStringLiteral("label"));
    label->setFixedSize(45, 27);
    row->addWidget(label);
    edit = new QLineEdit;
    edit->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    edit->setMinimumWidth(100);
    edit->setFixedHeight(30);
    row->addWidget(edit);
    top->addLayout(row);

    preferredSpacer = new QSpacerItem(10, 20, QSizePolicy::Preferred, QSizePolicy::Minimum);
    top->addItem(preferredSpacer);
    fixedSpacer = new QSpacerItem(20, 44, QSizePolicy::Minimum, QSizePolicy::Fixed);
    top->addItem(fixedSpacer);

    stack = new QStackedWidget;
    for (int i = 0; i < 2; ++i) {
      auto* page = new QWidget;
      auto* pageLayout = new QVBoxLayout(page);
      pageLayout->setContentsMargins(0, 0, 0, 0);
      auto* button = new QPushButton(QStringLiteral("page %1").arg(i));
      button->setFixedSize(80, 27);
      pageLayout->addWidget(button);
      stack->addWidget(page);
      hiddenPageButton = button;
    }
    stack->setCurrentIndex(0);
    top->addWidget(stack);

    box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    for (QAbstractButton* b : box->buttons()) b->setFixedSize(80, 27);
    top->addWidget(box);

    tabs = new QTabWidget;
    auto* tabPage = new QWidget;
    auto* tabLayout = new QVBoxLayout(tabPage);
    tabContent = fixedWidget(nullptr, 60, 20);
    tabLayout->addWidget(tabContent);
    tabs->addTab(tabPage, QStringLiteral("tab"));
    top->addWidget(tabs);

    scroll = new QScrollArea;
    scroll->setFixedSize(150, 60);
    scrollContent = new QWidget;
    scrollContent->setFixedSize(200, 100);
    scroll->setWidget(scrollContent);
    top->addWidget(scroll);

    expandingSpacer = new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding);
    top->addItem(expandingSpacer);
  }
};

}  // namespace

class TestWidgetScaler : public QObject {
  Q_OBJECT

 private slots:
  void applyBeforeRecordDoesNothing() {
    Window w;
    CWidgetScaler scaler;
    scaler.applyScale(2.0, &w.window);
    QCOMPARE(w.label->size(), QSize(45, 27));
    QCOMPARE(w.window.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    scaler.recordBaseSize(340, 560, &w.window);
    scaler.applyScale(2.0, nullptr);
    QCOMPARE(w.label->size(), QSize(45, 27));
  }

  void scales_data() {
    QTest::addColumn<double>("factor");
    QTest::newRow("1") << 1.0;
    QTest::newRow("1.5") << 1.5;
    QTest::newRow("2") << 2.0;
  }

  void scales() {
    QFETCH(double, factor);
    auto t = [factor](int v) { return static_cast<int>(v * factor); };
    Window w;
    w.window.show();
    CWidgetScaler scaler;
    scaler.recordBaseSize(w.window.width(), w.window.height(), &w.window);
    scaler.applyScale(factor, &w.window);

    QCOMPARE(w.window.minimumSize(), QSize(t(340), t(560)));
    QCOMPARE(w.window.maximumSize(), QSize(t(340), t(560)));
    QCOMPARE(w.top->spacing(), t(4));
    QCOMPARE(w.top->contentsMargins(), QMargins(t(10), t(10), t(10), t(10)));
    // 13 at 1.5 is 19, 45 is 67, 27 is 40: the fraction is cut off
    QCOMPARE(w.row->contentsMargins(), QMargins(t(13), t(2), t(20), 0));
    QCOMPARE(w.label->minimumSize(), QSize(t(45), t(27)));
    QCOMPARE(w.label->maximumSize(), QSize(t(45), t(27)));
    // a width range scales, an unbounded maximum stays unbounded
    QCOMPARE(w.edit->minimumWidth(), t(100));
    QCOMPARE(w.edit->maximumWidth(), QWIDGETSIZE_MAX);
    QCOMPARE(w.edit->maximumHeight(), t(30));
    // spacers: only those fixed in a direction and expanding in none
    QCOMPARE(w.preferredSpacer->sizeHint(), QSize(10, 20));
    QCOMPARE(w.fixedSpacer->sizeHint(), QSize(t(20), t(44)));
    QCOMPARE(w.fixedSpacer->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(w.expandingSpacer->sizeHint(), QSize(20, 40));
    // the page that is not shown is scaled too
    QCOMPARE(w.hiddenPageButton->maximumSize(), QSize(t(80), t(27)));
    for (QAbstractButton* b : w.box->buttons()) QCOMPARE(b->maximumSize(), QSize(t(80), t(27)));
    QCOMPARE(w.tabContent->maximumSize(), QSize(t(60), t(20)));
    QCOMPARE(w.scrollContent->maximumSize(), QSize(t(200), t(100)));
    QCOMPARE(w.scroll->maximumSize(), QSize(150, 60));
  }

  // Changes never accumulate: back at 1 everything has its designed value.
  void returnsToDesign() {
    Window w;
    w.window.show();
    CWidgetScaler scaler;
    scaler.recordBaseSize(w.window.width(), w.window.height(), &w.window);
    scaler.applyScale(1.5, &w.window);
    scaler.applyScale(2.0, &w.window);
    scaler.recordBaseSize(999, 999, &w.window);  // later records are ignored
    scaler.applyScale(1.5, &w.window);
    QCOMPARE(w.fixedSpacer->sizeHint(), QSize(30, 66));
    scaler.applyScale(1.0, &w.window);
    QCOMPARE(w.window.maximumSize(), QSize(340, 560));
    QCOMPARE(w.label->maximumSize(), QSize(45, 27));
    QCOMPARE(w.row->contentsMargins(), QMargins(13, 2, 20, 0));
    QCOMPARE(w.fixedSpacer->sizeHint(), QSize(20, 44));
    QCOMPARE(w.edit->minimumWidth(), 100);
    QCOMPARE(w.edit->maximumWidth(), QWIDGETSIZE_MAX);
    QCOMPARE(w.hiddenPageButton->maximumSize(), QSize(80, 27));
  }

  // Added after the first show: taken at its size then, scaled from there.
  void lateWidgetIsRecordedWhenMet() {
    Window w;
    w.window.show();
    CWidgetScaler scaler;
    scaler.recordBaseSize(w.window.width(), w.window.height(), &w.window);
    QWidget* late = fixedWidget(nullptr, 50, 20);
    auto* lateRow = new QHBoxLayout;
    lateRow->setContentsMargins(4, 4, 4, 4);
    lateRow->addWidget(late);
    w.top->addLayout(lateRow);
    scaler.applyScale(1.5, &w.window);
    QCOMPARE(late->maximumSize(), QSize(50, 20));
    QCOMPARE(lateRow->contentsMargins(), QMargins(4, 4, 4, 4));
    scaler.applyScale(2.0, &w.window);
    QCOMPARE(late->maximumSize(), QSize(100, 40));
    QCOMPARE(lateRow->contentsMargins(), QMargins(8, 8, 8, 8));
  }

  void layoutFollowsScaledSizes() {
    Window w;
    w.window.show();
    CWidgetScaler scaler;
    scaler.recordBaseSize(w.window.width(), w.window.height(), &w.window);
    scaler.applyScale(2.0, &w.window);
    QTRY_COMPARE(w.window.size(), QSize(680, 1120));
    QTRY_COMPARE(w.label->size(), QSize(90, 54));
    // margins 20 + 26 on the left, 20 + 4 on top; spacing 10 after the label
    QTRY_COMPARE(w.label->pos().x(), 46);
    QTRY_COMPARE(w.edit->pos(), QPoint(46 + 90 + 10, 24));
  }
};

TANDEO_UI_TEST_MAIN(TestWidgetScaler)
#include "tst_widgetscaler.moc"
