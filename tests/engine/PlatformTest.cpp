#include "platform/Autostart.h"
#include "platform/DateTimeText.h"
#include "platform/System.h"
#include "platform/TerminationSignals.h"

#include "EventLoop.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>
#include <thread>

using namespace dm;
namespace fs = std::filesystem;

TEST(Platform, DateTimeTextReadsBackToTheSecondInEveryLocale) {
    const QDateTime when(QDate(2026, 12, 9), QTime(17, 4, 33));
    const QDateTime midnight(QDate(1899, 12, 30), QTime(0, 0));
    for (const char* name : {"C", "en_US", "en_GB", "de_DE", "fr_FR", "ja_JP", "ar_EG", "fa_IR"}) {
        QLocale locale(QString::fromLatin1(name));
        std::string text = DateTimeText(when, locale);
        std::optional<QDateTime> back = ParseDateTimeText(text, locale);
        ASSERT_TRUE(back.has_value()) << name << ": " << text;
        EXPECT_EQ(*back, when) << name << ": " << text;

        std::string zero = DateTimeText(midnight, locale);
        back = ParseDateTimeText(zero, locale);
        ASSERT_TRUE(back.has_value()) << name << ": " << zero;
        EXPECT_EQ(*back, midnight) << name;
    }
    EXPECT_EQ(DateTimeText(when, QLocale(QStringLiteral("en_US"))), "12/9/2026 5:04:33 PM");
    EXPECT_FALSE(ParseDateTimeText("not a date").has_value());
    EXPECT_FALSE(ParseDateTimeText("").has_value());
    EXPECT_TRUE(ParseDateTimeText("2026-12-09T17:04:33").has_value());
}

TEST(Platform, ListFilesMatchesMasksAndSkipsFolders) {
    dmtest::TempDir dir;
    for (const char* name : {"log_1.txt", "log_22.txt", ".log_h.txt", "log_1.txt.bak", "LOG_2.txt", "xlog_3.txt"})
        dmtest::WriteFileBytes(dir.Path() / name, "x");
    fs::create_directory(dir.Path() / "log_9.txt");
    std::vector<std::string> found{"kept"};
    ASSERT_TRUE(ListFiles(dir.Path().string(), "log_*.txt", found));
    std::sort(found.begin() + 1, found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"kept", dir.Folder() + "log_1.txt", dir.Folder() + "log_22.txt"}));
    std::vector<std::string> hidden;
    ASSERT_TRUE(ListFiles(dir.Folder(), ".log_?.txt", hidden));
    EXPECT_EQ(hidden.size(), 1u);
    EXPECT_FALSE(ListFiles(dir.Folder() + "missing", "*", hidden));

    EXPECT_EQ(FileSizeOf((dir.Path() / "log_1.txt").string()), 1);
    EXPECT_EQ(FileSizeOf((dir.Path() / "none").string()), -1);
    EXPECT_EQ(TempFolder().back(), '/');
    EXPECT_NE(AppDataFolder().back(), '/');
    EXPECT_FALSE(WindowsUserName("fallback").empty());
}

namespace {
fs::perms Mode(const std::string& path) { return fs::status(path).permissions() & fs::perms::all; }
constexpr fs::perms OwnerOnly = fs::perms::owner_read | fs::perms::owner_write;
} // namespace

// The file holds secrets: whatever mode it had, it is the owner's alone afterwards; a link stays
// a link; a read-only file is refused although the folder would allow the rename.
TEST(Platform, ReplaceFileAtomicallyOwnerOnlyLinksKeptReadOnlyRefused) {
    dmtest::TempDir dir;
    const std::string path = dir.Folder() + "f";
    ReplaceFileAtomically(path, "one");
    EXPECT_EQ(dmtest::ReadFileBytes(path), "one");
    EXPECT_EQ(Mode(path), OwnerOnly);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::others_read);
    ReplaceFileAtomically(path, "two");
    EXPECT_EQ(dmtest::ReadFileBytes(path), "two");
    EXPECT_EQ(Mode(path), OwnerOnly);

    // A relative link into another folder: the target is replaced there, the link stays.
    fs::create_directory(dir.Path() / "real");
    dmtest::WriteFileBytes(dir.Path() / "real" / "target", "old");
    fs::create_symlink("real/target", dir.Path() / "link");
    EXPECT_EQ(FinalLinkTarget(dir.Folder() + "link"), dir.Folder() + "real/target");
    ReplaceFileAtomically(dir.Folder() + "link", "new");
    EXPECT_TRUE(fs::is_symlink(dir.Path() / "link"));
    EXPECT_EQ(dmtest::ReadFileBytes(dir.Path() / "real" / "target"), "new");
    EXPECT_EQ(Mode(dir.Folder() + "real/target"), OwnerOnly);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path() / "real"), fs::directory_iterator()), 1);

    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    try {
        ReplaceFileAtomically(path, "three");
        ADD_FAILURE() << "a read-only file was replaced";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), EACCES);
    }
    EXPECT_EQ(dmtest::ReadFileBytes(path), "two");

    fs::create_symlink("loop", dir.Path() / "loop");
    EXPECT_THROW(ReplaceFileAtomically(dir.Folder() + "loop", "x"), std::system_error);
    EXPECT_THROW(ReplaceFileAtomically(dir.Folder() + "no/f", "x"), std::system_error);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 4); // f, real, link, loop
}

