// Draws every image of the windows with QPainter, at 1x, 1.5x and 2x from
// the same 1x coordinates, so that each scale is drawn crisp rather than
// resampled. Run through ./generate, which also assembles the GIF frames.
//
//   generate-images OUTPUT_DIR

#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QString>
#include <QTextStream>
#include <cmath>
#include <functional>

namespace {

const QColor kBlue(0x43, 0x81, 0xff);
const QColor kBlueLight(0x69, 0x9a, 0xff);
const QColor kBlueDark(0x2f, 0x66, 0xd9);
const QColor kRed(0xe0, 0x28, 0x28);
const QColor kRedDark(0xbc, 0x1e, 0x1e);
const QColor kInk(0x31, 0x31, 0x31);
const QColor kGrey(0x55, 0x55, 0x55);
const QColor kGreyLight(0xaf, 0xaf, 0xaf);
const QColor kLine(0xe1, 0xe1, 0xe1);
const QColor kPale(0xf7, 0xf7, 0xf7);

using Draw = std::function<void(QPainter&)>;

QString outDir;

struct Scale {
  const char* suffix;
  double factor;
};
const Scale kScales[] = {{"", 1.0}, {"-1.5x", 1.5}, {"-2x", 2.0}};

QImage render(int w, int h, double factor, const Draw& draw) {
  QImage image(static_cast<int>(w * factor), static_cast<int>(h * factor),
               QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(factor, factor);
  draw(p);
  p.end();
  return image;
}

void save(const QImage& image, const QString& name) {
  QString path = outDir + QLatin1Char('/') + name;
  if (!image.save(path, "PNG")) {
    QTextStream(stderr) << "cannot write " << path << "\n";
    std::exit(1);
  }
  QTextStream(stdout) << name << " " << image.width() << "x" << image.height() << "\n";
}

void saveScaled(const QString& stem, int w, int h, const Draw& draw) {
  for (const Scale& s : kScales)
    save(render(w, h, s.factor, draw), stem + QLatin1String(s.suffix) + QLatin1String(".png"));
}

QPen roundPen(const QColor& colour, double width) {
  return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// --- the illustration: a laptop sharing its screen with a room display ----

void drawIllustration(QPainter& p) {
  // floor shadow
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xee, 0xf3, 0xff));
  p.drawEllipse(QRectF(14, 118, 184, 16));

  // room display: bezel, screen, stand
  p.setBrush(kInk);
  p.drawRoundedRect(QRectF(70, 10, 126, 80), 6, 6);
  QLinearGradient screen(QPointF(75, 15), QPointF(191, 85));
  screen.setColorAt(0, kBlueLight);
  screen.setColorAt(1, kBlue);
  p.setBrush(screen);
  p.drawRoundedRect(QRectF(75, 15, 116, 70), 3, 3);
  p.setBrush(kGreyLight);
  p.drawRect(QRectF(128, 90, 10, 16));
  p.drawRoundedRect(QRectF(112, 104, 42, 6), 3, 3);

  // what the display shows: the laptop's desktop, a window with a chart
  p.setBrush(QColor(255, 255, 255, 235));
  p.drawRoundedRect(QRectF(88, 25, 90, 50), 3, 3);
  p.setBrush(kBlue);
  p.drawRoundedRect(QRectF(88, 25, 90, 8), 3, 3);
  p.drawRect(QRectF(88, 29, 90, 4));
  p.setBrush(kBlueLight);
  p.drawRect(QRectF(98, 56, 10, 12));
  p.setBrush(kBlue);
  p.drawRect(QRectF(112, 46, 10, 22));
  p.setBrush(kBlueLight);
  p.drawRect(QRectF(126, 51, 10, 17));
  p.setBrush(kBlue);
  p.drawRect(QRectF(140, 40, 10, 28));
  p.setBrush(kLine);
  p.drawRoundedRect(QRectF(156, 42, 16, 3), 1.5, 1.5);
  p.drawRoundedRect(QRectF(156, 50, 12, 3), 1.5, 1.5);
  p.drawRoundedRect(QRectF(156, 58, 16, 3), 1.5, 1.5);

  // laptop in front, left
  p.setBrush(kGrey);
  p.drawRoundedRect(QRectF(16, 74, 62, 42), 4, 4);
  p.setBrush(QColor(0xea, 0xf1, 0xff));
  p.drawRect(QRectF(20, 78, 54, 34));
  p.setBrush(kBlue);
  p.drawRect(QRectF(20, 78, 54, 6));
  p.setBrush(kBlueLight);
  p.drawRect(QRectF(26, 96, 6, 12));
  p.setBrush(kBlue);
  p.drawRect(QRectF(35, 90, 6, 18));
  p.setBrush(kBlueLight);
  p.drawRect(QRectF(44, 93, 6, 15));
  p.setBrush(kBlue);
  p.drawRect(QRectF(53, 87, 6, 21));
  QPainterPath base;
  base.moveTo(12, 116);
  base.lineTo(82, 116);
  base.lineTo(86, 122);
  base.quadTo(86, 124, 84, 124);
  base.lineTo(10, 124);
  base.quadTo(8, 124, 8, 122);
  base.closeSubpath();
  p.setBrush(kGreyLight);
  p.drawPath(base);
  p.setBrush(QColor(0x8f, 0x8f, 0x8f));
  p.drawRoundedRect(QRectF(38, 116, 18, 2.5), 1, 1);

  // the wireless link: arcs rising from the laptop towards the display
  p.setBrush(Qt::NoBrush);
  const QPointF origin(47, 64);
  const double radii[] = {8, 15, 22};
  const QColor arcColours[] = {kBlue, kBlue, kBlueLight};
  for (int i = 0; i < 3; ++i) {
    p.setPen(roundPen(arcColours[i], 3));
    QRectF r(origin.x() - radii[i], origin.y() - radii[i], 2 * radii[i], 2 * radii[i]);
    p.drawArc(r, 45 * 16, 90 * 16);
  }
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawEllipse(origin, 3, 3);
}

// --- the round send and stop faces, 64 x 64 -------------------------------
// The busy animation is drawn over the middle of these faces, so their white
// glyphs are outlines that leave the middle to it.

void drawSendFace(QPainter& p, const QColor& fill) {
  p.setPen(Qt::NoPen);
  p.setBrush(fill);
  p.drawEllipse(QRectF(2, 2, 60, 60));
  // a screen with an arrow rising out of its top edge
  p.setBrush(Qt::NoBrush);
  p.setPen(roundPen(Qt::white, 2.6));
  QPainterPath screen;
  screen.moveTo(28, 22);
  screen.lineTo(20, 22);
  screen.quadTo(17, 22, 17, 25);
  screen.lineTo(17, 40);
  screen.quadTo(17, 43, 20, 43);
  screen.lineTo(44, 43);
  screen.quadTo(47, 43, 47, 40);
  screen.lineTo(47, 25);
  screen.quadTo(47, 22, 44, 22);
  screen.lineTo(36, 22);
  p.drawPath(screen);
  p.drawLine(QPointF(26, 48.5), QPointF(38, 48.5));
  p.drawLine(QPointF(32, 27), QPointF(32, 13));
  p.drawLine(QPointF(27, 18), QPointF(32, 13));
  p.drawLine(QPointF(37, 18), QPointF(32, 13));
}

void drawStopFace(QPainter& p, const QColor& fill) {
  p.setPen(Qt::NoPen);
  p.setBrush(fill);
  p.drawEllipse(QRectF(2, 2, 60, 60));
  p.setBrush(Qt::NoBrush);
  p.setPen(roundPen(Qt::white, 2.6));
  p.drawRoundedRect(QRectF(20.5, 20.5, 23, 23), 3.5, 3.5);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 80));
  p.drawRoundedRect(QRectF(24, 24, 16, 16), 2, 2);
}

