// The About box against the real local service: the start-up check and its question, the
// check from the menu with its three outcomes and the retry, the download of the new version
// handed to the installer, the hosted variants, failed downloads and answers that come too late.

#include "engine/About.h"
#include "net/Web.h"
#include "gui/dialogs/AboutView.h"
#include "gui/main/GuiPrompts.h"
#include "gui/main/Main.h"
#include "gui/main/UpdateBar.h"
#include "gui/main/WindowedStart.h"

#include "EventLoop.h"
#include "GuiSupport.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <httplib.h>

#include <filesystem>
#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace dm;
using dmtest::Account;
using dmtest::Business;
using dmtest::TWindowFixture;
using dmtest::WaitUntil;
using nlohmann::json;
using namespace std::chrono_literals;

namespace {

json Accounts() { return json::array({Account("ann", "Harbour Supplies", "1001")}); }

struct TAboutFixture : TWindowFixture {
    std::vector<std::string> handed; // packages given to the installer, as they were then
    std::vector<std::string> handedBytes;
    TInstallerOpener previous;

    explicit TAboutFixture(json update, json faults = json::array()) : TWindowFixture(Accounts()) {
        httplib::Client client("127.0.0.1", service->Port());
        json scenario{{"accounts", Accounts()}, {"update", update}, {"faults", faults}};
        auto r = client.Post("/_test/scenario", scenario.dump(), "application/json");
        EXPECT_TRUE(r && r->status == 200);
        previous = SetInstallerOpener([this](const std::string& path) {
            handed.push_back(path);
            handedBytes.push_back(dmtest::ReadFileBytes(path));
            return true;
        });
    }
    ~TAboutFixture() { SetInstallerOpener(previous); }

    // byTheBox: only the About box's requests (its check carries "o", its download the agent's
    // name), not the main window's check nor this test's own reads.
    std::vector<json> Requests(const std::string& endpoint, bool byTheBox = false) {
        httplib::Client client("127.0.0.1", service->Port());
        auto r = client.Get("/_test/requests");
        std::vector<json> out;
        if (!r) return out;
        for (const json& q : json::parse(r->body)) {
            const std::string e = q.value("endpoint", "");
            if (e.size() < endpoint.size() || e.compare(e.size() - endpoint.size(), endpoint.size(), endpoint) != 0)
                continue;
            if (byTheBox && q["method"] == "POST" && !q["form"].contains("o")) continue;
            if (byTheBox && q["method"] == "GET" && q["headers"].value("user-agent", "") != GetAgent) continue;
            out.push_back(q);
        }
        return out;
    }
    std::string Package() {
        httplib::Client client("127.0.0.1", service->Port());
        auto r = client.Get("/invara-desktop-manager.deb");
        return r ? r->body : std::string();
    }
};

// Closes a box that would otherwise wait for ever, so that a fault fails the test instead of
// hanging it; true when the box had closed by itself before.
struct TBound {
    bool fired = false;
    QTimer timer;
    TBound(QDialog& box, std::chrono::milliseconds bound) {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &box, [this, &box] {
            fired = true;
            box.reject();
        });
        timer.start(bound);
    }
};

void Click(QLabel* label) {
    const QPointF at(3, 3);
    QMouseEvent press(QEvent::MouseButtonPress, at, label->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, {});
    QMouseEvent release(QEvent::MouseButtonRelease, at, label->mapToGlobal(at), Qt::LeftButton, {}, {});
    QApplication::sendEvent(label, &press);
    QApplication::sendEvent(label, &release);
}

void Pause(std::chrono::milliseconds time) { WaitUntil([] { return false; }, time); }

bool IsPrivateFolder(const std::string& folder) {
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 0777) == 0700;
}

} // namespace

