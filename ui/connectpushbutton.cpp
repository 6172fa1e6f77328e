#include "ui/connectpushbutton.h"

#include <QMovie>

#include "ui/movieicon.h"

CConnectPushbutton::CConnectPushbutton(QWidget* parent) : QPushButton(parent), m_movie(nullptr) {}

CConnectPushbutton::~CConnectPushbutton() {
  if (m_movie) {
    m_movie->stop();
    delete m_movie;
  }
}

void CConnectPushbutton::setButtonIcon(const QString& file, bool animated) {
  QMovie* old = m_movie;
  m_movie = nullptr;
  m_movie = movieicon::setIcon(this, old, file, animated);
  if (m_movie) m_movie->start();
}

void CConnectPushbutton::movieIconChanged(int) { movieicon::showFrame(this, m_movie); }
