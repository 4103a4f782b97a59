#include "ui/Hlavni.h"

#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTableWidget>
#include <cstdio>

#include "core/Cp1250.h"
#include "core/IntText.h"
#include "core/Notice.h"
#include "ui/FormUtil.h"
#include "ui/KonfiguraceModulu.h"
#include "ui/LateIconStyle.h"
#include "ui/LineLock.h"
#include "ui/ModulyNaSbernici.h"
#include "ui/NastavAdr.h"
#include "ui/NastavDIO.h"
#include "ui/NastavPWM.h"
#include "ui/OkamDIN.h"
#include "ui/OkamDOUT.h"
#include "ui/OkamPWM.h"
#include "ui/Pripojeni.h"
#include "ui/ProvozLinky.h"
#include "ui/Prubeh.h"
#include "ui/QtText.h"
#include "ui/StatReg.h"
#include "ui/WindowIcon.h"

namespace {

constexpr const char* kLineBusyText = " Linka je obsazena.";

std::string BesideSettings(const std::string& settingsPath, const char* name) {
    const std::size_t slash = settingsPath.find_last_of("/\\");
    return slash == std::string::npos ? name : settingsPath.substr(0, slash + 1) + name;
}

QAction* AddItem(QWidget* menu, QObject* owner, const char* name, const char* caption) {
    auto* action = new QAction(ToQt(caption), owner);
    action->setObjectName(name);
    menu->addAction(action);
    return action;
}

}  // namespace

TForm1::TForm1(std::string settingsPath, TCreateData create) : m_settingsPath(std::move(settingsPath)) {
    setObjectName("Form1");
    setWindowTitle(ToQt(" RQ-905 (v.1.02) -  nastavení modulu"));
    setWindowIcon(WindowIcon());
    resize(600, 400);

    // Before the menu bar: its overflow arrow would load every image
    // plugin before the window shows.
    UseLateStandardIcons();
    QMenuBar* bar = menuBar();
    connect(AddItem(bar, this, "Pipojen1", "&Připojení"), &QAction::triggered, this, &TForm1::Pipojen1Click);
    QMenu* settings = bar->addMenu(ToQt("&Nastavení"));
    settings->menuAction()->setObjectName("Nastaven1");
    connect(AddItem(settings, this, "AdresaRychlost1", "Adresa, rychlost"), &QAction::triggered, this,
            &TForm1::AdresaRychlost1Click);
    connect(AddItem(settings, this, "NastavDIO1", "Digitální vstupy/výstupy"), &QAction::triggered, this,
            &TForm1::NastavDIO1Click);
    connect(AddItem(settings, this, "Kalibracevstup1", "PWM výstup"), &QAction::triggered, this,
            &TForm1::Kalibracevstup1Click);
    QMenu* live = bar->addMenu(ToQt("&Okamžité hodnoty"));
    live->menuAction()->setObjectName("Okamithodnoty1");
    connect(AddItem(live, this, "OkamAIN2", "PWM výstup"), &QAction::triggered, this, &TForm1::OkamAIN2Click);
    QAction* din = AddItem(live, this, "OkamDIN2", "Digitální vstupy");
    // The inputs monitor is kept out of the operator's reach.
    din->setVisible(false);
    connect(din, &QAction::triggered, this, &TForm1::OkamDIN2Click);
    connect(AddItem(live, this, "OkamDOUT1", "Digitální výstupy"), &QAction::triggered, this,
            &TForm1::OkamDOUT1Click);
    connect(AddItem(live, this, "Statusregistr1", "Status registr"), &QAction::triggered, this,
            &TForm1::Statusregistr1Click);
    QMenu* service = bar->addMenu(ToQt("&Servis"));
    service->menuAction()->setObjectName("Servis1");
    connect(AddItem(service, this, "ModulyNaSbernici1", "&Moduly na sběrnici"), &QAction::triggered, this,
            &TForm1::ModulyNaSbernici1Click);
    // The windows' entries: "&Průběh", "Pro&voz linky".
    connect(AddItem(service, this, "Prubeh1", "&Průběh"), &QAction::triggered, this,
            [this] { TPrubeh::Open(Data(), this); });
    connect(AddItem(service, this, "ProvozLinky1", "Pro&voz linky"), &QAction::triggered, this,
            [this] { TProvozLinky::Open(this); });
    connect(AddItem(service, this, "UlozitKonfiguraci1", "&Uložit konfiguraci modulu…"), &QAction::triggered,
            this, &TForm1::UlozitKonfiguraci1Click);
    connect(AddItem(service, this, "NahratKonfiguraci1", "&Nahrát konfiguraci do modulu…"),
            &QAction::triggered, this, &TForm1::NahratKonfiguraci1Click);
    connect(AddItem(bar, this, "Konec2", "&Konec"), &QAction::triggered, this, &TForm1::Konec2Click);

    QStatusBar* status = statusBar();
    status->setObjectName("StatusBar1");
    status->setSizeGripEnabled(false);
    // The panels have the widths of the original window, which were made
    // for an 8-point font; the identification must fit in the first.
    QFont small = status->font();
    small.setPointSize(8);
    status->setFont(small);
    const std::array<int, 3> widths = {140, 80, 120};
    const std::array<const char*, 4> captions = {" Modul", " Adresa", " Rychlost", ""};
    for (int i = 0; i < 4; ++i) {
        auto* panel = new QLabel(ToQt(captions[static_cast<std::size_t>(i)]), status);
        panel->setObjectName(QString("Panel%1").arg(i));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setTextFormat(Qt::PlainText);
        if (i < 3) {
            panel->setFixedWidth(widths[static_cast<std::size_t>(i)]);
            status->addWidget(panel);
        } else {
            status->addWidget(panel, 1);
        }
        m_panels[static_cast<std::size_t>(i)] = panel;
    }

    m_bus = new TModulyNaSbernici(this, BesideSettings(m_settingsPath, kBusFileName));
    setCentralWidget(m_bus);
    connect(m_bus, &TModulyNaSbernici::ConnectRequested, this, &TForm1::ConnectToBusModule);

    // Notices of the settings file reach a Windows user here, not on a
    // standard error nobody sees; several stand side by side.
    SetNoticeListener([this](const std::string& text) {
        const std::string shown = PanelText(3);
        SetPanel(3, (shown.empty() ? " " : shown + "; ") + text);
    });
    // Creation step.
    m_data = create(m_settingsPath);
    if (!m_data) SetPanel(3, std::string(" ") + kNoDataText);
    m_bus->SetData(m_data.get());
}

