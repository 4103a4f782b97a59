// The trend window "Průběh": the inputs, the outputs as last written, the
// PWM value and the status register's named bits over local time, polled
// at a period the technician chooses, with a recording to CSV and exports
// of the visible range. Non-modal, one instance, opened from the main
// window's "Servis" menu.
#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <string>
#include <vector>

#include "ui/StripChart.h"
#include "ui/TrendData.h"

struct TData;
class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;
class TStatusLine;

class TPrubeh : public QWidget, private TStripSource {
    Q_OBJECT
  public:
    static constexpr int kDefaultPeriod = 100;  // ms

    // Opens the one window, or raises it. owner: the main window, whose
    // closing closes this window before the record goes away.
    static TPrubeh* Open(TData* record, QWidget* owner);

    explicit TPrubeh(QWidget* owner = nullptr, std::size_t capacity = TTrendRing::kCapacity);
    void SetData(TData* record) { m_data = record; }

    // One poll: both reads through the line, when it is free.
    void Timer1Timer();
    void PeriodChange(int ms);
    void RecordClick(bool on);
    // Records into the file name from the next reading on; false, with the
    // reason shown, when it cannot be opened for appending.
    bool StartRecording(const QString& name);
    void ExportPngClick();
    void ExportCsvClick();
    // A reading into the ring, the chart and the recording.
    void AddReading(const TTrendReading& reading);

    const TTrendRing& Ring() const { return m_ring; }
    TStripChart* Chart() const { return m_chart; }
    const QString& RecordPath() const { return m_recordPath; }
    // The CSV of the samples in view, header first (UTF-8).
    std::string VisibleCsv() const;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::size_t Count() const override { return m_ring.Size(); }
    int64_t TimeMs(std::size_t i) const override { return m_ring.At(i).UnixMs(); }
    uint32_t Bits(std::size_t i, uint32_t& known) const override;
    bool Value(std::size_t i, int line, double& value) const override;
    void Summarize(std::size_t first, std::size_t last, TStripSummary& summary) const override;
    static uint32_t BitsOf(const TTrendSample& sample, uint32_t& known);
    static void AddSample(const TTrendSample& sample, TStripSummary& summary);

    void ShowConnection();
    void ShowStatus(const std::string& text);
    void ShowReadout();
    bool RecordLine(const TTrendReading& reading);
    void StopRecording(const std::string& why);
    void ShowRecordState(const std::string& text);
    QString ChooseFile(const char* title, const char* filter, const char* suffix, bool confirmOverwrite);

    TData* m_data = nullptr;
    TTrendRing m_ring;
    // Summaries of blocks of readings, counted from the first reading ever
    // added, so that a view of many readings draws from them; enough slots
    // that no block in the ring shares its slot.
    static constexpr std::size_t kBlock = 256;
    std::vector<TStripSummary> m_blocks;
    uint64_t m_added = 0;
    bool m_polling = false;
    QString m_recordPath;
    QString m_lastDir;
    std::string m_connection;
    std::string m_status;
    // The texts of the result codes seen, for exports of older samples.
    std::array<std::string, 256> m_errorTexts;

    QLabel* m_connectionLabel;
    QSpinBox* m_period;
    QPushButton* m_pause;
    QPushButton* m_zoomIn;
    QPushButton* m_zoomOut;
    QPushButton* m_live;
    QPushButton* m_record;
    QPushButton* m_exportPng;
    QPushButton* m_exportCsv;
    TStripChart* m_chart;
    QLabel* m_readout;
    QLabel* m_recordState;
    TStatusLine* m_statusBar1;
    QTimer* m_timer1;
};
