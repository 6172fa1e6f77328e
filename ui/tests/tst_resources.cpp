// Every style sheet and image the windows name is in the resources, at the
// size it is drawn at; the scaled sheets match their 1x sheet; Chinese text
// has a font.

#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImageReader>
#include <QLabel>
#include <QRegularExpression>

#include "uitestmain.h"

namespace {

QString read(const QString& name) {
  QFile file(name);
  if (!file.open(QIODevice::ReadOnly)) return QString();
  return QString::fromLatin1(file.readAll());
}

const char* const kSheets[] = {"tandeo", "message-box", "connect-error-dlg", "message-widget"};

// The 1.5x and 2x sheets carry every pixel size of the 1x sheet times the
// factor (fraction cut off) and the matching image variants.
QString scaledFrom(const QString& oneX, const QString& tag, double factor) {
  QString out;
  QRegularExpression px(QStringLiteral("(\\d+)px"));
  int last = 0;
  auto it = px.globalMatch(oneX);
  while (it.hasNext()) {
    auto m = it.next();
    out += oneX.mid(last, m.capturedStart() - last);
    out += QString::number(static_cast<int>(m.captured(1).toInt() * factor)) + QLatin1String("px");
    last = m.capturedEnd();
  }
  out += oneX.mid(last);
  out.replace(QRegularExpression(QStringLiteral("url\\(([^)]*?)\\.(png|gif)\\)")),
              QStringLiteral("url(\\1-%1x.\\2)").arg(tag));
  return out;
}

QString withoutFirstLine(const QString& text) { return text.mid(text.indexOf(QLatin1Char('\n')) + 1); }

}  // namespace

class TestResources : public QObject {
  Q_OBJECT

 private slots:
  void styleSheetsExist() {
    for (const char* base : kSheets) {
      for (const char* suffix : {"", "-1x", "-1.5x", "-2x"}) {
        QString name = QStringLiteral(":/qss/qss/%1%2.qss").arg(QLatin1String(base), QLatin1String(suffix));
        QVERIFY2(!read(name).trimmed().isEmpty(), qPrintable(name));
      }
    }
  }

  void scaledSheetsMatchTheirOneX() {
    for (const char* base : kSheets) {
      QString oneX = withoutFirstLine(read(QStringLiteral(":/qss/qss/%1-1x.qss").arg(QLatin1String(base))));
      for (auto [tag, factor] : {std::pair<const char*, double>{"1.5", 1.5}, {"2", 2.0}}) {
        QString name = QStringLiteral(":/qss/qss/%1-%2x.qss").arg(QLatin1String(base), QLatin1String(tag));
        QCOMPARE(withoutFirstLine(read(name)), scaledFrom(oneX, QLatin1String(tag), factor));
      }
    }
    // spot checks of the values the windows are designed with
    QVERIFY(read(":/qss/qss/tandeo-1.5x.qss").contains("font-size: 19px"));
    QVERIFY(read(":/qss/qss/tandeo-2x.qss").contains("width: 60px"));
    QVERIFY(read(":/qss/qss/message-box.qss").contains("button-layout: 1"));
  }

  // Nothing a sheet names is missing.
  void everyUrlResolves() {
    QRegularExpression url(QStringLiteral("url\\(([^)]+)\\)"));
    for (const char* base : kSheets) {
      for (const char* suffix : {"", "-1x", "-1.5x", "-2x"}) {
        QString text = read(QStringLiteral(":/qss/qss/%1%2.qss").arg(QLatin1String(base), QLatin1String(suffix)));
        auto it = url.globalMatch(text);
        while (it.hasNext()) {
          QString target = it.next().captured(1);
          QVERIFY2(QFile::exists(target), qPrintable(target));
        }
      }
    }
  }

  void images_data() {
    QTest::addColumn<QString>("stem");
    QTest::addColumn<QString>("ext");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("scaled");
    QTest::newRow("image") << "image" << "png" << QSize(208, 140) << true;
    for (const char* n : {"btn_send_default", "btn_send_click", "btn_stop_default", "btn_stop_click"})
      QTest::newRow(n) << n << "png" << QSize(64, 64) << true;
    QTest::newRow("btn_triangle_down") << "btn_triangle_down" << "png" << QSize(14, 10) << true;
    QTest::newRow("icon_pair") << "icon_pair" << "png" << QSize(18, 18) << true;
    QTest::newRow("icon_pair_dis") << "icon_pair_dis" << "png" << QSize(18, 18) << true;
    QTest::newRow("loading") << "loading" << "gif" << QSize(20, 20) << true;
    for (const char* n : {"minimize_normal", "minimize_hover", "minimize_click", "closed_normal",
                          "closed_hover", "closed_click"})
      QTest::newRow(n) << n << "png" << QSize(28, 28) << false;
  }

  void images() {
    QFETCH(QString, stem);
    QFETCH(QString, ext);
    QFETCH(QSize, size);
    QFETCH(bool, scaled);
    QList<std::pair<QString, double>> variants{{QString(), 1.0}};
    if (scaled) variants += {{QStringLiteral("-1.5x"), 1.5}, {QStringLiteral("-2x"), 2.0}};
    for (const auto& [suffix, factor] : variants) {
      QString name = QStringLiteral(":/images/images/%1%2.%3").arg(stem, suffix, ext);
      QImageReader reader(name);
      QVERIFY2(reader.canRead(), qPrintable(name));
      QCOMPARE(reader.size(), size * factor);
      QImage image = reader.read();
      QVERIFY2(!image.isNull(), qPrintable(name));
      QVERIFY2(image.hasAlphaChannel(), qPrintable(name));
    }
  }

  // The busy animation: 8 frames of 100 ms, looping.
  void busyAnimation() {
    for (const char* suffix : {"", "-1.5x", "-2x"}) {
      QImageReader reader(QStringLiteral(":/images/images/loading%1.gif").arg(QLatin1String(suffix)));
      QVERIFY(reader.supportsAnimation());
      QCOMPARE(reader.imageCount(), 8);
      QCOMPARE(reader.loopCount(), -1);
      for (int i = 0; i < 8; ++i) {
        QVERIFY(!reader.read().isNull());
        QCOMPARE(reader.nextImageDelay(), 100);
      }
    }
  }

  // The sheets' first family is installed and covers Chinese, so the labels
  // show their texts instead of boxes.
  void chineseHasAFont() {
    QFontDatabase fonts;
    QVERIFY2(fonts.families().contains(QStringLiteral("Noto Sans CJK SC")),
             "fonts-noto-cjk is not installed");
    QVERIFY(fonts.writingSystems(QStringLiteral("Noto Sans CJK SC"))
                .contains(QFontDatabase::SimplifiedChinese));
    QLabel label;
    label.setStyleSheet(read(":/qss/qss/message-widget.qss"));
    label.setObjectName(QStringLiteral("m_text"));
    label.setText(QStringLiteral("已发送共享"));
    label.ensurePolished();
    QCOMPARE(QFontInfo(label.font()).family(), QStringLiteral("Noto Sans CJK SC"));
    QVERIFY(QFontMetrics(label.font()).inFont(QChar(0x5df2)));
  }
};

TANDEO_UI_TEST_MAIN(TestResources)
#include "tst_resources.moc"
