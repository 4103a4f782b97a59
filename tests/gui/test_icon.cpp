// The window icon: every size drawn from its own PNG, and no image-format
// or icon-engine plugin loaded for it. A program of its own, so that no
// other test has loaded a plugin before.
#include <QImage>
#include <QTemporaryDir>
#include <fstream>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "GuiTest.h"
#include "ui/Hlavni.h"
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
                      IconCase{"MainWindowNoIconEnginePlugin", 0, "/iconengines/", true}),
    [](const ::testing::TestParamInfo<IconCase>& tested) { return tested.param.name; });

}  // namespace
