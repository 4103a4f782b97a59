#include "ui/Pripojeni.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/Cp1250.h"
#include "core/Dekl.h"
#include "core/IntText.h"
#include "ui/FormUtil.h"
#include "ui/QtText.h"

namespace {

constexpr int kLabelX = 32;
constexpr int kControlX = 208;
constexpr int kControlW = 169;
constexpr int kControlH = 21;

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, int controlTop) {
    auto* label = new QLabel(ToQt(caption), parent);
    label->setObjectName(name);
    label->move(kLabelX, controlTop + 8);
    label->adjustSize();
    return label;
}

template <class TControl>
TControl* MakeControl(QWidget* parent, const char* name, int top) {
    auto* control = new TControl(parent);
    control->setObjectName(name);
    control->setGeometry(kControlX, top, kControlW, kControlH);
    return control;
}

std::string IsaBaseText(uint32_t base) {
    return QString::number(base, 16).toUpper().rightJustified(3, '0').toStdString() + "h";
}

void ReleaseAfterFailure(TData& rec, uint32_t& handle) {
    CloseInterface(rec.Kind, handle);
    rec.Handle = handle;
    rec.Connected = 0;
}

}  // namespace

bool InitializeConnection(TData& rec, uint32_t& handle, uint8_t address, uint8_t speedIndex,
                          const TShowText& show) {
    uint32_t result = OpenInterface(rec.Kind, handle, rec.InitParams);
    if (result != 0) {
        show("Chyba inicializace připojení - " + ResultMessage(rec.Kind, result));
        rec.Connected = 0;
        return false;
    }
    rec.Connected = 1;

    result =
        InterfaceSetConfig(rec.Kind, handle, SpeedFromIndex(speedIndex), SpeedConfigValue(speedIndex), 2);
    if (result != 0) {
        // The text comes from the library, so it is taken before release.
        show("Chyba inicializace připojení - " + ResultMessage(rec.Kind, result));
        ReleaseAfterFailure(rec, handle);
        return false;
    }

    std::string ident;
    for (uint8_t index = 0; index < 3; ++index) {
        uint8_t d0 = 0, d1 = 0, d2 = 0, d3 = 0, d4 = 0, status = 0;
        TCellBlock reply{};
        ModuleTransaction(rec.Kind, handle, address, 200, index, d0, d1, d2, d3, d4, status, reply);
        if (status != 0) {
            show(ResultMessage(rec.Kind, status));
            ReleaseAfterFailure(rec, handle);
            return false;
        }
        if (index == 2) ident += " v.";
        for (const uint8_t c : {d1, d2, d3, d4}) ident.push_back(static_cast<char>(c));
    }

    rec.ModuleIdent = ident;
    show("Připojení úspěšně inicializováno. Připojen modul   " + ident);
    rec.ModuleAddress = address;
    rec.Speed = SpeedFromIndex(speedIndex);
    rec.StatusText = "V pořádku";
    rec.Handle = handle;
    return true;
}

void InitParamsFromRecord(TData& rec) {
    rec.InitParams.fill(0);
    switch (rec.Kind) {
        case kKindCom:
            rec.InitParams[0] = rec.ComPort;
            break;
        case kKindIsa:
            rec.InitParams[0] = rec.IsaBase;
            break;
        case kKindLan:
            rec.InitParams[0] = reinterpret_cast<uintptr_t>(rec.IpAddress.c_str());
            rec.InitParams[1] = rec.UdpPort;
            rec.InitParams[2] = rec.UdpTimeout;
            break;
        default:
            break;
    }
}

bool ConnectToModule(TData& rec, uint8_t address, uint8_t speedIndex, const TShowText& show) {
    uint32_t handle = rec.Handle;
    if (IsConnected(rec)) {
        CloseInterface(rec.Kind, handle);
        rec.Handle = handle;
        rec.Connected = 0;
    }
    show(kConnectingText);
    InitParamsFromRecord(rec);
    return InitializeConnection(rec, handle, address, speedIndex, show);
}

