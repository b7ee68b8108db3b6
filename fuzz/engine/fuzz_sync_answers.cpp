// Answers of the sync endpoint as any bytes: finding the body and the operation results,
// reading scalar and authentication results and popups never crashes, and a result's text
// always lies inside the document.

#include "core/KvXml.h"
#include "engine/SyncMessages.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool quiet = (dm::TKvXML::SetMessageHandler([](const std::string&) {}), true);
    (void)quiet;
    std::string text(reinterpret_cast<const char*>(data), size);
    if (size && (data[0] & 1)) text = "<?xml version=\"1.0\"?>" + text.substr(1);

    dm::TKvXML doc;
    doc.Parse(text);
    const dm::TKvXMLElement* body = dm::SoapBody(doc);
    if (!body) return 0;
    for (const char* op : {"authenticate", "sendRequestXML", "receiveResponseXML", "closeConnection", "reportError"}) {
        const dm::TKvXMLElement* result = dm::OperationResult(*body, op);
        if (!result) continue;
        if (std::optional<std::string_view> t = dm::ResultText(*result)) {
            if (t->size() > text.size()) std::abort();
            (void)dm::ReadPercentage(*t);
        }
        dm::TAuthenticateResult a = dm::ReadAuthenticateResult(*result);
        if (a.Ticket.size() > text.size() || a.CompanyFile.size() > text.size()) std::abort();
    }
    if (const dm::TKvXMLElement* popup = body->FindPath("dm/popup"))
        (void)dm::PopupGeometry(dm::ReadPopup(*popup), 1600, 900);
    return 0;
}