TEST(Platform, StaleReplacementsOfGoneProcessesAreRemoved) {
    dmtest::TempDir dir;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    const std::string file = dir.Folder() + "invdesk.xml";
    dmtest::WriteFileBytes(file, "kept");
    const std::string gone = file + ".tmp-" + std::to_string(child) + "-0";
    const std::string own = file + ".tmp-" + std::to_string(getpid()) + "-7";
    const std::string live = file + ".tmp-1-0"; // init never goes
    const std::string other = file + ".tmp-notes";
    const std::string otherFile = dir.Folder() + "log.txt.tmp-" + std::to_string(child) + "-0";
    for (const std::string& p : {gone, own, live, other, otherFile}) dmtest::WriteFileBytes(p, "x");
    EXPECT_EQ(RemoveStaleReplacements(file), 2);
    EXPECT_FALSE(fs::exists(gone));
    EXPECT_FALSE(fs::exists(own));
    for (const std::string& p : {file, live, other, otherFile}) EXPECT_TRUE(fs::exists(p)) << p;
}

TEST(Platform, AutostartMigratesTheSystemEntryOnce) {
    dmtest::TempDir dir;
    TAutostartPaths paths{dir.Folder() + "user/", {dir.Folder() + "system/"}};
    fs::create_directories(paths.SystemFolders[0]);
    MigrateAutostart(paths, "/opt/invara/bin/invara-desktop-manager");
    EXPECT_FALSE(AutostartEnabled(paths)); // nothing system-wide: nothing to move
    EXPECT_FALSE(fs::exists(paths.UserFolder));

    dmtest::WriteFileBytes(paths.SystemFolders[0] + AutostartFileName, "[Desktop Entry]\nExec=/usr/bin/old\n");
    MigrateAutostart(paths, "/opt/my apps/invara-desktop-manager");
    EXPECT_TRUE(AutostartEnabled(paths));
    EXPECT_NE(dmtest::ReadFileBytes(paths.UserFolder + AutostartFileName)
                  .find("Exec=\"/opt/my apps/invara-desktop-manager\"\n"),
              std::string::npos);

    // Turned off by the user: the system entry is masked and a later start leaves it so.
    SetAutostart(paths, false, "");
    EXPECT_FALSE(AutostartEnabled(paths));
    MigrateAutostart(paths, "/opt/invara/bin/invara-desktop-manager");
    EXPECT_FALSE(AutostartEnabled(paths));
    EXPECT_NE(dmtest::ReadFileBytes(paths.UserFolder + AutostartFileName).find("Hidden=true"), std::string::npos);

    // Without a system entry, turning the start off removes the user's file.
    fs::remove(paths.SystemFolders[0] + AutostartFileName);
    SetAutostart(paths, true, "/usr/bin/invara-desktop-manager");
    SetAutostart(paths, false, "");
    EXPECT_FALSE(fs::exists(paths.UserFolder + AutostartFileName));
}

