#include "ui/StripChart.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr int64_t kMinSpanMs = 1'000;
constexpr int64_t kMaxSpanMs = 7 * 24 * 3'600'000LL;
constexpr int kTickMinPixels = 90;
// Steps of the time axis, so that its marks fall on round local times.
constexpr std::array<int64_t, 22> kTickSteps = {
    100,       200,        500,        1'000,      2'000,      5'000,      10'000,    15'000,
    30'000,    60'000,     120'000,    300'000,    600'000,    900'000,    1'800'000, 3'600'000,
    7'200'000, 10'800'000, 21'600'000, 43'200'000, 86'400'000, 172'800'000};

int RowHeight(const QFontMetrics& metrics) { return metrics.height() + 4; }

}  // namespace

void TStripSummary::TRange::Add(double value) {
    if (!known) {
        known = true;
        first = min = max = value;
    }
    last = value;
    min = std::min(min, value);
    max = std::max(max, value);
}

void TStripSummary::TRange::Add(const TRange& later) {
    if (!later.known) return;
    if (!known) {
        *this = later;
        return;
    }
    last = later.last;
    min = std::min(min, later.min);
    max = std::max(max, later.max);
}

void TStripSummary::Add(const TStripSummary& later) {
    any |= later.any;
    high |= later.high;
    low |= later.low;
    for (std::size_t n = 0; n < lines.size(); ++n) lines[n].Add(later.lines[n]);
}

void TStripSource::Summarize(std::size_t first, std::size_t last, TStripSummary& summary) const {
    for (std::size_t i = first; i < last; ++i) {
        uint32_t known = 0;
        const uint32_t bits = Bits(i, known);
        summary.AddBits(bits, known);
        for (int n = 0; n < TStripSummary::kLines; ++n) {
            double value = 0;
            if (Value(i, n, value)) summary.lines[static_cast<std::size_t>(n)].Add(value);
        }
    }
}

TStripChart::TStripChart(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(false);
}

void TStripChart::SetSource(const TStripSource* source) {
    m_source = source;
    SamplesAdded();
}

void TStripChart::AddBitLane(const QString& name, int bit) {
    m_lanes.push_back({name, true, bit, 0, 1, 1});
    m_rows += 1;
    updateGeometry();
}

void TStripChart::AddValueLane(const QString& name, int line, double min, double max, int rows) {
    line = std::clamp(line, 0, TStripSummary::kLines - 1);
    m_lanes.push_back({name, false, line, min, max, rows});
    m_rows += rows;
    updateGeometry();
}

void TStripChart::SetHoldMs(int64_t ms) {
    m_holdMs = std::max<int64_t>(ms, 1);
    update();
}

QSize TStripChart::sizeHint() const {
    return {640, m_rows * RowHeight(fontMetrics()) + fontMetrics().height() + 12};
}

QRect TStripChart::PlotRect() const {
    const QFontMetrics metrics = fontMetrics();
    const int left = metrics.horizontalAdvance(QStringLiteral("ERR24 ")) +
                     metrics.horizontalAdvance(QStringLiteral("65535")) + 12;
    const int axis = metrics.height() + 8;
    return QRect(left, 2, std::max(1, width() - left - 8), std::max(1, height() - axis - 4));
}

int64_t TStripChart::TimeAtX(int x) const {
    const QRect plot = PlotRect();
    const double fraction = static_cast<double>(x - plot.left()) / plot.width();
    return m_viewEndMs - m_spanMs +
           static_cast<int64_t>(std::llround(fraction * static_cast<double>(m_spanMs)));
}

double TStripChart::XOfTime(int64_t unixMs) const {
    const QRect plot = PlotRect();
    return plot.left() + static_cast<double>(unixMs - (m_viewEndMs - m_spanMs)) * plot.width() /
                             static_cast<double>(m_spanMs);
}

