// The connection dialog against the recording drivers.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

#include "GuiTest.h"
#include "ui/Pripojeni.h"

using namespace guitest;

namespace {

class ConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Rec().Reset();
        SetDefaults(&m_data);
        m_module.ident = "RQ-905  1.02";
        Rec().responder = std::ref(m_module);
    }
    void TearDown() override {
        uint32_t h = 1;
        CloseInterface(m_data.Kind & 7, h);
    }
    // Shows a fresh dialog on the record.
    std::unique_ptr<TForm2> Open() {
        auto form = std::make_unique<TForm2>();
        form->SetData(&m_data);
        form->show();
        return form;
    }
    QLineEdit* Edit(TForm2& f, const char* name) { return Child<QLineEdit>(&f, name); }
    QComboBox* Combo(TForm2& f, const char* name) { return Child<QComboBox>(&f, name); }
    void Choose(TForm2& f, int kind) {
        Combo(f, "ComboBox2")->setCurrentIndex(kind);
        f.ComboBox2Change();
    }

    TData m_data;
    TFakeModule m_module;
};

TEST_F(ConnectionTest, ShowFillsControlsFromTheRecord) {
    m_data.ModuleAddress = 17;
    m_data.Speed = 14400;  // not a list speed
    m_data.Kind = 9;       // reduced to its low three bits
    m_data.IsaBase = 0x2A0;
    m_data.StatusText = "V pořádku";
    auto f = Open();
    EXPECT_EQ(FromQt(f->windowTitle()), "Připojení modulu");
    EXPECT_EQ(Edit(*f, "Edit1")->text(), "17");
    EXPECT_EQ(Combo(*f, "ComboBox1")->currentText(), "9600 Bd");
    EXPECT_EQ(m_data.Kind, 1);
    EXPECT_EQ(Combo(*f, "ComboBox2")->currentIndex(), 1);
    EXPECT_EQ(Edit(*f, "Edit2")->text(), "2A0h");
    EXPECT_EQ(f->PanelText(), "V pořádku");
    EXPECT_TRUE(Rec().calls.empty());
}

struct RowsCase {
    uint8_t kind;
    std::vector<std::pair<const char*, const char*>> rows;  // caption, content of the visible rows
};
void PrintTo(const RowsCase& c, std::ostream* os) { *os << "kind " << int{c.kind}; }

class RowsTest : public ConnectionTest, public ::testing::WithParamInterface<RowsCase> {};

TEST_P(RowsTest, ShowsTheRowsOfTheKind) {
    m_data.Kind = GetParam().kind;
    m_data.ComPort = 3;
    m_data.IsaBase = 0x1000;
    m_data.IpAddress = "10.1.2.3";
    m_data.UdpPort = 7000;
    m_data.UdpTimeout = 250;
    auto f = Open();
    const std::array<std::pair<const char*, const char*>, 3> widgets = {
        {{"Label3", "Edit2"}, {"Label6", "Edit3"}, {"Label7", "Edit4"}}};
    const auto& rows = GetParam().rows;
    for (std::size_t i = 0; i < widgets.size(); ++i) {
        auto* label = Child<QLabel>(f.get(), widgets[i].first);
        auto* edit = Edit(*f, widgets[i].second);
        const bool shown = i < rows.size();
        EXPECT_EQ(label->isVisible(), shown) << i;
        EXPECT_EQ(edit->isVisible(), shown) << i;
        if (shown) {
            EXPECT_EQ(FromQt(label->text()), rows[i].first);
            EXPECT_EQ(FromQt(edit->text()), rows[i].second);
        }
    }
    EXPECT_EQ(Combo(*f, "ComboBox2")->currentIndex(), GetParam().kind < 5 ? GetParam().kind : -1);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, RowsTest,
    ::testing::Values(RowsCase{0, {{"Číslo portu COMx", "3"}}},
                      RowsCase{1, {{"Bázová adresa PCI-318", "1000h"}}}, RowsCase{2, {}}, RowsCase{3, {}},
                      RowsCase{4, {{"IP adresa", "10.1.2.3"}, {"UDP port", "7000"}, {"UDP timeout", "250"}}},
                      RowsCase{6, {}}));

TEST_F(ConnectionTest, ChangingTheKindRefillsFromTheRecord) {
    m_data.Kind = 0;
    m_data.ComPort = 2;
    auto f = Open();
    Edit(*f, "Edit2")->setText("9");
    Choose(*f, 4);
    EXPECT_EQ(Edit(*f, "Edit2")->text(), "192.168.0.99");
    Choose(*f, 0);
    EXPECT_EQ(Edit(*f, "Edit2")->text(), "2");
    EXPECT_EQ(m_data.Kind, 0);
    EXPECT_EQ(m_data.ComPort, 2);
}