// --- small icons -----------------------------------------------------------

void drawTriangleDown(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x8a, 0x8a, 0x8a));
  QPainterPath path;
  path.moveTo(2.5, 2.5);
  path.lineTo(11.5, 2.5);
  path.lineTo(7, 7.5);
  path.closeSubpath();
  p.drawPath(path);
}

// A device screen with a signal coming in: "pair with a device".
void drawPairIcon(QPainter& p, const QColor& colour) {
  p.setBrush(Qt::NoBrush);
  p.setPen(roundPen(colour, 1.6));
  QPainterPath screen;
  screen.moveTo(2, 8);
  screen.lineTo(2, 4.5);
  screen.quadTo(2, 3, 3.5, 3);
  screen.lineTo(14.5, 3);
  screen.quadTo(16, 3, 16, 4.5);
  screen.lineTo(16, 13.5);
  screen.quadTo(16, 15, 14.5, 15);
  screen.lineTo(10, 15);
  p.drawPath(screen);
  p.drawArc(QRectF(2 - 4, 15 - 4, 8, 8), 0, 90 * 16);
  p.drawArc(QRectF(2 - 7.5, 15 - 7.5, 15, 15), 0, 90 * 16);
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawEllipse(QPointF(2.6, 14.4), 1.4, 1.4);
}

