// A monitor closed while a tick's transaction blocks starts no further tick.
#include "LiveTest.h"
#include "ui/OkamDIN.h"
#include "ui/StatReg.h"

namespace {

// The close comes in during the first transaction and falls due after the
// next tick, as input that waits for the blocked loop does.
template <class TForm>
std::size_t SendsWhenClosedDuringATick(TData& rec, const char* button) {
    Rec().calls.clear();
    TForm form;
    form.SetData(&rec);
    Rec().duringSend = [&] {
        if (Rec().SentRequests().size() > 1) return;
        QTimer::singleShot(TForm::kPollInterval * 3 / 2, Qt::PreciseTimer, &form,
                           [&] { button != nullptr ? guitest::Click(&form, button) : void(form.close()); });
        std::this_thread::sleep_for(std::chrono::milliseconds(TForm::kPollInterval * 3));
    };
    form.exec();
    return Rec().SentRequests().size();
}

using MonitorCloseTest = livetest::LiveTest;

TEST_F(MonitorCloseTest, AClosePendingWhenATickEndsComesBeforeTheNextTick) {
    EXPECT_EQ(SendsWhenClosedDuringATick<TForm11>(m_rec, "Button1"), 1u) << "inputs, Cancel";
    EXPECT_EQ(SendsWhenClosedDuringATick<TForm11>(m_rec, nullptr), 1u) << "inputs, window close";
    EXPECT_EQ(SendsWhenClosedDuringATick<TForm15>(m_rec, "Button2"), 1u) << "status register, Cancel";
}

}  // namespace
