#include "app/Headless.h"

#include "core/General.h"
#include "core/KvXml.h"
#include "engine/AddBusiness.h"
#include "engine/MainEngine.h"
#include "engine/Sync.h"
#include "engine/UnsentInvoices.h"
#include "engine/UserPrompts.h"
#include "platform/TerminationSignals.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <iostream>
#include <optional>

#include <termios.h>
#include <unistd.h>
#include <deque>
#include <map>
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
    TReviewResult ReviewUnsentInvoices(TSync& frame, TUnsentInvoiceFiles& files, bool) override {
        const int rows = files.RowCount();
        if (!SendNew) {
            std::printf("review: %d new invoice%s in QuickBooks - none chosen, nothing sent\n", rows, Plural(rows));
            return {}; // as the review's Cancel button: nothing ticked, the session goes on
        }
        // -sendnew is the user's own choice on the command line: every new invoice goes, with
        // e-mails only when -emails says so too.
        for (int row = 0; row < rows; ++row) {
            UnsentInvoiceRecord r = files.readRecordAtRow(row);
            if (!r.checked) {
                r.checked = true;
                files.storeRecord(r);
            }
        }
        Chosen[&frame] += rows;
        std::printf("review: %d new invoice%s in QuickBooks - all chosen, sent %s\n", rows, Plural(rows),
                    Emails ? "with e-mails" : "without e-mails");
        return {false, !Emails};
    }

    bool SendNew = false; // -sendnew
    bool Emails = false;  // -emails
    std::map<const TSync*, int> Chosen;
    static const char* Plural(int n) { return n == 1 ? "" : "s"; }
};

// The password comes from standard input, never from the command line where any user of the
// machine could read it. At a terminal it is typed without being shown.
std::string ReadPassword() {
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    termios saved{};
    if (terminal && ::tcgetattr(STDIN_FILENO, &saved) == 0) {
        std::fputs("Password: ", stderr);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string password;
    std::getline(std::cin, password);
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return password;
}

// The Add Biller wizard without a window: the same checks, the same confirmation and the same
// QuickBooks check, each step printed; the wizard's message and 1 when one fails.
int AddBillerHeadless(TMainEngine& engine, const TAppState& state) {
    TAddBusiness wizard(engine);
    for (const std::string& arg : state.Arguments)
        if (arg.size() > 6 && EqualsNoCase(std::string_view(arg).substr(0, 6), "-user=")) wizard.UserName = arg.substr(6);
    wizard.Password = ReadPassword();
    const TAddBusiness::TLoginCheck check = wizard.CheckLogin();
    if (!check.Ok()) {
        for (const std::string& message : check.Messages) std::printf("%s\n", message.c_str());
        return 1;
    }

    std::printf("Confirming the account of user %s with Invara\n", wizard.UserName.c_str());
    std::fflush(stdout);
    QEventLoop loop;
    std::optional<TConfirmStep> step;
    std::string message;
    QObject::connect(&wizard, &TAddBusiness::confirmed, [&](TConfirmStep s, const std::string& m) {
        step = s;
        message = m;
        loop.quit();
    });
    QObject::connect(&wizard, &TAddBusiness::confirmFailed, [&](const std::string& text) {
        message = text;
        loop.quit();
    });
    wizard.ConfirmAccount();
    loop.exec();
    if (!step) {
        std::printf("%s\n", message.c_str());
        return 1;
    }
    switch (*step) {
    case TConfirmStep::Back:
        std::printf("%s\n", OneLine(message.empty() ? "The account was not confirmed." : message).c_str());
        return 1;
    case TConfirmStep::Stay:
        std::printf("The account was not confirmed: Invara gave no answer the wizard knows.\n");
        return 1;
    case TConfirmStep::Done:
        std::printf("Business %s - %s is set up (%s)\n", wizard.BusinessId.c_str(), wizard.BusinessName.c_str(),
                    wizard.BusinessType.c_str());
        break;
    case TConfirmStep::Connect: {
        std::printf("Business %s - %s found; connecting to QuickBooks\n", wizard.BusinessId.c_str(),
                    wizard.BusinessName.c_str());
        std::fflush(stdout);
        const std::string error = wizard.CheckQuickBooks();
        if (!error.empty()) {
            std::printf("Unable to connect to QuickBooks. Please start QuickBooks and open the company file you want "
                        "to use with Invara, then try again.\nError Message: %s\n",
                        OneLine(error).c_str());
            return 1;
        }
        std::printf("QuickBooks connection checked\n");
        if (wizard.SetupWizard)
            std::printf("The business setup on Invara is not finished: complete it in the control panel\n");
        break;
    }
    }
    wizard.Finish();
    TSync* frame = engine.EnrolBiller(wizard, false);
    if (state.TerminateRequested || !frame) return 1; // the settings file could not be written
    std::printf("Biller %s - %s added to %s\n", frame->Biller.id.c_str(), frame->Biller.name.c_str(),
                engine.Settings.Path().c_str());
    engine.Shutdown();
    return 0;
}

} // namespace

int RunHeadless(TAppState& state) {
    THeadlessPrompts prompts;
    TKvXML::SetMessageHandler([&](const std::string& m) { prompts.ShowMessage(m); });
    // Watched from the start: a signal that comes before the first loop waits in its pipe.
    TTerminationSignals terminations;
    TMainEngine engine(state, prompts);
    engine.LoadSettings(true);
    if (state.TerminateRequested) return 1;
    engine.LoadSettings(false);
    if (state.TerminateRequested) return 1;
    for (const std::string& arg : state.Arguments)
        if (EqualsNoCase(arg, "-addbiller")) return AddBillerHeadless(engine, state);

    std::string only;
    bool syncAll = false;
    for (const std::string& arg : state.Arguments) {
        if (EqualsNoCase(arg, "-syncall")) syncAll = true;
        else if (EqualsNoCase(arg, "-sendnew")) prompts.SendNew = true;
        else if (EqualsNoCase(arg, "-emails")) prompts.Emails = true;
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
    // SIGTERM, SIGINT, SIGHUP: the same end as a finished run (settings saved, QuickBooks
    // sessions ended, the cut session's log closed without its end line).
    QObject::connect(&terminations, &TTerminationSignals::received, &loop, &QEventLoop::quit);
    auto interrupted = [&] {
        std::printf("Stopped by signal %d\n", terminations.Received());
        std::fflush(stdout);
        engine.Shutdown();
        return TTerminationSignals::ExitCode(terminations.Received());
    };
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
    if (terminations.Received()) return interrupted();
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
        if (terminations.Received()) return interrupted();
    } else {
        TSync* frame = queue.front();
        current = frame->Biller.name;
        // A payment notification's session may be running already: this one then waits for it.
        QObject::connect(&engine, &TMainEngine::sessionFinished, [&](TSync* finished) {
            if (finished == frame && !engine.SyncInProgress()) loop.quit();
        });
        engine.StartWhenFree(frame, {false, false, true, false});
        if (!frame->Blocked) loop.exec();
        if (terminations.Received()) return interrupted();
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
            if (prompts.SendNew) {
                const int sent = prompts.Chosen[frame];
                line += ", " + std::to_string(sent) + " new invoice" + THeadlessPrompts::Plural(sent) + " sent" +
                        (sent > 0 ? (prompts.Emails ? " with e-mails" : " without e-mails") : "");
            }
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
