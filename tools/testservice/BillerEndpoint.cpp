// The biller request endpoint (attachment updates, invoice import), the chunked upload that
// feeds the import, and the error report form.

#include "TestService.h"
#include "XmlInput.h"

#include "core/General.h"

#include <algorithm>

namespace dm {

namespace {

std::string Element(const std::string& name, const std::string& escapedText) {
    return "<" + name + ">" + escapedText + "</" + name + ">";
}

std::string Child(const pugi::xml_node& node, const char* name) { return node.child(name).text().as_string(); }

TServiceAnswer XmlReply(const std::string& content, int status = 200) {
    TServiceAnswer a;
    a.status = status;
    a.body = "<?xml version=\"1.0\" encoding=\"utf-8\"?><response>" + content + "</response>";
    return a;
}

TServiceAnswer Refused(int status, const std::string& message) {
    TServiceAnswer a;
    a.status = status;
    a.contentType = "text/plain";
    a.body = message + "\n";
    return a;
}

std::string AttachmentError(int number, const std::string& message) {
    return "<attachment><error>" + Element("number", std::to_string(number)) + Element("message", XmlText(message)) +
           "</error></attachment>";
}

// Lines of an invoice file: number, customer, amount, due date; fields may be double-quoted.
std::vector<std::vector<std::string>> CsvRows(const std::string& text, bool skipFirst) {
    std::vector<std::vector<std::string>> rows;
    size_t start = 0;
    bool first = true;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (end < text.size() && text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
        if (TrimBlanks(line).empty()) continue;
        if (first && skipFirst) {
            first = false;
            continue;
        }
        first = false;
        std::vector<std::string> fields(1);
        bool quoted = false;
        for (size_t i = 0; i < line.size(); ++i) {
            char c = line[i];
            if (c == '"') {
                if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    fields.back() += '"';
                    ++i;
                } else {
                    quoted = !quoted;
                }
            } else if (c == ',' && !quoted) {
                fields.emplace_back();
            } else {
                fields.back() += c;
            }
        }
        fields.resize(std::max<size_t>(fields.size(), 4));
        rows.push_back(std::move(fields));
    }
    return rows;
}

} // namespace

TServiceAnswer TTestService::BillerEndpoint(TServiceRequest& request) {
    pugi::xml_document doc;
    std::string error;
    bool parsed = request.method == "POST" && ParseStrict(request.body, doc, error);
    pugi::xml_node root = doc.document_element();
    pugi::xml_node biller = root.child("biller");
    pugi::xml_node op;
    if (pugi::xml_node pub = root.child("public")) {
        op = pub.first_child();
    } else {
        for (pugi::xml_node c = biller.first_child(); c && !op; c = c.next_sibling())
            if (c.type() == pugi::node_element && std::string(c.name()) != "authenticate") op = c;
    }
    if (op) request.operation = op.name();
    std::string id = Child(biller.child("authenticate"), "id");
    int account = Authenticate(id, Child(biller.child("authenticate"), "password"));
    request.account = account >= 0 ? scenario_.accounts[account].user : id;

    TServiceAnswer answer;
    if (TFault* f = TakeFault(request); f && ReplacesAnswer(*f, answer)) return answer;
    if (!parsed) return Refused(400, "The request is not well-formed XML: " + error);
    if (std::string(root.name()) != "request" || !op)
        return Refused(400, "Expected <request> with a <public> or <biller> operation.");
    if (request.operation == "startupload") return StartUpload(request, op);
    if (!biller.child("authenticate")) return Refused(400, "The biller request has no <authenticate>.");
    if (account < 0)
        return XmlReply("<biller><error><number>100</number><message>User name and password are not correct.</message>"
                        "</error></biller>",
                        403);
    if (request.operation == "invoiceupdate") return InvoiceUpdate(request, scenario_.accounts[account], op);
    if (request.operation.rfind("invoiceimport", 0) == 0) return ImportOperation(request, account, op);
    return Refused(400, "Unknown biller operation " + request.operation + ".");
}

