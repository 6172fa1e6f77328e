#include "ui/joinconfcombo.h"

#include <QHBoxLayout>
#include <QLineEdit>

CJoinConfCombo::CJoinConfCombo(QWidget* parent) : QComboBox(parent), m_comboLineEdit(nullptr) {}

CJoinConfCombo::~CJoinConfCombo() = default;

void CJoinConfCombo::initLineEdit() {
  if (m_comboLineEdit) return;
  m_comboLineEdit = new QLineEdit(this);
  m_comboLineEdit->setObjectName(QStringLiteral("m_comboLineEdit"));
  m_comboLineEdit->setFrame(false);
  m_comboLineEdit->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
  // Under a style sheet a line edit inside a combo box is taken for the
  // combo's own editor and its background is left to the combo; without a
  // background of its own the editor beneath would show through.
  m_comboLineEdit->setAutoFillBackground(true);

  // The 30-pixel strips keep the drop-down arrow on the right uncovered; the
  // window's layout scaler scales these margins with the rest.
  auto* overlayLayout = new QHBoxLayout;
  overlayLayout->setSpacing(0);
  overlayLayout->setContentsMargins(30, 2, 30, 2);
  overlayLayout->addWidget(m_comboLineEdit);
  setLayout(overlayLayout);

  // Copy the combo's text only when it differs: setText() on an equal text
  // would still move the cursor to the end while the user edits mid-text.
  QLineEdit* overlay = m_comboLineEdit;
  connect(this, &QComboBox::currentTextChanged, overlay, [overlay](const QString& text) {
    if (overlay->text() != text) overlay->setText(text);
  });
  connect(m_comboLineEdit, SIGNAL(textChanged(QString)), this, SLOT(setCurrentText(QString)));
}

void CJoinConfCombo::setEditPlaceholderText(const QString& text) {
  if (QLineEdit* own = lineEdit()) own->setPlaceholderText(text);
  if (m_comboLineEdit) m_comboLineEdit->setPlaceholderText(text);
}
