// Service answers as any bytes, read as the session reads them: the lookups below the SOAP
// body, the popup and its geometry on any work area, the percentage and the smart sync settings.
// Nothing crashes or overflows, and every number stays in the range its use allows.

#include "core/General.h"
#include "core/KvXml.h"
#include "engine/SyncMessages.h"
#include "platform/System.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckPixels(int v) { Check(v >= 0 && v <= dm::MaxPopupPixels); }

void ReadPopupOn(const dm::TKvXMLElement& popup) {
    dm::TPopupSpec spec = dm::ReadPopup(popup);
    (void)dm::IsWebAddress(spec.Url);
    for (const auto& v : {spec.Width, spec.Height, spec.MinWidth, spec.MaxWidth, spec.MinHeight, spec.MaxHeight})
        if (v) CheckPixels(*v);
    for (const auto& p : {spec.WidthPercent, spec.HeightPercent})
        if (p) Check(*p >= 0 && *p <= 100);
    // Work areas from the ordinary to ones no screen has.
    const int areas[][2] = {{1600, 900}, {0, 0}, {-1, -640}, {2147483647, 2147483647}, {-2147483647 - 1, 640}};
    for (const auto& area : areas) {
        dm::TPopupGeometry g = dm::PopupGeometry(spec, area[0], area[1]);
        for (int v : {g.Width, g.Height, g.MinWidth, g.MaxWidth, g.MinHeight, g.MaxHeight}) CheckPixels(v);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool quiet = (dm::TKvXML::SetMessageHandler([](const std::string&) {}), true);
    (void)quiet;
    const std::string answer(reinterpret_cast<const char*>(data), size);
    (void)dm::LooksLikeXml(answer);
    Check(dm::TextHead(answer).size() <= dm::TextHeadSize + 40);

    dm::TKvXML doc;
    doc.Parse(answer);
    const dm::TKvXMLElement* body = dm::SoapBody(doc);
    if (!body) return 0;

    // authenticate
    if (const dm::TKvXMLElement* redirect = body->FindChild("redirect")) (void)std::string(redirect->Text());
    if (const dm::TKvXMLElement* dmElement = body->FindChild("dm")) {
        (void)dm::DecodeXmlEntities(dmElement->PathText("after_sync_message"));
        (void)dm::DecodeXmlEntities(dmElement->PathText("client_message"));
        (void)dmElement->PathText("disconnect");
        (void)dmElement->PathText("send_request_again");
        (void)dmElement->FindChild("unsent_invoices");
        (void)dmElement->PathText("allow_attachments");
        if (const dm::TKvXMLElement* popup = dmElement->FindChild("popup")) ReadPopupOn(*popup);
    }
    // The results, found and read as the session reads them, whatever the prefixes and wrappers.
    if (const dm::TKvXMLElement* result = dm::OperationResult(*body, "authenticate")) {
        dm::TAuthenticateResult authenticated = dm::ReadAuthenticateResult(*result);
        (void)dm::DecodeXmlEntities(authenticated.CompanyFile);
    }
    if (const dm::TKvXMLElement* request = dm::OperationResult(*body, "sendRequestXML"))
        if (auto text = dm::ResultText(*request)) (void)dm::HtmlUnescape(*text);
    if (const dm::TKvXMLElement* percent = dm::OperationResult(*body, "receiveResponseXML"))
        if (auto text = dm::ResultText(*percent)) {
            int p = dm::ReadPercentage(*text);
            Check(p >= -1 && p <= 100);
        }
    if (const dm::TKvXMLElement* close = dm::OperationResponse(*body, "closeConnection"))
        if (const dm::TKvXMLElement* smart = close->FindChild("smartsync")) {
            (void)dm::HtmlUnescape(smart->PathText("request"));
            (void)dm::HtmlUnescape(smart->PathText("filepath"));
            int delay = dm::ReadSmartSyncDelay(smart->PathText("howoften"));
            Check(delay >= 0 && delay <= 86400);
        }
    return 0;
}
