#include "ui/SettingsDialog.h"

#include <QPushButton>
#include <array>

#include "ui/FormUtil.h"
#include "ui/QtText.h"
#include "ui/StatusLine.h"

namespace {

constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 25;

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption) {
    auto* button = new QPushButton(ToQt(caption), parent);
    button->setObjectName(name);
    button->resize(kButtonWidth, kButtonHeight);
    return button;
}

}  // namespace

TSettingsDialog::TSettingsDialog(QWidget* owner, const TRegisterSequence& sequence, const char* name,
                                 const char* caption, int clientWidth, int clientHeight)
    : TFormDialog(owner), m_sequence(sequence) {
    setObjectName(name);
    setWindowTitle(ToQt(caption));
    SetupFixedDialog(this, clientWidth, clientHeight);

    m_button1 = MakeButton(this, "Button1", "Zapsat");
    m_button2 = MakeButton(this, "Button2", "Přečíst");
    m_button3 = MakeButton(this, "Button3", "Ok");
    m_button4 = MakeButton(this, "Button4", "Cancel");

    m_statusBar = new TStatusLine(this);
    const int barHeight = m_statusBar->sizeHint().height();
    m_statusBar->setGeometry(0, clientHeight - barHeight, clientWidth, barHeight);

    connect(m_button1, &QPushButton::clicked, this, &TSettingsDialog::Button1Click);
    connect(m_button2, &QPushButton::clicked, this, &TSettingsDialog::Button2Click);
    connect(m_button3, &QPushButton::clicked, this, &TSettingsDialog::Button3Click);
    connect(m_button4, &QPushButton::clicked, this, &TSettingsDialog::Button4Click);
}

void TSettingsDialog::PlaceButtons(int left, int right, int top) {
    const std::array buttons{m_button1, m_button2, m_button3, m_button4};
    const int gaps = static_cast<int>(buttons.size()) - 1;
    const int free = right - left - static_cast<int>(buttons.size()) * kButtonWidth;
    for (int i = 0; i < static_cast<int>(buttons.size()); ++i) {
        buttons[static_cast<std::size_t>(i)]->move(left + i * kButtonWidth + free * i / gaps, top);
    }
}

void TSettingsDialog::ShowStatus(const std::string& text) { m_statusBar->Show(text); }

std::string TSettingsDialog::StatusText() const { return m_statusBar->Text(); }

TSequenceHooks TSettingsDialog::Hooks() {
    return TSequenceHooks{[this](const std::string& text) { ShowStatus(text); }, PumpEventsAndPause};
}

void TSettingsDialog::PrectiData(TModuleConfig& config) {
    if (m_data == nullptr) return;
    ReadConfig(*m_data, m_sequence, config, Hooks());
}

void TSettingsDialog::ZapisData(const TModuleConfig& config) {
    if (m_data == nullptr) return;
    WriteConfig(*m_data, m_sequence, config, Hooks());
}

void TSettingsDialog::FormShow() {
    if (m_data == nullptr) return;
    m_config = m_data->ModuleConfig;
    ZapisOkno(m_config);
    ShowStatus(" ");
}

void TSettingsDialog::Button1Click() {
    if (m_data == nullptr) return;
    if (!IsConnected(*m_data)) {
        ShowStatus(kNotConnectedText);
        return;
    }
    PrectiOkno(m_config);
    // A longer text is a validation message, which stays.
    if (StatusText().size() <= 1) ZapisData(m_config);
}

void TSettingsDialog::Button2Click() {
    if (m_data == nullptr) return;
    if (!IsConnected(*m_data)) {
        ShowStatus(kNotConnectedText);
        return;
    }
    PrectiData(m_config);
    // Also after a failure: what was read before it is shown, and edits not
    // yet taken in are dropped.
    ZapisOkno(m_config);
}

void TSettingsDialog::Button3Click() {
    if (m_data == nullptr) return;
    PrectiOkno(m_config);
    if (StatusText().size() == 1) m_data->ModuleConfig = m_config;
    close();
}

void TSettingsDialog::Button4Click() { close(); }
