// A monitor closed while a tick's transaction blocks starts no further tick.
#include "LiveTest.h"
#include "ui/OkamDIN.h"
#include "ui/StatReg.h"

using namespace guitest;
using namespace livetest;

namespace {

struct CloseCase {
    const char* name;
    std::unique_ptr<TFormDialog> (*make)(TData*);
    int interval;        // ms
    const char* button;  // nullptr: the window's own close
};
void PrintTo(const CloseCase& c, std::ostream* os) { *os << c.name; }

template <class TForm>
std::unique_ptr<TFormDialog> Make(TData* record) {
    auto form = std::make_unique<TForm>();
    form->SetData(record);
    return form;
}

class MonitorCloseTest : public LiveTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(MonitorCloseTest, AClosePendingWhenATickEndsComesBeforeTheNextTick) {
    const CloseCase& c = GetParam();
    const auto form = c.make(&m_rec);
    // The close comes in during the first transaction, due later than the
    // next tick, as input that waits for the blocked loop does.
    Rec().duringSend = [&] {
        if (Sent().size() > 1) return;
        QTimer::singleShot(c.interval * 3 / 2, Qt::PreciseTimer, form.get(), [&] {
            if (c.button != nullptr) {
                Click(form.get(), c.button);
            } else {
                form->close();
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(c.interval * 3));
    };
    form->exec();
    EXPECT_EQ(Sent().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Monitors, MonitorCloseTest,
    ::testing::Values(CloseCase{"InputsCancel", Make<TForm11>, TForm11::kPollInterval, "Button1"},
                      CloseCase{"InputsClose", Make<TForm11>, TForm11::kPollInterval, nullptr},
                      CloseCase{"StatusRegisterCancel", Make<TForm15>, TForm15::kPollInterval, "Button2"},
                      CloseCase{"StatusRegisterClose", Make<TForm15>, TForm15::kPollInterval, nullptr}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