TServiceAnswer TTestService::StartUpload(TServiceRequest& request, const pugi::xml_node& start) {
    TUpload upload;
    upload.filename = Child(start, "filename");
    upload.size = start.child("size").text().as_llong(-1);
    upload.blockSize = start.child("blocksize").text().as_llong(0);
    if (upload.size < 0 || upload.blockSize <= 0 || upload.filename.empty())
        return XmlReply("<public><startupload><internalid></internalid><error>The file name, size or block size is "
                        "not valid.</error></startupload></public>");
    std::string id = std::to_string(++counter_);
    uploads_[id] = std::move(upload);
    return XmlReply("<public><startupload>" + Element("internalid", id) + "</startupload></public>");
}

TServiceAnswer TTestService::UploaderEndpoint(TServiceRequest& request) {
    const std::string kind = "application/uploader-";
    request.operation = "block";
    TServiceAnswer answer;
    if (TFault* f = TakeFault(request); f && ReplacesAnswer(*f, answer)) return answer;
    if (request.method != "POST" || request.contentType.rfind(kind, 0) != 0)
        return Refused(400, "Blocks are posted with the content type application/uploader-<id>.");
    auto it = uploads_.find(request.contentType.substr(kind.size()));
    if (it == uploads_.end()) return Refused(404, "No upload has that id.");
    TUpload& upload = it->second;
    if (static_cast<long long>(request.body.size()) > upload.blockSize)
        return Refused(400, "The block is larger than the announced block size.");
    if (static_cast<long long>(upload.bytes.size() + request.body.size()) > upload.size)
        return Refused(400, "The blocks are longer than the announced file size.");
    upload.bytes += request.body;
    ++upload.blocks;
    answer.contentType = "text/plain";
    answer.body = "OK " + std::to_string(upload.bytes.size()) + "/" + std::to_string(upload.size) + "\n";
    return answer;
}

TServiceAnswer TTestService::InvoiceUpdate(TServiceRequest& request, TAccount& account, const pugi::xml_node& update) {
    std::string key = Child(update, "futureid");
    auto inv = std::find_if(account.invoices.begin(), account.invoices.end(), [&](const TInvoice& i) { return i.key == key; });
    std::string out;
    if (inv == account.invoices.end()) {
        out = AttachmentError(110351, "The invoice was not found.");
    } else if (!account.allowAttachments) {
        out = AttachmentError(110350, "Attachments are not enabled for this business.");
    } else {
        std::vector<std::pair<int, int>> orders; // attachment id, position
        for (pugi::xml_node a : update.children("attachment")) {
            if (a.child("file")) {
                std::string bytes;
                long long used = 0;
                for (const auto& x : inv->attachments) used += static_cast<long long>(x.bytes.size());
                std::string render = Child(a, "pdfrender");
                if (!Base64Decode(Child(a, "file"), bytes)) {
                    out += AttachmentError(110353, "The file is not valid Base64.");
                } else if (bytes.rfind("%PDF-", 0) != 0 || Child(a, "type") != "pdf") {
                    out += AttachmentError(110354, "Only PDF files can be attached.");
                } else if (render != "back" && render != "no") {
                    out += AttachmentError(110356, "Unknown display method.");
                } else if (static_cast<long long>(bytes.size()) > account.attachmentLimit - used) {
                    out += AttachmentError(110352, "The file exceeds the allowed invoice attachment size.");
                } else {
                    TAttachment att;
                    for (const auto& x : inv->attachments) att.id = std::max(att.id, x.id);
                    ++att.id;
                    att.data = "att_" + inv->key + "_" + std::to_string(att.id);
                    att.filename = Child(a, "filename");
                    att.description = Child(a, "description");
                    att.render = render == "back" ? 1 : 0;
                    att.bytes = std::move(bytes);
                    size_t at = static_cast<size_t>(std::clamp(a.child("displayorder").text().as_int(1) - 1, 0,
                                                               static_cast<int>(inv->attachments.size())));
                    inv->attachments.insert(inv->attachments.begin() + static_cast<long>(at), att);
                    out += "<attachment><result>added</result>" + Element("id", std::to_string(att.id)) + "</attachment>";
                }
            } else if (Child(a, "delete") == "1") {
                std::string data = Child(a, "internalid");
                auto it = std::find_if(inv->attachments.begin(), inv->attachments.end(),
                                       [&](const TAttachment& x) { return x.data == data; });
                if (it == inv->attachments.end()) {
                    out += AttachmentError(110355, "No attachment has that key.");
                } else {
                    inv->attachments.erase(it);
                    out += "<attachment><result>deleted</result></attachment>";
                }
            } else if (a.child("changedisplayorder")) {
                orders.emplace_back(a.child("internalid").text().as_int(-1), a.child("changedisplayorder").text().as_int(0));
                out += "<attachment><result>moved</result></attachment>";
            } else {
                out += AttachmentError(110357, "The attachment element asks for nothing.");
            }
        }
        auto position = [&](const TAttachment& x) {
            for (const auto& [id, pos] : orders)
                if (id == x.id) return pos;
            return 1 << 20;
        };
        std::stable_sort(inv->attachments.begin(), inv->attachments.end(),
                         [&](const TAttachment& l, const TAttachment& r) { return position(l) < position(r); });
    }
    return XmlReply("<biller><invoiceupdate>" + out + Element("futureid", XmlText(key)) + "</invoiceupdate></biller>");
}

