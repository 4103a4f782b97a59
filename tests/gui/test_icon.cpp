// The window icon: every size drawn from its own PNG, and no image-format
// or icon-engine plugin loaded for it nor for the main window. A program of
// its own, so that no other test has loaded a plugin before.
#include <QImage>
#include <QMenuBar>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTemporaryDir>
#include <QToolButton>
#include <fstream>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "GuiTest.h"
#include "ui/Hlavni.h"
#include "ui/LateIconStyle.h"
#include "ui/WindowIcon.h"

namespace {

struct IconCase {
    const char* name;
    int size;               // drawn at this size; 0: every size the icon has
    const char* pluginDir;  // then no library of this plugin folder is mapped
    bool mainWindow;        // after the main window was shown, too
};
void PrintTo(const IconCase& c, std::ostream* os) { *os << c.name; }

class WindowIconTest : public ::testing::TestWithParam<IconCase> {};

TEST_P(WindowIconTest, DrawnWithoutPlugins) {
    const IconCase& c = GetParam();
    const QIcon icon = WindowIcon();
    if (c.size > 0) {
        const QSize size(c.size, c.size);
        const QImage image = icon.pixmap(size).toImage();
        ASSERT_EQ(image.size(), size);
        // The drawing, not an empty square: its centre is opaque.
        EXPECT_EQ(qAlpha(image.pixel(c.size / 2, c.size / 2)), 255);
        return;
    }
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    std::unique_ptr<TForm1> form;
    if (c.mainWindow) {
        form = std::make_unique<TForm1>((temp.path() + "/W_rq905.ini").toStdString());
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    const QList<QSize> sizes = c.mainWindow ? form->windowIcon().availableSizes() : icon.availableSizes();
    EXPECT_EQ(sizes,
              (QList<QSize>{{16, 16}, {24, 24}, {32, 32}, {48, 48}, {64, 64}, {128, 128}, {256, 256}}));
    for (const QSize& size : sizes) EXPECT_EQ(icon.pixmap(size).size(), size);
#ifdef _WIN32
    GTEST_SKIP() << "a static Qt has no plugin files";
#else
    std::ifstream maps("/proc/self/maps");
    std::stringstream text;
    text << maps.rdbuf();
    ASSERT_NE(text.str().find("libQt6Gui"), std::string::npos);
    EXPECT_EQ(text.str().find(c.pluginDir), std::string::npos) << text.str();
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Icon, WindowIconTest,
    ::testing::Values(IconCase{"Px16", 16, nullptr, false}, IconCase{"Px32", 32, nullptr, false},
                      IconCase{"Px48", 48, nullptr, false}, IconCase{"Px256", 256, nullptr, false},
                      IconCase{"ScaledDown20", 20, nullptr, false},
                      IconCase{"ScaledUp300", 300, nullptr, false},
                      IconCase{"NoImageFormatPlugin", 0, "/imageformats/", false},
                      IconCase{"MainWindowNoIconEnginePlugin", 0, "/iconengines/", true},
                      IconCase{"MainWindowNoImageFormatPlugin", 0, "/imageformats/", true}),
    [](const ::testing::TestParamInfo<IconCase>& tested) { return tested.param.name; });

// The extension arrows that the main window's style reads late are drawn
// as the style underneath draws them, at every size; the menu bar's own
// arrow among them.
struct ArrowCase {
    const char* name;
    QStyle::StandardPixmap which;
    Qt::LayoutDirection direction;
};
void PrintTo(const ArrowCase& c, std::ostream* os) { *os << c.name; }

class LateArrowTest : public ::testing::TestWithParam<ArrowCase> {};

TEST_P(LateArrowTest, DrawnAsTheStyleUnderneathDrawsIt) {
    const ArrowCase& c = GetParam();
    const QString key = QApplication::style()->name();
    ASSERT_FALSE(key.isEmpty());
    TLateIconStyle late(key);
    const std::unique_ptr<QStyle> base(QStyleFactory::create(key));
    QStyleOption option;
    option.direction = c.direction;
    const QIcon drawn = late.standardIcon(c.which, &option);
    const QIcon expected = base->standardIcon(c.which, &option);
    EXPECT_EQ(drawn.availableSizes(), expected.availableSizes());
    for (const int px : {8, 12, 16, 32, 40}) {
        EXPECT_EQ(drawn.pixmap(px).toImage(), expected.pixmap(px).toImage()) << px;
    }
    if (c.which != QStyle::SP_ToolBarHorizontalExtensionButton || c.direction != Qt::LeftToRight) return;
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    TForm1 form((temp.path() + "/W_rq905.ini").toStdString());
    const auto* arrow = form.menuBar()->findChild<QToolButton*>("qt_menubar_ext_button");
    ASSERT_NE(arrow, nullptr);
    EXPECT_EQ(arrow->icon().pixmap(16).toImage(), expected.pixmap(16).toImage());
}

INSTANTIATE_TEST_SUITE_P(
    Arrow, LateArrowTest,
    ::testing::Values(ArrowCase{"Horizontal", QStyle::SP_ToolBarHorizontalExtensionButton, Qt::LeftToRight},
                      ArrowCase{"HorizontalRtl", QStyle::SP_ToolBarHorizontalExtensionButton,
                                Qt::RightToLeft},
                      ArrowCase{"Vertical", QStyle::SP_ToolBarVerticalExtensionButton, Qt::LeftToRight}),
    [](const ::testing::TestParamInfo<ArrowCase>& tested) { return tested.param.name; });

}  // namespace
