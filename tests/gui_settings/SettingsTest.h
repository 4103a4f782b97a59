// Fixture of the settings dialog tests: a record connected through the
// recording driver to a scripted module, and the status texts seen while
// each transaction runs.
#pragma once

#include <QDialog>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "GuiTest.h"
#include "ScriptedModule.h"

namespace settingstest {

class SettingsDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Rec().Reset();
        guitest::Connect(m_data, 7);
        ASSERT_TRUE(IsConnected(m_data));
        m_handle = m_data.Handle;
        Rec().calls.clear();
        m_module.log = &m_sent;
        m_module.Install();
        Rec().duringSend = [this] {
            if (m_watched != nullptr) m_during.push_back(guitest::StatusOf(m_watched));
        };
    }
    void TearDown() override {
        m_watched = nullptr;
        uint32_t handle = m_handle;
        CloseInterface(kKindLan, handle);
        Rec().Reset();
    }

    // A dialog as the main window makes it, shown (not modally), so its
    // FormShow has run.
    template <class TForm>
    std::unique_ptr<TForm> Open(TData* record) {
        auto dialog = std::make_unique<TForm>();
        dialog->SetData(record);
        dialog->show();
        m_watched = dialog.get();
        return dialog;
    }
    template <class TForm>
    std::unique_ptr<TForm> Open() {
        return Open<TForm>(&m_data);
    }

    void ClearLogs() {
        m_sent.clear();
        m_during.clear();
        Rec().calls.clear();
    }
    void Disconnected() { m_data.Connected = 0; }

    TData m_data;
    uint32_t m_handle = 0;
    TScriptedModule m_module;
    std::vector<std::string> m_sent;    // each request as Read()/Write() spell it
    std::vector<std::string> m_during;  // status text while each one ran
    QWidget* m_watched = nullptr;
};

inline std::string ReadAt(unsigned percent) {
    return " Probíhá čtení konfigurace z modulu (" + std::to_string(percent) + " %)";
}
inline std::string WriteAt(unsigned percent) {
    return " Probíhá zápis konfigurace do modulu (" + std::to_string(percent) + " %)";
}
inline const std::string kNotConnected = " Připojení k modulu není inicializováno.";
inline const std::string kMismatch = " Chyba zápisu dat.";
inline const std::string kRead = " Konfigurace přečtena.";
inline const std::string kWritten = " Konfigurace zapsána.";

}  // namespace settingstest
