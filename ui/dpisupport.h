#pragma once
// What the two frameless window bases share: the stretch factor for a DPI,
// the screen a window is on, centring, and following the window's screen.

#include <QString>
#include <QStringList>
#include <functional>

class QScreen;
class QWidget;

namespace dpi {

// Windows are designed at 96 dpi and drawn at 1, 1.5 or 2 times that size:
// 96..143 dpi give 1.0, 144..191 give 1.5, 192 and above give 2.0.
double stretchFactor(int dpi);

// "1", "1.5" or "2": the factor as it appears in the scaled style sheet names.
QString factorText(double factor);

// [baseName.qss, baseName-<factor>x.qss]
QStringList scaledStyleFiles(const QString& baseName, double factor);

// The bookkeeping of updateDpi(): stores the new DPI and factor and returns
// true when the window has to restyle and rescale. `cls` names the window
// base in the log lines.
bool updateDpi(const char* cls, const QWidget* window, int newDpi, int& lastDpi,
               double& factor);

// The screen under the window's centre, else the primary screen, else null.
QScreen* displayScreen(const char* cls, const QWidget* window);

// Moves the window to the centre of its screen's available area.
void centerWindow(const char* cls, QWidget* window);

// There is no DPI-change window message on X11: follow the window's screen
// instead. From now on `onDpi` gets the logical DPI whenever the window moves
// to another screen or its screen's logical DPI changes. Called once the
// window has its native handle (at every show; repeated calls are cheap).
void followScreen(QWidget* window, const std::function<void(int)>& onDpi);

}  // namespace dpi
