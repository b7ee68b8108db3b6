#include "app/Headless.h"

#include "core/General.h"
#include "core/KvXml.h"
#include "engine/MainEngine.h"
#include "engine/Sync.h"
#include "engine/UnsentInvoices.h"
#include "engine/UserPrompts.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <deque>
#include <functional>
#include <vector>

namespace dm {

namespace {

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

// Nobody can answer here: messages are printed, and every question gets the answer that
// changes nothing (no invoice is sent that nobody chose, no biller is removed).
class THeadlessPrompts : public TUserPrompts {
public:
    void ShowMessage(const std::string& text) override { std::printf("message: %s\n", OneLine(text).c_str()); }
    std::optional<TCredentials> AskCredentials(const std::string& businessName, const TCredentials&) override {
        std::printf("question: new user name and password for %s - not answered\n", businessName.c_str());
        return std::nullopt;
    }
    TFileNotFoundChoice AskCompanyFileNotFound(const std::string& path, const std::string& businessName,
                                               const std::string&) override {
        std::printf("question: company file %s of %s not found - left as it is\n", path.c_str(), businessName.c_str());
        return TFileNotFoundChoice::None;
    }
    void ShowServicePopup(const TPopupSpec& popup) override {
        std::printf("window from the service: %s\n", popup.Url.c_str());
    }
    TReviewResult ReviewUnsentInvoices(TUnsentInvoiceFiles& files, bool) override {
        std::printf("review: %d new invoice%s in QuickBooks - none chosen, nothing sent\n", files.RowCount(),
                    files.RowCount() == 1 ? "" : "s");
        return {}; // as the review's Cancel button: nothing ticked, the session goes on
    }
};

} // namespace

int RunHeadless(TAppState& state) {
    THeadlessPrompts prompts;
    TKvXML::SetMessageHandler([&](const std::string& m) { prompts.ShowMessage(m); });
    TMainEngine engine(state, prompts);
    engine.LoadSettings(true);
    if (state.TerminateRequested) return 1;
    engine.LoadSettings(false);
    if (state.TerminateRequested) return 1;

    std::string only;
    bool syncAll = false;
    for (const std::string& arg : state.Arguments) {
        if (EqualsNoCase(arg, "-syncall")) syncAll = true;
        else if (arg.size() > 6 && EqualsNoCase(std::string_view(arg).substr(0, 6), "-sync=")) only = arg.substr(6);
    }

    std::printf("%s %s (build %s), service %s, storage %s\n", state.WindowCaption.c_str(), state.VersionText.c_str(),
                state.BuildNumber.c_str(), state.BaseUrl.c_str(), state.StorageFolder.c_str());
    if (engine.Billers().empty()) {
        std::printf("No biller is set up in %s\n", engine.Settings.Path().c_str());
        return 2;
    }
    std::deque<TSync*> queue;
    for (TSync* frame : engine.Billers()) {
        std::printf("Biller %s - %s (%s, user %s)\n", frame->Biller.id.c_str(), frame->Biller.name.c_str(),
                    frame->Biller.type.c_str(), frame->Biller.username.c_str());
        if (syncAll || (!only.empty() && frame->Biller.id == only)) queue.push_back(frame);
    }
    if (!only.empty() && queue.empty()) {
        std::printf("No biller has the id %s\n", only.c_str());
        return 2;
    }
    if (queue.empty()) return 0; // nothing asked for: the listing was the work

    std::string current;
    QObject::connect(&engine, &TMainEngine::logged, [&](const std::string&, const std::string& message) {
        if (message.rfind("Web response - ", 0) == 0) return; // transport detail stays in the log file
        std::printf("  [%s] %s\n", current.c_str(), message.c_str());
        std::fflush(stdout);
    });
    // The user-facing texts stay as they are; what really failed goes to the error output.
    QObject::connect(&engine, &TMainEngine::webFailed, [&](const std::string& billerId, const std::string& cause) {
        std::fprintf(stderr, "connection failure%s: %s\n", billerId.empty() ? "" : (" (biller " + billerId + ")").c_str(),
                     OneLine(cause).c_str());
    });
    // Local loops: quitting the application's own loop would also shut the transport down.
    QEventLoop loop;
    QObject::connect(&engine, &TMainEngine::syncAllChanged, [&] {
        if (!engine.SyncAllProgress.empty()) std::printf("%s\n", engine.SyncAllProgress.c_str());
        if (!engine.SyncAllActive) loop.quit();
    });
    QObject::connect(&engine, &TMainEngine::billerActivated, [&](TSync* frame) { current = frame->Biller.name; });

    // Every account is confirmed before anything runs, as the window would show it.
    auto confirming = [&] {
        for (TSync* frame : engine.Billers())
            if (frame->Confirming) return true;
        return false;
    };
    {
        std::vector<QMetaObject::Connection> waits;
        for (TSync* frame : engine.Billers())
            waits.push_back(QObject::connect(frame, &TSync::confirmationEnded, [&] {
                if (!confirming()) loop.quit();
            }));
        if (confirming()) loop.exec();
        for (const QMetaObject::Connection& c : waits) QObject::disconnect(c);
    }
    for (TSync* frame : engine.Billers()) {
        if (frame->Blocked)
            std::printf("Biller %s - %s: %s\n", frame->Biller.id.c_str(), frame->Biller.name.c_str(),
                        OneLine(frame->BlockedText).c_str());
        else
            std::printf("Biller %s - %s: account confirmed\n", frame->Biller.id.c_str(), frame->Biller.name.c_str());
    }

    if (syncAll) {
        // No question and the review on: the review answers as its Cancel button, so nothing is
        // sent that nobody chose.
        QTimer::singleShot(0, [&] { engine.SyncAll(false, true); });
        loop.exec();
    } else {
        TSync* frame = queue.front();
        current = frame->Biller.name;
        // A payment notification's session may be running already: this one then waits for it.
        QObject::connect(&engine, &TMainEngine::sessionFinished, [&](TSync* finished) {
            if (finished == frame && !engine.SyncInProgress()) loop.quit();
        });
        engine.StartWhenFree(frame, {false, false, true, false});
        if (!frame->Blocked) loop.exec();
    }

    int failures = 0;
    for (TSync* frame : queue) {
        std::string line = "Biller " + frame->Biller.id + " - " + frame->Biller.name + ": ";
        if (frame->Blocked) {
            line += "not synchronised: " + OneLine(frame->BlockedText);
            ++failures;
        } else if (frame->HadErrors) {
            line += "failed: " + OneLine(frame->ErrorText);
            ++failures;
        } else if (frame->CloseReceived) {
            line += "synchronised";
        } else {
            line += "not synchronised";
            ++failures;
        }
        std::printf("%s\n", line.c_str());
    }
    engine.Shutdown();
    return failures == 0 ? 0 : 1;
}

} // namespace dm