TForm1::~TForm1() {
    FormClose();
    SetNoticeListener(nullptr);
}

std::string TForm1::PanelText(int panel) const {
    return FromQt(m_panels[static_cast<std::size_t>(panel)]->text());
}

void TForm1::SetPanel(int panel, const std::string& text) {
    m_panels[static_cast<std::size_t>(panel)]->setText(ToQt(text));
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_centred) {
        m_centred = true;
        CentreOnScreen(this);
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TForm1::FormClose() {
    if (!m_data) return;
    // The scan's link goes before the connection is saved and ended, and
    // the table lets go of the record that the close step frees.
    m_bus->StopScan();
    m_bus->SetData(nullptr);
    CloseProgramData(m_data, m_settingsPath, &m_saveError);
    // The one error that may leave the close step; the program still ends.
    if (!m_saveError.empty()) std::fprintf(stderr, "%s\n", m_saveError.c_str());
}

template <class TForm>
void TForm1::OpenDialog() {
    if (!m_data) return;
    // A new instance at every opening; destroyed when it closes, also when
    // showing it ends by an exception that goes on propagating.
    // The dialog's transactions are the line's for as long as it is open:
    // no poll of another window falls between them.
    TLineHold line;
    if (!TakeLine(line, "dialog")) {
        SetPanel(3, kLineBusyText);
        return;
    }
    auto dialog = std::make_unique<TForm>(this);
    dialog->SetData(m_data.get());
    m_dialog = dialog.get();
    dialog->exec();
    // Queued, so that the command finishes with the record still there.
    if (m_closeRequested) QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TForm1::RefreshStatusBar() {
    SetPanel(0, " Modul  " + PrintableText(m_data->ModuleIdent));
    SetPanel(1, " Adresa  " + IntToStr(m_data->ModuleAddress));
    SetPanel(2, " Rychlost  " + IntToStr(m_data->Speed) + "Bd");
}

void TForm1::Pipojen1Click() {
    if (!m_data) return;
    OpenDialog<TForm2>();
    RefreshStatusBar();
    m_bus->MarkConnected();
}

void TForm1::AdresaRychlost1Click() { OpenDialog<TForm12>(); }
void TForm1::NastavDIO1Click() { OpenDialog<TForm14>(); }
void TForm1::Kalibracevstup1Click() { OpenDialog<TForm4>(); }
void TForm1::OkamAIN2Click() { OpenDialog<TForm3>(); }
void TForm1::OkamDIN2Click() { OpenDialog<TForm11>(); }
void TForm1::OkamDOUT1Click() { OpenDialog<TForm9>(); }
void TForm1::Statusregistr1Click() { OpenDialog<TForm15>(); }
void TForm1::Konec2Click() { close(); }

void TForm1::ModulyNaSbernici1Click() { m_bus->Table()->setFocus(); }

void TForm1::ConnectToBusModule(uint8_t address, uint8_t speedIndex) {
    if (!m_data) return;
    TLineHold line;
    if (!TakeLine(line, "dialog")) {
        SetPanel(3, kLineBusyText);
        return;
    }
    ConnectToModule(*m_data, address, speedIndex,
                    [this](const std::string& text) { ShowNotice(" " + text); });
    RefreshStatusBar();
    m_bus->MarkConnected();
}
void TForm1::UlozitKonfiguraci1Click() {
    if (m_data) SaveModuleConfiguration(this, *m_data, [this](const std::string& text) { ShowNotice(text); });
}

void TForm1::NahratKonfiguraci1Click() {
    if (m_data) LoadModuleConfiguration(this, *m_data, [this](const std::string& text) { ShowNotice(text); });
}

void TForm1::ShowNotice(const std::string& text) {
    SetPanel(3, PrintableText(text));
    m_panels[3]->repaint();
}

void TForm1::CloseProgram() {
    m_closeRequested = true;
    if (m_dialog != nullptr && m_dialog->isVisible()) {
        m_dialog->close();
    } else if (m_dialog == nullptr) {
        close();
    }
}