// At start-up the box checks without "o", asks only when there is an update, and closes by
// itself whenever there is nothing to download.
TEST(About, StartupCheckClosesByItselfUnlessTheUserWantsTheUpdate) {
    struct {
        const char* what;
        json update;
        json faults;
        bool asked;
    } cases[] = {
        {"no update", {{"available", false}}, json::array(), false},
        {"update declined", {{"available", true}, {"message", "Version 2 is out.|Install it now?"}}, json::array(), true},
        {"check failed", {{"available", true}}, json::array({{{"endpoint", "dm_checkupdate.php"}, {"status", 500}}}), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TAboutFixture f(c.update, c.faults);
        f.prompts.answers = {TAnswer::No};
        TAboutView about(f.app, f.prompts);
        TBound bound(about, 15s);
        about.ShowStartupCheck();
        EXPECT_FALSE(bound.fired) << "the box closed by itself";
        ASSERT_EQ(f.prompts.questions.size(), c.asked ? 1u : 0u);
        if (c.asked) EXPECT_EQ(f.prompts.questions[0], "Version 2 is out.\rInstall it now?");
        EXPECT_FALSE(f.app.UpdateLaunched);
        EXPECT_TRUE(f.handed.empty());
        const auto checks = f.Requests("dm_checkupdate.php");
        ASSERT_EQ(checks.size(), 1u);
        EXPECT_EQ(checks[0]["form"]["v"], "1.0.0");
        EXPECT_EQ(checks[0]["form"]["b"], "1");
        EXPECT_FALSE(checks[0]["form"].contains("o")) << "the start-up check is not the user's";
    }
}

// Yes at start-up: the package is downloaded with progress into a private folder, handed to
// the installer byte for byte, and the program ends without loading its billers.
TEST(About, StartupYesDownloadsThePackageAndEndsTheStart) {
    TAboutFixture f({{"available", true}, {"installer_size", 2 * 1024 * 1024}});
    f.Settings(Business("ann", "Harbour Supplies", "1001"));
    TWindowedProgram program(f.app);
    dmtest::TXdgFolders xdg;
    bool askedYes = false, sawProgress = false, shotTaken = false, okSeen = false;
    QTimer answer;
    answer.setInterval(5);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal); box && !askedYes) {
            askedYes = true;
            box->button(QMessageBox::Yes)->click();
        }
        if (auto* about = qobject_cast<TAboutView*>(modal)) {
            if (about->btnOK->isVisible()) okSeen = true;
            if (about->About.Status == TAbout::TStatus::Downloading && about->ProgressBar1->isVisible() &&
                about->About.ProgressPosition > 0) {
                sawProgress = true;
                if (!shotTaken) dmtest::SaveScreenshot(about, "about_downloading");
                shotTaken = true;
            }
        }
    });
    answer.start();
    EXPECT_FALSE(program.Start());
    answer.stop();
    EXPECT_TRUE(askedYes);
    EXPECT_TRUE(sawProgress);
    EXPECT_FALSE(okSeen) << "the start-up box has no OK button";
    EXPECT_TRUE(f.app.UpdateLaunched);
    EXPECT_TRUE(f.app.TerminateRequested);
    EXPECT_EQ(program.ExitCode, 0);
    EXPECT_TRUE(program.Engine->Billers().empty()) << "the rest of the start is skipped";
    ASSERT_EQ(f.handed.size(), 1u);
    const std::filesystem::path path(f.handed[0]);
    EXPECT_EQ(path.filename(), "invara-desktop-manager.deb");
    EXPECT_TRUE(IsPrivateFolder(path.parent_path().string()));
    EXPECT_EQ(f.handedBytes[0], f.Package());
    EXPECT_GT(f.handedBytes[0].size(), 2000000u);
    struct stat st {};
    ASSERT_EQ(::stat(f.handed[0].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0111, 0u) << "the package is never made executable";
    std::filesystem::remove_all(path.parent_path());
}

