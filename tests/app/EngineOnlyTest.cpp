// The headless front end linked against the engine alone: a whole session runs in a program
// that has no widget library at all, which is what keeps sessions testable without a display.

#include "app/Headless.h"
#include "engine/Startup.h"
#include "engine/UserPrompts.h"

#include "TestService.h"
#include "TestSupport.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class TNoPrompts : public dm::TUserPrompts {
public:
    void ShowMessage(const std::string&) override {}
    std::optional<dm::TCredentials> AskCredentials(const std::string&, const dm::TCredentials&) override {
        return std::nullopt;
    }
    dm::TFileNotFoundChoice AskCompanyFileNotFound(const std::string&, const std::string&, const std::string&) override {
        return dm::TFileNotFoundChoice::None;
    }
    void ShowServicePopup(const dm::TPopupSpec&) override {}
};

bool Mapped(const std::string& library) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find(library) != std::string::npos) return true;
    return false;
}

} // namespace

TEST(EngineOnly, HeadlessSessionRunsWithoutAnyWidgetLibrary) {
    EXPECT_FALSE(Mapped("libQt6Widgets")) << "the headless front end must not pull in widgets";
    EXPECT_FALSE(Mapped("libQt6Gui"));

    dmtest::TempDir dir;
    fs::create_directories(dir.Path() / "store");
    const std::string qbHome = (dir.Path() / "qb").string();
    ASSERT_EQ(QProcess::execute(QStringLiteral(DM_BIN_DIR "/invara-qbsim"),
                                {"--home", QString::fromStdString(qbHome), "demo"}),
              0);
    setenv("INVARA_QB_HOME", qbHome.c_str(), 1);
    dmtest::WriteFileBytes(dir.Path() / "store" / "invdesk.xml",
                           "<?xml version=\"1.0\"?><mvt><businesslist><business><name>Demo Co</name><id>1001</id>"
                           "<username>demo</username><password>demo</password></business></businesslist></mvt>");
    dm::TTestService service{dm::DemoScenario()};
    const int port = service.Start("127.0.0.1", 0);
    ASSERT_GT(port, 0);

    TNoPrompts prompts;
    dm::TStartupEnvironment environment = dm::TStartupEnvironment::Current(
        {"-headless", "-syncall", "-localtest", "-baseurl=http://127.0.0.1:" + std::to_string(port) + "/",
         "-storage=" + dir.Folder() + "store"});
    dm::TAppState state = dm::RunStartup(environment, prompts);
    ASSERT_FALSE(state.TerminateRequested);

    testing::internal::CaptureStdout();
    const int exitCode = dm::RunHeadless(state);
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(exitCode, 0) << output;
    EXPECT_NE(output.find("Biller 1001 - Demo Co: synchronised"), std::string::npos) << output;
    unsetenv("INVARA_QB_HOME");
}
