// The main window: owns the program data record, opens every dialog from
// its menu and shows the last connection in its status bar.
#pragma once

#include <QDialog>
#include <QMainWindow>
#include <QPointer>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "core/Dekl.h"

class QAction;
class QLabel;
class TModulyNaSbernici;

class TForm1 : public QMainWindow {
    Q_OBJECT
  public:
    using TCreateData = std::function<std::unique_ptr<TData>(const std::string& settingsPath)>;

    // Tests hand their own settings path and, to provoke a failed
    // allocation, their own creation function.
    explicit TForm1(std::string settingsPath = SettingsFilePath(), TCreateData create = CreateProgramData);
    ~TForm1() override;

    TData* Data() const { return m_data.get(); }
    std::string PanelText(int panel) const;
    // Error of the last save, empty when it succeeded.
    const std::string& SaveError() const { return m_saveError; }

    void Pipojen1Click();
    void AdresaRychlost1Click();
    void NastavDIO1Click();
    void Kalibracevstup1Click();
    void OkamAIN2Click();
    void OkamDIN2Click();
    void OkamDOUT1Click();
    void Statusregistr1Click();
    void Konec2Click();
    // "Servis"
    void ModulyNaSbernici1Click();
    void UlozitKonfiguraci1Click();
    void NahratKonfiguraci1Click();

    // Enter or a double-click in the bus table: as the connection dialog
    // would connect, with the row's address and speed.
    void ConnectToBusModule(uint8_t address, uint8_t speedIndex);

    TModulyNaSbernici* Bus() const { return m_bus; }

    // Closes the window as the operator would, also while a dialog is open:
    // the dialog closes first and the window follows once its command has
    // returned, so the close step runs once and after every dialog.
    void CloseProgram();
    // The close step: saves the settings and ends an open connection; runs
    // once, whichever of the window's close or the program's end calls it.
    void FormClose();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    template <class TForm>
    void OpenDialog();
    void RefreshStatusBar();
    // A text of the "Servis" commands in the status bar's last panel.
    void ShowNotice(const std::string& text);
    void SetPanel(int panel, const std::string& text);

    std::string m_settingsPath;
    std::unique_ptr<TData> m_data;
    std::array<QLabel*, 4> m_panels{};
    std::string m_saveError;
    bool m_centred = false;
    QPointer<QDialog> m_dialog;  // the open modal dialog
    TModulyNaSbernici* m_bus = nullptr;
    bool m_closeRequested = false;
};
