// The connection dialog: chooses the interface kind and its parameters,
// opens the link, configures the line and identifies the module.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ui/FormUtil.h"

struct TData;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Status texts of the connection set-up, Windows-1250, as the dialog shows
// them.
using TShowText = std::function<void(const std::string& text)>;
inline constexpr const char* kConnectingText = "Probíhá inicializace připojení";

// The connection set-up of "Inicializace připojení" from the library's
// Init on, with the record's kind and InitParams: opens the link, sets the
// line to the speed and identifies the module at address. On success the
// record is connected to that module (Handle, Connected, ModuleIdent,
// ModuleAddress, Speed, StatusText); on a failure nothing is left open.
// handle is the record's closed handle, which the library fills.
bool InitializeConnection(TData& rec, uint32_t& handle, uint8_t address, uint8_t speedIndex,
                          const TShowText& show);
// The same for a module found on the bus: whatever is open is closed
// first, and the link takes the record's stored parameters of its kind.
bool ConnectToModule(TData& rec, uint8_t address, uint8_t speedIndex, const TShowText& show);
// InitParams from the record's parameters of its kind, as the dialog
// fills them from its fields that show those parameters.
void InitParamsFromRecord(TData& rec);

class TForm2 : public TFormDialog {
    Q_OBJECT
  public:
    explicit TForm2(QWidget* owner = nullptr);
    void SetData(TData* record) { m_data = record; }

    void FormShow() override;
    void ComboBox2Change();
    void Button1Click();
    void Button2Click();

    std::string PanelText() const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void SetupRows(uint8_t kind);
    void ShowPanel(const std::string& text);

    TData* m_data = nullptr;
    QComboBox* m_comboBox2;  // interface kind
    QComboBox* m_comboBox1;  // line speed
    QLabel* m_label3;
    QLabel* m_label6;
    QLabel* m_label7;
    QLineEdit* m_edit1;  // module address
    QLineEdit* m_edit2;
    QLineEdit* m_edit3;
    QLineEdit* m_edit4;
    QLabel* m_panel1;
    QPushButton* m_button1;
    QPushButton* m_button2;
};