TForm2::TForm2(QWidget* owner) : TFormDialog(owner) {
    setObjectName("Form2");
    setWindowTitle(ToQt("Připojení modulu"));
    SetupFixedDialog(this, 592, 373);

    MakeLabel(this, "Label5", "Komunikační rozhraní", 32);
    m_comboBox2 = MakeControl<QComboBox>(this, "ComboBox2", 32);
    for (const TInterfaceKind& kind : kInterfaceKinds) m_comboBox2->addItem(ToQt(kind.listText));
    m_comboBox2->setCurrentIndex(-1);
    m_label3 = MakeLabel(this, "Label3", "", 56);
    m_edit2 = MakeControl<QLineEdit>(this, "Edit2", 56);
    m_label6 = MakeLabel(this, "Label6", "", 80);
    m_edit3 = MakeControl<QLineEdit>(this, "Edit3", 80);
    m_label7 = MakeLabel(this, "Label7", "", 104);
    m_edit4 = MakeControl<QLineEdit>(this, "Edit4", 104);
    MakeLabel(this, "Label1", "Adresa připojeného modulu", 152);
    m_edit1 = MakeControl<QLineEdit>(this, "Edit1", 152);
    MakeLabel(this, "Label2", "Komunikační rychlost", 176);
    m_comboBox1 = MakeControl<QComboBox>(this, "ComboBox1", 176);
    for (const TLineSpeed& speed : kLineSpeeds) m_comboBox1->addItem(ToQt(speed.listText));
    m_comboBox1->setCurrentIndex(kDefaultSpeedIndex);

    auto* label4 = new QLabel(ToQt("Status připojení"), this);
    label4->setObjectName("Label4");
    label4->move(kLabelX, 232);
    m_panel1 = new QLabel(this);
    m_panel1->setObjectName("Panel1");
    m_panel1->setGeometry(kLabelX, 248, 521, 22);
    m_panel1->setFrameShape(QFrame::Panel);
    m_panel1->setFrameShadow(QFrame::Sunken);
    m_panel1->setAutoFillBackground(true);
    QPalette white = m_panel1->palette();
    white.setColor(QPalette::Window, Qt::white);
    m_panel1->setPalette(white);
    m_panel1->setTextFormat(Qt::PlainText);
    m_panel1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    m_button1 = new QPushButton(ToQt("Inicializace připojení"), this);
    m_button1->setObjectName("Button1");
    m_button1->setGeometry(kLabelX, 304, 129, 25);
    m_button2 = new QPushButton(ToQt("Cancel"), this);
    m_button2->setObjectName("Button2");
    m_button2->setGeometry(480, 304, 75, 25);

    setTabOrder(m_edit1, m_edit2);
    setTabOrder(m_edit2, m_comboBox1);
    setTabOrder(m_comboBox1, m_button1);
    setTabOrder(m_button1, m_button2);
    setTabOrder(m_button2, m_comboBox2);
    setTabOrder(m_comboBox2, m_edit3);
    setTabOrder(m_edit3, m_edit4);
    m_edit1->setFocus();

    SetupRows(255);
    connect(m_comboBox2, &QComboBox::activated, this, &TForm2::ComboBox2Change);
    connect(m_button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(m_button2, &QPushButton::clicked, this, &TForm2::Button2Click);
}

void TForm2::keyPressEvent(QKeyEvent* event) {
    // No button is the cancel button: Escape does not close the dialog.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

std::string TForm2::PanelText() const { return FromQt(m_panel1->text()); }

void TForm2::ShowPanel(const std::string& text) {
    m_panel1->setText(ToQt(PrintableText(text)));
    m_panel1->repaint();
}

void TForm2::SetupRows(uint8_t kind) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_label3, m_edit2, m_label6, m_edit3, m_label7, m_edit4}) {
        w->hide();
    }
    auto row = [](QLabel* label, QLineEdit* edit, const char* caption, const std::string& content) {
        label->setText(ToQt(caption));
        label->adjustSize();
        edit->setText(ToQt(content));
        label->show();
        edit->show();
    };
    if (m_data == nullptr) return;
    switch (kind) {
        case kKindCom:
            row(m_label3, m_edit2, "Číslo portu COMx", IntToStr(m_data->ComPort));
            break;
        case kKindIsa:
            row(m_label3, m_edit2, "Bázová adresa PCI-318", IsaBaseText(m_data->IsaBase));
            break;
        case kKindLan:
            row(m_label3, m_edit2, "IP adresa", m_data->IpAddress);
            row(m_label6, m_edit3, "UDP port", IntToStr(m_data->UdpPort));
            row(m_label7, m_edit4, "UDP timeout", IntToStr(m_data->UdpTimeout));
            break;
        default:
            break;
    }
}