TEST_F(ConnectionTest, SuccessfulSetUpOverTheLan) {
    m_data.Kind = 4;
    auto f = Open();
    Edit(*f, "Edit1")->setText("$10");
    Edit(*f, "Edit2")->setText("127.0.0.1");
    Edit(*f, "Edit3")->setText("$1388");
    Edit(*f, "Edit4")->setText("0");
    Combo(*f, "ComboBox1")->setCurrentIndex(0);
    std::vector<std::string> panelDuringSend;
    Rec().duringSend = [&] { panelDuringSend.push_back(f->PanelText()); };
    Click(f.get(), "Button1");

    const auto inits = Rec().CallsOf("Init");
    ASSERT_EQ(inits.size(), 1u);
    EXPECT_EQ(inits[0].library, "TRQ1318");
    EXPECT_EQ(inits[0].ipText, "127.0.0.1");
    EXPECT_EQ(inits[0].args[1], 5000u);
    EXPECT_EQ(inits[0].args[2], 0u);
    const auto config = Rec().CallsOf("SetConfig");
    ASSERT_EQ(config.size(), 1u);
    EXPECT_EQ(config[0].args, (std::vector<uint64_t>{0x51, 600, 100, 2}));
    const auto sent = Rec().SentRequests();
    ASSERT_EQ(sent.size(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(sent[i], (std::array<uint32_t, 8>{16, 200, i, 0, 0, 0, 0, 0}));
    }
    EXPECT_EQ(panelDuringSend, std::vector<std::string>(3, "Probíhá inicializace připojení"));
    EXPECT_EQ(f->PanelText(), "Připojení úspěšně inicializováno. Připojen modul   RQ-905   v.1.02");
    EXPECT_EQ(m_data.ModuleIdent, "RQ-905   v.1.02");
    EXPECT_EQ(m_data.ModuleAddress, 16);
    EXPECT_EQ(m_data.Speed, 600u);
    EXPECT_EQ(m_data.StatusText, "V pořádku");
    EXPECT_EQ(m_data.Handle, 0x51u);
    EXPECT_EQ(m_data.Connected, 1);
    EXPECT_EQ(m_data.UdpPort, 5000u);
    EXPECT_EQ(m_data.UdpTimeout, 0u);
    EXPECT_EQ(Edit(*f, "Edit1")->text(), "16");
}

TEST_F(ConnectionTest, ZeroBytesStillCountAsIdentificationCharacters) {
    m_data.Kind = 2;
    m_module.ident = std::string(
        "AB\0\0CDEF\0"
        "1.0",
        12);
    auto f = Open();
    Click(f.get(), "Button1");
    EXPECT_EQ(m_data.ModuleIdent, std::string("AB\0\0CDEF v.\0"
                                              "1.0",
                                              15));
    EXPECT_EQ(f->PanelText(),
              "Připojení úspěšně inicializováno. Připojen modul   AB\xB7\xB7"
              "CDEF v.\xB7"
              "1.0");
}

// ---- checks and failures ----

struct FailureCase {
    const char* name;
    int kind;  // list index chosen
    const char* ip;
    const char* port;
    const char* timeout;
    std::function<void()> script;
    const char* panel;
    size_t doneCalls;
    uint32_t handleAfter;
    uint8_t kindAfter;
    uint32_t portAfter;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class FailureTest : public ConnectionTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, ShowsTheTextAndLeavesNoConnection) {
    const FailureCase& c = GetParam();
    m_data.ModuleIdent = "OLD";
    m_data.ModuleAddress = 3;
    m_data.Speed = 19200;
    Rec().errorTexts[5] = "časový limit";
    Rec().errorTexts[9] = "špatná rychlost";
    Rec().doneHandleAfter = 0x99;
    if (c.script) c.script();
    auto f = Open();
    Choose(*f, c.kind);
    if (c.kind == 4) {
        Edit(*f, "Edit2")->setText(ToQt(c.ip));
        Edit(*f, "Edit3")->setText(c.port);
        Edit(*f, "Edit4")->setText(c.timeout);
    }
    Edit(*f, "Edit1")->setText("8");
    Click(f.get(), "Button1");
    EXPECT_EQ(f->PanelText(), c.panel);
    EXPECT_EQ(m_data.Connected, 0);
    EXPECT_EQ(Rec().CallsOf("Done").size(), c.doneCalls);
    EXPECT_EQ(m_data.Handle, c.handleAfter);
    EXPECT_EQ(m_data.Kind, c.kindAfter);
    EXPECT_EQ(m_data.UdpPort, c.portAfter);
    // Only a successful set-up changes what the main window shows.
    EXPECT_EQ(m_data.ModuleIdent, "OLD");
    EXPECT_EQ(m_data.ModuleAddress, 3);
    EXPECT_EQ(m_data.Speed, 19200u);
    EXPECT_EQ(m_data.StatusText, "Připojení modulu dosud neinicializováno");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FailureTest,
    ::testing::Values(
        FailureCase{"NoKind", -1, "", "", "", nullptr, "Neznámý typ rozhraní", 0, 0, 255, 5000},
        FailureCase{"EmptyIpWinsOverBadPort", 4, "", "x", "1", nullptr, "Neplatná IP adresa", 0, 0, 4, 5000},
        FailureCase{"PortTooBig", 4, "h", "65536", "1", nullptr, "Neplatný UDP port", 0, 0, 4, 5000},
        FailureCase{"PortNegative", 4, " ", "-1", "1", nullptr, "Neplatný UDP port", 0, 0, 4, 5000},
        FailureCase{"PortTrailingBlank", 4, "h", "80 ", "1", nullptr, "Neplatný UDP port", 0, 0, 4, 5000},
        FailureCase{"TimeoutBad", 4, "h", "65535", "abc", nullptr, "Neplatný UDP timeout", 0, 0, 4, 65535},
        FailureCase{"InitFails", 2, "", "", "", [] { Rec().initResult = 5; },
                    "Chyba inicializace připojení - časový limit", 0, 0, 2, 5000},
        FailureCase{"SetConfigFails", 3, "", "", "", [] { Rec().setConfigResult = 9; },
                    "Chyba inicializace připojení - špatná rychlost", 1, 0x99, 3, 5000},
        FailureCase{"IdentificationFails", 0, "", "", "",
                    [] {
                        Rec().replies.push_back({});
                        Rec().replies.push_back({0, 5, 0, {}});
                    },
                    "časový limit", 1, 0x99, 0, 5000}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ConnectionTest, InitCodeFromHundredUpShowsTheLayerText) {
    m_data.Kind = 4;
    auto f = Open();
    Edit(*f, "Edit3")->setText("1");
    Edit(*f, "Edit4")->setText("1");
    // Codes from 100 up have the layer's texts, whoever returns them.
    Rec().initResult = 110;
    Click(f.get(), "Button1");
    EXPECT_EQ(f->PanelText(), "Chyba inicializace připojení - chybná knihovna TCOM318.DLL");
}

TEST_F(ConnectionTest, SecondPressReleasesTheOldConnectionWithItsOldKindFirst) {
    m_data.Kind = 2;
    auto f = Open();
    Click(f.get(), "Button1");
    ASSERT_EQ(m_data.Connected, 1);
    Rec().calls.clear();
    Rec().doneHandleAfter = 0;
    // Another kind is chosen and its entry is bad: the old link still goes.
    Choose(*f, 4);
    Edit(*f, "Edit3")->setText("99999");
    Click(f.get(), "Button1");
    const auto done = Rec().CallsOf("Done");
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].library, "TPCI1318");
    EXPECT_EQ(done[0].args[0], 0x51u);
    EXPECT_EQ(Rec().calls.front().entry, "Done");
    EXPECT_EQ(m_data.Connected, 0);
    EXPECT_EQ(m_data.Handle, 0u);
    EXPECT_EQ(f->PanelText(), "Neplatný UDP port");
    EXPECT_EQ(m_data.StatusText, "V pořádku");
}

