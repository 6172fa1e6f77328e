#pragma once
// The device address box: an editable combo box whose text is typed into a
// centred, frameless line edit laid over it. The overlay and the combo's
// current text follow each other both ways.

#include <QComboBox>
#include <QString>

class QLineEdit;

class CJoinConfCombo : public QComboBox {
  Q_OBJECT

 public:
  explicit CJoinConfCombo(QWidget* parent = nullptr);
  ~CJoinConfCombo() override;

  // Creates the overlay; called once by the owner after building its widgets.
  void initLineEdit();
  void setEditPlaceholderText(const QString& text);

 private:
  QLineEdit* m_comboLineEdit;
};
