#pragma once

// The messages of the sync endpoint: the requests the session sends, in the service's exact
// text, and the readers of the service's answers.

#include "core/KvXml.h"

#include <optional>
#include <string>
#include <string_view>

namespace dm {

// Who is synchronising, sent with every authentication.
struct TClientInfo {
    std::string VersionText;
    std::string BuildNumber;
    std::string ComputerName;
    std::string UserName;
    std::string HostName;
    std::string LocalIp;
    static TClientInfo Current(const std::string& versionText, const std::string& buildNumber);
};

struct TSyncMode {
    bool Manual = false;
    bool PaymentNotifications = false;
    bool PaymentsOnly = false;
    bool SendInvoices = false;
    bool PreviewInvoices = false;
    std::string HostedPartner;
};

std::string AuthenticateEnvelope(const std::string& userName, const std::string& password,
                                 const TClientInfo& client, bool resetCompanyFilePath, const TSyncMode& mode);
std::string SendRequestEnvelope(const std::string& ticket, const std::string& companyFileName, int majorVersion,
                                int minorVersion);
// The chosen-invoices text is markup already and goes in as it is.
std::string ChosenInvoicesEnvelope(const std::string& ticket, const std::string& chosenInvoices);
std::string ReceiveResponseEnvelope(const std::string& ticket, const std::string& qbxmlResponse);
std::string CloseConnectionEnvelope(const std::string& ticket);
std::string ReportErrorEnvelope(const std::string& ticket, const std::string& qbErrorMessage);
// The files attached to one invoice under review, asked for within the running session.
std::string AttachmentListEnvelope(const std::string& ticket, const std::string& invoiceId);

// The authenticate envelope as it may be logged: the password replaced by eight asterisks.
std::string MaskPassword(const std::string& envelope);

// Answers are read the way the service writes them, and also the way other servers of the
// same protocol do: any SOAP prefix, prefixed operation elements, scalar results wrapped in
// one child element. An answer the service writes reads exactly as it always has.

// The child with this name, or else the first whose local name (the part after the colon)
// is the name's; letter case is ignored either way. Null when there is none.
const TKvXMLElement* FindByLocalName(const TKvXMLElement& parent, std::string_view name);
// The operation's response element below the body ("closeConnection" finds
// closeConnectionResponse), or null.
const TKvXMLElement* OperationResponse(const TKvXMLElement& body, std::string_view operation);
// The operation's result element (closeConnectionResponse/closeConnectionResult), or null.
const TKvXMLElement* OperationResult(const TKvXMLElement& body, std::string_view operation);
// The text of a scalar result: its own text, or, when that is empty and it holds exactly one
// child element without children of its own, that child's text. Nothing when it holds other
// markup: such a result cannot be read, and must not pass for an empty one.
std::optional<std::string_view> ResultText(const TKvXMLElement& result);

// The two strings of authenticateResult, read by position whatever their names.
struct TAuthenticateResult {
    enum class TKind {
        CompanyFile,  // the company file to open; "" for the one open in QuickBooks
        InvalidUser,  // "nvu"
        NoWork,       // "none", in any letter case: nothing to do for this user now
    };
    std::string Ticket;
    std::string CompanyFile; // the second string as it came; "" when it is missing
    TKind Kind = TKind::CompanyFile;
};
TAuthenticateResult ReadAuthenticateResult(const TKvXMLElement& result);

// The Body child of the document element, whatever its prefix, or null.
const TKvXMLElement* SoapBody(const TKvXML& answer);
// The session's percentage complete; a text that is not an integer counts as 100. Kept
// within -1 (not complete) to 100 (complete), the range the session and its bar use.
int ReadPercentage(std::string_view text);
// Seconds between smart sync checks; a text that is not an integer counts as 0. Kept within
// 0 to a day.
int ReadSmartSyncDelay(std::string_view text);
// "<?xml version=" at the very start.
bool LooksLikeXml(std::string_view answer);

// A window the service asks to show. Sizes are kept within 0 to MaxPopupPixels and percentages
// within 0 to 100, whatever the service sends.
inline constexpr int MaxPopupPixels = 32767;
struct TPopupSpec {
    std::string Url;
    std::optional<int> Width, Height;           // pixels
    std::optional<int> WidthPercent, HeightPercent;
    std::optional<int> MinWidth, MaxWidth, MinHeight, MaxHeight;
    bool HideMaximize = false;
    bool Maximized = false;
    bool SendRequestAgain = false;
};
TPopupSpec ReadPopup(const TKvXMLElement& popup);
struct TPopupGeometry {
    int Width = 0, Height = 0; // 0: the window's own default
    int MinWidth = 0, MaxWidth = 0, MinHeight = 0, MaxHeight = 0; // 0: no constraint
};
// The window's size on a work area of the given size, within 0 to MaxPopupPixels.
TPopupGeometry PopupGeometry(const TPopupSpec& spec, int workAreaWidth, int workAreaHeight);

} // namespace dm
