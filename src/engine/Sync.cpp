#include "engine/Sync.h"

#include "core/General.h"
#include "core/KvXml.h"
#include "engine/AccountConfirmation.h"
#include "engine/BillerRequest.h"
#include "engine/ImportInvoices.h"
#include "engine/MainEngine.h"
#include "engine/SyncMessages.h"
#include "engine/UnsentInvoices.h"
#include "engine/UserPrompts.h"

#include <filesystem>

namespace dm {

namespace {

const char* const AnotherBusinessMessage =
    "Another business is being synchronized right now. Only one business can be synchronized at a time. (1)";
const char* const OtherFileOpenMessage =
    "The Desktop Manager is unable to synchronize right now because\ra different company file is currently open in "
    "QuickBooks.\r\rYou can solve this by doing one of the following:\r\r1: Close QuickBooks then sync.\r\r2: Close "
    "the company file you currently have open in \r    QuickBooks and then sync.\r\r3: Perform a sync later when you "
    "are done working \r    on the company file you currently have open in \r    QuickBooks.";
const char* const ModalDialogMessage =
    "There is a window open in QuickBooks that is preventing \rthe Desktop Manager from performing a synchronization. "
    "\r\rPlease close the top-most window that is currently open \rin QuickBooks and synchronize again.";
const char* const CommunicationFailed = "Unable to communicate with server.";
const char* const ServerErrorReported = "Server error. Report sent to customer service.";
const char* const TooManyRedirects = "The server redirected the session too many times.";
const char* const TooManyRepeats = "The server asked for a request again too many times.";

// A service that answers every authentication with a redirect, or every request for a
// request with "ask again", would keep the session (and a headless run) going for ever.
constexpr int MaxRedirects = 5;
constexpr int MaxRepeats = 100;
// What an error report carries of an answer: a short head for support, never a gigabyte.
constexpr size_t ReportedAnswerHead = TextHeadSize;

bool IsAccessDenied(const std::string& message) {
    return message == kQbMsgUserDenied || message == kQbMsgNoPermission || message == kQbMsgNoAutoLogin;
}

} // namespace

TSync::TSync(TMainEngine& main, BillerRecord biller, QObject* parent)
    : QObject(parent), Biller(std::move(biller)), main_(main) {
    if (Biller.autosyncminutes <= 0) Biller.autosyncminutes = DefaultAutoSyncMinutes;
    SmartSyncCountdown = Biller.smartsyncdelay;
    tmrStartSync.setInterval(500);
    connect(&tmrStartSync, &QTimer::timeout, this, &TSync::tmrStartSyncTimer);
    tmrServiceUpdate.setInterval(1000);
    connect(&tmrServiceUpdate, &QTimer::timeout, this, &TSync::tmrServiceUpdateTimer);
    tmrUnableConfirm.setInterval(1);
    connect(&tmrUnableConfirm, &QTimer::timeout, this, &TSync::tmrUnableConfirmTimer);
    tmrSmartSync.setInterval(1000);
    connect(&tmrSmartSync, &QTimer::timeout, this, &TSync::tmrSmartSyncTimer);
    // Every frame has these two running for as long as it lives, most of them once a second.
    // Neither needs to be exact to the millisecond, and on whole seconds the timers of all
    // frames fall due together: one wake-up a second for any number of billers instead of one
    // per biller and timer.
    tmrServiceUpdate.setTimerType(Qt::VeryCoarseTimer);
    tmrSmartSync.setTimerType(Qt::VeryCoarseTimer);
    tmrServiceUpdate.start();
    tmrSmartSync.start();
    ConfirmAccount();
}

TSync::~TSync() = default;

void TSync::Log(const std::string& message, const std::string& details) { main_.LogLine(message, details); }

void TSync::Post(std::string envelope) {
    WebPostXml(main_.App.SyncServiceUrl, std::move(envelope), WebHandler(this, &TSync::AsyncWebResponse), webOwner_);
}

void TSync::btnSyncNowClick(bool fromButton) {
    TBusyGuard busy(*this);
    if (main_.SyncInProgress()) {
        if (fromButton) main_.Prompts.ShowMessage(AnotherBusinessMessage);
        return;
    }
    if (Confirming) {
        // The button's options depend on the confirmation's answer: they are taken then. A
        // start already waiting (an all-biller run's, with its review) is kept.
        if (!SyncAfterConfirm) deferredStart_.reset();
        SyncAfterConfirm = true;
        return;
    }
    // SyncInProgress is set by StartSync once the session really starts: a blocked account
    // must not leave it set with nothing to clear it.
    if (DelaySendingInvoices) Start({false, false, true, true});
    else Start({false, true, false, true});
}

void TSync::StartSync(bool paymentsOnly, bool sendInvoices, bool previewInvoices) {
    Start({paymentsOnly, sendInvoices, previewInvoices, Manual});
}

void TSync::Start(const TSessionStart& start) {
    if (Phase != phIdle || QbConnected) {
        // This frame's session is running (perhaps still in its first 500 ms): starting again
        // would replace it.
        if (start.PaymentsOnly) PaymentsOnlyPending = true;
        return;
    }
    Manual = false;
    if (Confirming) {
        if (!SyncAfterConfirm) deferredStart_ = start;
        SyncAfterConfirm = true;
        return;
    }
    if (Blocked) return;
    Manual = start.Manual;
    StatusDetail.clear();
    HadErrors = FileNotFound = AuthFailed = OtherFileOpen = false;
    // What the last session ended with must not explain this one.
    ErrorKind = ekGeneral;
    ErrorText.clear();
    redirects_ = repeats_ = 0;
    PaymentsOnly = start.PaymentsOnly;
    SendInvoices = start.SendInvoices;
    PreviewInvoices = start.PreviewInvoices;
    Phase = phAuthenticate;
    const bool import = Biller.type == "ezi";
    if (import) {
        StatusDetail = "Importing invoices...";
        StatusText = "Importing Invoices";
    } else {
        StatusDetail = "Connecting to QuickBooks...";
        StatusText = "Connecting to QuickBooks";
    }
    Percentage = 0;
    main_.SetSyncInProgress(true);
    Repaint();
    // The import's steps and errors are logged like a QuickBooks session's.
    main_.BeginLogSession(Biller.id);
    if (!import) {
        // The request processor is created when QuickBooks is opened, where its failure is handled.
        tmrStartSync.start();
        return;
    }
    Log(StatusDetail);
    // Started last: an import that cannot begin ends the session at once, inside Start.
    TBusyGuard busy(*this);
    import_ = new TImportInvoices(*this);
    import_->ImportDirectory = Biller.invoiceimportimportdirectory;
    import_->MoveToDirectory = Biller.invoiceimportmovetodirectory;
    import_->AfterImporting = Biller.invoiceimportafterimporting;
    import_->ExecuteAfter = Biller.invoiceimportexecuteafter;
    import_->UserName = Biller.username;
    import_->Password = Biller.password;
    import_->Start();
}

// The run may be ending the session from inside one of its own handlers: it is silenced now and
// freed once that handler has returned.
void TSync::EndImport() {
    if (!import_) return;
    import_->Stop();
    import_->deleteLater();
    import_ = nullptr;
}

void TSync::tmrStartSyncTimer() {
    if (Confirming || Blocked) return;
    TBusyGuard busy(*this);
    tmrStartSync.stop();
    Repaint();
    Log("Starting QuickBooks.");
    try {
        qb_.Open();
        Log("QuickBooks connection opened.");
        Log("QuickBooks connection options set.");
        QbConnected = true;
    } catch (const std::exception& e) {
        // Without a connection there is no session at the service to report to.
        FailQuickBooksConnection(e.what());
        FinishSync();
        return;
    }

    bool reset = ResetFilePath;
    ResetFilePath = false;
    TSyncMode mode;
    mode.Manual = Manual;
    mode.PaymentNotifications = Biller.paymentnotify;
    mode.PaymentsOnly = PaymentsOnly;
    mode.SendInvoices = SendInvoices;
    mode.PreviewInvoices = PreviewInvoices;
    mode.HostedPartner = main_.App.HostedPartner;
    std::string envelope = AuthenticateEnvelope(Biller.username, Biller.password,
                                                TClientInfo::Current(main_.App.VersionText, main_.App.BuildNumber),
                                                reset, mode);
    LastRequest = envelope;
    Log("Sending authentication request.", MaskPassword(envelope));
    Post(std::move(envelope));
}

void TSync::FailQuickBooksConnection(const std::string& message) {
    ErrorKind = ekGeneral;
    if (IsAccessDenied(message)) {
        ErrorKind = ekAccessNotGranted;
        emit accessRepairWanted();
    }
    HadErrors = true;
    ErrorText = "QB Error: " + message;
    LastQbError = message;
    if (ToLowerAscii(message).find("company data file is already open") != std::string::npos) OtherFileOpen = true;
    Log("Unable to connect to QuickBooks.", message);
}

// An answer that matches none of its handler's cases would leave the session running for ever.
void TSync::FailUnmatchedAnswer(const char* what) {
    FailSession(std::string("Unexpected answer from the server (") + what + ").");
}

void TSync::FailSession(const std::string& errorText) {
    HadErrors = true;
    ErrorText = errorText;
    Log(ErrorText);
    FinishSync();
}

void TSync::AsyncWebResponse(std::int32_t, WebStatus status, const std::string& text, std::int32_t value) {
    TBusyGuard busy(*this);
    bool failed = false;
    switch (status) {
    case wsFailed:
        Log("Web response - Failed: Error #" + std::to_string(value));
        main_.LogWebFailure(Biller.id);
        failed = true;
        break;
    case wsStatusCode:
        HttpStatus = value;
        Log("Web response - Status code: " + std::to_string(value));
        break;
    case wsStatusText: Log("Web response - Status text: " + text); break;
    case wsContentType: Log("Web response - Content type: " + text); break;
    case wsContentLength: Log("Web response - Content length: " + std::to_string(value)); break;
    case wsProgress: Log("Web response - Progress: " + std::to_string(value)); break;
    case wsDone:
        Log("Web response - Done");
        failed = HttpStatus != 200;
        break;
    default: return;
    }
    if (Phase == phIdle && (failed || status == wsDone)) return; // the session has already ended
    if (failed) {
        HadErrors = true;
        ErrorText = CommunicationFailed;
        FinishSync();
        return;
    }
    if (status != wsDone) return;

    if (Phase == phServerErrorReport) {
        FinishSync();
        return;
    }
    if (Phase == phReportError) {
        // The answer is not read. A server without reportError answers it with an error page
        // of its own: QuickBooks' failure stays the session's error and the connection is
        // still closed.
        SendCloseConnection();
        return;
    }
    if (!LooksLikeXml(text)) {
        HadErrors = true;
        ErrorText = ServerErrorReported;
        if (main_.App.TestMode) {
            main_.Prompts.ShowMessage(TextHead(text));
            if (Gone()) return;
            // The session would otherwise stay started with nothing to end it.
            FinishSync();
            return;
        }
        SendServerErrorReport(text, "AsyncWebResponse - Non-XML Response");
        return;
    }
    switch (Phase) {
    case phAuthenticate: Process_Authenticate(text); break;
    case phSendRequest: Process_SendRequest(text); break;
    case phReceiveResponse: Process_ReceiveResponse(text); break;
    case phCloseConnection: Process_CloseConnection(text); break;
    default: break;
    }
}

void TSync::SendServerErrorReport(const std::string& serverResponse, const std::string& location) {
    Phase = phServerErrorReport;
    StatusText = "Sending server error report to customer service...";
    Repaint();
    std::vector<std::string> fields{
        "MerchantID=" + Biller.id,
        "BusinessName=" + FormEncode(Biller.name),
        // The authenticate envelope goes as the log has it, without the password.
        "Request=" + FormEncode(MaskPassword(LastRequest)),
        "ServerResponse=" + FormEncode(TextHead(serverResponse, ReportedAnswerHead)),
    };
    if (!location.empty()) fields.push_back("Location=" + FormEncode(location));
    WebPost(main_.App.ReportErrorUrl, fields, FormContentType, {}, WebHandler(this, &TSync::AsyncWebResponse),
            webOwner_);
}

void TSync::Process_Authenticate(const std::string& answer) {
    Log("Processing authentication response.", TextHead(answer, LoggedAnswerHead));
    TKvXML doc;
    doc.Parse(answer);
    const TKvXMLElement* body = SoapBody(doc);
    if (!body) return FailUnmatchedAnswer("no soap:Body");

    if (const TKvXMLElement* redirect = body->FindChild("redirect")) {
        if (++redirects_ > MaxRedirects) return FailSession(TooManyRedirects);
        RedirectLabel = std::string(redirect->Text());
        // Every biller uses the new endpoint from now on.
        main_.App.SyncServiceUrl = main_.App.BaseUrl + RedirectLabel + "webservices/quickbooks.php";
        main_.App.ServiceUrl = main_.App.BaseUrl + RedirectLabel + "webservices/service.php";
        // The processor is kept and opened again for the new endpoint; QbConnected stays set,
        // so that the session still counts as connected meanwhile.
        qb_.Close(true);
        tmrStartSync.start();
        return;
    }
    if (const TKvXMLElement* dmElement = body->FindChild("dm")) {
        if (dmElement->PathText("disconnect") != "1") return FailUnmatchedAnswer("dm without disconnect");
        if (const TKvXMLElement* message = dmElement->FindChild("after_sync_message")) {
            ErrorText = DecodeXmlEntities(message->Text());
            Log(ErrorText);
        }
        HadErrors = true;
        // The popup's own follow-up is not wanted here: the session ends either way.
        if (const TKvXMLElement* popup = dmElement->FindChild("popup")) {
            main_.ShowServicePopup(ReadPopup(*popup));
            if (Gone()) return;
        }
        FinishSync();
        return;
    }
    const TKvXMLElement* result = OperationResult(*body, "authenticate");
    if (!result) return FailUnmatchedAnswer("no authenticateResult");
    const TAuthenticateResult authenticated = ReadAuthenticateResult(*result);
    ServerTicket = authenticated.Ticket;
    if (authenticated.Kind == TAuthenticateResult::TKind::NoWork) {
        // Not a path: the company file the biller uses, smart sync's too, stays as it was.
        Log("The server has no work for this session.", "Server session: " + ServerTicket);
        SendCloseConnection();
        return;
    }
    // The ticket goes back exactly as it came; the path names a local file, so it is the text
    // the service's escaped XML stands for ("Smith &amp; Sons.qbw" is "Smith & Sons.qbw").
    CompanyFilePath = DecodeXmlEntities(authenticated.CompanyFile);
    if (authenticated.Kind == TAuthenticateResult::TKind::InvalidUser) {
        AuthFailed = HadErrors = true;
        ErrorText = "Server authentication failed. Invalid user name or password.";
        Log(ErrorText);
        FinishSync();
        return;
    }
    Log("Server authentication successful.", "Server session: " + ServerTicket + "\r\nFile path: " +
                                                 CompanyFilePath + "\r\nQuickBooks ticket: " + qb_.Ticket());
    std::error_code ec;
    if (!CompanyFilePath.empty() && !std::filesystem::exists(CompanyFilePath, ec)) {
        HadErrors = FileNotFound = true;
        ErrorText = "QuickBooks company file not found.";
        Log(ErrorText);
        FinishSync();
        return;
    }
    StatusDetail = "Opening QuickBooks company file...";
    Repaint();
    try {
        qb_.Begin(CompanyFilePath, main_.Options.multiuser ? kQbFileOpenMultiUser : kQbFileOpenDoNotCare);
    } catch (const std::exception& e) {
        FailQuickBooksConnection(e.what());
        SendReportError();
        return;
    }
    SendRequestXML();
}

void TSync::SendRequestXML() {
    Phase = phSendRequest;
    StatusText = "Getting request from Invara";
    std::string file;
    int major = 0, minor = 0;
    try {
        TRequestProcessor& processor = qb_.Processor();
        file = processor.GetCurrentCompanyFileName(qb_.Ticket());
        major = processor.MajorVersion();
        minor = processor.MinorVersion();
    } catch (const std::exception& e) {
        FailQuickBooksConnection(e.what());
        SendReportError();
        return;
    }
    std::string envelope = SendRequestEnvelope(ServerTicket, file, major, minor);
    LastRequest = envelope;
    Log("Asking server to send a request.", envelope);
    Post(std::move(envelope));
}

void TSync::SendRequestAgain() {
    if (++repeats_ > MaxRepeats) return FailSession(TooManyRepeats);
    SendRequestXML();
}

void TSync::SendChosenInvoices() {
    Phase = phSendRequest;
    StatusText = "Sending invoices to Invara";
    StatusDetail = "Sending list of invoices to Invara.";
    std::string envelope = ChosenInvoicesEnvelope(ServerTicket, ChosenInvoices);
    ChosenInvoices.clear();
    LastRequest = envelope;
    Log("Sending list of chosen invoices to send.", envelope);
    Post(std::move(envelope));
}

bool TSync::ShowServicePopup(const TKvXMLElement* dmElement) {
    const TKvXMLElement* popup = dmElement ? dmElement->FindChild("popup") : nullptr;
    if (!popup) return false;
    TPopupSpec spec = ReadPopup(*popup);
    main_.ShowServicePopup(spec);
    if (Gone()) return true;
    if (spec.SendRequestAgain) {
        SendRequestAgain();
        return true;
    }
    SendCloseConnection();
    return false;
}

void TSync::Process_SendRequest(const std::string& answer) {
    Log("Received a SendRequest response from the server.", TextHead(answer, LoggedAnswerHead));
    TKvXML doc;
    doc.Parse(answer);
    const TKvXMLElement* body = SoapBody(doc);
    if (!body) return FailUnmatchedAnswer("no soap:Body");

    bool acted = false;
    if (const TKvXMLElement* dmElement = body->FindChild("dm")) {
        if (const TKvXMLElement* message = dmElement->FindChild("client_message")) {
            if (!message->Text().empty()) {
                StatusDetail = DecodeXmlEntities(message->Text());
                Repaint();
            }
        }
        if (dmElement->PathText("send_request_again") == "1") {
            SendRequestAgain();
            return;
        }
        if (const TKvXMLElement* unsent = dmElement->FindChild("unsent_invoices")) {
            ReviewUnsentInvoices(*unsent, dmElement->PathText("allow_attachments") == "1");
            if (Gone()) return;
            if (Phase != phIdle) SendChosenInvoices();
            acted = true;
        }
        if (dmElement->FindChild("popup")) {
            if (acted) {
                // Both would post a request; the chosen invoices go first and the popup is only shown.
                main_.ShowServicePopup(ReadPopup(*dmElement->FindChild("popup")));
                return;
            }
            // Either a request for a request or the closing of the connection is under way.
            ShowServicePopup(dmElement);
            return;
        }
        if (acted) return;
    }
    const TKvXMLElement* result = OperationResult(*body, "sendRequestXML");
    if (!result) return FailUnmatchedAnswer("no sendRequestXMLResult");
    const std::optional<std::string_view> requestText = ResultText(*result);
    if (!requestText) return FailUnmatchedAnswer("unreadable sendRequestXMLResult");
    const std::string request = HtmlUnescape(*requestText);
    if (TrimBlanks(request).empty()) {
        // The server has no more work in this session.
        Log("The server sent no request.");
        SendCloseConnection();
        return;
    }

    repeats_ = 0;
    StatusText = "Sending request to QuickBooks";
    Log(StatusText);
    std::string response;
    try {
        response = qb_.Processor().ProcessRequest(qb_.Ticket(), request);
    } catch (const std::exception& e) {
        const auto* qbError = dynamic_cast<const TQbError*>(&e);
        std::string location =
            qbError && qbError->IsComError()
                ? "Process_SendRequest - QB ProcessRequest COM Error - Error Code: \"" + std::to_string(qbError->Code()) +
                      "\" - Error Message: \"" + e.what() + "\""
                : std::string("Process_SendRequest - QB ProcessRequest Error - Error Message: \"") + e.what() + "\"";
        ErrorKind = ekProcessRequestFailed;
        HadErrors = true;
        ErrorText = std::string("QB Error: ") + e.what();
        SendServerErrorReport(request, location);
        return;
    }
    StatusText = "Sending response to Invara";
    Phase = phReceiveResponse;
    std::string envelope = ReceiveResponseEnvelope(ServerTicket, response);
    response = std::string(); // the answer can be large: only the envelope is kept from here
    Log("Sending response to the server.", envelope);
    Post(std::move(envelope));
}

void TSync::Process_ReceiveResponse(const std::string& answer) {
    Log("Received a ReceiveResponse response from the server.", TextHead(answer, LoggedAnswerHead));
    TKvXML doc;
    doc.Parse(answer);
    const TKvXMLElement* body = SoapBody(doc);
    const TKvXMLElement* result = body ? OperationResult(*body, "receiveResponseXML") : nullptr;
    if (!result) return FailUnmatchedAnswer("no receiveResponseXMLResult");
    const std::optional<std::string_view> percentage = ResultText(*result);
    // A result that cannot be read must not end the session as complete.
    if (!percentage) return FailUnmatchedAnswer("unreadable receiveResponseXMLResult");
    Percentage = ReadPercentage(*percentage);
    Log("Session percentage: " + std::to_string(Percentage));
    if (Percentage >= 100) {
        SendCloseConnection();
        return;
    }
    Repaint();
    SendRequestXML();
}

void TSync::SendCloseConnection() {
    Phase = phCloseConnection;
    Percentage = 100;
    StatusText = "Closing connection.";
    Repaint();
    std::string envelope = CloseConnectionEnvelope(ServerTicket);
    LastRequest = envelope;
    Log("Telling server to close connection.", envelope);
    Post(std::move(envelope));
}

void TSync::Process_CloseConnection(const std::string& answer) {
    CloseReceived = true;
    // The answer replaces the smart sync settings; one without them switches it off.
    const bool wasOn = Biller.smartsync;
    Biller.smartsync = false;
    bool configured = false;
    TKvXML doc;
    doc.Parse(answer);
    const TKvXMLElement* body = SoapBody(doc);
    const TKvXMLElement* response = body ? OperationResponse(*body, "closeConnection") : nullptr;
    const TKvXMLElement* smart = response ? response->FindChild("smartsync") : nullptr;
    if (smart && smart->FindChild("request") && smart->FindChild("howoften")) {
        Biller.smartsync = true;
        Biller.smartsyncsource = HtmlUnescape(smart->PathText("request"));
        std::string howOften = smart->PathText("howoften");
        Biller.smartsyncdelay = ReadSmartSyncDelay(howOften);
        Biller.smartsyncfilepath = HtmlUnescape(smart->PathText("filepath"));
        SmartSyncCountdown = Biller.smartsyncdelay;
        configured = true;
    }
    FinishSync();
    if (configured || wasOn != Biller.smartsync) main_.SaveSettings();
}

void TSync::ReviewUnsentInvoices(const TKvXMLElement& unsent, bool allowAttachments) {
    ChosenInvoices.clear();
    try {
        TUnsentInvoiceFiles files(main_.App.StorageFolder);
        if (files.Write(unsent) > 0) {
            TReviewResult result = main_.Prompts.ReviewUnsentInvoices(*this, files, allowAttachments);
            if (Gone()) return;
            if (result.Closed) {
                StatusDetail = "Canceling...";
                Repaint();
                FinishSync();
            } else {
                ChosenInvoices = files.chosenInvoicesText(result.SkipEmails);
            }
        }
    } catch (const TUnsentInvoiceError& e) {
        // Nothing is sent that nobody chose: the session ends.
        HadErrors = true;
        ErrorText = e.what();
        Log(ErrorText);
        PreviewInvoices = false;
        FinishSync();
        return;
    }
    PreviewInvoices = false;
}

std::int32_t TSync::RequestInvoiceAttachments(const std::string& invoiceId, TWebResponseEvent handler,
                                              TWebOwnerRef owner) {
    return WebPostXml(main_.App.SyncServiceUrl, AttachmentListEnvelope(ServerTicket, invoiceId), std::move(handler),
                      std::move(owner));
}

std::int32_t TSync::PostBillerRequest(const std::string& operation, TWebResponseEvent handler, TWebOwnerRef owner) {
    return WebPostXml(main_.App.ServiceUrl, BillerRequestEnvelope(Biller.id, Biller.password, operation),
                      std::move(handler), std::move(owner));
}

void TSync::SendReportError() {
    Phase = phReportError;
    Percentage = 100;
    StatusText = "Reporting error.";
    Repaint();
    std::string envelope = ReportErrorEnvelope(ServerTicket, LastQbError);
    LastRequest = envelope;
    Log("Reporting error to server.", envelope);
    Post(std::move(envelope));
}

void TSync::FinishSync() {
    TBusyGuard busy(*this);
    Phase = phIdle;
    tmrStartSync.stop();
    qb_.Close();
    EndImport();
    main_.SetSyncInProgress(false);
    QbConnected = false;
    Biller.lastsync = main_.Now();
    main_.EndLogSession(HadErrors);
    Repaint();

    // A follow-up may remove the biller (its removal waits until this call returns); the
    // all-biller run goes on either way. While its dialog is open no other session starts.
    TMainEngine::TFollowUpGuard followUp(main_);
    if (AuthFailed) {
        std::optional<TCredentials> fresh =
            main_.Prompts.AskCredentials(Biller.name, {Biller.username, Biller.password});
        if (fresh && !Gone()) {
            Biller.username = fresh->UserName;
            Biller.password = fresh->Password;
            StartSync(false, false, false);
        }
    } else if (FileNotFound) {
        TFileNotFoundChoice choice = main_.Prompts.AskCompanyFileNotFound(CompanyFilePath, Biller.name, Biller.id);
        if (!Gone()) {
            switch (choice) {
            case TFileNotFoundChoice::Disable:
                Biller.autosync = false;
                Biller.paymentnotify = false;
                Repaint();
                break;
            case TFileNotFoundChoice::Remove: main_.RequestRemoveBiller(this); break;
            case TFileNotFoundChoice::Link:
                ResetFilePath = true;
                StartSync(false, false, false);
                break;
            case TFileNotFoundChoice::None: break;
            }
        }
    } else if (PaymentsOnlyPending) {
        PaymentsOnlyPending = false;
        StartSync(true, false, false);
    }

    if (Manual && HadErrors && !Gone()) {
        if (OtherFileOpen) main_.Prompts.ShowError(OtherFileOpenMessage);
        else if (ErrorText.find("modal dialog box") != std::string::npos) main_.Prompts.ShowError(ModalDialogMessage);
    }
    followUp.End();
    Manual = false;
    emit sessionFinished();
    main_.ContinueSyncAll(this);
}

void TSync::CloseQuickBooksOnExit() {
    tmrStartSync.stop();
    EndImport();
    if (QbConnected) qb_.Close();
    // A session cut short by the program's end did not end: its log gets no end line, so it
    // never reads as successful.
    if (Phase != phIdle) main_.EndLogSession(true);
    QbConnected = false;
    qb_.Close();
}

// --- Account confirmation and service updates -------------------------------------------

std::vector<std::string> TSync::ServiceFields(bool confirmation) const {
    return ConfirmationFields(confirmation, Biller.username, Biller.password, main_.App.HostedPartner,
                              main_.App.TestMode);
}

void TSync::ConfirmAccount() {
    Layout = TButtonLayout::Confirming;
    Confirming = true;
    Blocked = false;
    Repaint();
    WebPost(main_.App.BusinessUrl + "dm_confirm_account.php", ServiceFields(true), FormContentType, {},
            WebHandler(this, &TSync::ConfirmAccountResponse), webOwner_);
}

void TSync::ShowCanceled() { ShowBlocked(TButtonLayout::Canceled, "Your Invara account has been canceled."); }

void TSync::ShowBlocked(TButtonLayout layout, const std::string& text) {
    Layout = layout;
    Blocked = true;
    BlockedText = text;
    Repaint();
    // A session asked for during the confirmation will not come; an all-biller run waiting
    // for it goes on with the next biller.
    if (SyncAfterConfirm) {
        SyncAfterConfirm = false;
        deferredStart_.reset();
        main_.ContinueSyncAll(this);
    }
}

// The start asked for during the confirmation, with its starter's own options; the Sync
// button's are taken now, from the confirmation's answer. Another session may have begun
// meanwhile: then it waits for that one to end.
void TSync::ReplayDeferredStart() {
    SyncAfterConfirm = false;
    TSessionStart start = deferredStart_.value_or(
        TSessionStart{false, !DelaySendingInvoices, DelaySendingInvoices, true});
    deferredStart_.reset();
    main_.StartWhenFree(this, start);
}

void TSync::ConfirmAccountResponse(std::int32_t, WebStatus status, const std::string& text, std::int32_t) {
    TBusyGuard busy(*this);
    if (status == wsFailed) {
        main_.LogWebFailure(Biller.id);
        Confirming = false;
        tmrServiceUpdate.setInterval(5000); // try again in about five seconds
        // Every button stays hidden until the service answers.
        ShowBlocked(TButtonLayout::Confirming, "Unable to communicate with Invara.");
        emit confirmationEnded();
        return;
    }
    if (status != wsDone) return;
    Confirming = false;
    Confirmed = true;
    const TConfirmationReply reply = ReadConfirmationReply(text);
    if (reply.Next) {
        Biller.name = reply.Name;
        Biller.id = reply.Id;
        DelaySendingInvoices = reply.DelaySendingInvoices;
        Layout = TButtonLayout::Confirmed;
        Blocked = false;
        Repaint();
        if (SaveAfterConfirm) {
            SaveAfterConfirm = false;
            main_.SaveSettings();
        }
        if (SyncAfterConfirm) ReplayDeferredStart();
    } else if (reply.Suspended) {
        ShowBlocked(TButtonLayout::Suspended, reply.Message);
    } else if (reply.Deleted) {
        ShowCanceled();
    } else if (reply.Back) {
        tmrUnableConfirm.start();
    } else {
        // Not one of the service's answers: say so rather than leave an empty tab, and ask
        // again a minute later.
        tmrServiceUpdate.setInterval(60000);
        ShowBlocked(TButtonLayout::Canceled, "Unable to confirm the account: unexpected answer from Invara.");
    }
    emit confirmationEnded();
}

void TSync::tmrUnableConfirmTimer() {
    TBusyGuard busy(*this);
    tmrUnableConfirm.stop();
    std::optional<std::string> password = main_.Prompts.AskPassword(Biller.name, Biller.id, Biller.username);
    if (Gone()) return;
    if (password) {
        Biller.password = *password;
        SaveAfterConfirm = true;
        ConfirmAccount();
    } else {
        ShowBlocked(TButtonLayout::Canceled, "Your Invara account could not be confirmed.");
    }
}

void TSync::tmrServiceUpdateTimer() {
    if (main_.SyncInProgress()) {
        tmrServiceUpdate.setInterval(1000);
        return;
    }
    tmrServiceUpdate.setInterval(3600000);
    if (Blocked) {
        ConfirmAccount();
        Repaint();
    } else if (Biller.checkpayments) {
        WebPost(main_.App.BusinessUrl + "dm_notifications_update.php", ServiceFields(false), FormContentType, {},
                WebHandler(this, &TSync::NotificationsResponse), webOwner_);
    }
}

void TSync::NotificationsResponse(std::int32_t, WebStatus status, const std::string& text, std::int32_t) {
    if (status != wsDone) return;
    TBusyGuard busy(*this);
    std::string answer(TrimBlanks(text));
    // Empty pieces between two TABs count as fragments too.
    size_t start = 0;
    for (;;) {
        size_t tab = answer.find('\t', start);
        main_.ShowNotification(false, answer.substr(start, tab == std::string::npos ? std::string::npos : tab - start),
                               Biller.paymentnotify);
        if (Gone() || tab == std::string::npos) break;
        start = tab + 1;
    }
    tmrServiceUpdate.setInterval(main_.App.FastServiceUpdates ? 1000 : 60000);
}

// --- Smart sync ----------------------------------------------------------------------------

void TSync::tmrSmartSyncTimer() {
    // A biller without QuickBooks imports files: there is no company file to ask, and the
    // check would open QuickBooks for nothing every second.
    if (Biller.type == "ezi") return;
    bool due = false;
    // The countdown waits while the frame cannot start a session.
    if (!main_.SyncInProgress() && Biller.smartsync && !Blocked && !Confirming && Phase == phIdle) {
        tmrSmartSync.stop();
        --SmartSyncCountdown;
        if (SmartSyncCountdown <= 0) {
            StatusText = "Smart Sync Checking for Updates...";
            Repaint();
            SmartSyncCountdown = Biller.smartsyncdelay;
            due = SmartSyncCheck();
        }
        tmrSmartSync.start();
    }
    if (due) {
        Manual = true;
        StartSync(false, false, false);
    } else if (!main_.SyncInProgress() && Biller.smartsync) {
        std::string status =
            Biller.smartsyncdelay > 2 ? "Smart Sync... " + std::to_string(SmartSyncCountdown) : "Smart Sync";
        // The strip is drawn again only when what it shows moved.
        if (status != StatusText) {
            StatusText = std::move(status);
            Repaint();
        }
    }
}

// Asks QuickBooks the service's query directly; any response with records makes a session
// due. Every failure is silent: the next check comes after the delay.
bool TSync::SmartSyncCheck() {
    TQbSession qb;
    std::string answer;
    try {
        qb.Open();
        qb.Begin(CompanyFilePath, main_.Options.multiuser ? kQbFileOpenMultiUser : kQbFileOpenDoNotCare);
        answer = qb.Processor().ProcessRequest(qb.Ticket(), Biller.smartsyncsource);
    } catch (const std::exception&) {
    }
    qb.Close();
    if (answer.empty()) return false;
    TKvXML doc;
    doc.Parse(answer);
    // The flag is set by the session's start, not here: a start that is refused must not
    // leave it set.
    if (const TKvXMLElement* msgs = doc.Root()->FindChild("QBXMLMsgsRs"))
        for (int i = 0; i < msgs->ChildCount(); ++i)
            if (msgs->ChildAt(i)->ChildCount() > 0) return true;
    return false;
}

} // namespace dm
