#include "engine/SyncMessages.h"

#include "core/General.h"
#include "platform/System.h"

#include <algorithm>
#include <cmath>

namespace dm {

namespace {

const char* const EnvelopeHead =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><soap:Body>";
const char* const EnvelopeTail = "</soap:Body></soap:Envelope>";
const char* const ConnectorNamespace = "http://developer.intuit.com/";

std::string Element(const char* name, std::string_view text) {
    return "<" + std::string(name) + ">" + std::string(text) + "</" + name + ">";
}

std::string Operation(const char* name, const std::string& content) {
    return "<" + std::string(name) + " xmlns=\"" + ConnectorNamespace + "\">" + content + "</" + name + ">";
}

std::string Envelope(const std::string& body) { return EnvelopeHead + body + EnvelopeTail; }

} // namespace

TClientInfo TClientInfo::Current(const std::string& versionText, const std::string& buildNumber) {
    return {versionText, buildNumber, dm::ComputerName(), WindowsUserName("Unknown"), dm::HostName(), LocalIpAddress()};
}

std::string AuthenticateEnvelope(const std::string& userName, const std::string& password,
                                 const TClientInfo& client, bool resetCompanyFilePath, const TSyncMode& mode) {
    std::string op = Operation("authenticate", Element("strUserName", HtmlEscape(userName)) +
                                                   Element("strPassword", HtmlEscape(password)));
    std::string c = Element("version", client.VersionText) + Element("build", client.BuildNumber) +
                    Element("computername", HtmlEscape(client.ComputerName)) +
                    Element("username", HtmlEscape(client.UserName)) +
                    Element("hostname", HtmlEscape(client.HostName)) + Element("localip", HtmlEscape(client.LocalIp));
    if (resetCompanyFilePath) c += "<resetcompanyfilepath>1</resetcompanyfilepath>";
    std::string s = mode.Manual ? "<manual>1</manual>" : "<automatic>1</automatic>";
    s += mode.PaymentNotifications ? "<paymentnotifications>1</paymentnotifications>"
                                   : "<paymentnotifications>0</paymentnotifications>";
    if (mode.PaymentsOnly) s += "<paymentsonly>1</paymentsonly>";
    if (mode.SendInvoices) s += "<sendinvoices>1</sendinvoices>";
    if (mode.PreviewInvoices) s += "<previewinvoices>1</previewinvoices>";
    s += Element("hosted", HtmlEscape(mode.HostedPartner));
    return Envelope(op + Element("client", c) + Element("sync", s));
}

std::string SendRequestEnvelope(const std::string& ticket, const std::string& companyFileName, int majorVersion,
                                int minorVersion) {
    // Backslashes doubled as the service expects of Windows paths; escaped so that a file name
    // with "&" or "<" cannot break the envelope.
    return Envelope(Operation(
        "sendRequestXML", Element("ticket", ticket) + Element("strHCPResponse", "") +
                              Element("strCompanyFileName", HtmlEscape(ReplaceText('\\', "\\\\", companyFileName))) +
                              Element("qbXMLCountry", "US") + Element("qbXMLMajorVers", std::to_string(majorVersion)) +
                              Element("qbXMLMinorVers", std::to_string(minorVersion))));
}

std::string ChosenInvoicesEnvelope(const std::string& ticket, const std::string& chosenInvoices) {
    return Envelope(Operation("sendRequestXML", Element("ticket", ticket) + Element("sendchoseninvoices", chosenInvoices)));
}

// QuickBooks' answer can be tens of megabytes: it is escaped straight into the one envelope.
std::string ReceiveResponseEnvelope(const std::string& ticket, const std::string& qbxmlResponse) {
    const std::string head = std::string(EnvelopeHead) + "<receiveResponseXML xmlns=\"" + ConnectorNamespace +
                             "\">" + Element("ticket", ticket) + "<response>";
    const std::string tail = std::string("</response><hresult /><message /></receiveResponseXML>") + EnvelopeTail;
    std::string envelope;
    envelope.reserve(head.size() + HtmlEscapedSize(qbxmlResponse) + tail.size());
    envelope += head;
    AppendHtmlEscaped(envelope, qbxmlResponse);
    envelope += tail;
    return envelope;
}

std::string CloseConnectionEnvelope(const std::string& ticket) {
    return Envelope(Operation("closeConnection", Element("ticket", ticket)));
}

std::string ReportErrorEnvelope(const std::string& ticket, const std::string& qbErrorMessage) {
    // QuickBooks' message is escaped: it may quote the user's data.
    return Envelope(Operation("reportError", Element("ticket", ticket) + Element("info", HtmlEscape(qbErrorMessage))));
}

std::string AttachmentListEnvelope(const std::string& ticket, const std::string& invoiceId) {
    return Envelope(Operation("sendRequestXML",
                              Element("ticket", ticket) + Element("getInvoiceAttachments", HtmlEscape(invoiceId))));
}

std::string MaskPassword(const std::string& envelope) {
    const std::string open = "</strUserName><strPassword>";
    size_t at = envelope.find(open);
    if (at == std::string::npos) return envelope;
    size_t start = at + open.size();
    size_t end = envelope.find("</strPassword>", start);
    if (end == std::string::npos) return envelope;
    return envelope.substr(0, start) + "********" + envelope.substr(end);
}

namespace {

std::string_view LocalName(std::string_view name) {
    size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

} // namespace

const TKvXMLElement* FindByLocalName(const TKvXMLElement& parent, std::string_view name) {
    // The exact name first, so that an answer that reads by its full names is read as before.
    if (const TKvXMLElement* exact = parent.FindChild(name)) return exact;
    const std::string_view local = LocalName(name);
    for (int i = 0; i < parent.ChildCount(); ++i) {
        const TKvXMLElement* child = parent.ChildAt(i);
        if (EqualsNoCase(LocalName(child->Name()), local)) return child;
    }
    return nullptr;
}

const TKvXMLElement* SoapBody(const TKvXML& answer) { return FindByLocalName(*answer.Root(), "soap:Body"); }

const TKvXMLElement* OperationResponse(const TKvXMLElement& body, std::string_view operation) {
    return FindByLocalName(body, std::string(operation) + "Response");
}

const TKvXMLElement* OperationResult(const TKvXMLElement& body, std::string_view operation) {
    const TKvXMLElement* response = OperationResponse(body, operation);
    return response ? FindByLocalName(*response, std::string(operation) + "Result") : nullptr;
}

std::optional<std::string_view> ResultText(const TKvXMLElement& result) {
    if (!result.Text().empty() || result.ChildCount() == 0) return result.Text();
    if (result.ChildCount() == 1 && result.ChildAt(0)->ChildCount() == 0) return result.ChildAt(0)->Text();
    return std::nullopt;
}

TAuthenticateResult ReadAuthenticateResult(const TKvXMLElement& result) {
    TAuthenticateResult r;
    if (const TKvXMLElement* ticket = result.ChildAt(0)) r.Ticket = std::string(ticket->Text());
    // Some servers leave out an empty second string altogether.
    if (const TKvXMLElement* file = result.ChildAt(1)) r.CompanyFile = std::string(file->Text());
    if (r.CompanyFile == "nvu") r.Kind = TAuthenticateResult::TKind::InvalidUser;
    else if (EqualsNoCase(r.CompanyFile, "none")) r.Kind = TAuthenticateResult::TKind::NoWork;
    return r;
}

int ReadPercentage(std::string_view text) { return std::clamp(ParseInteger(text).value_or(100), -1, 100); }

int ReadSmartSyncDelay(std::string_view text) { return std::clamp(ParseInteger(text).value_or(0), 0, 86400); }

bool LooksLikeXml(std::string_view answer) { return answer.substr(0, 14) == "<?xml version="; }

TPopupSpec ReadPopup(const TKvXMLElement& popup) {
    TPopupSpec spec;
    // The address the service's escaped XML stands for ("a?x=1&amp;y=2" is "a?x=1&y=2").
    spec.Url = DecodeXmlEntities(popup.PathText("url"));
    auto size = [&](const char* name, std::optional<int>& pixels, std::optional<int>& percent) {
        const TKvXMLElement* e = popup.FindChild(name);
        if (!e || e->Text().empty()) return;
        std::string_view t = e->Text();
        if (t.back() == '%') percent = std::clamp(ParseInteger(t.substr(0, t.size() - 1)).value_or(50), 0, 100);
        else pixels = std::clamp(ParseInteger(t).value_or(50), 0, MaxPopupPixels);
    };
    size("width", spec.Width, spec.WidthPercent);
    size("height", spec.Height, spec.HeightPercent);
    auto limit = [&](const char* name, std::optional<int>& value) {
        const TKvXMLElement* e = popup.FindChild(name);
        if (e && !e->Text().empty()) value = std::clamp(ParseInteger(e->Text()).value_or(50), 0, MaxPopupPixels);
    };
    limit("min_width", spec.MinWidth);
    limit("max_width", spec.MaxWidth);
    limit("min_height", spec.MinHeight);
    limit("max_height", spec.MaxHeight);
    spec.HideMaximize = popup.PathText("hide_maximize") == "1";
    spec.Maximized = popup.PathText("maximized") == "1";
    spec.SendRequestAgain = popup.PathText("send_request_again") == "1";
    return spec;
}

TPopupGeometry PopupGeometry(const TPopupSpec& spec, int workAreaWidth, int workAreaHeight) {
    // In floating point, then kept in range: the sizes need not come from ReadPopup.
    auto pixels = [](double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, double(MaxPopupPixels)))); };
    auto share = [&](int area, int percent) { return pixels(double(area) * std::clamp(percent, 0, 100) / 100.0); };
    TPopupGeometry g;
    if (spec.Width) g.Width = pixels(*spec.Width);
    if (spec.WidthPercent) g.Width = share(workAreaWidth, *spec.WidthPercent);
    if (spec.Height) g.Height = pixels(*spec.Height);
    if (spec.HeightPercent) g.Height = share(workAreaHeight, *spec.HeightPercent);
    g.MinWidth = pixels(spec.MinWidth.value_or(0));
    g.MaxWidth = pixels(spec.MaxWidth.value_or(0));
    g.MinHeight = pixels(spec.MinHeight.value_or(0));
    g.MaxHeight = pixels(spec.MaxHeight.value_or(0));
    return g;
}

} // namespace dm
