// The connect and send buttons' still and animated icons, and the address
// box's centred overlay.

#include <QHBoxLayout>
#include <QLineEdit>
#include <QMovie>
#include <QSignalSpy>

#include "ui/connectpushbutton.h"
#include "ui/joinconfcombo.h"
#include "ui/sendtoolbutton.h"
#include "ui/widgetscaler.h"
#include "uitestmain.h"

namespace {

const QString kStill = QStringLiteral(":/images/images/icon_pair.png");
const QString kBusy = QStringLiteral(":/images/images/loading.gif");

template <class Button>
void checkIcons() {
  Button button;
  button.resize(120, 40);
  button.show();

  button.setButtonIcon(kBusy, true);
  QCOMPARE(button.template findChildren<QMovie*>().size(), 1);
  QMovie* first = button.template findChild<QMovie*>();
  QCOMPARE(first->state(), QMovie::Running);
  QVERIFY(!button.icon().isNull());  // the first frame shows at once
  qint64 frameKey = button.icon().cacheKey();
  QTRY_VERIFY_WITH_TIMEOUT(button.icon().cacheKey() != frameKey, 2000);  // and it moves

  // a second animation replaces the first
  button.setButtonIcon(kBusy, true);
  QCOMPARE(button.template findChildren<QMovie*>().size(), 1);

  // a still icon ends the animation at once; no later frame overwrites it
  button.setButtonIcon(kStill, false);
  QCOMPARE(button.template findChildren<QMovie*>().size(), 0);
  qint64 stillKey = button.icon().cacheKey();
  QImage expected(kStill);
  QCOMPARE(button.icon().pixmap(expected.size()).toImage().convertToFormat(QImage::Format_ARGB32),
           expected.convertToFormat(QImage::Format_ARGB32));
  QTest::qWait(350);
  QCOMPARE(button.icon().cacheKey(), stillKey);

  button.setButtonIcon(QString(), false);
  QVERIFY(button.icon().isNull());

  // a file that cannot be read: an icon that draws nothing
  button.setButtonIcon(QStringLiteral(":/images/images/none.png"), false);
  QVERIFY(button.icon().availableSizes().isEmpty());
  QVERIFY(button.icon().pixmap(18, 18).isNull());
}

struct ComboWindow {
  QWidget window;
  CJoinConfCombo* combo;
  QLineEdit* overlay;

  ComboWindow() {
    auto* layout = new QHBoxLayout(&window);
    combo = new CJoinConfCombo;
    combo->setFixedSize(280, 34);
    combo->setEditable(true);
    layout->addWidget(combo);
    combo->initLineEdit();
    overlay = combo->findChild<QLineEdit*>(QStringLiteral("m_comboLineEdit"));
    window.show();
  }
};

}  // namespace

class TestControls : public QObject {
  Q_OBJECT

 private slots:
  void connectButtonIcons() { checkIcons<CConnectPushbutton>(); }
  void sendButtonIcons() { checkIcons<CSendToolbutton>(); }

  // The overlay covers the combo but for a 30-pixel strip on each side.
  void overlayIsCentred() {
    ComboWindow w;
    QVERIFY(w.overlay);
    QVERIFY(!w.overlay->hasFrame());
    QCOMPARE(w.overlay->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
    QTRY_COMPARE(w.overlay->x(), 30);
    QCOMPARE(w.overlay->width(), 280 - 60);
    QVERIFY(qAbs(w.overlay->geometry().center().y() - 34 / 2) <= 1);
    QVERIFY(w.overlay->isVisible());
  }

  void typingReachesTheCombo() {
    ComboWindow w;
    QSignalSpy changes(w.combo, &QComboBox::currentTextChanged);
    QTest::keyClicks(w.overlay, QStringLiteral("10.1.2.3"));
    QCOMPARE(changes.size(), 8);  // one per keystroke
    QCOMPARE(w.combo->currentText(), QStringLiteral("10.1.2.3"));
  }

  // Editing mid-text keeps the cursor where the user is typing.
  void editingInsideTheText() {
    ComboWindow w;
    QTest::keyClicks(w.overlay, QStringLiteral("10.0.0.1"));
    w.overlay->setCursorPosition(2);
    QTest::keyClicks(w.overlay, QStringLiteral("5"));
    QCOMPARE(w.overlay->cursorPosition(), 3);
    QTest::keyClicks(w.overlay, QStringLiteral("6"));
    QCOMPARE(w.overlay->text(), QStringLiteral("1056.0.0.1"));
    QCOMPARE(w.combo->currentText(), QStringLiteral("1056.0.0.1"));
  }

  void choosingAnItemShowsIt() {
    ComboWindow w;
    w.combo->addItems({QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.2")});
    QCOMPARE(w.overlay->text(), QStringLiteral("10.0.0.1"));
    w.combo->setCurrentIndex(1);
    QCOMPARE(w.overlay->text(), QStringLiteral("10.0.0.2"));
  }

  void placeholderShowsWhenCleared() {
    ComboWindow w;
    const QString hint = QStringLiteral("请输入设备IP地址");
    w.combo->setEditPlaceholderText(hint);
    QCOMPARE(w.overlay->placeholderText(), hint);
    QCOMPARE(w.combo->lineEdit()->placeholderText(), hint);
    QTest::keyClicks(w.overlay, QStringLiteral("1"));
    w.overlay->clear();
    QCOMPARE(w.combo->currentText(), QString());
    QVERIFY(w.overlay->text().isEmpty());
  }

  // The overlay's margins are part of the window's layout tree.
  void overlayMarginsScale() {
    ComboWindow w;
    CWidgetScaler scaler;
    scaler.recordBaseSize(w.window.width(), w.window.height(), &w.window);
    scaler.applyScale(1.5, &w.window);
    QCOMPARE(w.combo->layout()->contentsMargins(), QMargins(45, 3, 45, 3));
    QTRY_COMPARE(w.overlay->x(), 45);
    QCOMPARE(w.overlay->width(), 420 - 90);
  }
};

TANDEO_UI_TEST_MAIN(TestControls)
#include "tst_controls.moc"
