// A termination signal ends the program as the operator's close does.
#include <QAction>
#include <QTemporaryDir>
#include <csignal>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "GuiTest.h"
#include "ui/Hlavni.h"
#include "ui/Program.h"

namespace {

struct EndCase {
    int signal;
    const char* item;  // the dialog open when the signal comes, if any
    bool inSend;       // it comes while a read blocks
};

TEST(ProgramEndTest, ASignalSavesTheSettingsEndsTheLinkOnceAndEndsTheRun) {
    for (const EndCase& c :
         {EndCase{SIGTERM, nullptr, false}, EndCase{SIGINT, nullptr, false}, EndCase{SIGHUP, nullptr, false},
          EndCase{SIGTERM, "Statusregistr1", true}, EndCase{SIGTERM, "Pipojen1", false}}) {
        Rec().Reset();
        QTemporaryDir dir;
        const std::string ini = dir.filePath("W_rq905.ini").toStdString();
        TForm1 form(ini, [](const std::string& path) {
            auto data = CreateProgramData(path);
            guitest::Connect(*data);
            return data;
        });
        if (c.item != nullptr) QTimer::singleShot(0, form.findChild<QAction*>(c.item), &QAction::trigger);
        if (c.inSend) {
            Rec().duringSend = [&c] { std::raise(c.signal); };
        } else {
            QTimer::singleShot(0, [&c] { std::raise(c.signal); });
        }
        EXPECT_EQ(RunProgram(form), 0) << c.signal;
        EXPECT_EQ(Rec().CallsOf("Done").size(), 1u) << c.signal;
        std::ifstream in(ini, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_NE(text.str().find("Rozhraní=RQ-1318"), std::string::npos) << c.signal;
    }
}

}  // namespace
