#pragma once

// One biller and its synchronisation sessions. A session is a state machine driven by the
// answers of the sync endpoint and by timers, all on the main thread: QuickBooks is opened,
// the service authenticates, requests and answers pass between the service and QuickBooks
// until the service reports completion, and both sides are closed.

#include "engine/ImportInvoices.h"
#include "engine/Settings.h"
#include "net/Web.h"
#include "qb/QbSession.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dm {

class TMainEngine;
class TKvXML;
class TKvXMLElement;

class TSync : public QObject {
    Q_OBJECT
public:
    // Phase values.
    static constexpr int phIdle = 0;
    static constexpr int phAuthenticate = 100;
    static constexpr int phSendRequest = 200;
    static constexpr int phReceiveResponse = 300;
    static constexpr int phReportError = 350;
    static constexpr int phCloseConnection = 400;
    static constexpr int phServerErrorReport = 500;

    // ErrorKind values.
    static constexpr int ekGeneral = 0;
    static constexpr int ekAccessNotGranted = 1;
    static constexpr int ekProcessRequestFailed = 2;

    TSync(TMainEngine& main, BillerRecord biller, QObject* parent = nullptr);
    ~TSync() override;

    BillerRecord Biller;

    // Session state, read by the views and the summaries.
    int Phase = phIdle;
    bool Manual = false;
    bool PaymentsOnly = false, SendInvoices = false, PreviewInvoices = false;
    bool PaymentsOnlyPending = false;
    bool QbConnected = false;
    std::string ServerTicket;
    std::string CompanyFilePath;
    bool ResetFilePath = false;
    bool HadErrors = false;
    std::string ErrorText;
    int ErrorKind = ekGeneral;
    bool OtherFileOpen = false, FileNotFound = false, AuthFailed = false;
    std::string LastQbError;
    std::string LastRequest;
    int HttpStatus = 0;
    int Percentage = 0;
    std::string StatusText;
    std::string StatusDetail;
    std::string RedirectLabel;
    bool CloseReceived = false;
    std::string ChosenInvoices;

    // The account confirmation.
    bool Confirming = false;
    bool Confirmed = false;
    bool Blocked = false;
    std::string BlockedText; // shown in place of the status while blocked
    bool SyncAfterConfirm = false;
    bool SaveAfterConfirm = false;
    bool DelaySendingInvoices = false;

    // Which of the Login, Sync, Options and Remove buttons the strip shows. During a session
    // Sync and Remove are shown disabled (ButtonsEnabled).
    enum class TButtonLayout {
        Confirming, // none; also while the service cannot be reached
        Confirmed,  // all four, and the login hint
        Suspended,  // Login, and Remove at the right edge
        Canceled,   // Remove at the right edge
    };
    TButtonLayout Layout = TButtonLayout::Confirming;
    bool ButtonsEnabled() const { return Phase == phIdle; }

    // Smart sync: seconds left until the next check.
    int SmartSyncCountdown = 0;

    QTimer tmrStartSync;
    QTimer tmrServiceUpdate; // confirmation while blocked, notifications while usable
    QTimer tmrUnableConfirm;
    QTimer tmrSmartSync;

    // The account confirmation; also sent again while blocked.
    void ConfirmAccount();
    // The tab says that the account is cancelled and offers only Remove.
    void ShowCanceled();
    // The entry of the biller list: "Biller " + id + " - " + name for loaded billers, the plain
    // name for billers added during the run.
    std::string ListEntry;

    // How a session is to run: the flags of StartSync, and whether it counts as the user's.
    struct TSessionStart {
        bool PaymentsOnly = false;
        bool SendInvoices = false;
        bool PreviewInvoices = false;
        bool Manual = false;
        bool operator==(const TSessionStart&) const = default;
    };

    // Starts a session with Manual as the caller left it. A frame whose own session runs keeps
    // a payments-only start for its end and refuses any other; one being confirmed keeps the
    // start and runs it, with these options, once the account is confirmed.
    void StartSync(bool paymentsOnly, bool sendInvoices, bool previewInvoices);
    void Start(const TSessionStart& start);
    // The Sync button; fromButton false when called by the program (no message then).
    void btnSyncNowClick(bool fromButton);
    void FinishSync();
    void CloseQuickBooksOnExit();

