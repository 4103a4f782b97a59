// The connection dialog: chooses the interface kind and its parameters,
// opens the link, configures the line and identifies the module.
#pragma once

#include <string>

#include "ui/FormUtil.h"

struct TData;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

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
    void ReleaseAfterFailure(uint32_t& handle);

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
