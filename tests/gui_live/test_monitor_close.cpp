// A monitor closed while a tick's transaction blocks starts no further tick.
#include "LiveTest.h"
#include "ui/OkamDIN.h"
#include "ui/StatReg.h"

using namespace guitest;
using namespace livetest;

namespace {

class MonitorCloseTest : public LiveTest {
  protected:
    // The close comes in during the first transaction and falls due after
    // the next tick, as input that waits for the blocked loop does.
    template <class TForm>
    std::size_t SendsWhenClosedDuringATick(const char* button) {
        Rec().calls.clear();
        TForm form;
        form.SetData(&m_rec);
        Rec().duringSend = [&] {
            if (Sent().size() > 1) return;
            QTimer::singleShot(TForm::kPollInterval * 3 / 2, Qt::PreciseTimer, &form,
                               [&] { button != nullptr ? Click(&form, button) : (void)form.close(); });
            std::this_thread::sleep_for(std::chrono::milliseconds(TForm::kPollInterval * 3));
        };
        form.exec();
        return Sent().size();
    }
};

TEST_F(MonitorCloseTest, AClosePendingWhenATickEndsComesBeforeTheNextTick) {
    EXPECT_EQ(SendsWhenClosedDuringATick<TForm11>("Button1"), 1u) << "inputs, Cancel";
    EXPECT_EQ(SendsWhenClosedDuringATick<TForm11>(nullptr), 1u) << "inputs, window close";
    EXPECT_EQ(SendsWhenClosedDuringATick<TForm15>("Button2"), 1u) << "status register, Cancel";
}

}  // namespace