TEST(Platform, AutostartFollowsTheXdgFolders) {
    struct Case {
        const char* configHome;
        const char* configDirs;
        std::string user;
        std::vector<std::string> system;
    } cases[] = {
        {nullptr, nullptr, "/home/ann/.config/autostart/", {"/etc/xdg/autostart/"}},
        {"", "", "/home/ann/.config/autostart/", {"/etc/xdg/autostart/"}},
        {"/cfg", "/etc/a:/opt/b/", "/cfg/autostart/", {"/etc/a/autostart/", "/opt/b/autostart/"}},
        // Relative paths are not valid there and are passed over.
        {"rel/cfg", "rel:/etc/a::", "/home/ann/.config/autostart/", {"/etc/a/autostart/"}},
        {"/cfg/", "rel", "/cfg/autostart/", {"/etc/xdg/autostart/"}},
    };
    for (const Case& c : cases) {
        TAutostartPaths paths = TAutostartPaths::From("/home/ann", c.configHome, c.configDirs);
        EXPECT_EQ(paths.UserFolder, c.user) << (c.configHome ? c.configHome : "unset");
        EXPECT_EQ(paths.SystemFolders, c.system) << (c.configDirs ? c.configDirs : "unset");
    }

    // The user's entry decides over every system one; among those the first folder decides.
    dmtest::TempDir dir;
    TAutostartPaths paths{dir.Folder() + "user/", {dir.Folder() + "a/", dir.Folder() + "b/"}};
    const std::string on = "[Desktop Entry]\nExec=/usr/bin/invara-desktop-manager\n";
    const std::string off = on + "Hidden=true\n";
    for (const std::string& folder : {paths.UserFolder, paths.SystemFolders[0], paths.SystemFolders[1]})
        fs::create_directories(folder);
    dmtest::WriteFileBytes(paths.SystemFolders[1] + AutostartFileName, on);
    EXPECT_TRUE(AutostartEnabled(paths));
    dmtest::WriteFileBytes(paths.SystemFolders[0] + AutostartFileName, off);
    EXPECT_FALSE(AutostartEnabled(paths));
    dmtest::WriteFileBytes(paths.UserFolder + AutostartFileName, on);
    EXPECT_TRUE(AutostartEnabled(paths));
    dmtest::WriteFileBytes(paths.UserFolder + AutostartFileName, off);
    dmtest::WriteFileBytes(paths.SystemFolders[0] + AutostartFileName, on);
    EXPECT_FALSE(AutostartEnabled(paths));
}

TEST(Platform, DesktopEntriesAreReadByTheirGroup) {
    struct Case {
        std::string text;
        bool enabled;
    } cases[] = {
        {"[Desktop Entry]\nType=Application\nExec=/usr/bin/x\n", true},
        {"# comment\r\n[Desktop Entry]\r\nExec = /usr/bin/x\r\n", true},
        {"[Desktop Entry]\nExec=/usr/bin/x\nHidden=false\nX-GNOME-Autostart-enabled=true\n", true},
        {"[Desktop Entry]\nExec=/usr/bin/x\nHidden=true\n", false},
        {"[Desktop Entry]\nExec=/usr/bin/x\nHidden = true\n", false},
        {"[Desktop Entry]\nExec=/usr/bin/x\nX-GNOME-Autostart-enabled=false\n", false},
        {"[Desktop Entry]\nExec=\n", false},
        {"[Desktop Entry]\nType=Application\n", false},
        {"", false},
        // Keys of other groups say nothing about the entry.
        {"Exec=/usr/bin/x\n[Desktop Entry]\nType=Application\n", false},
        {"[Desktop Action quit]\nExec=/usr/bin/x -quit\n[Desktop Entry]\nName=x\n", false},
        {"[Desktop Entry]\nExec=/usr/bin/x\n[Desktop Action hide]\nHidden=true\n", true},
        {"[Desktop Entry Extra]\nExec=/usr/bin/x\n", false},
        // A key that only begins with the name is another key.
        {"[Desktop Entry]\nExec=/usr/bin/x\nHiddenX=true\nExec[de]=\n", true},
    };
    for (const Case& c : cases) EXPECT_EQ(DesktopEntryEnabled(c.text), c.enabled) << c.text;
}

TEST(Platform, AutostartExecQuotesThePath) {
    dmtest::TempDir dir;
    TAutostartPaths paths{dir.Folder() + "user/", {dir.Folder() + "system/"}};
    struct Case {
        std::string path, exec;
    } cases[] = {
        {"/usr/bin/invara-desktop-manager", "Exec=\"/usr/bin/invara-desktop-manager\""},
        {"/opt/my apps/dm", "Exec=\"/opt/my apps/dm\""},
        {"/opt/a\"b$c`d/dm", "Exec=\"/opt/a\\\\\"b\\\\$c\\\\`d/dm\""},
        {"/opt/back\\slash/100%/dm", "Exec=\"/opt/back\\\\\\\\slash/100%%/dm\""},
    };
    for (const Case& c : cases) {
        SetAutostart(paths, true, c.path);
        const std::string text = dmtest::ReadFileBytes(paths.UserFolder + AutostartFileName);
        std::string exec;
        ASSERT_TRUE(DesktopEntryValue(text, "Exec", exec)) << text;
        EXPECT_EQ("Exec=" + exec, c.exec) << c.path;
        EXPECT_TRUE(DesktopEntryEnabled(text));
    }
}

