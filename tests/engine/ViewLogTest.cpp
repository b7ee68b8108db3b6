// The log viewer's engine on log folders: the file list and its snapshot, choosing files,
// sessions and events, deleting files, reading a large log in slices, and sending a session to
// the local service.

#include "core/General.h"
#include "engine/ActivityLog.h"
#include "engine/AppState.h"
#include "engine/ViewLog.h"
#include "platform/DateTimeText.h"
#include "platform/System.h"

#include "EventLoop.h"
#include "ScriptedPrompts.h"
#include "TestService.h"
#include "TestSupport.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>

using namespace dm;
namespace fs = std::filesystem;

namespace {

struct LogFolder {
    dmtest::TempDir dir;
    bool noLogs = false;
    QDateTime now{QDate(2024, 5, 1), QTime(9, 30, 0)};
    TActivityLog writer{dir.Folder(), noLogs, [this] { return now; }};
    dmtest::TScriptedPrompts prompts;
    bool writing = false;
    std::unique_ptr<TViewLog> viewer;

    // A session of `events` plain events.
    void Session(const std::string& id, int events, bool failed) {
        writer.BeginLogSession(id);
        for (int i = 0; i < events; ++i) writer.LogLine("Event " + std::to_string(i), "detail " + std::to_string(i));
        writer.EndLogSession(failed);
        now = now.addSecs(60);
    }
    void SetModified(const std::string& name, const QDateTime& when) {
        fs::last_write_time(dir.Path() / name,
                            fs::file_time_type::clock::now() +
                                std::chrono::seconds(QDateTime::currentDateTime().secsTo(when)));
    }
    TViewLog& Open(const std::string& businessUrl = "http://127.0.0.1:1/business/") {
        viewer = std::make_unique<TViewLog>(dir.Folder(), businessUrl, prompts, [this] { return writing; });
        viewer->FormCreate();
        EXPECT_TRUE(dmtest::WaitUntil([&] { return !viewer->Busy(); }));
        return *viewer;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const TLogFileEntry& e : viewer->LogFiles) names.push_back(e.Name);
        return names;
    }
};

} // namespace

TEST(ViewLog, FileListSnapshotAndItsRemoval) {
    LogFolder f;
    f.Session("1001", 2, false);
    for (const char* past : {"log_1.txt", "log_2.txt", "log_3.txt", "log_10.txt"})
        dmtest::WriteFileBytes(f.dir.Path() / past, "");
    const QDateTime older(QDate(2024, 1, 2), QTime(10, 0, 20)), newer(QDate(2024, 3, 1), QTime(8, 5, 0));
    f.SetModified("log_1.txt", older);
    f.SetModified("log_2.txt", newer);
    f.SetModified("log_3.txt", older.addSecs(30)); // the same minute as log_1.txt and log_10.txt
    f.SetModified("log_10.txt", older);

    TViewLog& v = f.Open();
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"log_0.txt", "log_2.txt", "log_3.txt", "log_10.txt", "log_1.txt"}))
        << "newest first; within one minute names in reverse order";
    EXPECT_EQ(v.LogFiles[0].Text, "Current Log File");
    const QDateTime log2 = QDateTime::fromSecsSinceEpoch(QDateTime(newer).toSecsSinceEpoch());
    EXPECT_EQ(v.LogFiles[1].Text, "Past log file - " + DateTimeText(log2));
    EXPECT_EQ(dmtest::ReadFileBytes(f.dir.Path() / "log_0.txt"), dmtest::ReadFileBytes(f.dir.Path() / "log.txt"));
    EXPECT_EQ(v.LogFileIndex, 0);
    EXPECT_EQ(v.Sessions.size(), 1u) << "the snapshot is loaded first";
    EXPECT_FALSE(v.DeleteLogFileEnabled());

    f.viewer.reset();
    EXPECT_FALSE(fs::exists(f.dir.Path() / "log_0.txt")) << "the snapshot goes with the viewer";
    EXPECT_TRUE(fs::exists(f.dir.Path() / "log.txt"));

    fs::remove(f.dir.Path() / "log.txt");
    f.Open();
    EXPECT_EQ(f.Names().front(), "log_2.txt") << "no current log, no snapshot";
}

TEST(ViewLog, NoLogAtAll) {
    LogFolder f;
    TViewLog& v = f.Open();
    EXPECT_TRUE(v.LogFiles.empty());
    EXPECT_TRUE(v.Sessions.empty());
    EXPECT_TRUE(v.Events.empty());
    EXPECT_EQ(v.Content, "");
    EXPECT_EQ(v.LogFileIndex, -1);
    EXPECT_EQ(v.SessionIndex, -1);
    EXPECT_FALSE(fs::exists(f.dir.Path() / "log_0.txt"));
    v.btnSendSessionClick();
    EXPECT_FALSE(v.Sending);
}

