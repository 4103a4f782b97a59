// "Provoz linky": every frame of the connection as the drivers' trace shows
// it, filtered by address and command, with the link statistics of the
// program's transactions. A non-modal window, one at a time; it only reads
// what the program's traffic log recorded and never talks to the module.
#pragma once

#include <QAbstractTableModel>
#include <QWidget>
#include <array>
#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;
class TStatusLine;
class TTrafficLog;
struct TFrame;

// The frames of a traffic log that pass the filter, as table rows. Rows
// refer to the log's frames by number; a frame the ring has dropped since
// reads as empty until the next Refresh removes its row.
class TFrameModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    static constexpr int kColumnCount = 8;

    explicit TFrameModel(TTrafficLog& log, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Takes the frames that came since the last call and drops rows whose
    // frames left the ring.
    void Refresh();
    void SetFilter(std::optional<uint8_t> address, std::optional<uint8_t> command);
    // A row's cells as Windows-1250 text; empty for a frame gone. The
    // table shows the time of day, a saved list the date as well.
    std::array<std::string, kColumnCount> RowText(int row, bool withDate = false) const;

  private:
    bool Passes(const TFrame& frame) const;
    std::array<std::string, kColumnCount> Cells(const TFrame& frame, bool withDate = false) const;
    std::string ResultOf(const TFrame& frame) const;

    TTrafficLog& m_log;
    std::deque<uint64_t> m_rows;  // frame numbers
    uint64_t m_taken = 0;         // frames up to here have been looked at
    std::optional<uint8_t> m_address;
    std::optional<uint8_t> m_command;
    // The libraries' texts of result codes, asked once per kind and code.
    mutable std::map<std::pair<uint8_t, uint32_t>, std::string> m_resultTexts;
};

class TProvozLinky : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRefreshInterval = 100;  // ms: at most ten redraws a second
    // The statistics sort every round trip: every fifth refresh is live enough.
    static constexpr int kStatsEvery = 5;

    // Opens the window over owner, or raises the one already open; null
    // when the program keeps no traffic log.
    static TProvozLinky* Open(QWidget* owner);

    TProvozLinky(TTrafficLog& log, QWidget* owner);
    TFrameModel& Model() { return *m_model; }
    // One refresh, as the timer does it.
    void Timer1Timer();
    void SaveTo(const QString& path);

  private:
    void FilterChange();
    void CopyClick();
    void SaveClick();
    void ResetClick();
    void ShowStats();

    TTrafficLog& m_log;
    TFrameModel* m_model;
    QLineEdit* m_address;
    QComboBox* m_command;
    QPushButton* m_pause;
    QLabel* m_note;
    QTableView* m_table;
    std::array<QLabel*, 11> m_stats{};
    TStatusLine* m_statusLine;
    QTimer* m_timer1;
    int m_ticks = 0;
    // A long session's statistics take long to sort: the next refresh of
    // them waits so that they cost at most a twentieth of the time.
    std::chrono::steady_clock::time_point m_statsDue{};
};