TEST(Platform, ShellOpenGoesThroughTheOpener) {
    std::vector<std::string> opened;
    ShellOpener previous = SetShellOpener([&](const std::string& t) { opened.push_back(t); });
    ShellOpen("http://localhost:8080/securelogin");
    SetShellOpener(previous);
    EXPECT_EQ(opened, (std::vector<std::string>{"http://localhost:8080/securelogin"}));
}

// The handler only wakes the event loop; the program's end runs there, once, however many
// signals came before it turned.
TEST(Platform, TerminationSignalsArriveOnceOnTheEventLoop) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        TTerminationSignals watcher;
        std::vector<int> received;
        QObject::connect(&watcher, &TTerminationSignals::received, [&](int s) { received.push_back(s); });
        std::raise(signal);
        std::raise(signal);
        EXPECT_TRUE(received.empty()) << "nothing runs inside the handler";
        ASSERT_TRUE(dmtest::WaitUntil([&] { return !received.empty(); }));
        dmtest::WaitUntil([] { return false; }, std::chrono::milliseconds(50));
        EXPECT_EQ(received, std::vector<int>{signal});
        EXPECT_EQ(watcher.Received(), signal);
    }
    EXPECT_EQ(TTerminationSignals::ExitCode(SIGTERM), 143);
}

// Addresses from the network: only the web. A program or a local file never opens from there.
TEST(Platform, OnlyWebAddressesComeFromTheNetwork) {
    struct {
        const char* address;
        bool web;
    } cases[] = {
        {"http://x/notice", true},
        {"HTTPS://invara.example:8443/p?q=1#f", true},
        {"/tmp/run.sh", false},
        {"file:///etc/passwd", false},
        {"javascript:alert(1)", false},
        {"smb://server/share/setup.exe", false},
        {"about:blank", false},
        {"http://", false},
        {"http://:80/", false},
        {"http://user:pw@evil.example/", false},
        {"http://x/a b", false},
        {"http://x/\n--run", false},
        {"https://x/\"quoted\"", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsWebAddress(c.address), c.web) << c.address;
}

TEST(Platform, ProgramOrDocumentByWhatTheFileIs) {
    dmtest::TempDir dir;
    const fs::path marker = dir.Path() / "ran";
    const fs::path script = dir.Path() / "run.sh";
    dmtest::WriteFileBytes(script, "#!/bin/sh\ntouch '" + marker.string() + "'\n");
    fs::permissions(script, fs::perms::owner_all);
    // A document on a share that marks every file executable.
    const fs::path pdf = dir.Path() / "invoice.pdf";
    dmtest::WriteFileBytes(pdf, "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<<>>\nendobj\n");
    fs::permissions(pdf, fs::perms::owner_all);
    const fs::path entry = dir.Path() / "app.desktop";
    dmtest::WriteFileBytes(entry, "[Desktop Entry]\nType=Application\nExec=/bin/true\n");
    EXPECT_EQ(ShellFileKind(script.string()), TFileKind::Program);
    EXPECT_EQ(ShellFileKind(entry.string()), TFileKind::Program);
    EXPECT_EQ(ShellFileKind("/bin/true"), TFileKind::Program);
    EXPECT_EQ(ShellFileKind(pdf.string()), TFileKind::Document);
    EXPECT_EQ(ShellFileKind((dir.Path() / "missing").string()), TFileKind::Missing);

    // The service names the script as a popup address: refused, and it never runs.
    EXPECT_FALSE(OpenWebAddress(script.string()));
    EXPECT_FALSE(OpenWebAddress("file://" + script.string()));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(fs::exists(marker));
    // The user chose it (a command after an import): it runs, so the check above could see it.
    EXPECT_TRUE(ShellOpen(script.string()));
    for (int i = 0; i < 100 && !fs::exists(marker); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(fs::exists(marker));
}