std::size_t TStripChart::LowerBound(int64_t unixMs) const {
    std::size_t lo = 0, hi = m_source != nullptr ? m_source->Count() : 0;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (m_source->TimeMs(mid) < unixMs) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

void TStripChart::SetSpanMs(int64_t ms) {
    m_spanMs = std::clamp(ms, kMinSpanMs, kMaxSpanMs);
    ViewChanged();
}

void TStripChart::SetViewEndMs(int64_t unixMs) {
    m_viewEndMs = unixMs;
    ViewChanged();
}

void TStripChart::Zoom(double factor) {
    if (factor <= 0) return;
    const int64_t oldSpan = m_spanMs;
    m_spanMs =
        std::clamp(static_cast<int64_t>(static_cast<double>(m_spanMs) / factor), kMinSpanMs, kMaxSpanMs);
    // A paused view keeps the cursor's time where it was on the screen;
    // a following one keeps its right edge at the newest sample.
    if (!m_following) {
        const int64_t anchor = m_cursorMs.value_or(m_viewEndMs - oldSpan / 2);
        const double right = static_cast<double>(m_viewEndMs - anchor) / static_cast<double>(oldSpan);
        m_viewEndMs = anchor + static_cast<int64_t>(right * static_cast<double>(m_spanMs));
    }
    ViewChanged();
}

void TStripChart::Pan(double fraction) {
    SetFollowing(false);
    m_viewEndMs += static_cast<int64_t>(fraction * static_cast<double>(m_spanMs));
    ViewChanged();
}

void TStripChart::SetFollowing(bool follow) {
    if (follow == m_following) return;
    m_following = follow;
    if (m_following) SamplesAdded();
    emit FollowingChanged(m_following);
}

void TStripChart::SamplesAdded() {
    if (m_following && m_source != nullptr && m_source->Count() > 0) {
        m_viewEndMs = m_source->TimeMs(m_source->Count() - 1);
    }
    ViewChanged();
}

void TStripChart::ViewChanged() {
    update();
    // A new sample may be the one at the cursor.
    if (m_cursorMs) emit CursorMoved();
}

std::pair<std::size_t, std::size_t> TStripChart::VisibleSamples() const {
    return {LowerBound(m_viewEndMs - m_spanMs), LowerBound(m_viewEndMs + 1)};
}

void TStripChart::SetCursorMs(std::optional<int64_t> unixMs) {
    m_cursorMs = unixMs;
    update();
    emit CursorMoved();
}

std::optional<std::size_t> TStripChart::CursorSample() const {
    if (!m_cursorMs || m_source == nullptr) return std::nullopt;
    const std::size_t after = LowerBound(*m_cursorMs + 1);
    if (after == 0) return std::nullopt;
    const std::size_t i = after - 1;
    if (*m_cursorMs - m_source->TimeMs(i) >= m_holdMs) return std::nullopt;
    return i;
}

std::vector<TStripChart::TLaneReading> TStripChart::Readout() const {
    std::vector<TLaneReading> lanes;
    const std::optional<std::size_t> at = CursorSample();
    uint32_t known = 0, bits = 0;
    if (at) bits = m_source->Bits(*at, known);
    for (const TLane& lane : m_lanes) {
        TLaneReading r{lane.name, false, 0};
        if (at && lane.bit) {
            r.known = ((known >> lane.index) & 1u) != 0;
            r.value = (bits >> lane.index) & 1u;
        } else if (at) {
            r.known = m_source->Value(*at, lane.index, r.value);
        }
        lanes.push_back(r);
    }
    return lanes;
}

void TStripChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const QRect plot = PlotRect();
    painter.fillRect(plot, palette().base());
    DrawAxis(painter, plot);
    DrawLanes(painter, plot);
    if (m_cursorMs) {
        const double x = XOfTime(*m_cursorMs);
        if (x >= plot.left() && x <= plot.right()) {
            painter.setPen(QPen(QColor(200, 0, 0), 1));
            painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        }
    }
    if (hasFocus()) {
        painter.setPen(QPen(palette().highlight().color(), 1, Qt::DotLine));
        painter.drawRect(plot.adjusted(0, 0, -1, -1));
    }
}

void TStripChart::DrawAxis(QPainter& painter, const QRect& plot) const {
    const int64_t start = m_viewEndMs - m_spanMs;
    const double pxPerMs = static_cast<double>(plot.width()) / static_cast<double>(m_spanMs);
    // Marks far enough apart for their labels in the font in use.
    const QFontMetrics metrics = fontMetrics();
    const int apart =
        std::max(kTickMinPixels, metrics.horizontalAdvance(QStringLiteral("00:00:00.000")) + 16);
    int64_t step = kTickSteps.back();
    for (const int64_t s : kTickSteps) {
        if (static_cast<double>(s) * pxPerMs >= apart) {
            step = s;
            break;
        }
    }
    // Marks on round local times: the zone's offset is added before
    // rounding, so that an hour mark falls on the hour of the wall clock.
    const int64_t offset = int64_t{QDateTime::fromMSecsSinceEpoch(start).offsetFromUtc()} * 1000;
    int64_t t = ((start + offset) / step) * step - offset;
    if (t < start) t += step;
    const QString form = step < 1000 ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss");
    for (; t <= m_viewEndMs; t += step) {
        const int x = static_cast<int>(std::lround(XOfTime(t)));
        painter.setPen(QColor(225, 225, 225));
        painter.drawLine(x, plot.top(), x, plot.bottom());
        painter.setPen(palette().text().color());
        painter.drawLine(x, plot.bottom(), x, plot.bottom() + 4);
        const QString label = QDateTime::fromMSecsSinceEpoch(t).toString(form);
        const int w = metrics.horizontalAdvance(label);
        // A label that would not fit under its mark is left out rather
        // than moved beside its neighbour's.
        if (x - w / 2 < 0 || x + w / 2 > width()) continue;
        painter.drawText(x - w / 2, plot.bottom() + 6 + metrics.ascent(), label);
    }
}

