// A window larger than the screen keeps its title bar and menu on it.
#include <QScreen>

#include <gtest/gtest.h>

#include "GuiTest.h"
#include "ui/Hlavni.h"
#include "ui/Pripojeni.h"
#include "ui/StatReg.h"

namespace {

struct WindowCase {
    const char* name;
    std::unique_ptr<QWidget> (*make)();
};
void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.name; }

class SmallScreenTest : public ::testing::TestWithParam<WindowCase> {};

TEST_P(SmallScreenTest, TheTopLeftCornerIsOnScreen) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_LT(area.width(), 592) << "the screen is not the small one";
    const auto window = GetParam().make();
    window->show();
    const QRect frame = window->frameGeometry();
    EXPECT_TRUE(area.contains(frame.topLeft())) << frame.x() << "," << frame.y();
    // One that fits stays centred.
    if (area.width() >= frame.width()) {
        EXPECT_LE(std::abs(frame.center().x() - area.center().x()), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Windows, SmallScreenTest,
    ::testing::Values(WindowCase{"MainWindow",
                                 [] {
                                     return std::unique_ptr<QWidget>(new TForm1(
                                         "", [](const std::string&) { return std::unique_ptr<TData>(); }));
                                 }},
                      WindowCase{"Connection", [] { return std::unique_ptr<QWidget>(new TForm2); }},
                      WindowCase{"StatusRegister", [] { return std::unique_ptr<QWidget>(new TForm15); }}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
