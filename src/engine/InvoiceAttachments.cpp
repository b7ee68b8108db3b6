#include "engine/InvoiceAttachments.h"

#include "core/General.h"
#include "core/KvXml.h"
#include "engine/SyncMessages.h"

#include <QByteArray>

namespace dm {

namespace {

std::string Plain(const TKvXMLElement& e, const char* path) { return DecodeXmlEntities(e.PathText(path)); }

void AppendElement(std::string& out, const char* name, std::string_view text) {
    out += '<';
    out += name;
    out += '>';
    AppendHtmlEscaped(out, text);
    out += "</";
    out += name;
    out += '>';
}

} // namespace

std::optional<TAttachmentList> ReadAttachmentList(const std::string& answer) {
    TKvXML doc;
    doc.Parse(answer);
    const TKvXMLElement* body = SoapBody(doc);
    const TKvXMLElement* dmElement = body ? body->FindChild("dm") : nullptr;
    if (!dmElement) return std::nullopt;
    TAttachmentList list;
    list.Number = Plain(*dmElement, "invoice/number");
    list.Customer = Plain(*dmElement, "invoice/customer");
    list.Total = Plain(*dmElement, "invoice/total");
    list.Balance = Plain(*dmElement, "invoice/balance");
    list.RemainingSize = std::max(0, ParseInteger(dmElement->PathText("invoice/remainingsize")).value_or(0));
    if (const TKvXMLElement* attachments = dmElement->FindChild("attachments")) {
        for (int i = 0; i < attachments->ChildCount(); ++i) {
            const TKvXMLElement& a = *attachments->ChildAt(i);
            list.Attachments.push_back({Plain(a, "filename"), Plain(a, "render"), Plain(a, "size"),
                                        Plain(a, "description"), Plain(a, "id"), Plain(a, "data")});
        }
    }
    return list;
}

std::string DisplayMethodCaption(std::string_view render) {
    if (render == "0") return "File View Link";
    if (render == "1" || render == "2") return "In Invoice PDF";
    return {};
}

std::string AddAttachmentElement(std::string_view description, int displayOrder, std::string_view fileName,
                                 bool inInvoicePdf, std::string_view fileBytes) {
    const QByteArray base64 =
        QByteArray::fromRawData(fileBytes.data(), static_cast<qsizetype>(fileBytes.size())).toBase64();
    std::string out;
    out.reserve(static_cast<size_t>(base64.size()) + 256 + description.size() + fileName.size());
    out += "<attachment>";
    AppendElement(out, "description", description);
    AppendElement(out, "displayorder", std::to_string(displayOrder));
    AppendElement(out, "filename", fileName);
    AppendElement(out, "pdfrender", inInvoicePdf ? "back" : "no");
    out += "<file>";
    out.append(base64.constData(), static_cast<size_t>(base64.size()));
    out += "</file><type>pdf</type></attachment>";
    return out;
}

std::string ReorderAttachmentElement(std::string_view id, int position) {
    std::string out = "<attachment>";
    AppendElement(out, "internalid", id);
    AppendElement(out, "changedisplayorder", std::to_string(position));
    return out + "</attachment>";
}

std::string DeleteAttachmentElement(std::string_view data) {
    std::string out = "<attachment>";
    AppendElement(out, "internalid", data);
    return out + "<delete>1</delete></attachment>";
}

std::string InvoiceUpdateOperation(std::string_view attachmentElements, std::string_view invoiceId) {
    std::string out = "<invoiceupdate>";
    out += attachmentElements;
    AppendElement(out, "futureid", invoiceId);
    return out + "</invoiceupdate>";
}

std::string InvoiceUpdateErrorNumber(const std::string& reply) {
    TKvXML doc;
    doc.Parse(reply);
    return std::string(TrimBlanks(doc.Root()->PathText("biller/invoiceupdate/attachment/error/number")));
}

} // namespace dm