void TStripChart::DrawLanes(QPainter& painter, const QRect& plot) const {
    // The lanes share the height they are given, a text line each at least.
    const int rowHeight = std::max(RowHeight(fontMetrics()), m_rows > 0 ? plot.height() / m_rows : 0);
    const int columns = plot.width();
    std::vector<TStripSummary> cols(static_cast<std::size_t>(columns));
    if (m_source != nullptr && m_source->Count() > 0) {
        const int64_t start = m_viewEndMs - m_spanMs;
        const double msPerPx = static_cast<double>(m_spanMs) / columns;
        std::size_t j = LowerBound(start);
        for (int c = 0; c < columns; ++c) {
            const double cs = static_cast<double>(start) + c * msPerPx;
            const auto ce = static_cast<int64_t>(std::ceil(cs + msPerPx));
            TStripSummary& col = cols[static_cast<std::size_t>(c)];
            // The sample before the column holds into it.
            if (j > 0 && static_cast<double>(m_source->TimeMs(j - 1) + m_holdMs) > cs) {
                m_source->Summarize(j - 1, j, col);
            }
            // The column's samples end where the next column's begin.
            std::size_t end = j;
            if (end < m_source->Count() && m_source->TimeMs(end) < ce) {
                std::size_t lo = end, hi = m_source->Count();
                while (lo < hi) {
                    const std::size_t mid = lo + (hi - lo) / 2;
                    if (m_source->TimeMs(mid) < ce) {
                        lo = mid + 1;
                    } else {
                        hi = mid;
                    }
                }
                end = lo;
            }
            m_source->Summarize(j, end, col);
            j = end;
        }
    }

    const QFontMetrics metrics = fontMetrics();
    const std::vector<TLaneReading> readout = Readout();
    const QColor trace(0, 90, 170);
    const QColor fill(0, 90, 170, 40);
    int y = plot.top();
    for (std::size_t n = 0; n < m_lanes.size(); ++n) {
        const TLane& lane = m_lanes[n];
        const int h = lane.rows * rowHeight;
        const int top = y + 3, bottom = y + h - 3;
        painter.setPen(QColor(235, 235, 235));
        painter.drawLine(plot.left(), y + h - 1, plot.right(), y + h - 1);
        painter.setPen(palette().text().color());
        painter.drawText(QRect(4, y, plot.left() - 8, h), Qt::AlignLeft | Qt::AlignVCenter, lane.name);
        const TLaneReading& r = readout[n];
        if (r.known) {
            painter.setPen(QColor(200, 0, 0));
            painter.drawText(QRect(4, y, plot.left() - 8, h), Qt::AlignRight | Qt::AlignVCenter,
                             QString::number(r.value, 'f', 0));
        }
        painter.setPen(QPen(trace, 1));
        if (lane.bit) {
            const uint32_t mask = 1u << lane.index;
            // Runs of columns in one state make one piece each.
            QPainterPath path;
            bool open = false;
            double lastY = 0;
            for (int c = 0; c < columns;) {
                const TStripSummary& col = cols[static_cast<std::size_t>(c)];
                const int state =
                    (col.any & mask) == 0 ? 0 : ((col.high & mask) ? 1 : 0) | ((col.low & mask) ? 2 : 0);
                int e = c + 1;
                while (e < columns) {
                    const TStripSummary& next = cols[static_cast<std::size_t>(e)];
                    const int s = (next.any & mask) == 0
                                      ? 0
                                      : ((next.high & mask) ? 1 : 0) | ((next.low & mask) ? 2 : 0);
                    if (s != state) break;
                    ++e;
                }
                const double x0 = plot.left() + c, x1 = plot.left() + e;
                if (state == 0) {
                    open = false;
                } else if (state == 3) {
                    // Both levels in a column: the edge of a change, and
                    // where changes come faster than a pixel, the band
                    // between the levels.
                    painter.fillRect(QRectF(x0, top, x1 - x0, bottom - top), fill);
                    path.moveTo(x0, top);
                    path.lineTo(x0, bottom);
                    open = false;
                } else {
                    const double level = state == 1 ? top : bottom;
                    if (state == 1) painter.fillRect(QRectF(x0, top, x1 - x0, bottom - top), fill);
                    if (!open) {
                        path.moveTo(x0, level);
                    } else if (lastY != level) {
                        path.lineTo(x0, level);
                    }
                    path.lineTo(x1, level);
                    open = true;
                    lastY = level;
                }
                c = e;
            }
            painter.drawPath(path);
        } else {
            const auto line = static_cast<std::size_t>(lane.index);
            const double scale = (bottom - top) / std::max(lane.max - lane.min, 1e-9);
            auto yOf = [&](double v) {
                return bottom - (std::clamp(v, lane.min, lane.max) - lane.min) * scale;
            };
            QPainterPath path;
            bool open = false;
            for (int c = 0; c < columns; ++c) {
                const TStripSummary::TRange& vc = cols[static_cast<std::size_t>(c)].lines[line];
                const double x = plot.left() + c;
                if (!vc.known) {
                    open = false;
                    continue;
                }
                if (open) {
                    path.lineTo(x, yOf(vc.first));
                } else {
                    path.moveTo(x, yOf(vc.first));
                }
                if (vc.min != vc.max) {
                    path.lineTo(x, yOf(vc.min));
                    path.lineTo(x, yOf(vc.max));
                }
                path.lineTo(x, yOf(vc.last));
                path.lineTo(x + 1, yOf(vc.last));
                open = true;
            }
            painter.drawPath(path);
            painter.setPen(palette().placeholderText().color());
            painter.drawText(plot.left() + 4, top + metrics.ascent(), QString::number(lane.max, 'f', 0));
            painter.drawText(plot.left() + 4, bottom, QString::number(lane.min, 'f', 0));
        }
        y += h;
    }
}

