#pragma once
// A QToolButton that shows a still icon or an animated one (a GIF played with
// QMovie, frame by frame).

#include <QToolButton>
#include <QString>

class QMovie;

class CSendToolbutton : public QToolButton {
  Q_OBJECT

 public:
  explicit CSendToolbutton(QWidget* parent = nullptr);
  ~CSendToolbutton() override;

  // A still icon from a resource or file path (an empty path removes the
  // icon), or with `animated` the animation in that file. Any running
  // animation ends first.
  void setButtonIcon(const QString& file, bool animated);

 public slots:
  void movieIconChanged(int frame);

 private:
  QMovie* m_movie;
};
