// What the tests of the live-value dialogs share: a record connected
// through the recording driver, driver texts, and looks into the dialogs.
#pragma once

#include <QLabel>
#include <QTimer>
#include <array>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "GuiTest.h"

namespace livetest {

using Request = std::array<uint32_t, 8>;

inline constexpr const char* kOkText = "Bez chyby";
inline constexpr const char* kTimeoutText = "Časový limit";
inline constexpr uint32_t kTimeoutCode = 5;

class LiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Rec().Reset();
        Rec().errorTexts[0] = kOkText;
        Rec().errorTexts[kTimeoutCode] = kTimeoutText;
        guitest::Connect(m_rec, 7);
        ASSERT_TRUE(IsConnected(m_rec));
        Rec().calls.clear();
    }
    void TearDown() override {
        if (IsConnected(m_rec)) guitest::Disconnect(m_rec);
    }
    static std::vector<Request> Sent() { return Rec().SentRequests(); }
    static void FailNextSend() { Rec().replies.push_back(TRecReply{0, kTimeoutCode, 0, {}}); }
    static void ReplyWith(uint8_t d1, uint8_t d2 = 0, uint8_t d3 = 0, uint8_t d4 = 0) {
        Rec().replies.push_back(TRecReply{0, 0, 0x3C, {d1, d2, d3, d4}});
    }
    TData m_rec;
};

// Object names of the widgets that Tab visits, starting at the one that
// has the focus.
inline std::vector<std::string> TabOrder(QWidget* dialog) {
    std::vector<std::string> names;
    QWidget* start = dialog->focusWidget();
    if (start == nullptr) return names;
    QWidget* w = start;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) != 0 && w->isEnabled() && w->isVisibleTo(dialog)) {
            names.push_back(w->objectName().toStdString());
        }
        w = w->nextInFocusChain();
    } while (w != start && names.size() < 32);
    return names;
}

// Every child control lies inside the client area.
inline void ExpectAllInside(const QWidget* dialog) {
    for (const QWidget* w : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!w->isVisibleTo(dialog)) continue;
        EXPECT_TRUE(dialog->rect().contains(w->geometry())) << w->objectName().toStdString();
    }
}

inline std::string LabelText(const QWidget* dialog, const std::string& name) {
    const auto* label = guitest::Child<QLabel>(dialog, name.c_str());
    return label != nullptr ? FromQt(label->text()) : "<none:" + name + ">";
}

// The eight value labels prefix0..prefix7 read top down, e.g. "10100000".
inline std::string Bits(const QWidget* dialog, const std::string& prefix) {
    std::string bits;
    for (int r = 0; r < 8; ++r) bits += LabelText(dialog, prefix + std::to_string(r));
    return bits;
}

// How many of the value labels prefix0..prefix7 are greyed.
inline int Greyed(const QWidget* dialog, const std::string& prefix) {
    int greyed = 0;
    for (int r = 0; r < 8; ++r) {
        const auto* label = guitest::Child<QLabel>(dialog, (prefix + std::to_string(r)).c_str());
        if (label != nullptr && !label->isEnabled()) ++greyed;
    }
    return greyed;
}

// Time each Send started, to see how polls are spaced.
struct TSendClock {
    std::vector<std::chrono::steady_clock::time_point> starts;
    std::chrono::steady_clock::time_point slowEnd{};
};

}  // namespace livetest

namespace livetest {

// Lets the dialog's own timer poll while its first transaction blocks for
// `slow`, until `pollsAfter` more polls have started. Returns how many of
// those started within half an interval after the slow one ended: a timer
// that catches up on the ticks it missed starts several there at once, one
// that drops the tick that came due meanwhile starts none.
inline int PollsRightAfterASlowOne(QWidget& form, std::chrono::milliseconds slow,
                                   std::chrono::milliseconds interval, std::size_t pollsAfter) {
    using Clock = std::chrono::steady_clock;
    std::vector<Clock::time_point> starts;
    Clock::time_point slowEnd{};
    Rec().duringSend = [&] {
        starts.push_back(Clock::now());
        if (starts.size() == 1) {
            std::this_thread::sleep_for(slow);
            slowEnd = Clock::now();
        }
    };
    form.show();
    const bool polled = QTest::qWaitFor([&] { return starts.size() >= 1 + pollsAfter; }, 20000);
    Rec().duringSend = nullptr;
    EXPECT_TRUE(polled) << "polling stopped after " << starts.size() << " polls";
    int soon = 0;
    for (std::size_t i = 1; i < starts.size(); ++i) {
        if (starts[i] - slowEnd < interval / 2) ++soon;
    }
    return soon;
}

}  // namespace livetest
