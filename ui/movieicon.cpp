#include "ui/movieicon.h"

#include <QAbstractButton>
#include <QIcon>
#include <QMovie>

namespace movieicon {

QMovie* setIcon(QAbstractButton* button, QMovie* movie, const QString& file, bool animated) {
  if (movie) {
    movie->stop();
    delete movie;
  }
  if (!animated) {
    button->setIcon(file.isEmpty() ? QIcon() : QIcon(file));
    return nullptr;
  }
  movie = new QMovie(file, QByteArray(), button);
  QObject::connect(movie, SIGNAL(frameChanged(int)), button, SLOT(movieIconChanged(int)));
  return movie;
}

void showFrame(QAbstractButton* button, QMovie* movie) {
  if (movie) button->setIcon(QIcon(movie->currentPixmap()));
}

}  // namespace movieicon
