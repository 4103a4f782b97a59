// A termination signal ends the program as the operator's close does.
#include <QAction>
#include <QTemporaryDir>
#include <csignal>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "GuiTest.h"
#include "ui/Hlavni.h"
#include "ui/Program.h"

TEST(ProgramEndTest, ASignalSavesTheSettingsEndsTheLinkOnceAndEndsTheRun) {
    struct Case {
        int signal;
        const char* dialog;  // open when the signal comes
        bool inSend;         // the signal comes while its read blocks
    };
    for (const Case& c :
         {Case{SIGTERM, nullptr, false}, Case{SIGINT, nullptr, false}, Case{SIGHUP, nullptr, false},
          Case{SIGTERM, "Statusregistr1", true}, Case{SIGTERM, "Pipojen1", false}}) {
        Rec().Reset();
        QTemporaryDir dir;
        const std::string ini = dir.filePath("W_rq905.ini").toStdString();
        TForm1 form(ini, [](const std::string& path) {
            auto data = CreateProgramData(path);
            guitest::Connect(*data);
            return data;
        });
        if (c.dialog != nullptr) QTimer::singleShot(0, form.findChild<QAction*>(c.dialog), &QAction::trigger);
        const auto raise = [&c] { std::raise(c.signal); };
        c.inSend ? void(Rec().duringSend = raise) : QTimer::singleShot(0, raise);
        EXPECT_EQ(RunProgram(form), 0) << c.signal;
        EXPECT_EQ(Rec().CallsOf("Done").size(), 1u) << c.signal;
        std::ifstream in(ini, std::ios::binary);
        const std::string saved(std::istreambuf_iterator<char>(in), {});
        EXPECT_NE(saved.find("Rozhraní=RQ-1318"), std::string::npos) << c.signal;
    }
}

// nohup, or a script's background job: a signal ignored by whoever started
// the program stays ignored, and the program runs on.
TEST(ProgramEndTest, ASignalIgnoredFromTheStartIsLeftIgnored) {
    for (const int signal : {SIGHUP, SIGINT, SIGTERM}) {
        Rec().Reset();
        std::signal(signal, SIG_IGN);
        QTemporaryDir dir;
        TForm1 form(dir.filePath("W_rq905.ini").toStdString());
        bool survived = false;
        QTimer::singleShot(0, [signal] { std::raise(signal); });
        QTimer::singleShot(300, &form, [&form, &survived] {
            survived = form.isVisible();
            form.CloseProgram();
        });
        EXPECT_EQ(RunProgram(form), 0) << signal;
        EXPECT_TRUE(survived) << signal;
        EXPECT_EQ(std::signal(signal, SIG_DFL), SIG_IGN) << signal;
    }
}
