// What the three module settings dialogs share: the dialog's copy of the
// module configuration, the four operations on it, the buttons "Zapsat",
// "Přečíst", "Ok", "Cancel" and the status bar. Each dialog adds its
// controls, its validation and the register sequence it runs.
#pragma once

#include <string>

#include "core/ConfigRegisters.h"
#include "core/Dekl.h"
#include "ui/FormUtil.h"

class QPushButton;
class TStatusLine;

class TSettingsDialog : public TFormDialog {
    Q_OBJECT
  public:
    void SetData(TData* record) { m_data = record; }

    // module -> record
    void PrectiData(TModuleConfig& config);
    // record -> module, verified; the record is left as it is
    void ZapisData(const TModuleConfig& config);
    // controls -> record; a status text of one blank means they were valid
    virtual void PrectiOkno(TModuleConfig& config) = 0;
    // record -> controls
    virtual void ZapisOkno(const TModuleConfig& config) = 0;

    void FormShow() override;
    void Button1Click();  // "Zapsat"
    void Button2Click();  // "Přečíst"
    void Button3Click();  // "Ok"
    void Button4Click();  // "Cancel"

    std::string StatusText() const;
    const TModuleConfig& Copy() const { return m_config; }

  protected:
    TSettingsDialog(QWidget* owner, const TRegisterSequence& sequence, const char* name, const char* caption,
                    int clientWidth, int clientHeight);

    void ShowStatus(const std::string& text);
    // The button row, left to right, spread evenly from left to right.
    void PlaceButtons(int left, int right, int top);

    QPushButton* m_button1;
    QPushButton* m_button2;
    QPushButton* m_button3;
    QPushButton* m_button4;

  private:
    TSequenceHooks Hooks();

    const TRegisterSequence& m_sequence;
    TData* m_data = nullptr;
    TModuleConfig m_config;
    TStatusLine* m_statusBar;
};
