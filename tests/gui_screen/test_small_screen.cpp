// Windows larger than the screen keep their title bar and menu on it.
#include <QScreen>

#include <gtest/gtest.h>

#include "GuiTest.h"
#include "ui/Hlavni.h"
#include "ui/Pripojeni.h"
#include "ui/StatReg.h"

TEST(SmallScreenTest, TheTopLeftCornerIsOnScreen) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_LT(area.width(), 592) << "not the small screen";
    TForm1 form1("", [](const std::string&) { return std::unique_ptr<TData>(); });
    TForm2 form2;
    TForm15 form15;  // too wide, not too high
    for (QWidget* window : std::initializer_list<QWidget*>{&form1, &form2, &form15}) {
        window->show();
        EXPECT_TRUE(area.contains(window->frameGeometry().topLeft())) << window->objectName().toStdString();
    }
    EXPECT_LE(std::abs(form15.frameGeometry().center().y() - area.center().y()), 1);
}