void drawTitleButton(QPainter& p, const QColor& face, const QColor& ink, bool close) {
  if (face.alpha() != 0) {
    p.setPen(Qt::NoPen);
    p.setBrush(face);
    p.drawRoundedRect(QRectF(2, 2, 24, 24), 3, 3);
  }
  p.setPen(QPen(ink, 1.5, Qt::SolidLine, Qt::FlatCap));
  if (close) {
    p.drawLine(QPointF(9.5, 9.5), QPointF(18.5, 18.5));
    p.drawLine(QPointF(18.5, 9.5), QPointF(9.5, 18.5));
  } else {
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(9, 14, 10, 1), ink);
  }
}

// --- the busy animation ----------------------------------------------------

// Eight dots on a circle; the leading dot is the largest and the trail
// shrinks behind it. Size, not transparency, makes the trail, because a GIF
// pixel is either opaque or transparent.
void drawSpinnerFrame(QPainter& p, int frame) {
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  for (int i = 0; i < 8; ++i) {
    int age = (frame - i + 8) % 8;  // 0 = the leading dot
    double angle = (i * 45.0 - 90.0) * M_PI / 180.0;
    QPointF centre(10 + 6.8 * std::cos(angle), 10 + 6.8 * std::sin(angle));
    double radius = 2.3 - age * 0.2;
    p.drawEllipse(centre, radius, radius);
  }
}

// GIF keeps one transparent colour: pixels mostly covered become opaque,
// their edge blended over the button blue they are shown on; the rest
// transparent.
QImage toBinaryAlpha(const QImage& source) {
  QImage image = source.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      int a = qAlpha(row[x]);
      if (a < 96) {
        row[x] = qRgba(0, 0, 0, 0);
        continue;
      }
      double t = a / 255.0;
      auto mix = [t](int c, int m) { return static_cast<int>(std::lround(c * t + m * (1 - t))); };
      row[x] = qRgba(mix(qRed(row[x]), kBlue.red()), mix(qGreen(row[x]), kBlue.green()),
                     mix(qBlue(row[x]), kBlue.blue()), 255);
    }
  }
  return image;
}

void saveSpinnerFrames() {
  for (const Scale& s : kScales)
    for (int f = 0; f < 8; ++f)
      save(toBinaryAlpha(render(20, 20, s.factor, [f](QPainter& p) { drawSpinnerFrame(p, f); })),
           QStringLiteral("loading%1-frame%2.png").arg(QLatin1String(s.suffix)).arg(f));
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    QTextStream(stderr) << "usage: generate-images OUTPUT_DIR\n";
    return 2;
  }
  outDir = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(outDir);

  saveScaled(QStringLiteral("image"), 208, 140, drawIllustration);
  saveScaled(QStringLiteral("btn_send_default"), 64, 64, [](QPainter& p) { drawSendFace(p, kBlue); });
  saveScaled(QStringLiteral("btn_send_click"), 64, 64, [](QPainter& p) { drawSendFace(p, kBlueDark); });
  saveScaled(QStringLiteral("btn_stop_default"), 64, 64, [](QPainter& p) { drawStopFace(p, kRed); });
  saveScaled(QStringLiteral("btn_stop_click"), 64, 64, [](QPainter& p) { drawStopFace(p, kRedDark); });
  saveScaled(QStringLiteral("btn_triangle_down"), 14, 10, drawTriangleDown);
  saveScaled(QStringLiteral("icon_pair"), 18, 18, [](QPainter& p) { drawPairIcon(p, Qt::white); });
  saveScaled(QStringLiteral("icon_pair_dis"), 18, 18, [](QPainter& p) { drawPairIcon(p, kGreyLight); });

  const QColor none(0, 0, 0, 0);
  auto title = [](const char* name, QColor face, QColor ink, bool close) {
    save(render(28, 28, 1.0, [=](QPainter& p) { drawTitleButton(p, face, ink, close); }),
         QLatin1String(name));
  };
  title("minimize_normal.png", none, kGrey, false);
  title("minimize_hover.png", QColor(0xec, 0xec, 0xec), kInk, false);
  title("minimize_click.png", QColor(0xdc, 0xdc, 0xdc), kInk, false);
  title("closed_normal.png", none, kGrey, true);
  title("closed_hover.png", kRed, Qt::white, true);
  title("closed_click.png", kRedDark, Qt::white, true);

  saveSpinnerFrames();
  return 0;
}
