// The log viewer on logs written by real sessions of the engine against the local service:
// empty folder, failed and completed sessions as drawn, web-response runs, the kept event
// position, deleting files, and a session sent to support, with screenshots.

#include "core/General.h"
#include "engine/ViewLog.h"
#include "gui/dialogs/ViewLogView.h"
#include "gui/main/Main.h"

#include "EventLoop.h"
#include "GuiSupport.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QProgressBar>
#include <QComboBox>
#include <QListView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <sstream>

using namespace dm;
using dmtest::Account;
using dmtest::Business;
using dmtest::TWindowFixture;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

// One biller; its second authentication fails, so the log holds a completed and a failed session.
struct LoggedSessions : TWindowFixture {
    LoggedSessions()
        : TWindowFixture(json::array({Account("ann", "Harbour Supplies", "1001")}),
                         json::array({json{{"operation", "authenticate"}, {"status", 500}, {"skip", 1}}})) {
        Settings(Business("ann", "Harbour Supplies", "1001"));
        Open();
        EXPECT_TRUE(WaitConfirmed());
        int finished = 0;
        QObject::connect(engine.get(), &TMainEngine::sessionFinished, [&finished](TSync*) { ++finished; });
        for (int session = 1; session <= 2; ++session) {
            Biller(0)->btnSyncNowClick(true);
            EXPECT_TRUE(dmtest::WaitUntil([&] { return finished == session && !engine->SyncInProgress(); },
                                          std::chrono::seconds(30)));
        }
        EXPECT_FALSE(engine->LogSessionOpen());
    }
    std::unique_ptr<TViewLog> log;
    std::unique_ptr<TViewLogView> view;
    void OpenViewer() {
        log = std::make_unique<TViewLog>(app.StorageFolder, app.BusinessUrl, prompts);
        view = std::make_unique<TViewLogView>(*log);
        view->show();
        EXPECT_TRUE(dmtest::WaitUntil([&] { return !log->Busy(); }));
    }
    int Rows(QListView* list) const { return list->model()->rowCount(); }
};

bool HasColour(const QImage& image, const QRect& area, QColor colour) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixelColor(x, y) == colour) return true;
    return false;
}

} // namespace

TEST(LogViewer, NoLogAtAll) {
    TWindowFixture f(json::array());
    TViewLog log(f.app.StorageFolder, f.app.BusinessUrl, f.prompts);
    TViewLogView view(log);
    view.show();
    EXPECT_EQ(view.windowTitle(), "View Log");
    EXPECT_EQ(view.lbxLogFile->count(), 0);
    EXPECT_EQ(view.lbxSessions->model()->rowCount(), 0);
    EXPECT_EQ(view.lbxEvents->model()->rowCount(), 0);
    EXPECT_EQ(view.txtContent->toPlainText(), "");
    EXPECT_FALSE(view.btnDeleteLogFile->isEnabled());
    dmtest::SaveScreenshot(&view, "logviewer_empty");
}

