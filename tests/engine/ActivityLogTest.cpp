#include "engine/ActivityLog.h"
#include "platform/DateTimeText.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

using namespace dm;
namespace fs = std::filesystem;

namespace {

const QDateTime Noon(QDate(2009, 6, 19), QTime(22, 22, 17));

struct LogFixture {
    dmtest::TempDir dir;
    bool noLogs = false;
    QDateTime now = Noon;
    TActivityLog log{dir.Folder(), noLogs, [this] { return now; }};
    std::string Text() const { return dmtest::ReadFileBytes(dir.Path() / "log.txt"); }
    std::string Stamp() const { return DateTimeText(now); }
};

} // namespace

TEST(ActivityLog, SessionLinesHaveTheirExactForms) {
    EXPECT_EQ(std::string(LogSessionBeginMarker).size(), 39u);
    EXPECT_EQ(std::string(LogSessionEndMarker).size(), 37u);
    LogFixture f;
    f.log.BeginLogSession("1234");
    f.log.LogLine("  Sending authentication request.  ", "<a>\r\n</a>");
    f.log.LogLine("\tDone.\r\n");
    f.log.EndLogSession(false);
    const std::string ts = f.Stamp();
    EXPECT_EQ(f.Text(), "## ---------- BEGIN SESSION ---------- " + ts + " # 1234\r\n"
                        "## " + ts + " # Sending authentication request.\r\n"
                        "<a>\r\n</a>\r\n"
                        "## " + ts + " # Done.\r\n"
                        "## ---------- END SESSION ---------- " + ts + "\r\n");
    EXPECT_FALSE(f.log.IsOpen());
    EXPECT_EQ(fs::status(f.dir.Path() / "log.txt").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST(ActivityLog, FailedSessionHasNoEndAndTheNextFollows) {
    LogFixture f;
    f.now = QDateTime(QDate(2026, 3, 1), QTime(0, 0)); // midnight: the time is left out
    f.log.BeginLogSession("");
    f.log.LogLine("Failed.");
    f.log.EndLogSession(true);
    f.log.LogLine("not written: no session");
    f.log.BeginLogSession("7");
    const std::string ts = f.Stamp();
    EXPECT_EQ(ts.find(':'), std::string::npos);
    EXPECT_EQ(f.Text(), "## ---------- BEGIN SESSION ---------- " + ts + "\r\n"
                        "## " + ts + " # Failed.\r\n"
                        "## ---------- BEGIN SESSION ---------- " + ts + " # 7\r\n");
}

TEST(ActivityLog, NoLogsWritesNothing) {
    LogFixture f;
    f.noLogs = true;
    f.log.BeginLogSession("1");
    f.log.LogLine("x");
    f.log.EndLogSession(false);
    EXPECT_FALSE(fs::exists(f.dir.Path() / "log.txt"));
    f.noLogs = false; // read again at the next session
    f.log.BeginLogSession("1");
    EXPECT_TRUE(fs::exists(f.dir.Path() / "log.txt"));
}

TEST(ActivityLog, RotationAtOneMebibyteToTheSmallestFreeNumber) {
    struct Case {
        std::int64_t size;
        std::vector<int> existing;
        int rotatedTo; // 0: appended
    } cases[] = {
        {1048575, {}, 0},
        {1048576, {}, 1},
        {1048576, {1, 3}, 2},
    };
    for (const Case& c : cases) {
        LogFixture f;
        dmtest::WriteFileBytes(f.dir.Path() / "log.txt", std::string(static_cast<size_t>(c.size), 'x'));
        for (int n : c.existing) dmtest::WriteFileBytes(f.dir.Path() / ("log_" + std::to_string(n) + ".txt"), "old");
        f.log.BeginLogSession("1");
        f.log.EndLogSession(true);
        if (c.rotatedTo == 0) {
            EXPECT_EQ(fs::file_size(f.dir.Path() / "log.txt"), static_cast<std::uintmax_t>(c.size) +
                      std::string(LogSessionBeginMarker).size() + f.Stamp().size() + 6);
        } else {
            EXPECT_EQ(fs::file_size(f.dir.Path() / ("log_" + std::to_string(c.rotatedTo) + ".txt")),
                      static_cast<std::uintmax_t>(c.size));
            EXPECT_EQ(f.Text().rfind(LogSessionBeginMarker, 0), 0u);
        }
    }
}

TEST(ActivityLog, FailedRotationKeepsTheLogWhole) {
    LogFixture f;
    const std::string big(1048576, 'x');
    dmtest::WriteFileBytes(f.dir.Path() / "log.txt", big);
    // A folder whose entries cannot be renamed: read-only for a user, immutable for root.
    const std::string folder = f.dir.Path().string();
    const bool root = geteuid() == 0;
    if (root && std::system(("chattr +i '" + folder + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "this file system cannot make a folder immutable";
    if (!root) chmod(folder.c_str(), 0500);
    testing::internal::CaptureStderr();
    for (int session = 0; session < 3; ++session) {
        f.log.BeginLogSession("1");
        f.log.EndLogSession(false);
    }
    const std::string said = testing::internal::GetCapturedStderr();
    if (root) std::system(("chattr -i '" + folder + "'").c_str());
    else chmod(folder.c_str(), 0700);
    EXPECT_FALSE(fs::exists(f.dir.Path() / "log_1.txt"));
    const std::string text = f.Text();
    EXPECT_EQ(text.substr(0, big.size()), big);
    EXPECT_NE(text.find(LogSessionEndMarker, big.size()), std::string::npos);
    // Said once, in one line, however many sessions find it stuck.
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("cannot rotate"), std::string::npos) << said;
}

TEST(ActivityLog, PruningKeepsTheTenHighest) {
    struct Case {
        std::vector<std::string> files;
        std::vector<std::string> deleted;
    } cases[] = {
        {{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"}, {"1"}},
        {{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}, {}},
        {{"2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "100"}, {"2", "3"}},
        // Names that rotation does not make are left alone, the viewer's copy above all.
        {{"0", "abc", "01", "", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"}, {"1"}},
    };
    for (const Case& c : cases) {
        dmtest::TempDir dir;
        for (const std::string& n : c.files) dmtest::WriteFileBytes(dir.Path() / ("log_" + n + ".txt"), "x");
        PruneLogs(dir.Folder());
        for (const std::string& n : c.files) {
            bool gone = std::find(c.deleted.begin(), c.deleted.end(), n) != c.deleted.end();
            EXPECT_EQ(fs::exists(dir.Path() / ("log_" + n + ".txt")), !gone) << "log_" << n;
        }
    }
}
