// The modules on the bus: the main window's client area. A table of the
// modules on the line of the current connection settings, filled by a scan
// that runs on a worker thread, so the window stays responsive: every link
// call of a scan is made there, and what it finds is posted to the window.
//
// The scan holds the program's line (ui/LineLock.h) from start to end; a
// command that needs the line meanwhile asks it to stop, and it ends within
// one transaction. The scan uses a link of its own, as rq905ctl's scan does:
// an open connection is closed for it and opened again afterwards.
//
// The last scan's table is kept in a file of its own beside the settings
// file, kBusFileName.
#pragma once

#include <QWidget>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "busscan/BusScan.h"
#include "ui/LineLock.h"

struct TData;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

inline constexpr const char* kBusFileName = "W_rq905_moduly.txt";
inline constexpr const char* kAnswersText = "odpovídá";
inline constexpr const char* kSilentText = "neodpovídá";
inline constexpr const char* kCollisionText = "kolize adres";

// One row of the table; texts are Windows-1250.
struct TBusRow {
    uint8_t address = 0;
    uint32_t speed = 0;  // Bd
    std::string name;
    std::string version;
    std::string state;       // kAnswersText, kSilentText or kCollisionText
    std::string lastAnswer;  // local time, "2026-12-08 09:41:07"; empty: never
    bool operator==(const TBusRow&) const = default;
};

// The table file: one row per line, tab-separated, Windows-1250. A line
// that does not parse is left out.
std::string BusFileText(const std::vector<TBusRow>& rows);
std::vector<TBusRow> ParseBusFile(const std::string& text);

class TModulyNaSbernici : public QWidget {
    Q_OBJECT
  public:
    // busFile: where the table is kept; empty keeps it nowhere.
    explicit TModulyNaSbernici(QWidget* parent = nullptr, std::string busFile = {});
    ~TModulyNaSbernici() override;

    void SetData(TData* record);
    // Made after the window's first frame, or here when asked for sooner.
    QTableWidget* Table();
    const std::vector<TBusRow>& Rows() const { return m_rows; }
    bool Scanning() const { return m_worker.joinable(); }

    void HledatClick();
    void ZastavitClick();
    // Stops a running scan and waits for its end (the program's close).
    void StopScan();
    // Marks the row of the record's connected module.
    void MarkConnected();
    std::string StatusText() const;

  signals:
    // Enter or a double-click on a row: connect to that module.
    void ConnectRequested(uint8_t address, uint8_t speedIndex);
    // A scan ended; the connection may have been opened again.
    void ScanEnded();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    struct TJob;
    void Found(const busscan::TScanAddress& found, const busscan::TScanProgress& progress);
    void FinishScan();
    void BuildTable();
    void ShowRows();
    void ShowStatus(const std::string& text);
    void RequestConnect(int row);
    void SaveRows();

    TData* m_data = nullptr;
    std::string m_busFile;
    std::vector<TBusRow> m_rows;
    int64_t m_foundModules = 0;  // by the running or last scan
    int64_t m_foundCollisions = 0;
    QSpinBox* m_from;
    QSpinBox* m_to;
    QLineEdit* m_speeds;
    QPushButton* m_search;
    QPushButton* m_stop;
    QProgressBar* m_progress;
    QTableWidget* m_table = nullptr;
    int m_tableSlot = 0;  // its place in the layout
    bool m_tableDue = false;
    QLabel* m_status;

    TLineHold m_line;
    std::unique_ptr<TJob> m_job;
    std::thread m_worker;
};