TServiceAnswer TTestService::ImportOperation(TServiceRequest& request, size_t accountIndex, const pugi::xml_node& op) {
    TAccount& account = scenario_.accounts[accountIndex];
    const std::string& name = request.operation;
    auto findImport = [&](const std::string& id) -> TImport* {
        auto it = imports_.find(id);
        return it == imports_.end() || it->second.account != accountIndex ? nullptr : &it->second;
    };
    if (name == "invoiceimportstart") {
        std::string reply;
        if (account.type != "ezi") {
            reply = "<message>This business synchronizes with QuickBooks; invoice files cannot be imported.</message>";
        } else if (!account.import.refuseMessage.empty()) {
            reply = Element("message", XmlText(account.import.refuseMessage));
        } else {
            const TImport* open = nullptr;
            for (const auto& [id, im] : imports_)
                if (im.account == accountIndex && im.open) open = &im;
            if (open) {
                reply = "<resume>1</resume>" + Element("importid", XmlText(open->id));
            } else {
                const TImportSettings& s = account.import;
                reply = "<start>1</start>" + Element("importfilenamepattern", XmlText(s.filePattern)) +
                        Element("importpdfs", s.pdfs ? "1" : "0") + Element("skipfirstline", s.skipFirstLine ? "1" : "0") +
                        Element("pdffilenamepattern", XmlText(s.pdfPattern));
            }
        }
        return XmlReply("<biller><invoiceimportstart>" + reply + "</invoiceimportstart></biller>");
    }
    if (name == "invoiceimportreadfiles") {
        TImport import;
        import.id = "imp" + std::to_string(++counter_);
        import.account = accountIndex;
        for (pugi::xml_node f : op.children("file")) {
            auto up = uploads_.find(Child(f, "uploadid"));
            if (up == uploads_.end() || !up->second.Complete())
                return Refused(400, "Upload " + Child(f, "uploadid") + " is unknown or incomplete.");
            if (up->second.filename != Child(f, "filename"))
                return Refused(400, "Upload " + Child(f, "uploadid") + " was announced with another file name.");
            for (auto& row : CsvRows(up->second.bytes, account.import.skipFirstLine))
                import.invoices.push_back({"i" + std::to_string(++counter_), row[0], row[1], row[2], row[3]});
        }
        if (import.invoices.empty()) import.open = false;
        std::string id = import.id;
        imports_[id] = std::move(import);
        return XmlReply("<biller><invoiceimportreadfiles>" + Element("importid", id) + "</invoiceimportreadfiles></biller>");
    }
    TImport* import = findImport(Child(op, "importid"));
    if (!import) return Refused(400, "No import of this business has that id.");
    if (name == "invoiceimportreadfilesprogress") {
        ++import->progressPolls;
        int percent = std::min(100, import->progressPolls * 100 / account.import.progressSteps);
        return XmlReply("<biller><invoiceimportreadfilesprogress>" + Element("percent", std::to_string(percent)) +
                        Element("done", percent >= 100 ? "1" : "0") + "</invoiceimportreadfilesprogress></biller>");
    }
    if (name == "invoiceimportnextinvoice")
        return XmlReply("<biller><invoiceimportnextinvoice>" + ImportInvoiceReply(*import) + "</invoiceimportnextinvoice></biller>");
    if (name == "invoiceimportprocess") {
        if (import->next >= import->invoices.size() || import->invoices[import->next].id != Child(op, "invoiceid"))
            return Refused(400, "Invoice " + Child(op, "invoiceid") + " is not the one being imported.");
        const TImportInvoice& src = import->invoices[import->next];
        TInvoice inv;
        inv.key = std::to_string(5001 + account.invoices.size());
        inv.number = src.number;
        inv.customer = src.customer;
        inv.amount = src.amount;
        inv.balance = src.amount;
        inv.dueDate = src.dueDate;
        inv.imported = true;
        inv.sent = true;
        inv.emailed = true;
        if (op.child("uploadid")) {
            auto up = uploads_.find(Child(op, "uploadid"));
            if (up == uploads_.end() || !up->second.Complete())
                return Refused(400, "Upload " + Child(op, "uploadid") + " is unknown or incomplete.");
            TAttachment pdf;
            pdf.id = 1;
            pdf.data = "att_" + inv.key + "_1";
            pdf.filename = up->second.filename.substr(up->second.filename.find_last_of("/\\") + 1);
            pdf.render = 1;
            pdf.bytes = up->second.bytes;
            inv.attachments.push_back(std::move(pdf));
        }
        account.invoices.push_back(std::move(inv));
        ++import->next;
        return XmlReply("<biller><invoiceimportprocess>" + ImportInvoiceReply(*import) + "</invoiceimportprocess></biller>");
    }
    return Refused(400, "Unknown import operation " + name + ".");
}

