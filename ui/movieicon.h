#pragma once
// The icon logic the connect and send buttons share: a still icon from a
// file, or an animation whose every frame becomes the button's icon.

#include <QString>

class QAbstractButton;
class QMovie;

namespace movieicon {

// Ends `movie` (if any) and gives `button` the new icon. For an animation it
// returns a new movie, a child of the button, with its frameChanged(int)
// connected to the button's movieIconChanged(int) slot; the button starts it
// once stored, so that the first frame already finds it. Otherwise null.
QMovie* setIcon(QAbstractButton* button, QMovie* movie, const QString& file, bool animated);

// Copies the movie's current frame into the button's icon.
void showFrame(QAbstractButton* button, QMovie* movie);

}  // namespace movieicon
