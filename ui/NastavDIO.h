// The digital I/O settings dialog: negation of the inputs and outputs and
// the outputs' initial state, eight check boxes each (registers 33, 34, 32).
#pragma once

#include <array>

#include "ui/SettingsDialog.h"

class QCheckBox;

class TForm14 : public TSettingsDialog {
    Q_OBJECT
  public:
    explicit TForm14(QWidget* owner = nullptr);

    void PrectiOkno(TModuleConfig& config) override;
    void ZapisOkno(const TModuleConfig& config) override;

  private:
    using TBoxes = std::array<QCheckBox*, 8>;  // box n shows bit n
    TBoxes m_dinNegation{};                    // CheckBox1..8
    TBoxes m_doutNegation{};                   // CheckBox33..40
    TBoxes m_doutInitial{};                    // CheckBox65..72
};
