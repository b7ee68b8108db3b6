#include "engine/AccountConfirmation.h"

#include "core/General.h"
#include "core/KvXml.h"

namespace dm {

std::vector<std::string> ConfirmationFields(bool startup, const std::string& userName, const std::string& password,
                                            const std::string& hostedPartner, bool debugField) {
    std::vector<std::string> fields;
    if (startup) fields.push_back("startup=1");
    fields.push_back("un=" + userName);
    fields.push_back("pw=" + password);
    fields.push_back("hosted=" + hostedPartner);
    if (debugField) fields.push_back("DBGSESSID=1");
    return fields;
}

TConfirmationReply ReadConfirmationReply(std::string answer) {
    TKvXML doc;
    doc.Parse(std::move(answer));
    const TKvXMLElement* root = doc.Root();
    // Texts the service escaped are shown and stored as the plain text they stand for.
    auto path = [&](const char* p) { return DecodeXmlEntities(root->PathText(std::string("response/") + p)); };
    TConfirmationReply r;
    r.Next = path("next") == "1";
    r.Done = path("done") == "1";
    r.Back = path("back") == "1";
    r.Suspended = path("suspended") == "1";
    r.Deleted = path("deleted") == "1";
    r.SetupWizard = path("setup_wizard") == "1";
    r.DelaySendingInvoices = path("business/delay_sending_invoices") == "1";
    r.Name = path("business/name");
    // The id goes back to the service and stays as it came.
    r.Id = std::string(root->PathText("response/business/id"));
    r.Type = path("business/type");
    r.Message = path("message");
    return r;
}

} // namespace dm
