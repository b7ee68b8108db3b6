#include "engine/AddBusiness.h"

#include "core/General.h"
#include "engine/MainEngine.h"
#include "engine/Sync.h"
#include "qb/RequestProcessor.h"

#include <memory>

namespace dm {

const char* const EnterLoginMessage = "Please enter your user name and password.";
const char* const AlreadyLinkedMessage =
    "You already have a business registered in the Invara Desktop Manager with this user name.";
const char* const ConnectionFailedText = "Internet Connection Failed - Error #";

TConfirmStep ConfirmStepOf(const TConfirmationReply& reply) {
    if (reply.Done) return TConfirmStep::Done;
    if (reply.Next) return TConfirmStep::Connect;
    if (reply.Back) return TConfirmStep::Back;
    return TConfirmStep::Stay;
}

namespace {

std::string Lines(std::initializer_list<std::string> lines) {
    std::string html;
    for (const std::string& line : lines) html += line + "\r\n";
    return html;
}

const char* const PageHead = "body { font-family: Arial; font-size: 9pt; }";

} // namespace

std::string ConnectPageHtml(const std::string& businessName) {
    return Lines({"<head>", "<style>", PageHead, "</style>", "</head>",
                  "<body leftmargin=\"20px\" topmargin=\"20px\">",
                  "<p style=\"font-size: 12pt;\"><b>Connect to QuickBooks</b></p>",
                  "<p>Your login has been confirmed and we have located your business named <b>" +
                      HtmlEscape(businessName) + "</b>.",
                  "<p>The Invara Desktop Manager now needs to connect to QuickBooks so that it can synchronize your "
                  "business account information with the Invara system.</p>",
                  "<p>Please make sure that QuickBooks is running on this computer and you have the company file open "
                  "that you want to synchronize with Invara.</p>",
                  "<p>Click the \"Next >\" button when you are ready.</p>", "</body>"});
}

std::string QuickBooksErrorHtml(const std::string& errorMessage) {
    return Lines({"<head>", "<style>", PageHead, "</style>", "</head>", "<body>",
                  "<p>Unable to connect to QuickBooks. Please start QuickBooks and open the company file you want to "
                  "use with Invara, then click the \"Try Again\" button.</p>",
                  "<p>If QuickBooks is open then you will need to restart your computer, start QuickBooks again, and "
                  "start the Add Business process again.</p>",
                  "<p>Error Message: <b>" + HtmlEscape(errorMessage) + "</b></p>"});
}

TAddBusiness::TAddBusiness(TMainEngine& main, QObject* parent) : QObject(parent), main_(main) {}

TAddBusiness::TLoginCheck TAddBusiness::CheckLogin() const {
    TLoginCheck check;
    if (UserName.empty() || Password.empty()) {
        check.Messages.emplace_back(EnterLoginMessage);
        // The user name box is focused last, so it wins when both are empty.
        if (Password.empty()) check.Focus = TLoginCheck::PasswordBox;
        if (UserName.empty()) check.Focus = TLoginCheck::UserNameBox;
    }
    if (main_.IsUserNameLinked(UserName)) check.Messages.emplace_back(AlreadyLinkedMessage);
    return check;
}

void TAddBusiness::ConfirmAccount() {
    confirming_ = true;
    // The debug session belongs to the test environments only, as with every other request.
    const TAppState& app = main_.App;
    WebPost(app.BusinessUrl + "dm_confirm_account.php" + (app.TestMode ? "?DBGSESSID=1" : ""),
            ConfirmationFields(false, UserName, Password, app.HostedPartner, false), FormContentType, {},
            WebHandler(this, &TAddBusiness::ConfirmAccountResponse), webOwner_);
}

void TAddBusiness::ConfirmAccountResponse(std::int32_t, WebStatus status, const std::string& text, std::int32_t value) {
    if (status == wsFailed) {
        confirming_ = false;
        emit confirmFailed(ConnectionFailedText + std::to_string(value));
        return;
    }
    if (status != wsDone) return;
    confirming_ = false;
    const TConfirmationReply reply = ReadConfirmationReply(text);
    SetupWizard = reply.SetupWizard;
    BusinessType = "qbd";
    const TConfirmStep step = ConfirmStepOf(reply);
    if (step == TConfirmStep::Done || step == TConfirmStep::Connect) {
        BusinessName = reply.Name;
        BusinessId = reply.Id;
    }
    if (step == TConfirmStep::Done) BusinessType = reply.Type;
    emit confirmed(step, step == TConfirmStep::Back ? reply.Message : std::string());
}

std::string TAddBusiness::CheckQuickBooks() {
    // Any failure on the way, not only BeginSession's, means there is no session to be had:
    // the user sees why and can try again.
    try {
        std::unique_ptr<TRequestProcessor> processor = CreateRequestProcessor(kRequestProcessorProgId);
        processor->OpenConnection("", std::string(kQbApplicationName));
        SetQuickBooksAuthPreferences(*processor);
        const std::string ticket = processor->BeginSession("", kQbFileOpenDoNotCare);
        processor->EndSession(ticket);
    } catch (const std::exception& e) {
        std::string message = e.what();
        return message.empty() ? std::string("QuickBooks could not be reached.") : message;
    }
    return {};
}

void TAddBusiness::Finish() {
    for (const TSync* frame : main_.Billers())
        if (frame->Phase != TSync::phIdle) return;
    main_.SetSyncInProgress(false);
}

BillerRecord TAddBusiness::NewBiller() const {
    BillerRecord r;
    r.name = BusinessName;
    r.id = BusinessId;
    r.type = BusinessType;
    r.username = UserName;
    r.password = Password;
    r.autosyncminutes = 30;
    r.remembercppassword = false;
    r.autosync = true;
    // Every other field starts cleared, as a biller that nobody has set up yet.
    r.smartsync = false;
    r.paymentnotify = false;
    r.checkpayments = false;
    return r;
}

bool TAddBusiness::StartsFirstSession() const {
    return main_.App.HostedPartner != "unidata" && BusinessType != "ezi";
}

} // namespace dm
