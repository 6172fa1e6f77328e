#include "ui/sendtoolbutton.h"

#include <QMovie>

#include "ui/movieicon.h"

CSendToolbutton::CSendToolbutton(QWidget* parent) : QToolButton(parent), m_movie(nullptr) {}

CSendToolbutton::~CSendToolbutton() {
  if (m_movie) {
    m_movie->stop();
    delete m_movie;
  }
}

void CSendToolbutton::setButtonIcon(const QString& file, bool animated) {
  QMovie* old = m_movie;
  m_movie = nullptr;
  m_movie = movieicon::setIcon(this, old, file, animated);
  if (m_movie) m_movie->start();
}

void CSendToolbutton::movieIconChanged(int) { movieicon::showFrame(this, m_movie); }