void TStripChart::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    m_pressAt = event->position().toPoint();
    m_pressViewEnd = m_viewEndMs;
    m_panning = false;
}

void TStripChart::mouseMoveEvent(QMouseEvent* event) {
    if (!m_pressAt) return;
    const int dx = event->position().toPoint().x() - m_pressAt->x();
    if (!m_panning && std::abs(dx) < 4) return;
    if (!m_panning) SetFollowing(false);
    m_panning = true;
    m_viewEndMs = m_pressViewEnd - static_cast<int64_t>(static_cast<double>(dx) *
                                                        static_cast<double>(m_spanMs) / PlotRect().width());
    ViewChanged();
}

void TStripChart::mouseReleaseEvent(QMouseEvent* event) {
    if (m_pressAt && !m_panning && PlotRect().contains(event->position().toPoint())) {
        SetCursorMs(TimeAtX(event->position().toPoint().x()));
    }
    m_pressAt.reset();
    m_panning = false;
}

void TStripChart::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y() / 120;
    if (steps != 0) Zoom(std::pow(1.25, steps));
    event->accept();
}

void TStripChart::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Plus:
            Zoom(2);
            break;
        case Qt::Key_Minus:
            Zoom(0.5);
            break;
        case Qt::Key_PageUp:
            Pan(-0.5);
            break;
        case Qt::Key_PageDown:
            Pan(0.5);
            break;
        case Qt::Key_End:
            SetFollowing(true);
            break;
        case Qt::Key_Left:
        case Qt::Key_Right: {
            // The cursor steps from sample to sample; it starts at the view's
            // right edge.
            if (m_source == nullptr || m_source->Count() == 0) break;
            const bool back = event->key() == Qt::Key_Left;
            if (!m_cursorMs) {
                SetCursorMs(m_viewEndMs);
                break;
            }
            const std::size_t after = LowerBound(*m_cursorMs + 1);
            if (back && after >= 2) SetCursorMs(m_source->TimeMs(after - 2));
            if (!back && after < m_source->Count()) SetCursorMs(m_source->TimeMs(after));
            break;
        }
        default:
            QWidget::keyPressEvent(event);
    }
}
