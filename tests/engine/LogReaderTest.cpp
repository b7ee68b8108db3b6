// Reading the activity log back, against logs its own writer wrote: sessions and their ends,
// the events of a session with "Web response - " runs folded, event details, the session text
// for support, and the line ends and block boundaries a reader can trip over.

#include "core/General.h"
#include "engine/ActivityLog.h"
#include "engine/LogReader.h"
#include "platform/DateTimeText.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace dm;

namespace {

struct WrittenLog {
    dmtest::TempDir dir;
    bool noLogs = false;
    QDateTime now{QDate(2023, 12, 5), QTime(10, 15, 0)};
    TActivityLog log{dir.Folder(), noLogs, [this] { return now; }};
    std::string Path() const { return dir.Folder() + "log.txt"; }
    std::string Stamp() const { return DateTimeText(now); }
};

template <class Scan>
Scan& Finish(Scan& scan, std::int64_t slice = 1 << 20) {
    while (!scan.Step(slice)) {
    }
    return scan;
}

std::vector<std::string> Texts(const std::vector<TLogEvent>& events) {
    std::vector<std::string> texts;
    for (const TLogEvent& e : events) texts.push_back(e.Text);
    return texts;
}

std::string Unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

} // namespace

TEST(LogReader, TextRules) {
    struct Case {
        std::string line, listText, message;
    } cases[] = {
        {"## 12/5/2023 10:15:00 AM # Sending authentication request.", "10:15:00 AM # Sending authentication request.",
         "Sending authentication request."},
        {"## 3/1/2026 # At midnight the time is left out", "# At midnight the time is left out",
         "At midnight the time is left out"},
        {"## 12/5/2023 10:15:00 AM # Value # with a hash", "10:15:00 AM # Value # with a hash", "Value # with a hash"},
        {"##nodate", "nodate", "nodate"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EventListText(c.line), c.listText) << c.line;
        EXPECT_EQ(EventMessage(c.line), c.message) << c.line;
    }
    EXPECT_EQ(SessionLabel("12/5/2023 10:15:00 AM # 1234"), "1234 on 12/5/2023 at 10:15:00 AM");
    EXPECT_EQ(SessionLabel("12/5/2023 10:15:00 AM"), "12/5/2023 at 10:15:00 AM");
    EXPECT_EQ(SessionLabel("3/1/2026 # 7"), "7 on 3/1/2026");
}

TEST(LogReader, SessionsEventsAndDetailsAsWritten) {
    WrittenLog w;
    w.log.BeginLogSession("1234");
    w.log.LogLine("Sending authentication request.", "<a>\r\n  <b/>\r\n</a>");
    w.log.LogLine("Server authentication successful.");
    w.log.EndLogSession(false);
    w.log.BeginLogSession("");
    w.log.LogLine("QuickBooks could not be started.");
    w.log.EndLogSession(true);
    w.log.BeginLogSession("7");
    w.log.LogLine("Done.", "last");
    w.log.EndLogSession(false);
    const std::string ts = w.Stamp();

    TSessionScan sessions(w.Path());
    Finish(sessions);
    ASSERT_EQ(sessions.Sessions.size(), 3u);
    EXPECT_EQ(sessions.Sessions[0].Text, ts + " # 1234");
    EXPECT_EQ(sessions.Sessions[1].Text, ts);
    EXPECT_EQ(sessions.Sessions[2].Text, ts + " # 7");
    EXPECT_TRUE(sessions.Sessions[0].Completed);
    EXPECT_FALSE(sessions.Sessions[1].Completed) << "a failed session has no end line";
    EXPECT_TRUE(sessions.Sessions[2].Completed);
    EXPECT_EQ(sessions.Sessions[0].Line, 1);
    EXPECT_EQ(sessions.Sessions[1].Line, 8);
    EXPECT_EQ(sessions.Sessions[2].Line, 10);

    TEventScan first(w.Path(), sessions.Sessions[0]);
    Finish(first);
    const std::string time = ts.substr(ts.find(' ') + 1); // the date goes
    EXPECT_EQ(Texts(first.Events), (std::vector<std::string>{time + " # Sending authentication request.",
                                                             time + " # Server authentication successful."}));
    EXPECT_EQ(first.Events[1].Line, 6);

    TEventDetailScan detail(w.Path(), first.Events[0]);
    EXPECT_EQ(Finish(detail).Detail, "<a>\r\n  <b/>\r\n</a>\r\n");
    TEventDetailScan none(w.Path(), first.Events[1]);
    EXPECT_EQ(Finish(none).Detail, "") << "the end line ends the detail";

    // The failed session's events stop at the next start line.
    TEventScan failed(w.Path(), sessions.Sessions[1]);
    EXPECT_EQ(Finish(failed).Events.size(), 1u);

    TSessionTextScan text(w.Path(), sessions.Sessions[1]);
    EXPECT_EQ(Unhex(Finish(text).Hex), LogBeginLine(ts, "") + LogEventLine(ts, "QuickBooks could not be started."))
        << "the next start line is not part of the text";
    TSessionTextScan last(w.Path(), sessions.Sessions[2]);
    EXPECT_EQ(Unhex(Finish(last).Hex), LogBeginLine(ts, "7") + LogEventLine(ts, "Done.") + "last\r\n" + LogEndLine(ts));
    EXPECT_EQ(Finish(last).Hex.substr(0, 4), "2323") << "two upper-case digits per byte";
}

