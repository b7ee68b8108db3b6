#pragma once

// What the two session benchmarks share: the real engine driven through a session the way the
// Sync button starts it, the stand-in's request processor with a clock on it, the HTTP
// exchanges of a session as the local service received them, and their replay with plain
// libcurl; peak memory from /proc.

#include "engine/AppState.h"
#include "engine/MainEngine.h"
#include "engine/Sync.h"
#include "engine/UserPrompts.h"
#include "qb/RequestProcessor.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dmbench {

using Clock = std::chrono::steady_clock;

// The user as a benchmark plays it: nothing may be asked or shown during a clean session,
// so whatever is, is kept to fail the run with.
class TSilentPrompts : public dm::TUserPrompts {
public:
    std::vector<std::string> Shown;

    void ShowMessage(const std::string& text) override { Shown.push_back(text); }
    std::optional<dm::TCredentials> AskCredentials(const std::string& businessName, const dm::TCredentials&) override {
        Shown.push_back("credentials " + businessName);
        return std::nullopt;
    }
    dm::TFileNotFoundChoice AskCompanyFileNotFound(const std::string& path, const std::string&,
                                                   const std::string&) override {
        Shown.push_back("file " + path);
        return dm::TFileNotFoundChoice::None;
    }
    void ShowServicePopup(const dm::TPopupSpec& popup) override { Shown.push_back("popup " + popup.Url); }
};

struct TSessionTimes {
    double StartDelay = 0; // Sync pressed until the authentication request goes out (the start timer)
    double Session = 0;    // authentication request posted until the session has ended
    double QuickBooks = 0; // of Session, spent inside the request processor
};

// One engine with one biller, confirmed, whose sessions run against the service at baseUrl and
// the stand-in in qbHome. With answerFile set, an InvoiceQuery is answered with that file's
// bytes, read when QuickBooks is asked, instead of by the stand-in. With syncServiceUrl set, the
// session's SOAP requests go there instead of to the service.
class TEngineRig {
public:
    TEngineRig(const std::string& baseUrl, const std::string& storageFolder, const std::string& qbHome,
               std::string answerFile = {}, const std::string& syncServiceUrl = {});
    ~TEngineRig();

    // Throws std::runtime_error when the session does not end, ends with errors or asks the user.
    TSessionTimes RunSession();
    dm::TMainEngine& Engine() { return *engine_; }

private:
    std::string qbHome_;
    std::string answerFile_;
    Clock::duration quickBooks_{};
    std::unique_ptr<dm::TScopedRequestProcessorFactory> factory_;
    dm::TAppState app_;
    TSilentPrompts prompts_;
    std::unique_ptr<dm::TMainEngine> engine_;
    dm::TSync* frame_ = nullptr;
};

// One request of a session with the session's ticket cut out: Head + ticket + Tail. A
// receiveResponseXML that carried the big answer also has AnswerTail, and its body is
// Head + ticket + Tail + HtmlEscape(answer) + AnswerTail.
struct TExchange {
    std::string Path;
    std::string ContentType;
    std::string Operation;
    std::string Head;
    std::string Tail;
    bool HasTicket = false;
    bool CarriesAnswer = false;
    std::string AnswerTail;
};

// The sync requests the service received since its last reset, in order. answer: the qbXML
// answer whose escaped form one receiveResponseXML is expected to carry. Throws
// std::runtime_error when the bodies are not what the session should have sent.
std::vector<TExchange> RecordSession(const std::string& baseUrl, const std::string* answer = nullptr,
                                     const std::string& caFile = {});
size_t CountOperation(const std::vector<TExchange>& exchanges, const std::string& operation);

// The same exchanges with plain libcurl, one easy handle per request, the ticket of the new
// session put in; the big answer, when there is one, escaped on the way. Throws
// std::runtime_error when the service refuses any of them or does not close the session cleanly.
// keepConnection: one easy handle for the whole session, so one connection while the server
// keeps it; caFile: the authorities trusted for an https base.
void Replay(const std::string& baseUrl, const std::vector<TExchange>& exchanges, const std::string* answer = nullptr,
            bool keepConnection = false, const std::string& caFile = {});

// Back to the scenario as loaded: accounts, sessions and the request record.
void ResetService(const std::string& baseUrl, const std::string& caFile = {});

// A field of /proc/self/status in kB ("VmHWM", "VmRSS").
long StatusKb(const char* field);
// Sets the peak resident size back to the current one.
void ResetPeak();
// Frees the heap's unused top and bins so that the next peak starts from what is in use.
void TrimHeap();

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
// Removes the rotated activity logs, so that repeated sessions do not fill the disk.
void RemoveRotatedLogs(const std::string& storageFolder);

// Keeps each run's mean time (manual time where the benchmark sets it) and counters, for the
// ratio lines printed after the table.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    // Without colours, so that the ratio lines stand on lines of their own.
    TRatioReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override;

    struct TResult {
        double Time = 0; // in the run's unit
        std::map<std::string, double> Counters;
    };
    // By the run's function name ("EngineSession/1000").
    std::map<std::string, TResult> Results;
    // Prints "ratio NAME: X" with X = ours / reference (1 is as fast, 2 takes twice as long).
    void PrintRatio(const char* name, double ours, double reference) const;
    double Time(const std::string& name) const;
    double Counter(const std::string& name, const std::string& counter) const;
};

} // namespace dmbench