// ---- rewriting of the entries ----

struct EntryCase {
    int kind;
    const char* typed;
    const char* shown;
    uint64_t cell0;
    uint32_t stored;  // ComPort or IsaBase
};
void PrintTo(const EntryCase& c, std::ostream* os) {
    *os << "kind " << c.kind << ' ' << testing::PrintToString(std::string(c.typed));
}

class EntryTest : public ConnectionTest, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(EntryTest, RewritesTheEditAndHandsTheValueToInit) {
    const EntryCase& c = GetParam();
    m_data.Kind = static_cast<uint8_t>(c.kind);
    auto f = Open();
    Edit(*f, "Edit2")->setText(c.typed);
    Click(f.get(), "Button1");
    EXPECT_EQ(FromQt(Edit(*f, "Edit2")->text()), c.shown);
    const auto inits = Rec().CallsOf("Init");
    ASSERT_EQ(inits.size(), 1u);
    EXPECT_EQ(inits[0].args[0], c.cell0);
    EXPECT_EQ(c.kind == 0 ? m_data.ComPort : m_data.IsaBase, c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Isa, EntryTest,
    ::testing::Values(EntryCase{1, "300h", "300h", 0x300, 0x300}, EntryCase{1, "2A0h", "2A0h", 0x2A0, 0x2A0},
                      EntryCase{1, "2a0h", "2A0h", 0x2A0, 0x2A0}, EntryCase{1, "fffh", "FFFh", 0xFFF, 0xFFF},
                      EntryCase{1, "3001", "300h", 0x300, 0x300}, EntryCase{1, "300", "300h", 0x300, 0x300},
                      EntryCase{1, "12345", "300h", 0x300, 0x300}, EntryCase{1, "", "300h", 0x300, 0x300},
                      EntryCase{1, "zzzh", "300h", 0x300, 0x300}, EntryCase{1, "1000h", "300h", 0x300, 0x300},
                      EntryCase{1, "0A0h", "0A0h", 0xA0, 0xA0}));

INSTANTIATE_TEST_SUITE_P(Com, EntryTest,
                         ::testing::Values(EntryCase{0, "abc", "1", 1, 1}, EntryCase{0, "", "1", 1, 1},
                                           EntryCase{0, "0x10", "16", 16, 16},
                                           EntryCase{0, "300", "300", 300, 44},
                                           EntryCase{0, "-1", "65535", 65535, 255},
                                           EntryCase{0, " 4", "4", 4, 4}));

struct AddressCase {
    const char* typed;
    const char* shown;
    uint32_t sent;
};
void PrintTo(const AddressCase& c, std::ostream* os) { *os << testing::PrintToString(std::string(c.typed)); }

class AddressTest : public ConnectionTest, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(AddressTest, IsReadWithDefaultAndCutToAByte) {
    m_data.Kind = 3;
    auto f = Open();
    Edit(*f, "Edit1")->setText(GetParam().typed);
    Click(f.get(), "Button1");
    EXPECT_EQ(FromQt(Edit(*f, "Edit1")->text()), GetParam().shown);
    const auto sent = Rec().SentRequests();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0][0], GetParam().sent);
    EXPECT_EQ(m_data.ModuleAddress, GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(Texts, AddressTest,
                         ::testing::Values(AddressCase{"abc", "0", 0}, AddressCase{"300", "44", 44},
                                           AddressCase{"-1", "255", 255}, AddressCase{"$10", "16", 16},
                                           AddressCase{"", "0", 0}));

TEST_F(ConnectionTest, StoredIsaBaseAboveThreeDigitsFallsBackOnPress) {
    m_data.Kind = 1;
    m_data.IsaBase = 0xABCD;
    auto f = Open();
    EXPECT_EQ(Edit(*f, "Edit2")->text(), "ABCDh");
    Click(f.get(), "Button1");
    EXPECT_EQ(m_data.IsaBase, 0x300);
}

TEST_F(ConnectionTest, KindOutsideTheListShowsNothingAndStores255) {
    m_data.Kind = 5;
    auto f = Open();
    EXPECT_EQ(Combo(*f, "ComboBox2")->currentIndex(), -1);
    Click(f.get(), "Button1");
    EXPECT_EQ(f->PanelText(), "Neznámý typ rozhraní");
    EXPECT_EQ(m_data.Kind, 255);
    f = Open();
    EXPECT_EQ(m_data.Kind, 7);
}

TEST_F(ConnectionTest, EscapeDoesNotCloseAndTabOrderIsAsDesigned) {
    auto f = Open();
    QTest::keyClick(f.get(), Qt::Key_Escape);
    EXPECT_TRUE(f->isVisible());
    std::vector<std::string> order;
    QWidget* w = Edit(*f, "Edit1");
    for (int i = 0; i < 8; ++i) {
        order.push_back(w->objectName().toStdString());
        w = w->nextInFocusChain();
        while (!w->focusPolicy() || w->focusPolicy() == Qt::NoFocus) w = w->nextInFocusChain();
    }
    EXPECT_EQ(order, (std::vector<std::string>{"Edit1", "Edit2", "ComboBox1", "Button1", "Button2",
                                               "ComboBox2", "Edit3", "Edit4"}));
}

}  // namespace
