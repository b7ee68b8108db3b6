#include "GuiSupport.h"

#include "EventLoop.h"
#include "gui/dialogs/AboutView.h"
#include "platform/Autostart.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace dmtest {

std::string SaveImage(const QImage& image, const std::string& name) {
    QDir().mkpath(QStringLiteral(DM_SCREENSHOT_DIR));
    const std::string path = std::string(DM_SCREENSHOT_DIR) + "/" + name + ".png";
    EXPECT_TRUE(image.save(QString::fromStdString(path))) << path;
    return path;
}

std::string SaveScreenshot(QWidget* widget, const std::string& name) {
    QApplication::processEvents();
    return SaveImage(widget->grab().toImage(), name);
}

void WhenModal(std::function<void(QWidget*)> action) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) return;
        // The start-up update check closes by itself: the action is for the dialog after it.
        if (auto* about = qobject_cast<dm::TAboutView*>(modal); about && about->About.StartupCheck) return;
        timer->stop();
        timer->deleteLater();
        action(modal);
    });
    timer->start();
}

nlohmann::json Account(const std::string& user, const std::string& name, const std::string& id) {
    return {{"user", user}, {"password", "demo"}, {"name", name}, {"id", id}};
}

std::string Business(const std::string& user, const std::string& name, const std::string& id) {
    return "<business><name>" + name + "</name><id>" + id + "</id><username>" + user +
           "</username><password>demo</password></business>";
}

TXdgFolders::TXdgFolders() : user(dir.Folder() + "config/"), system(dir.Folder() + "xdg/") {
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"})
        if (const char* value = std::getenv(name)) saved_.emplace_back(name, value);
    setenv("XDG_CONFIG_HOME", user.c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (dir.Folder() + "other:" + system).c_str(), 1);
}

TXdgFolders::~TXdgFolders() {
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_CONFIG_DIRS");
    for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
}

std::string TXdgFolders::UserEntry() const { return user + "autostart/" + dm::AutostartFileName; }
std::string TXdgFolders::SystemEntry() const { return system + "autostart/" + dm::AutostartFileName; }

void TXdgFolders::WriteEntry(const std::string& path, const std::string& text) const {
    fs::create_directories(fs::path(path).parent_path());
    WriteFileBytes(path, text);
}

void TWindowFixture::Qb(const QStringList& args) const {
    QStringList all{"--home", QString::fromStdString(QbHome())};
    all << args;
    EXPECT_EQ(QProcess::execute(QStringLiteral(DM_BIN_DIR "/invara-qbsim"), all), 0) << args.join(' ').toStdString();
}

TWindowFixture::TWindowFixture(nlohmann::json accounts, nlohmann::json faults) {
    fs::create_directories(dir.Path() / "qb");
    fs::create_directories(dir.Path() / "store");
    setenv("INVARA_QB_HOME", QbHome().c_str(), 1);
    EXPECT_EQ(QProcess::execute(QStringLiteral(DM_BIN_DIR "/invara-qbsim"),
                                {"--home", QString::fromStdString(QbHome()), "demo"}),
              0);
    service = std::make_unique<dm::TTestService>(
        dm::ScenarioFromJson({{"accounts", accounts}, {"faults", faults}}));
    int port = service->Start("127.0.0.1", 0);
    EXPECT_GT(port, 0);
    app.BaseUrl = "http://127.0.0.1:" + std::to_string(port) + "/";
    dm::ComposeUrls(app);
    app.StorageFolder = dir.Folder() + "store/";
    app.WindowCaption = dm::ApplicationTitle;
    app.VersionText = "1.0.0";
    app.BuildNumber = "1";
}

TWindowFixture::~TWindowFixture() {
    window.reset();
    engine.reset();
    service->Stop();
}

void TWindowFixture::Settings(const std::string& businesses) {
    WriteFileBytes(app.StorageFolder + app.EnvironmentPrefix + "invdesk.xml",
                   "<?xml version=\"1.0\"?><mvt><businesslist>" + businesses + "</businesslist></mvt>");
}

void TWindowFixture::Open(bool trayAvailable) {
    engine = std::make_unique<dm::TMainEngine>(app, prompts);
    window = std::make_unique<dm::TMain>(app, *engine, prompts);
    window->TrayAvailable = trayAvailable;
    engine->LoadSettings(true);
    window->LoadBillers();
    window->show();
    window->StartTimers();
    WaitUntil([&] { return window->isVisible() && !window->tmrStartup.isActive(); });
}

bool TWindowFixture::WaitConfirmed() {
    return WaitUntil([&] {
        for (dm::TSync* f : engine->Billers())
            if (f->Confirming) return false;
        return true;
    });
}

} // namespace dmtest
