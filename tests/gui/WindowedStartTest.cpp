// The windowed start as the program runs it, its own message boxes included, on settings files
// that are damaged or cannot be read.

#include "gui/main/WindowedStart.h"

#include "engine/MainEngine.h"
#include "engine/Settings.h"

#include "EventLoop.h"
#include "GuiSupport.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>

using namespace dm;
using dmtest::Account;
using dmtest::Business;
using dmtest::TWindowFixture;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

// Answers every message box of the program with OK and keeps its text.
struct TMessageBoxes {
    std::vector<std::string> texts;
    QTimer timer;
    TMessageBoxes() {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) return;
            texts.push_back(box->text().toStdString());
            box->done(QMessageBox::Ok);
        });
        timer.start();
    }
};

// One run: start, then the end that File > Exit gives.
size_t RunOnce(TWindowFixture& f, bool& started) {
    TWindowedProgram program(f.app);
    started = program.Start();
    size_t billers = program.Engine ? program.Engine->Billers().size() : 0;
    return billers;
}

} // namespace

// Two starts on the same files: the first saves what it read (and so the last good copy), then
// the file is damaged; the second start must bring every biller back and say where the damaged
// file went, without showing what it held.
TEST(WindowedStart, DamagedSettingsLoseNoBiller) {
    struct {
        const char* what;
        std::function<std::string(const std::string&)> damage;
    } cases[] = {
        {"truncated", [](const std::string& good) { return good.substr(0, good.size() / 2); }},
        {"garbage", [](const std::string& good) { return "\x89PNG\r\n\x1a\n" + good.substr(40, 300); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TWindowFixture f(json::array({Account("ann", "Ann's Shop", "1001"), Account("bob", "Bob & Co", "1002")}));
        f.Settings(Business("ann", "Ann's Shop", "1001") + Business("bob", "Bob & Co", "1002"));
        TMessageBoxes boxes;
        bool started = false;
        ASSERT_EQ(RunOnce(f, started), 2u);
        ASSERT_TRUE(started);
        const std::string path = f.app.SettingsFileName();
        const std::string good = dmtest::ReadFileBytes(path);
        ASSERT_NE(good.find("<token>"), std::string::npos);
        const std::string token = good.substr(good.find("<token>") + 7, good.find("</token>") - good.find("<token>") - 7);
        const std::string damaged = c.damage(good);
        dmtest::WriteFileBytes(path, damaged);

        EXPECT_EQ(RunOnce(f, started), 2u);
        EXPECT_TRUE(started);
        EXPECT_FALSE(f.app.TerminateRequested);

        std::vector<fs::path> copies;
        for (const auto& entry : fs::directory_iterator(f.app.StorageFolder))
            if (entry.path().filename().string().rfind("invdesk.xml.damaged-", 0) == 0) copies.push_back(entry.path());
        ASSERT_EQ(copies.size(), 1u);
        EXPECT_EQ(dmtest::ReadFileBytes(copies[0]), damaged);
        ASSERT_EQ(boxes.texts.size(), 1u) << "told once";
        EXPECT_NE(boxes.texts[0].find(copies[0].string()), std::string::npos) << boxes.texts[0];
        EXPECT_EQ(boxes.texts[0].find(token), std::string::npos) << boxes.texts[0];
        EXPECT_EQ(boxes.texts[0].find("<business>"), std::string::npos) << boxes.texts[0];

        // And after that exit the file itself holds both billers again.
        TOptions options;
        dmtest::TScriptedPrompts quiet;
        TAppState app = f.app;
        EXPECT_EQ(TSettingsStore(app, quiet).LoadSettings(false, options).billers.size(), 2u);
        EXPECT_TRUE(quiet.messages.empty());
    }
}

TEST(WindowedStart, UnreadableSettingsAreReportedOnce) {
    TWindowFixture f(json::array());
    fs::create_directory(f.app.SettingsFileName()); // a folder where the file should be: nobody reads it
    TMessageBoxes boxes;
    bool started = true;
    RunOnce(f, started);
    EXPECT_FALSE(started);
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0].rfind("Unable to load settings from:", 0), 0u) << boxes.texts[0];
    EXPECT_TRUE(fs::is_directory(f.app.SettingsFileName()));
}