// From the menu: "o=1", then each outcome with its mark, the failed one as a retry link.
TEST(About, FromTheMenuUpToDateAvailableOrFailedThenRetry) {
    struct {
        const char* what;
        json update;
        json faults;
        TAbout::TStatus status;
        const char* text;
        bool link;
        const char* shot;
    } cases[] = {
        {"up to date", {{"available", false}}, json::array(), TAbout::TStatus::UpToDate, "Your software is up to date.",
         false, "about_up_to_date"},
        {"available", {{"available", true}}, json::array(), TAbout::TStatus::Available,
         "An updated version is available.", true, "about_update_available"},
        {"failed", {{"available", false}}, json::array({{{"endpoint", "dm_checkupdate.php"}, {"drop", true}}}),
         TAbout::TStatus::CheckFailed, "Unable to check for updates. Try again.", true, "about_check_failed"},
        {"not XML", {{"available", false}},
         json::array({{{"endpoint", "dm_checkupdate.php"}, {"non_xml", true}}}), TAbout::TStatus::CheckFailed,
         "Unable to check for updates. Try again.", true, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TAboutFixture f(c.update, c.faults);
        f.Settings(Business("ann", "Harbour Supplies", "1001"));
        f.Open();
        bool seen = false;
        dmtest::WhenModal([&](QWidget* modal) {
            auto* about = qobject_cast<TAboutView*>(modal);
            ASSERT_NE(about, nullptr);
            EXPECT_EQ(about->Label4->text(), "Checking for updates...");
            EXPECT_EQ(about->Label2->text(), "Version 1.0.0 Build 1");
            if (c.status == TAbout::TStatus::UpToDate) dmtest::SaveScreenshot(about, "about_checking");
            EXPECT_TRUE(WaitUntil([&] { return about->About.Status != TAbout::TStatus::Checking; }, 15s));
            EXPECT_EQ(about->About.Status, c.status);
            EXPECT_EQ(about->Label4->text().toStdString(), c.text);
            EXPECT_EQ(about->Label4->cursor().shape() == Qt::PointingHandCursor, c.link);
            EXPECT_EQ(about->Label4->font().underline(), c.link);
            EXPECT_EQ(about->imgError->isVisible(), c.status == TAbout::TStatus::CheckFailed);
            EXPECT_EQ(about->Image3->isVisible(), c.status == TAbout::TStatus::UpToDate);
            EXPECT_TRUE(about->btnOK->isVisible());
            if (c.shot) dmtest::SaveScreenshot(about, c.shot);
            seen = true;
            if (c.status == TAbout::TStatus::CheckFailed) {
                // The fault answered once: the retry gets the real answer.
                Click(about->Label4);
                EXPECT_EQ(about->About.Status, TAbout::TStatus::Checking);
                EXPECT_FALSE(about->imgError->isVisible());
                EXPECT_TRUE(WaitUntil([&] { return about->About.Status == TAbout::TStatus::UpToDate; }, 15s));
            } else if (c.status == TAbout::TStatus::Available) {
                // The link downloads the package and the box closes once it is handed over.
                Click(about->Label4);
                EXPECT_EQ(about->About.Status, TAbout::TStatus::Downloading);
                EXPECT_FALSE(about->btnOK->isVisible());
                return;
            } else {
                // A status that is no link does nothing when clicked.
                Click(about->Label4);
                EXPECT_EQ(about->About.Status, c.status);
            }
            about->btnOK->click();
        });
        f.window->mnuAbout->trigger();
        EXPECT_TRUE(seen);
        const auto checks = f.Requests("dm_checkupdate.php");
        ASSERT_FALSE(checks.empty());
        EXPECT_EQ(checks[0]["form"]["o"], "1");
        EXPECT_FALSE(checks[0]["form"].contains("DBGSESSID")) << "not in test mode";
        const bool downloaded = c.status == TAbout::TStatus::Available;
        ASSERT_EQ(f.handed.size(), downloaded ? 1u : 0u);
        if (downloaded) {
            EXPECT_EQ(f.handedBytes[0], f.Package());
            EXPECT_TRUE(f.app.UpdateLaunched);
            std::filesystem::remove_all(std::filesystem::path(f.handed[0]).parent_path());
        }
    }
}

// The link of an available update downloads the package from the service's root; so do the
// update bar's link (without a check) and a retry after a failed download. A download that
// fails, or that brings something other than a package, is said so and handed to no one.
TEST(About, DownloadsFromTheLinkAndTheUpdateBarAndReportsFailures) {
    TAboutFixture f({{"available", true}}, json::array({{{"endpoint", "invara-desktop-manager.deb"}, {"status", 404}},
                                                        {{"endpoint", "invara-desktop-manager.deb"},
                                                         {"body", "<html>Not here</html>"}}}));
    f.Settings(Business("ann", "Harbour Supplies", "1001"));
    f.Open();
    TAboutView about(f.app, f.prompts, f.window.get());
    about.About.PauseMs = 10;
    about.show();
    ASSERT_TRUE(WaitUntil([&] { return about.About.Status == TAbout::TStatus::Available; }, 15s));
    for (const char* what : {"status 404", "a page, not a package"}) {
        SCOPED_TRACE(what);
        Click(about.Label4);
        EXPECT_EQ(about.About.Status, TAbout::TStatus::Downloading);
        EXPECT_EQ(about.Label4->text(), "Downloading update...");
        EXPECT_FALSE(about.btnOK->isVisible());
        const std::string folder = std::filesystem::path(about.About.InstallerPath).parent_path().string();
        EXPECT_TRUE(IsPrivateFolder(folder));
        ASSERT_TRUE(WaitUntil([&] { return about.About.Status == TAbout::TStatus::DownloadFailed; }, 15s));
        EXPECT_EQ(about.Label4->text(), "Unable to download the update. Try again.");
        EXPECT_TRUE(about.imgError->isVisible());
        EXPECT_TRUE(about.btnOK->isVisible());
        EXPECT_FALSE(std::filesystem::exists(folder)) << "nothing is left of a failed download";
        if (std::string(what) == "status 404") dmtest::SaveScreenshot(&about, "about_download_failed");
    }
    EXPECT_TRUE(f.handed.empty());
    EXPECT_FALSE(f.app.UpdateLaunched);
    Click(about.Label4);
    ASSERT_TRUE(WaitUntil([&] { return !f.handed.empty(); }, 15s));
    EXPECT_EQ(f.handedBytes[0], f.Package());
    EXPECT_TRUE(f.app.UpdateLaunched);
    std::filesystem::remove_all(std::filesystem::path(f.handed[0]).parent_path());

    // The update bar's link: download mode, no check of its own.
    f.app.UpdateLaunched = false;
    bool downloadMode = false;
    dmtest::WhenModal([&](QWidget* modal) {
        auto* box = qobject_cast<TAboutView*>(modal);
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(WaitUntil([&] { return box->About.Status != TAbout::TStatus::Checking; }, 5s));
        downloadMode = box->About.Status == TAbout::TStatus::Downloading;
    });
    emit f.window->pnlUpdate->downloadClicked();
    EXPECT_TRUE(downloadMode);
    ASSERT_EQ(f.handed.size(), 2u);
    EXPECT_EQ(f.handedBytes[1], f.Package());
    EXPECT_EQ(f.Requests("dm_checkupdate.php", true).size(), 1u) << "one check, the box's own";
    EXPECT_EQ(f.Requests("invara-desktop-manager.deb", true).size(), 4u);
    std::filesystem::remove_all(std::filesystem::path(f.handed[1]).parent_path());
}

// Hosted variants: no check, no status line; the start shows no box at all. The test-mode
// banner, for its picture.
TEST(About, HostedModeChecksNothingAndTestModeShowsItsBanner) {
    TAboutFixture f({{"available", true}});
    f.app.HostedMode = true;
    f.Settings(Business("ann", "Harbour Supplies", "1001"));
    {
        dmtest::TXdgFolders xdg;
        TWindowedProgram program(f.app);
        QTimer watch;
        bool modalSeen = false;
        watch.setInterval(5);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (qobject_cast<TAboutView*>(QApplication::activeModalWidget())) modalSeen = true;
        });
        watch.start();
        EXPECT_TRUE(program.Start());
        EXPECT_FALSE(modalSeen);
    }
    TAboutView about(f.app, f.prompts);
    about.show();
    Pause(1000ms);
    EXPECT_FALSE(about.Label4->isVisible());
    EXPECT_TRUE(f.Requests("dm_checkupdate.php").empty());
    EXPECT_TRUE(about.btnOK->isVisible());
    dmtest::SaveScreenshot(&about, "about_hosted");

    f.app.HostedMode = false;
    f.app.TestMode = true;
    TAboutView test(f.app, f.prompts);
    test.show();
    EXPECT_EQ(test.height(), TAboutView::ClientHeight + TAboutView::BannerHeight);
    EXPECT_TRUE(test.Panel1->isVisible());
    ASSERT_TRUE(WaitUntil([&] { return test.About.Status == TAbout::TStatus::Available; }, 15s));
    dmtest::SaveScreenshot(&test, "about_test_mode");
    EXPECT_EQ(f.Requests("dm_checkupdate.php").at(0)["form"]["DBGSESSID"], "1");
}

// The user closes the box while the check is on the way: the late answer changes nothing,
// whether the box still exists or is gone.
TEST(About, LateAnswersAfterClosingAreIgnored) {
    TAboutFixture f({{"available", true}},
                    json::array({{{"endpoint", "dm_checkupdate.php"}, {"delay_ms", 1500}, {"times", 0}}}));
    int changes = 0;
    {
        TAboutView gone(f.app, f.prompts);
        gone.show();
        ASSERT_TRUE(WaitUntil([&] { return !gone.About.tmrCheckUpdate.isActive(); }, 5s));
        gone.reject();
    }
    TAboutView closed(f.app, f.prompts);
    QObject::connect(&closed.About, &TAbout::changed, [&] { ++changes; });
    closed.show();
    ASSERT_TRUE(WaitUntil([&] { return !closed.About.tmrCheckUpdate.isActive(); }, 5s));
    closed.reject();
    ASSERT_TRUE(WaitUntil([&] { return f.Requests("dm_checkupdate.php").size() == 2; }, 10s));
    Pause(500ms);
    EXPECT_EQ(closed.About.Status, TAbout::TStatus::Checking);
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(f.prompts.questions.empty());
}