TEST(LogReader, WebResponseRunIsOneEventHoldingItsTexts) {
    WrittenLog w;
    w.log.BeginLogSession("1001");
    for (const char* m : {"Sending authentication request.", "Web response - Status code: 200",
                          "Web response - Status text: OK", "Web response - Progress: 512", "Web response - Progress: 512",
                          "Web response - Progress: 512", "Web response - Done", "Server authentication successful.",
                          "Web response - Progress: 9", "Web response - Progress: 9", "Web response - Progress: 9",
                          "Web response - Done"})
        w.log.LogLine(m, std::string(m) == "Web response - Done" ? "<body/>" : "");
    w.log.EndLogSession(false);

    TSessionScan sessions(w.Path());
    TEventScan events(w.Path(), Finish(sessions).Sessions.at(0));
    Finish(events);
    ASSERT_EQ(events.Events.size(), 4u) << "each run of web responses is listed by its first event";
    EXPECT_NE(events.Events[1].Text.find("# Web response - Status code: 200"), std::string::npos);
    EXPECT_NE(events.Events[3].Text.find("# Web response - Progress: 9"), std::string::npos);

    TEventDetailScan run(w.Path(), events.Events[1]);
    EXPECT_EQ(Finish(run).Detail, "Status code: 200\r\nStatus text: OK\r\nProgress: 512\r\nDone\r\n<body/>\r\n")
        << "repeats left out, detail lines of the run kept";
    // The run's first text is not compared with the next one; later repeats are left out.
    TEventDetailScan second(w.Path(), events.Events[3]);
    EXPECT_EQ(Finish(second).Detail, "Progress: 9\r\nProgress: 9\r\nDone\r\n<body/>\r\n");
    TEventDetailScan plain(w.Path(), events.Events[0]);
    EXPECT_EQ(Finish(plain).Detail, "") << "another event ends a detail";
}

TEST(LogReader, LineEndsBlockBoundariesAndSlices) {
    const std::string start = std::string(LogSessionBeginMarker) + "1/2/2024 10:00:00 AM # 1";
    const std::string end = std::string(LogSessionEndMarker) + "1/2/2024 10:00:09 AM";
    const std::string huge(700 * 1024, 'x'); // longer than a read block
    struct Case {
        const char* name;
        std::string file;
        std::string detail; // of the one event
        std::string sent;   // the session text
    } cases[] = {
        {"CR LF", start + "\r\n## d t # e\r\nline\r\n" + end + "\r\n", "line\r\n",
         start + "\r\n## d t # e\r\nline\r\n" + end + "\r\n"},
        {"LF only", start + "\n## d t # e\nline\n" + end + "\n", "line\r\n",
         start + "\r\n## d t # e\r\nline\r\n" + end + "\r\n"},
        {"no final line end", start + "\r\n## d t # e\r\nline", "line\r\n", start + "\r\n## d t # e\r\nline\r\n"},
        {"a CR inside a line", start + "\r\n## d t # e\r\na\rb\r\n", "a\rb\r\n", start + "\r\n## d t # e\r\na\rb\r\n"},
        {"a line longer than a block", start + "\r\n## d t # e\r\n" + huge + "\r\n" + end + "\r\n", huge + "\r\n",
         start + "\r\n## d t # e\r\n" + huge + "\r\n" + end + "\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dmtest::TempDir dir;
        const std::string path = dir.Folder() + "log_1.txt";
        dmtest::WriteFileBytes(path, c.file);
        for (std::int64_t slice : {std::int64_t(1), std::int64_t(1) << 20}) {
            TSessionScan sessions(path);
            Finish(sessions, slice);
            ASSERT_EQ(sessions.Sessions.size(), 1u);
            TEventScan events(path, sessions.Sessions[0]);
            ASSERT_EQ(Finish(events, slice).Events.size(), 1u);
            EXPECT_EQ(events.Events[0].Text, "t # e");
            TEventDetailScan detail(path, events.Events[0]);
            EXPECT_EQ(Finish(detail, slice).Detail, c.detail);
            TSessionTextScan text(path, sessions.Sessions[0]);
            EXPECT_EQ(Unhex(Finish(text, slice).Hex), c.sent);
        }
    }
}

TEST(LogReader, MissingOrChangedFileGivesNothing) {
    dmtest::TempDir dir;
    TSessionScan missing(dir.Folder() + "log_9.txt");
    EXPECT_TRUE(missing.Done());
    EXPECT_EQ(missing.Percent(), 100);
    EXPECT_TRUE(missing.Sessions.empty());

    // Offsets of a file that has since been replaced point at other lines.
    const std::string path = dir.Folder() + "log_1.txt";
    dmtest::WriteFileBytes(path, "detail\r\n## d t # e\r\n");
    TLogSession stale{"x", false, 1, 0};
    TEventScan events(path, stale);
    EXPECT_TRUE(Finish(events).Events.empty());
    TLogEvent staleEvent{"t # e", 1, 0};
    TEventDetailScan detail(path, staleEvent);
    EXPECT_EQ(Finish(detail).Detail, "");
    TSessionTextScan text(path, stale);
    EXPECT_EQ(Finish(text).Hex, "");
}

TEST(LogReader, CopyInSteps) {
    dmtest::TempDir dir;
    std::string bytes(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    dmtest::WriteFileBytes(dir.Path() / "log.txt", bytes);
    TFileCopy copy(dir.Folder() + "log.txt", dir.Folder() + "log_0.txt");
    int steps = 0, percent = 0;
    while (!copy.Step(1024 * 1024)) {
        EXPECT_GE(copy.Percent(), percent);
        percent = copy.Percent();
        ++steps;
    }
    EXPECT_GE(steps, 3);
    EXPECT_EQ(dmtest::ReadFileBytes(dir.Path() / "log_0.txt"), bytes);
    TFileCopy none(dir.Folder() + "nothing.txt", dir.Folder() + "log_5.txt");
    EXPECT_TRUE(none.Step(1));
}
