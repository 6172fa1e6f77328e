#pragma once
// Base windows that count their rescales, for the DPI tests.

#include "ui/basedlg.h"
#include "ui/basewgt.h"

class ProbeWgt : public CBaseWgt {
 public:
  int rescales = 0;
  QString sheetBase;  // when set, rescales load this style sheet pair
  double factor() const { return m_fStretchFactor; }
  int dpi() const { return m_dpi; }

 protected:
  void onDpiChanged() override {
    ++rescales;
    if (sheetBase.isEmpty()) return;
    setStyleSheet(QString());
    loadScaledStyle(sheetBase);
  }
};

class ProbeDlg : public CBaseDlg {
 public:
  int rescales = 0;
  double factor() const { return m_fStretchFactor; }

 protected:
  void onDpiChanged() override { ++rescales; }
};