    // The handler of every web request of a session.
    void AsyncWebResponse(std::int32_t requestId, WebStatus status, const std::string& text, std::int32_t value);
    void SendServerErrorReport(const std::string& serverResponse, const std::string& location);

    // For the review of new invoices, while the session waits for it: the files attached to
    // one invoice, asked over this session's sync channel, and a biller request (one operation
    // element) to the biller endpoint with this biller's id and password.
    std::int32_t RequestInvoiceAttachments(const std::string& invoiceId, TWebResponseEvent handler, TWebOwnerRef owner);
    std::int32_t PostBillerRequest(const std::string& operation, TWebResponseEvent handler, TWebOwnerRef owner);
    TMainEngine& Engine() const { return main_; }
    // The invoice file import of a biller without QuickBooks while its session runs.
    TImportInvoices* Import() const { return import_; }
    void Repaint() { emit changed(); }

    // The frame name, "sync" + the main window's counter.
    std::string FrameName;
    // True while a call of this frame is on the stack (a prompt may be open inside it).
    bool Busy() const { return busy_ > 0; }
    bool RemovePending = false;

signals:
    // Something shown changed: repaint.
    void changed();
    // A session ended (after its follow-ups).
    void sessionFinished();
    // QuickBooks refused access to the company file: the access repair may start.
    void accessRepairWanted();
    // An answer (or failure) of the account confirmation has been handled.
    void confirmationEnded();

private:
    friend class TBusyGuard;
    void tmrStartSyncTimer();
    void tmrServiceUpdateTimer();
    void tmrUnableConfirmTimer();
    void tmrSmartSyncTimer();
    void ConfirmAccountResponse(std::int32_t requestId, WebStatus status, const std::string& text, std::int32_t value);
    void NotificationsResponse(std::int32_t requestId, WebStatus status, const std::string& text, std::int32_t value);
    void ShowBlocked(TButtonLayout layout, const std::string& text);
    std::vector<std::string> ServiceFields(bool confirmation) const;
    void ReviewUnsentInvoices(const TKvXMLElement& unsentInvoices, bool allowAttachments);
    bool SmartSyncCheck();
    void ReplayDeferredStart();
    void SendRequestAgain();
    void FailSession(const std::string& errorText);
    void Process_Authenticate(const std::string& answer);
    void Process_SendRequest(const std::string& answer);
    void Process_ReceiveResponse(const std::string& answer);
    void Process_CloseConnection(const std::string& answer);
    void SendRequestXML();
    void SendChosenInvoices();
    bool ShowServicePopup(const TKvXMLElement* dm);
    void SendCloseConnection();
    void SendReportError();
    void FailQuickBooksConnection(const std::string& message);
    void FailUnmatchedAnswer(const char* what);
    void Post(std::string envelope);
    void Log(const std::string& message, const std::string& details = {});
    void EndImport();
    bool Gone() const { return RemovePending; }

    TMainEngine& main_;
    TWebOwner webOwner_;
    TQbSession qb_;
    QPointer<TImportInvoices> import_;
    // The start kept while the account is confirmed; none: as the Sync button would start.
    std::optional<TSessionStart> deferredStart_;
    int redirects_ = 0; // in this session
    int repeats_ = 0;   // requests asked for again in a row
    int busy_ = 0;
};

// Marks a call of the frame as running, so that a removal asked for meanwhile (from another
// tab, while a dialog of this frame is open) waits until it has returned.
class TBusyGuard {
public:
    explicit TBusyGuard(TSync& frame) : frame_(frame) { ++frame_.busy_; }
    ~TBusyGuard() { --frame_.busy_; }
    TBusyGuard(const TBusyGuard&) = delete;
    TBusyGuard& operator=(const TBusyGuard&) = delete;

private:
    TSync& frame_;
};

} // namespace dm