TEST(ViewLog, EventPositionKeptAcrossSessions) {
    LogFolder f;
    f.Session("1", 3, false);
    f.Session("2", 5, true);
    TViewLog& v = f.Open();
    ASSERT_EQ(v.Sessions.size(), 2u);
    EXPECT_EQ(v.SessionIndex, 0);
    EXPECT_FALSE(v.Sessions[0].Completed);
    EXPECT_EQ(v.Events.size(), 5u) << "the newest session is first and loaded";
    EXPECT_EQ(v.EventIndex, 0) << "the first event is selected at first";
    EXPECT_EQ(v.Content, "detail 0\r\n");

    v.lbxEventsClick(2);
    EXPECT_EQ(v.Content, "detail 2\r\n");
    v.lbxSessionsClick(1);
    EXPECT_EQ(v.Events.size(), 3u);
    EXPECT_EQ(v.EventIndex, 2) << "the position is kept";
    EXPECT_EQ(v.Content, "detail 2\r\n");

    v.lbxSessionsClick(0);
    v.lbxEventsClick(4);
    v.lbxSessionsClick(1);
    EXPECT_EQ(v.EventIndex, -1) << "a shorter session selects nothing";
    EXPECT_EQ(v.LastEventIndex, 0);
    EXPECT_EQ(v.Content, "");
    v.lbxSessionsClick(0);
    EXPECT_EQ(v.EventIndex, 0);
}

TEST(ViewLog, DeletingLogFiles) {
    LogFolder f;
    f.Session("1", 1, false);
    dmtest::WriteFileBytes(f.dir.Path() / "log_1.txt", std::string(LogSessionBeginMarker) + "1/1/2024 1:00:00 AM\r\n");
    dmtest::WriteFileBytes(f.dir.Path() / "log_2.txt", "");
    f.SetModified("log_1.txt", QDateTime(QDate(2024, 2, 1), QTime(1, 0)));
    f.SetModified("log_2.txt", QDateTime(QDate(2024, 1, 1), QTime(1, 0)));
    TViewLog& v = f.Open();
    ASSERT_EQ(f.Names(), (std::vector<std::string>{"log_0.txt", "log_1.txt", "log_2.txt"}));

    v.btnDeleteLogFileClick();
    EXPECT_TRUE(f.prompts.questions.empty()) << "the snapshot cannot be deleted singly";
    EXPECT_TRUE(fs::exists(f.dir.Path() / "log_0.txt"));

    v.lbxLogFileClick(1);
    EXPECT_TRUE(v.DeleteLogFileEnabled());
    EXPECT_EQ(v.Sessions.size(), 1u);
    f.prompts.answers = {TAnswer::No};
    v.btnDeleteLogFileClick();
    EXPECT_EQ(f.prompts.questions.back(), DeleteLogFileQuestion);
    EXPECT_TRUE(fs::exists(f.dir.Path() / "log_1.txt"));

    f.prompts.answers = {TAnswer::Yes};
    v.btnDeleteLogFileClick();
    EXPECT_FALSE(fs::exists(f.dir.Path() / "log_1.txt"));
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"log_0.txt", "log_2.txt"}));
    EXPECT_EQ(v.LogFileIndex, 1) << "the entry now at the same position";
    EXPECT_TRUE(v.Sessions.empty());

    f.prompts.answers = {TAnswer::Yes};
    v.btnDeleteLogFileClick();
    EXPECT_EQ(v.LogFileIndex, 0) << "the last one when the removed entry was last";
    EXPECT_EQ(v.Sessions.size(), 1u);

    // The only file left, deleted: every list empty.
    f.viewer.reset();
    fs::remove(f.dir.Path() / "log.txt");
    dmtest::WriteFileBytes(f.dir.Path() / "log_4.txt", std::string(LogSessionBeginMarker) + "x\r\n## a b # c\r\nd\r\n");
    TViewLog& only = f.Open();
    ASSERT_EQ(only.Events.size(), 1u);
    f.prompts.answers = {TAnswer::Yes};
    only.btnDeleteLogFileClick();
    EXPECT_TRUE(only.LogFiles.empty());
    EXPECT_TRUE(only.Sessions.empty());
    EXPECT_TRUE(only.Events.empty());
    EXPECT_EQ(only.Content, "");
}

TEST(ViewLog, DeleteAllLogs) {
    for (bool writing : {false, true}) {
        SCOPED_TRACE(writing ? "a session is writing" : "no session");
        LogFolder f;
        f.Session("1", 1, false);
        dmtest::WriteFileBytes(f.dir.Path() / "log_1.txt", "");
        dmtest::WriteFileBytes(f.dir.Path() / "log_12.txt", "");
        f.writing = writing;
        TViewLog& v = f.Open();
        int closes = 0;
        QObject::connect(&v, &TViewLog::closeRequested, [&] { ++closes; });
        f.prompts.answers = {TAnswer::No};
        v.btnDeleteAllLogsClick();
        EXPECT_EQ(f.prompts.questions.back(), DeleteAllLogsQuestion);
        EXPECT_EQ(closes, 0);
        f.prompts.answers = {TAnswer::Yes};
        v.btnDeleteAllLogsClick();
        EXPECT_EQ(closes, 1);
        EXPECT_EQ(f.prompts.messages, std::vector<std::string>{AllLogsDeletedMessage});
        std::vector<std::string> left;
        ListFiles(f.dir.Folder(), "*.txt", left);
        EXPECT_EQ(left, writing ? std::vector<std::string>{f.dir.Folder() + "log.txt"} : std::vector<std::string>{})
            << "the log a session writes stays";
    }
}

