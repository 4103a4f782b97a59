// A strip chart on QPainter: lanes of bits and lanes of values over local
// time, with a time axis, a cursor that reads the lanes out, zoom, pan and
// a pause of the view. It draws what a source holds and keeps no samples
// of its own, so the source alone bounds the memory.
#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// What a run of samples says of the lanes: for the bit lanes, which bits
// some sample knows and has at 1 or at 0; for each value line its first,
// last, least and greatest value.
struct TStripSummary {
    static constexpr int kLines = 4;
    struct TRange {
        bool known = false;
        double first = 0, last = 0, min = 0, max = 0;
        void Add(double value);
        // later: the range of samples after these.
        void Add(const TRange& later);
    };
    uint32_t any = 0;
    uint32_t high = 0;
    uint32_t low = 0;
    std::array<TRange, kLines> lines{};

    void AddBits(uint32_t bits, uint32_t known) {
        any |= known;
        high |= bits & known;
        low |= ~bits & known;
    }
    void Add(const TStripSummary& later);
};

// Samples in time order (non-decreasing times).
class TStripSource {
  public:
    virtual ~TStripSource() = default;
    virtual std::size_t Count() const = 0;
    // Milliseconds since 1970-01-01 UTC.
    virtual int64_t TimeMs(std::size_t i) const = 0;
    // Bit n is the level of the bit lanes of bit n; known says which of
    // them sample i has a level for.
    virtual uint32_t Bits(std::size_t i, uint32_t& known) const = 0;
    // A value lane's value; false when sample i has none.
    virtual bool Value(std::size_t i, int line, double& value) const = 0;
    // Adds samples first..last-1 to summary, in time order. A source with
    // many samples answers from summaries of its own, so that a view of a
    // whole day draws without reading every sample.
    virtual void Summarize(std::size_t first, std::size_t last, TStripSummary& summary) const;
};

class TStripChart : public QWidget {
    Q_OBJECT
  public:
    struct TLaneReading {
        QString name;
        bool known = false;
        double value = 0;  // a bit lane: 0 or 1
    };

    explicit TStripChart(QWidget* parent = nullptr);

    void SetSource(const TStripSource* source);
    void AddBitLane(const QString& name, int bit);
    // A lane of height rows (a bit lane is one row), scaled min..max; line
    // below TStripSummary::kLines.
    void AddValueLane(const QString& name, int line, double min, double max, int rows = 4);
    // A sample is drawn until the next one, but no longer than this: a
    // pause in the readings shows as a gap, not as a level held.
    void SetHoldMs(int64_t ms);

    // The view: the span of time shown and the time at its right edge.
    int64_t SpanMs() const { return m_spanMs; }
    int64_t ViewEndMs() const { return m_viewEndMs; }
    void SetSpanMs(int64_t ms);
    void SetViewEndMs(int64_t unixMs);
    // Shows span / factor around the cursor (the centre without one).
    void Zoom(double factor);
    // Moves the view by a fraction of its span (negative: back in time);
    // stops following.
    void Pan(double fraction);
    // Following: the view's right edge stays at the newest sample. Off,
    // the view is paused where it is while the samples go on arriving.
    bool Following() const { return m_following; }
    void SetFollowing(bool follow);
    // The source has new samples.
    void SamplesAdded();
    // The samples in view, first and one past the last.
    std::pair<std::size_t, std::size_t> VisibleSamples() const;

    std::optional<int64_t> CursorMs() const { return m_cursorMs; }
    void SetCursorMs(std::optional<int64_t> unixMs);
    // The last sample at or before the cursor, none when the cursor is not
    // set or the sample is older than the hold.
    std::optional<std::size_t> CursorSample() const;
    // Every lane at the cursor, in lane order.
    std::vector<TLaneReading> Readout() const;

    QSize sizeHint() const override;

  signals:
    void CursorMoved();
    void FollowingChanged(bool following);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    struct TLane {
        QString name;
        bool bit = true;
        int index = 0;  // bit number or value line
        double min = 0, max = 1;
        int rows = 1;
    };

    QRect PlotRect() const;
    int64_t TimeAtX(int x) const;
    double XOfTime(int64_t unixMs) const;
    std::size_t LowerBound(int64_t unixMs) const;
    void DrawAxis(QPainter& painter, const QRect& plot) const;
    void DrawLanes(QPainter& painter, const QRect& plot) const;
    void ViewChanged();

    const TStripSource* m_source = nullptr;
    std::vector<TLane> m_lanes;
    int m_rows = 0;
    int64_t m_holdMs = 1000;
    int64_t m_spanMs = 60'000;
    int64_t m_viewEndMs = 0;
    bool m_following = true;
    std::optional<int64_t> m_cursorMs;
    // A press becomes a pan once it moves; a click places the cursor.
    std::optional<QPoint> m_pressAt;
    int64_t m_pressViewEnd = 0;
    bool m_panning = false;
};
