// A module's configuration to and from a file, from the "Servis" menu, in
// the file format of rq905ctl's config save (core/ConfigFile.h), so that
// files cross between the two. Saving writes every stored register's
// value; loading shows the differences first and writes on confirmation,
// each register read back. Both hold the line from the first read to the
// last write, and neither writes to the module from a file that does not
// parse whole.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "core/Dekl.h"
#include "ui/Pripojeni.h"

class QCheckBox;
class QPushButton;
class QTableWidget;
class TStatusLine;

inline constexpr const char* kLoadCaption = "Nahrát konfiguraci do modulu";
inline constexpr const char* kSaveCaption = "Uložit konfiguraci modulu";

// The menu commands. owner parents the file dialog; texts go to show (the
// main window's status bar).
void SaveModuleConfiguration(QWidget* owner, TData& rec, const TShowText& show);
void LoadModuleConfiguration(QWidget* owner, TData& rec, const TShowText& show);

// The differences between the module and a file, with the write.
class TKonfiguraceModulu : public QDialog {
    Q_OBJECT
  public:
    TKonfiguraceModulu(QWidget* owner, TData& rec, const TModuleConfig& module, const TModuleConfig& file,
                       const std::string& fileName);

    void ZapsatClick();
    std::string StatusText() const;
    // Rows of the differences: register, the module's value, the file's.
    std::vector<std::vector<std::string>> Differences() const;

  private:
    TData& m_rec;
    TModuleConfig m_module;
    TModuleConfig m_file;
    QTableWidget* m_table;
    QCheckBox* m_includeAddress;
    QPushButton* m_write;
    QPushButton* m_cancel;
    TStatusLine* m_status;
};