TEST(LogViewer, FailedAndCompletedSessionsOfRealRuns) {
    LoggedSessions f;
    f.OpenViewer();
    TViewLogView& v = *f.view;
    ASSERT_EQ(v.lbxLogFile->count(), 1);
    EXPECT_EQ(v.lbxLogFile->itemText(0), "Current Log File");
    EXPECT_FALSE(v.btnDeleteLogFile->isEnabled()) << "the current log cannot be deleted singly";
    ASSERT_EQ(f.Rows(v.lbxSessions), 2);
    EXPECT_FALSE(f.log->Sessions[0].Completed) << "the newest, failed session is first";
    EXPECT_TRUE(f.log->Sessions[1].Completed);
    const QString label = v.lbxSessions->model()->index(1, 0).data().toString();
    EXPECT_TRUE(label.startsWith("1001 on ")) << label.toStdString();
    EXPECT_TRUE(label.contains(" at ")) << label.toStdString();
    EXPECT_EQ(v.lbxSessions->currentIndex().row(), 0);

    // The completed session selected: the failed one shows its red text and mark, the completed
    // one its green dot.
    v.lbxSessions->setCurrentIndex(v.lbxSessions->model()->index(1, 0));
    const QImage drawn = v.lbxSessions->viewport()->grab().toImage();
    const QRect failedRow = v.lbxSessions->visualRect(v.lbxSessions->model()->index(0, 0));
    const QRect completedRow = v.lbxSessions->visualRect(v.lbxSessions->model()->index(1, 0));
    const int h = v.lbxSessions->fontMetrics().height();
    EXPECT_TRUE(HasColour(drawn, failedRow.adjusted(h + 2, 0, 0, 0), QColor(255, 0, 0))) << "red text";
    EXPECT_TRUE(HasColour(drawn, QRect(failedRow.left() + 1, failedRow.top() + 2, 11, 11), QColor(210, 30, 30)))
        << "the failure mark";
    const QPoint dot(completedRow.left() + 5 + (h - 7) / 2, completedRow.top() + 5 + (h - 7) / 2);
    EXPECT_EQ(drawn.pixelColor(dot), QColor(0, 128, 0));
    dmtest::SaveScreenshot(&v, "logviewer_failed_and_completed");

    // The completed session's web responses: each run is one event holding its texts.
    ASSERT_GT(f.Rows(v.lbxEvents), 4);
    const std::vector<TLogEvent>& events = f.log->Events;
    int run = -1;
    for (size_t i = 0; i < events.size(); ++i) {
        const bool web = events[i].Text.find("# Web response - ") != std::string::npos;
        if (web && run < 0) run = static_cast<int>(i);
        if (i > 0 && web)
            EXPECT_EQ(events[i - 1].Text.find("# Web response - "), std::string::npos) << "two runs side by side";
    }
    ASSERT_GE(run, 0);
    v.lbxEvents->setCurrentIndex(v.lbxEvents->model()->index(run, 0));
    // In the file the run is seven events: status code, status text, content type, length, the
    // progress twice (the last read reports again), done. The detail holds the six texts.
    std::vector<std::string> texts;
    {
        std::istringstream in(dmtest::ReadFileBytes(fs::path(f.app.StorageFolder) / "log.txt"));
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line.substr(0, line.size() - 1));
        for (size_t i = static_cast<size_t>(events[run].Line) - 1; i < lines.size(); ++i) {
            const size_t at = lines[i].find("# Web response - ");
            if (at == std::string::npos) break;
            texts.push_back(lines[i].substr(at + 17));
        }
    }
    ASSERT_EQ(texts.size(), 7u);
    EXPECT_EQ(texts[0], "Status code: 200");
    EXPECT_EQ(texts[4], texts[5]) << "the progress repeated";
    EXPECT_EQ(texts[6], "Done");
    texts.erase(texts.begin() + 5);
    QStringList shown;
    for (const std::string& t : texts) shown << QString::fromStdString(t);
    EXPECT_EQ(v.txtContent->toPlainText(), shown.join('\n') + '\n');
    dmtest::SaveScreenshot(&v, "logviewer_web_response_run");

    // The event position stays when switching sessions.
    v.lbxEvents->setCurrentIndex(v.lbxEvents->model()->index(2, 0));
    v.lbxSessions->setCurrentIndex(v.lbxSessions->model()->index(0, 0));
    ASSERT_GT(f.Rows(v.lbxEvents), 2);
    EXPECT_EQ(v.lbxEvents->currentIndex().row(), 2);
    v.lbxSessions->setCurrentIndex(v.lbxSessions->model()->index(1, 0));
    EXPECT_EQ(v.lbxEvents->currentIndex().row(), 2);
}

TEST(LogViewer, SendSessionReachesSupportByteForByte) {
    LoggedSessions f;
    f.OpenViewer();
    TViewLogView& v = *f.view;
    v.lbxSessions->setCurrentIndex(v.lbxSessions->model()->index(1, 0));
    v.btnSendSession->click();
    EXPECT_FALSE(v.btnSendSession->isEnabled());
    EXPECT_FALSE(v.btnClose->isEnabled());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&v, &escape);
    EXPECT_TRUE(v.isVisible()) << "Escape is the disabled Close button's key";
    ASSERT_TRUE(dmtest::WaitUntil([&] { return v.btnSendSession->isEnabled(); }));
    EXPECT_TRUE(v.btnClose->isEnabled());
    EXPECT_EQ(f.prompts.messages.back(), SessionSentMessage);

    httplib::Client client("127.0.0.1", f.service->Port());
    const json state = json::parse(client.Get("/_test/state")->body);
    ASSERT_EQ(state["sent_sessions"].size(), 1u);
    const std::string log = dmtest::ReadFileBytes(fs::path(f.app.StorageFolder) / "log.txt");
    const size_t second = log.find(LogSessionBeginMarker, 1);
    std::string session = log.substr(0, second);
    // The lines go with CR LF each, as the writer ends them; bare LF in the details get one too.
    session = ReplaceText('\n', "\r\n", ReplaceText('\r', "", session));
    EXPECT_EQ(state["sent_sessions"][0].get<std::string>(), session);
}