void TForm2::FormShow() {
    if (m_data == nullptr) return;
    m_edit1->setText(ToQt(IntToStr(m_data->ModuleAddress)));
    m_comboBox1->setCurrentIndex(IndexFromSpeed(m_data->Speed));
    m_data->Kind &= 7;
    m_comboBox2->setCurrentIndex(m_data->Kind < kKindCount ? m_data->Kind : -1);
    SetupRows(m_data->Kind);
    ShowPanel(m_data->StatusText);
}

void TForm2::ComboBox2Change() {
    const int index = m_comboBox2->currentIndex();
    SetupRows(index < 0 ? uint8_t{255} : static_cast<uint8_t>(index));
}

void TForm2::Button2Click() { close(); }

void TForm2::Button1Click() {
    if (m_data == nullptr) return;
    TData& rec = *m_data;

    // Whatever is open goes first, with the kind it was opened with, so a
    // press that fails later leaves nothing open.
    uint32_t handle = rec.Handle;
    if (IsConnected(rec)) {
        CloseInterface(rec.Kind, handle);
        rec.Handle = handle;
        rec.Connected = 0;
    }
    ShowPanel(kConnectingText);

    const auto address = static_cast<uint8_t>(StrToIntDef(FromQt(m_edit1->text()), 0));
    m_edit1->setText(ToQt(IntToStr(address)));
    const auto speedIndex = static_cast<uint8_t>(m_comboBox1->currentIndex());
    rec.Kind = static_cast<uint8_t>(m_comboBox2->currentIndex());
    rec.InitParams.fill(0);

    switch (rec.Kind) {
        case kKindCom: {
            const auto port = static_cast<uint16_t>(StrToIntDef(FromQt(m_edit2->text()), 1));
            m_edit2->setText(ToQt(IntToStr(port)));
            rec.ComPort = static_cast<uint8_t>(port);
            rec.InitParams[0] = port;
            break;
        }
        case kKindIsa: {
            // The edit shows the base as three hex digits and "h"; only
            // that form is taken, anything else falls back to 300h.
            const std::string text = FromQt(m_edit2->text());
            const std::string hex = text.size() == 4 ? "$" + text.substr(0, 3) : "$300";
            const auto base = static_cast<uint16_t>(StrToIntDef(hex, 0x300));
            m_edit2->setText(ToQt(IsaBaseText(base)));
            rec.IsaBase = base;
            rec.InitParams[0] = base;
            break;
        }
        case kKindPci:
        case kKindUsb:
            break;
        case kKindLan: {
            const std::string ip = FromQt(m_edit2->text());
            if (ip.empty()) {
                ShowPanel("Neplatná IP adresa");
                return;
            }
            rec.IpAddress = ip;
            int32_t value = 0;
            if (!TryStrToInt(FromQt(m_edit3->text()), value) || static_cast<uint32_t>(value) > 65535) {
                ShowPanel("Neplatný UDP port");
                return;
            }
            rec.UdpPort = static_cast<uint32_t>(value);
            if (!TryStrToInt(FromQt(m_edit4->text()), value) || static_cast<uint32_t>(value) > 65535) {
                ShowPanel("Neplatný UDP timeout");
                return;
            }
            rec.UdpTimeout = static_cast<uint32_t>(value);
            rec.InitParams[0] = reinterpret_cast<uintptr_t>(rec.IpAddress.c_str());
            rec.InitParams[1] = rec.UdpPort;
            rec.InitParams[2] = rec.UdpTimeout;
            break;
        }
        default:
            ShowPanel("Neznámý typ rozhraní");
            return;
    }

    InitializeConnection(rec, handle, address, speedIndex,
                         [this](const std::string& text) { ShowPanel(text); });
}