std::string TTestService::ImportInvoiceReply(TImport& import) {
    if (import.next >= import.invoices.size()) {
        import.open = false;
        return "<done>1</done>";
    }
    const TImportInvoice& inv = import.invoices[import.next];
    const TAccount& account = scenario_.accounts[import.account];
    std::string filter;
    if (account.import.pdfs) {
        filter = account.import.pdfPattern;
        for (size_t at = 0; (at = filter.find("{number}", at)) != std::string::npos;) filter.replace(at, 8, inv.number);
    }
    return "<done>0</done>" + Element("pdffilefilter", XmlText(filter)) + "<invoice>" + Element("id", XmlText(inv.id)) +
           Element("number", XmlText(inv.number)) + "</invoice>" +
           Element("remaining", std::to_string(import.invoices.size() - import.next));
}

TServiceAnswer TTestService::ReportError(TServiceRequest& request) {
    TServiceAnswer answer;
    if (TFault* f = TakeFault(request); f && ReplacesAnswer(*f, answer)) return answer;
    if (!request.formOk || request.form.empty())
        return Refused(400, "The error report is a form post (application/x-www-form-urlencoded).");
    // Everything but the merchant id was encoded once by the agent and once more by its transport.
    TFormFields decoded;
    for (const auto& [name, value] : request.form) {
        std::string text = value;
        if (name != "MerchantID" && !FormDecode(value, text))
            return Refused(400, "The field " + name + " is not encoded twice.");
        decoded.emplace_back(name, text);
    }
    RecordForm(request, decoded);
    TAccount* account = nullptr;
    for (auto& a : scenario_.accounts)
        if (a.id == FormValue(decoded, "MerchantID")) account = &a;
    if (account) request.account = account->user;
    errorReports_.push_back({{"kind", "report_error"},
                             {"merchant_id", FormValue(decoded, "MerchantID")},
                             {"business_name", FormValue(decoded, "BusinessName")},
                             {"request", FormValue(decoded, "Request")},
                             {"server_response", FormValue(decoded, "ServerResponse")},
                             {"location", FormValue(decoded, "Location")}});
    answer.contentType = "text/html; charset=utf-8";
    answer.body = "<html><body><p>Thank you. The error report was sent to customer service.</p></body></html>";
    return answer;
}

} // namespace dm