TEST(LogViewer, DeletingFiles) {
    LoggedSessions f;
    const fs::path store(f.app.StorageFolder);
    // The current log becomes a past one, as rotation makes it.
    fs::rename(store / "log.txt", store / "log_1.txt");
    f.OpenViewer();
    TViewLogView& v = *f.view;
    ASSERT_EQ(v.lbxLogFile->count(), 1);
    EXPECT_TRUE(v.lbxLogFile->itemText(0).startsWith("Past log file - "));
    EXPECT_TRUE(v.btnDeleteLogFile->isEnabled());
    EXPECT_EQ(f.Rows(v.lbxSessions), 2);
    f.prompts.answers = {TAnswer::Yes};
    v.btnDeleteLogFile->click();
    EXPECT_EQ(f.prompts.questions.back(), DeleteLogFileQuestion);
    EXPECT_FALSE(fs::exists(store / "log_1.txt"));
    EXPECT_EQ(v.lbxLogFile->count(), 0);
    EXPECT_EQ(f.Rows(v.lbxSessions), 0);
    EXPECT_EQ(f.Rows(v.lbxEvents), 0);
    EXPECT_EQ(v.txtContent->toPlainText(), "");
    EXPECT_FALSE(v.btnDeleteLogFile->isEnabled());
    f.view.reset();
    f.log.reset();

    // Delete All Logs: every file, then the window closes and says so.
    dmtest::WriteFileBytes(store / "log_2.txt", "");
    dmtest::WriteFileBytes(store / "log.txt", "");
    f.log = std::make_unique<TViewLog>(f.app.StorageFolder, f.app.BusinessUrl, f.prompts);
    f.view = std::make_unique<TViewLogView>(*f.log);
    QTimer::singleShot(0, [&] {
        f.prompts.answers = {TAnswer::Yes};
        f.view->btnDeleteAllLogs->click();
    });
    f.view->exec();
    EXPECT_FALSE(f.view->isVisible());
    EXPECT_EQ(f.prompts.questions.back(), DeleteAllLogsQuestion);
    EXPECT_EQ(f.prompts.messages.back(), AllLogsDeletedMessage);
    for (const char* name : {"log.txt", "log_0.txt", "log_2.txt"}) EXPECT_FALSE(fs::exists(store / name)) << name;
}

TEST(LogViewer, FileMenuOpensItUnlessNoLogs) {
    LoggedSessions f;
    TMain& w = *f.window;
    bool opened = false;
    dmtest::WhenModal([&](QWidget* modal) {
        auto* view = qobject_cast<TViewLogView*>(modal);
        ASSERT_NE(view, nullptr);
        opened = true;
        EXPECT_TRUE(dmtest::WaitUntil([&] { return view->lbxSessions->model()->rowCount() == 2; }));
        EXPECT_TRUE(fs::exists(fs::path(f.app.StorageFolder) / "log_0.txt"));
        view->btnClose->click();
    });
    w.mnuViewLog->trigger();
    EXPECT_TRUE(opened);
    EXPECT_FALSE(fs::exists(fs::path(f.app.StorageFolder) / "log_0.txt")) << "the snapshot goes with the viewer";

    f.engine->Options.NoLogs = true;
    emit w.mnuFile->aboutToShow();
    EXPECT_FALSE(w.mnuViewLog->isVisible());
    f.engine->Options.NoLogs = false;
    emit w.mnuFile->aboutToShow();
    EXPECT_TRUE(w.mnuViewLog->isVisible());
}

TEST(LogViewer, LargeLogShowsItsProgress) {
    TWindowFixture f(json::array());
    std::string log;
    const std::string detail(4000, 'd');
    for (int s = 0; s < 200; ++s) {
        log += LogBeginLine("5/1/2024 9:30:00 AM", std::to_string(s));
        for (int e = 0; e < 10; ++e) log += LogEventLine("5/1/2024 9:30:01 AM", "Event") + detail + "\r\n";
        log += LogEndLine("5/1/2024 9:31:00 AM");
    }
    dmtest::WriteFileBytes(fs::path(f.app.StorageFolder) / "log.txt", log);
    TViewLog viewer(f.app.StorageFolder, f.app.BusinessUrl, f.prompts);
    viewer.SliceBytes = 256 * 1024;
    viewer.SliceMilliseconds = 0;
    TViewLogView v(viewer);
    v.show();
    EXPECT_TRUE(viewer.Busy());
    EXPECT_TRUE(v.prgReading->isVisible());
    EXPECT_EQ(v.cursor().shape(), Qt::WaitCursor);
    bool progressed = false;
    ASSERT_TRUE(dmtest::WaitUntil([&] {
        progressed = progressed || v.prgReading->value() > 0;
        return !viewer.Busy();
    }));
    EXPECT_TRUE(progressed);
    EXPECT_FALSE(v.prgReading->isVisible());
    EXPECT_EQ(v.cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(v.lbxSessions->model()->rowCount(), 200);
    EXPECT_EQ(v.lbxEvents->model()->rowCount(), 10);
}