TEST(ViewLog, LargeLogIsReadInSlicesWithProgress) {
    LogFolder f;
    // Past the rotation size: the lines as the writer forms them, in one file.
    const std::string detail(2000, 'd');
    std::string log;
    for (int s = 0; s < 400; ++s) {
        log += LogBeginLine("5/1/2024 9:30:00 AM", std::to_string(s));
        for (int e = 0; e < 10; ++e) log += LogEventLine("5/1/2024 9:30:01 AM", "Event " + std::to_string(e)) + detail + "\r\n";
        if (s % 3 != 0) log += LogEndLine("5/1/2024 9:31:00 AM");
    }
    dmtest::WriteFileBytes(f.dir.Path() / "log.txt", log);
    TViewLog v(f.dir.Folder(), "", f.prompts);
    v.SliceBytes = 64 * 1024;
    v.SliceMilliseconds = 0;
    std::vector<int> progress;
    int idle = 0;
    QObject::connect(&v, &TViewLog::progress, [&](int p) { progress.push_back(p); });
    QObject::connect(&v, &TViewLog::idle, [&] { ++idle; });
    v.FormCreate();
    EXPECT_TRUE(v.Busy()) << "FormCreate returns while the copy and the parse go on";
    EXPECT_TRUE(v.LogFiles.empty());
    ASSERT_TRUE(dmtest::WaitUntil([&] { return !v.Busy(); }));
    EXPECT_GT(progress.size(), 20u);
    EXPECT_EQ(idle, 1);
    ASSERT_EQ(v.Sessions.size(), 400u);
    EXPECT_EQ(v.Sessions[0].Text.substr(v.Sessions[0].Text.size() - 6), " # 399");
    EXPECT_FALSE(v.Sessions[0].Completed);
    EXPECT_TRUE(v.Sessions[1].Completed);
    EXPECT_EQ(v.Events.size(), 10u);
    EXPECT_EQ(v.Content, detail + "\r\n");

    // Choosing while reading drops the read that was going on.
    v.lbxLogFileClick(0);
    ASSERT_TRUE(v.Busy());
    v.lbxLogFileClick(0);
    ASSERT_TRUE(dmtest::WaitUntil([&] { return !v.Busy(); }));
    EXPECT_EQ(v.Sessions.size(), 400u);
}

TEST(ViewLog, SendSessionToSupport) {
    LogFolder f;
    f.writer.BeginLogSession("1001");
    f.writer.LogLine("Received a SendRequest response from the server.", "<qbxml>\n<a/>\n</qbxml>");
    f.writer.EndLogSession(false);
    f.Session("1002", 1, true);
    TTestService service(ScenarioFromJson({{"accounts", nlohmann::json::array()},
                                           {"faults", nlohmann::json::array({nlohmann::json{
                                                          {"endpoint", "dm_send_session.php"},
                                                          {"skip", 1},
                                                          {"delay_ms", 1500}}})}}));
    const int port = service.Start("127.0.0.1", 0);
    const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";
    TViewLog& v = f.Open(base + "business/");
    v.lbxSessionsClick(1);
    v.btnSendSessionClick();
    EXPECT_TRUE(v.Sending);
    v.btnSendSessionClick(); // nothing while one is on its way
    ASSERT_TRUE(dmtest::WaitUntil([&] { return !v.Sending; }));
    EXPECT_EQ(f.prompts.messages, std::vector<std::string>{SessionSentMessage});

    httplib::Client client("127.0.0.1", port);
    auto state = nlohmann::json::parse(client.Get("/_test/state")->body);
    ASSERT_EQ(state["sent_sessions"].size(), 1u);
    std::string expected = dmtest::ReadFileBytes(f.dir.Path() / "log.txt");
    expected = expected.substr(0, expected.find(LogSessionBeginMarker, 1));
    // Every line goes with CR LF, so the LF-only lines of the detail come with one.
    EXPECT_EQ(state["sent_sessions"][0].get<std::string>(), ReplaceText('\n', "\r\n", ReplaceText('\r', "", expected)));
    auto requests = nlohmann::json::parse(client.Get("/_test/requests")->body);
    EXPECT_EQ(requests.back()["query"].dump(), R"({"DBGSESSID":"1"})");

    // An answer after the viewer has gone tells nobody.
    v.btnSendSessionClick();
    f.viewer.reset();
    QElapsedTimer waited;
    waited.start();
    dmtest::WaitUntil([&] { return waited.elapsed() > 2500; }, std::chrono::seconds(5));
    EXPECT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_EQ(nlohmann::json::parse(client.Get("/_test/state")->body)["sent_sessions"].size(), 2u);
    service.Stop();
}
