#include "qb/QbXmlResponder.h"

#include "core/General.h"
#include "qb/QbXmlWriter.h"
#include "qb/RequestProcessor.h"

#include <algorithm>
#include <cstdio>
#include <pugixml.hpp>
#include <random>

namespace dm {

namespace {

constexpr const char* kNoMatch = "A query request did not find a matching object in QuickBooks";

[[noreturn]] void ThrowParseError() { throw TQbError(std::string(kQbMsgParseError), qbhr::ParseError); }

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

std::string NewGuid() {
    static std::mt19937_64 random{std::random_device{}()};
    std::uint64_t a = random(), b = random();
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "{%08x-%04x-%04x-%04x-%012llx}", static_cast<unsigned>(a >> 32),
                  static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>(a & 0xFFFF),
                  static_cast<unsigned>(b >> 48), static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
    return buffer;
}

// The accounts the stand-in knows only by name; their ids are stable so that a reference
// reads the same in every answer.
std::string AccountListId(std::string_view name) {
    std::uint32_t hash = 2166136261u;
    for (char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%X0000-1071500000", (hash >> 12) & 0xFFFF);
    return buffer;
}

std::string Text(pugi::xml_node node, const char* name) { return node.child(name).child_value(); }

TQbRef ReadRef(pugi::xml_node node) { return {Text(node, "ListID"), Text(node, "FullName")}; }

TQbAddress ReadAddress(pugi::xml_node n) {
    return {Text(n, "Addr1"), Text(n, "Addr2"), Text(n, "Addr3"), Text(n, "Addr4"),      Text(n, "Addr5"),
            Text(n, "City"),  Text(n, "State"), Text(n, "PostalCode"), Text(n, "Country"), Text(n, "Note")};
}

void WriteAddress(TQbXmlWriter& w, const char* name, const TQbAddress& a) {
    if (a.Empty()) return;
    w.Open(name);
    w.LeafIfAny("Addr1", a.Addr1), w.LeafIfAny("Addr2", a.Addr2), w.LeafIfAny("Addr3", a.Addr3);
    w.LeafIfAny("Addr4", a.Addr4), w.LeafIfAny("Addr5", a.Addr5), w.LeafIfAny("City", a.City);
    w.LeafIfAny("State", a.State), w.LeafIfAny("PostalCode", a.PostalCode);
    w.LeafIfAny("Country", a.Country), w.LeafIfAny("Note", a.Note);
    w.Close(name);
}

TQbStatus Warning(int code, std::string message) { return {code, "Warn", std::move(message)}; }

TQbStatusError ConversionError(const char* kind, std::string_view value, const char* field, int code) {
    return TQbStatusError(code, std::string("There was an error when converting the ") + kind + " \"" +
                                    std::string(value) + "\" in the field \"" + field + "\".");
}

bool ReadBoolField(pugi::xml_node node, const char* name, bool fallback) {
    pugi::xml_node child = node.child(name);
    if (!child) return fallback;
    bool value = fallback;
    if (!ParseBool(child.child_value(), value)) throw ConversionError("boolean value", child.child_value(), name, 3010);
    return value;
}

std::optional<TMoney> ReadMoneyField(pugi::xml_node node, const char* name) {
    pugi::xml_node child = node.child(name);
    if (!child) return std::nullopt;
    TMoney value = 0;
    if (!ParseMoney(child.child_value(), value)) throw ConversionError("amount", child.child_value(), name, 3040);
    return value;
}

std::optional<double> ReadNumberField(pugi::xml_node node, const char* name) {
    pugi::xml_node child = node.child(name);
    if (!child) return std::nullopt;
    double value = 0;
    if (!ParseDecimal(child.child_value(), value)) throw ConversionError("number", child.child_value(), name, 3030);
    return value;
}

std::string ReadDateField(pugi::xml_node node, const char* name) {
    pugi::xml_node child = node.child(name);
    if (!child) return {};
    std::string value = child.child_value();
    if (!IsQbDate(value)) throw ConversionError("date value", value, name, 3020);
    return value;
}

std::int64_t ReadDateTimeField(pugi::xml_node node, const char* name, bool endOfDay, std::int64_t fallback) {
    pugi::xml_node child = node.child(name);
    if (!child) return fallback;
    auto value = ParseQbDateTime(child.child_value(), endOfDay);
    if (!value) throw ConversionError("date value", child.child_value(), name, 3020);
    return *value;
}

bool MatchesName(const std::string& name, const std::string& criterion, const std::string& text) {
    std::string lowerName = ToLowerAscii(name), lowerText = ToLowerAscii(text);
    if (criterion == "StartsWith") return lowerName.rfind(lowerText, 0) == 0;
    if (criterion == "EndsWith") return EndsWith(lowerName, lowerText);
    return lowerName.find(lowerText) != std::string::npos;
}

// Children each request type cannot do without; without them QuickBooks' schema check
// refuses the whole message set.
struct TRequired {
    const char* Request;
    const char* Path;
};
constexpr TRequired kRequired[] = {
    {"CustomerAddRq", "CustomerAdd/Name"},
    {"InvoiceAddRq", "InvoiceAdd/CustomerRef"},
    {"ReceivePaymentAddRq", "ReceivePaymentAdd/CustomerRef"},
};

} // namespace

// Runs one message set; lives for one Process call.
class TQbRequestRunner {
public:
    TQbRequestRunner(TQbXmlResponder& responder, TCompanyFile& file, const TQbHostInfo& host, std::int64_t now)
        : responder_(responder), file_(file), host_(host), now_(now) {}

    bool Changed = false;

    std::string Run(std::string_view request) {
        if (!IsXmlText(request)) ThrowParseError();
        pugi::xml_document doc;
        if (!doc.load_buffer(request.data(), request.size(), pugi::parse_default, pugi::encoding_utf8))
            ThrowParseError();
        int roots = 0;
        for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling())
            if (n.type() == pugi::node_element) ++roots;
        pugi::xml_node msgs = doc.child("QBXML").child("QBXMLMsgsRq");
        if (roots != 1 || !msgs) ThrowParseError();
        for (pugi::xml_node rq = msgs.first_child(); rq; rq = rq.next_sibling()) {
            if (rq.type() == pugi::node_pcdata && !TrimBlanks(rq.value()).empty()) ThrowParseError();
            if (rq.type() != pugi::node_element) continue;
            std::string_view name = rq.name();
            if (name.size() <= 2 || !EndsWith(name, "Rq")) ThrowParseError();
            for (const TRequired& r : kRequired)
                if (name == r.Request && !rq.first_element_by_path(r.Path)) ThrowParseError();
        }
        bool stopOnError = std::string_view(msgs.attribute("onError").as_string()) != "continueOnError";

        out_.reserve(4096);
        out_ += "<?xml version=\"1.0\" ?>\n<QBXML>\n<QBXMLMsgsRs>\n";
        for (pugi::xml_node rq = msgs.first_child(); rq; rq = rq.next_sibling()) {
            if (rq.type() != pugi::node_element) continue;
            bool failed = RunOne(rq);
            if (failed && stopOnError) break;
        }
        out_ += "</QBXMLMsgsRs>\n</QBXML>\n";
        return std::move(out_);
    }

private:
    TQbXmlResponder& responder_;
    TCompanyFile& file_;
    const TQbHostInfo& host_;
    std::int64_t now_;
    std::string out_;
    TQbXmlWriter w_{out_};

    // Writes the response's start tag; open is false for a response that has no content.
    void BeginResponse(pugi::xml_node rq, const std::string& rsName, const TQbStatus& status, bool open,
                       const std::string* iteratorId = nullptr, size_t remaining = 0) {
        out_ += '<';
        out_ += rsName;
        if (pugi::xml_attribute id = rq.attribute("requestID")) {
            out_ += " requestID=\"";
            AppendXmlEscaped(out_, id.value(), true);
            out_ += '"';
        }
        out_ += " statusCode=\"" + std::to_string(status.Code) + "\" statusSeverity=\"" + status.Severity +
                "\" statusMessage=\"";
        AppendXmlEscaped(out_, status.Message, true);
        out_ += '"';
        if (iteratorId) {
            out_ += " iteratorRemainingCount=\"" + std::to_string(remaining) + "\" iteratorID=\"";
            AppendXmlEscaped(out_, *iteratorId, true);
            out_ += '"';
        }
        out_ += open ? ">\n" : " />\n";
    }

    static std::string ResponseName(std::string_view rqName) {
        return std::string(rqName.substr(0, rqName.size() - 2)) + "Rs";
    }

    // True when the request ended with an error status.
    bool RunOne(pugi::xml_node rq) {
        std::string name = rq.name();
        std::string rsName = ResponseName(name);
        size_t mark = out_.size();
        try {
            if (name == "HostQueryRq") return HostQuery(rq, rsName);
            if (name == "CompanyQueryRq") return CompanyQuery(rq, rsName);
            if (name == "CustomerQueryRq") return Query(rq, rsName, Kind::Customer);
            if (name == "ItemQueryRq") return Query(rq, rsName, Kind::Item);
            if (name == "InvoiceQueryRq") return Query(rq, rsName, Kind::Invoice);
            if (name == "ReceivePaymentQueryRq") return Query(rq, rsName, Kind::Payment);
            if (name == "CustomerAddRq") return CustomerAdd(rq, rsName);
            if (name == "InvoiceAddRq") return InvoiceAdd(rq, rsName);
            if (name == "ReceivePaymentAddRq") return ReceivePaymentAdd(rq, rsName);
            BeginResponse(rq, rsName, {1030, "Error", "This request is not supported by this implementation."}, false);
            return true;
        } catch (const TQbStatusError& e) {
            out_.resize(mark);
            BeginResponse(rq, rsName, e.Status(), false);
            return true;
        }
    }

    bool HostQuery(pugi::xml_node rq, const std::string& rsName) {
        BeginResponse(rq, rsName, {}, true);
        w_.Open("HostRet");
        w_.Leaf("ProductName", "QuickBooks Pro 2014");
        w_.Leaf("MajorVersion", "24");
        w_.Leaf("MinorVersion", "0");
        w_.Leaf("Country", "US");
        for (const char* v : {"1.0", "1.1", "2.0", "2.1", "3.0", "4.0", "4.1", "5.0", "6.0", "7.0", "8.0", "9.0",
                              "10.0", "11.0", "12.0", "13.0"})
            w_.Leaf("SupportedQBXMLVersion", v);
        w_.Leaf("IsAutomaticLogin", FormatBool(host_.AutomaticLogin));
        w_.Leaf("QBFileMode", host_.MultiUser ? "MultiUser" : "SingleUser");
        w_.Close("HostRet");
        w_.Close(rsName);
        return false;
    }

    bool CompanyQuery(pugi::xml_node rq, const std::string& rsName) {
        const TQbCompanyInfo& c = file_.Company;
        BeginResponse(rq, rsName, {}, true);
        w_.Open("CompanyRet");
        w_.Leaf("IsSampleCompany", "false");
        w_.LeafIfAny("CompanyName", c.CompanyName);
        w_.LeafIfAny("LegalCompanyName", c.LegalCompanyName.empty() ? c.CompanyName : c.LegalCompanyName);
        WriteAddress(w_, "Address", c.Address);
        w_.LeafIfAny("Phone", c.Phone);
        w_.LeafIfAny("Email", c.Email);
        w_.Leaf("FirstMonthFiscalYear", "January");
        w_.Leaf("FirstMonthIncomeTaxYear", "January");
        w_.Close("CompanyRet");
        w_.Close(rsName);
        return false;
    }

    // --- queries ---

    enum class Kind { Customer, Item, Invoice, Payment };

    static int ReadMaxReturned(pugi::xml_node rq, int fallback) {
        pugi::xml_node max = rq.child("MaxReturned");
        if (!max) return fallback;
        std::string text = max.child_value();
        if (text.empty() || text.size() > 9 ||
            !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
            throw ConversionError("number", text, "MaxReturned", 3030);
        return std::stoi(text);
    }

    static TQbXmlResponder::TQuery ReadQuery(pugi::xml_node rq, Kind kind) {
        TQbXmlResponder::TQuery q;
        bool list = kind == Kind::Customer || kind == Kind::Item;
        for (pugi::xml_node n : rq.children(list ? "ListID" : "TxnID")) q.Ids.push_back(n.child_value());
        for (pugi::xml_node n : rq.children(list ? "FullName" : "RefNumber")) q.Names.push_back(n.child_value());
        if (!list)
            for (pugi::xml_node n : rq.children("RefNumberCaseSensitive")) q.Names.push_back(n.child_value());
        q.MaxReturned = ReadMaxReturned(rq, q.MaxReturned);
        if (list) {
            q.ActiveStatus = rq.child("ActiveStatus") ? Text(rq, "ActiveStatus") : "ActiveOnly";
            q.FromModified = ReadDateTimeField(rq, "FromModifiedDate", false, q.FromModified);
            q.ToModified = ReadDateTimeField(rq, "ToModifiedDate", true, q.ToModified);
            if (pugi::xml_node f = rq.child("NameFilter")) {
                q.NameMatch = Text(f, "MatchCriterion");
                q.NameText = Text(f, "Name");
            }
        } else {
            pugi::xml_node m = rq.child("ModifiedDateRangeFilter");
            q.FromModified = ReadDateTimeField(m, "FromModifiedDate", false, q.FromModified);
            q.ToModified = ReadDateTimeField(m, "ToModifiedDate", true, q.ToModified);
            pugi::xml_node t = rq.child("TxnDateRangeFilter");
            q.FromTxnDate = ReadDateField(t, "FromTxnDate");
            q.ToTxnDate = ReadDateField(t, "ToTxnDate");
            pugi::xml_node e = rq.child("EntityFilter");
            for (pugi::xml_node n : e.children("ListID")) q.EntityIds.push_back(n.child_value());
            for (pugi::xml_node n : e.children("FullName")) q.EntityNames.push_back(ToLowerAscii(n.child_value()));
            if (rq.child("PaidStatus")) q.PaidStatus = Text(rq, "PaidStatus");
            q.IncludeLineItems = ReadBoolField(rq, "IncludeLineItems", false);
            q.IncludeLinkedTxns = ReadBoolField(rq, "IncludeLinkedTxns", false);
        }
        for (pugi::xml_node n : rq.children("IncludeRetElement")) q.RetElements.push_back(n.child_value());
        return q;
    }

    bool Keep(const TQbXmlResponder::TQuery& q, std::int64_t modified, bool active) const {
        if (modified < q.FromModified || modified > q.ToModified) return false;
        if (q.ActiveStatus == "ActiveOnly" && !active) return false;
        if (q.ActiveStatus == "InactiveOnly" && active) return false;
        return true;
    }

    bool KeepTxn(const TQbXmlResponder::TQuery& q, std::int64_t modified, const std::string& txnDate,
                 const TQbRef& customer) const {
        if (modified < q.FromModified || modified > q.ToModified) return false;
        if (!q.FromTxnDate.empty() && txnDate < q.FromTxnDate) return false;
        if (!q.ToTxnDate.empty() && txnDate > q.ToTxnDate) return false;
        if (!q.EntityIds.empty() || !q.EntityNames.empty()) {
            bool byId = std::find(q.EntityIds.begin(), q.EntityIds.end(), customer.ListID) != q.EntityIds.end();
            bool byName = std::find(q.EntityNames.begin(), q.EntityNames.end(), ToLowerAscii(customer.FullName)) !=
                          q.EntityNames.end();
            if (!byId && !byName) return false;
        }
        return true;
    }

    // The rows a query names or filters, and the first name it gave that matched nothing.
    std::vector<size_t> Select(const TQbXmlResponder::TQuery& q, Kind kind, std::string& missing) const {
        std::vector<size_t> rows;
        auto addUnique = [&rows](size_t row) {
            if (std::find(rows.begin(), rows.end(), row) == rows.end()) rows.push_back(row);
        };
        if (!q.Ids.empty() || !q.Names.empty()) {
            for (const std::string& id : q.Ids) {
                std::optional<size_t> row = RowById(kind, id);
                if (row) addUnique(*row);
                else if (missing.empty()) missing = id;
            }
            for (const std::string& name : q.Names) {
                bool found = false;
                for (size_t row : RowsByName(kind, name)) addUnique(row), found = true;
                if (!found && missing.empty()) missing = name;
            }
            return rows;
        }
        switch (kind) {
        case Kind::Customer:
            for (size_t i = 0; i < file_.Customers().size(); ++i) {
                const TQbCustomer& c = file_.Customers()[i];
                if (Keep(q, c.TimeModified, c.IsActive) &&
                    (q.NameText.empty() || MatchesName(c.Name, q.NameMatch, q.NameText)))
                    rows.push_back(i);
            }
            SortByName(rows, file_.Customers());
            break;
        case Kind::Item:
            for (size_t i = 0; i < file_.Items().size(); ++i) {
                const TQbItem& item = file_.Items()[i];
                if (Keep(q, item.TimeModified, item.IsActive) &&
                    (q.NameText.empty() || MatchesName(item.Name, q.NameMatch, q.NameText)))
                    rows.push_back(i);
            }
            SortByName(rows, file_.Items());
            break;
        case Kind::Invoice:
            for (size_t i = 0; i < file_.Invoices().size(); ++i) {
                const TQbInvoice& inv = file_.Invoices()[i];
                if (!KeepTxn(q, inv.TimeModified, inv.TxnDate, inv.Customer)) continue;
                if (q.PaidStatus == "PaidOnly" && !inv.IsPaid()) continue;
                if (q.PaidStatus == "NotPaidOnly" && inv.IsPaid()) continue;
                rows.push_back(i);
            }
            break;
        case Kind::Payment:
            for (size_t i = 0; i < file_.Payments().size(); ++i) {
                const TQbPayment& p = file_.Payments()[i];
                if (KeepTxn(q, p.TimeModified, p.TxnDate, p.Customer)) rows.push_back(i);
            }
            break;
        }
        return rows;
    }

    template <class T>
    static void SortByName(std::vector<size_t>& rows, const std::vector<T>& list) {
        std::stable_sort(rows.begin(), rows.end(), [&list](size_t a, size_t b) {
            return ToLowerAscii(list[a].Name) < ToLowerAscii(list[b].Name);
        });
    }

    std::optional<size_t> RowById(Kind kind, const std::string& id) const {
        switch (kind) {
        case Kind::Customer:
            if (auto* c = file_.FindCustomer({id, ""})) return static_cast<size_t>(c - file_.Customers().data());
            break;
        case Kind::Item:
            if (auto* i = file_.FindItem({id, ""})) return static_cast<size_t>(i - file_.Items().data());
            break;
        case Kind::Invoice:
            if (auto* i = file_.FindInvoice(id)) return static_cast<size_t>(i - file_.Invoices().data());
            break;
        case Kind::Payment:
            if (auto* p = file_.FindPayment(id)) return static_cast<size_t>(p - file_.Payments().data());
            break;
        }
        return std::nullopt;
    }

    std::vector<size_t> RowsByName(Kind kind, const std::string& name) const {
        std::vector<size_t> rows;
        switch (kind) {
        case Kind::Customer:
            if (auto* c = file_.FindCustomer({"", name})) rows.push_back(static_cast<size_t>(c - file_.Customers().data()));
            break;
        case Kind::Item:
            if (auto* i = file_.FindItem({"", name})) rows.push_back(static_cast<size_t>(i - file_.Items().data()));
            break;
        case Kind::Invoice:
            for (size_t i = 0; i < file_.Invoices().size(); ++i)
                if (file_.Invoices()[i].RefNumber == name) rows.push_back(i);
            break;
        case Kind::Payment:
            for (size_t i = 0; i < file_.Payments().size(); ++i)
                if (file_.Payments()[i].RefNumber == name) rows.push_back(i);
            break;
        }
        return rows;
    }

    bool Query(pugi::xml_node rq, const std::string& rsName, Kind kind) {
        std::string iterator = rq.attribute("iterator").as_string();
        auto& iterators = responder_.iterators_;
        if (iterator == "Continue" || iterator == "Stop") {
            std::string id = rq.attribute("iteratorID").as_string();
            auto it = iterators.find(id);
            if (it == iterators.end() || it->second.Request != rq.name())
                throw TQbStatusError(3000, "The given object ID \"" + id + "\" in the field \"iteratorID\" is invalid.");
            if (iterator == "Stop") {
                iterators.erase(it);
                BeginResponse(rq, rsName, {}, false, &id, 0);
                return false;
            }
            TQbXmlResponder::TIterator& state = it->second;
            state.Query.MaxReturned = ReadMaxReturned(rq, state.Query.MaxReturned);
            WritePage(rq, rsName, kind, state, &id, {});
            if (state.Next >= state.Rows.size()) iterators.erase(id);
            return false;
        }
        TQbXmlResponder::TIterator state;
        state.Request = rq.name();
        state.Query = ReadQuery(rq, kind);
        std::string missing;
        state.Rows = Select(state.Query, kind, missing);
        TQbStatus status;
        if (!missing.empty())
            status = Warning(500, "The query request has not been fully completed. There was a required element (\"" +
                                      missing + "\") that could not be found in QuickBooks.");
        if (iterator == "Start") {
            std::string id = NewGuid();
            WritePage(rq, rsName, kind, state, &id, status);
            if (state.Next < state.Rows.size()) iterators.emplace(id, std::move(state));
        } else {
            WritePage(rq, rsName, kind, state, nullptr, status);
        }
        return false;
    }

    void WritePage(pugi::xml_node rq, const std::string& rsName, Kind kind, TQbXmlResponder::TIterator& state,
                   const std::string* iteratorId, TQbStatus status) {
        size_t count = state.Rows.size() - state.Next;
        if (state.Query.MaxReturned >= 0) count = std::min(count, static_cast<size_t>(state.Query.MaxReturned));
        size_t first = state.Next;
        state.Next += count;
        if (count == 0 && status.Code == 0) status = {1, "Info", kNoMatch};
        BeginResponse(rq, rsName, status, count > 0, iteratorId, state.Rows.size() - state.Next);
        if (count == 0) return;
        const TQbXmlResponder::TQuery& q = state.Query;
        for (size_t i = first; i < first + count; ++i) {
            size_t row = state.Rows[i];
            switch (kind) {
            case Kind::Customer: WriteCustomer(file_.Customers()[row], q.RetElements); break;
            case Kind::Item: WriteItem(file_.Items()[row], q.RetElements); break;
            case Kind::Invoice:
                WriteInvoice(file_.Invoices()[row], q.IncludeLineItems, q.IncludeLinkedTxns, q.RetElements);
                break;
            case Kind::Payment: WritePayment(file_.Payments()[row], q.IncludeLineItems, q.RetElements); break;
            }
        }
        w_.Close(rsName);
    }

    // --- records ---

    void WriteTimes(std::int64_t created, std::int64_t modified) {
        w_.Leaf("TimeCreated", FormatQbDateTime(created));
        w_.Leaf("TimeModified", FormatQbDateTime(modified));
        w_.Leaf("EditSequence", std::to_string(modified));
    }

    void WriteCustomer(const TQbCustomer& c, const std::vector<std::string>& only) {
        w_.OpenRecord("CustomerRet", only);
        w_.Leaf("ListID", c.ListID);
        WriteTimes(c.TimeCreated, c.TimeModified);
        w_.Leaf("Name", c.Name);
        w_.Leaf("FullName", c.Name);
        w_.Leaf("IsActive", FormatBool(c.IsActive));
        w_.Leaf("Sublevel", "0");
        w_.LeafIfAny("CompanyName", c.CompanyName);
        w_.LeafIfAny("Salutation", c.Salutation);
        w_.LeafIfAny("FirstName", c.FirstName);
        w_.LeafIfAny("MiddleName", c.MiddleName);
        w_.LeafIfAny("LastName", c.LastName);
        WriteAddress(w_, "BillAddress", c.BillAddress);
        WriteAddress(w_, "ShipAddress", c.ShipAddress);
        w_.LeafIfAny("Phone", c.Phone);
        w_.LeafIfAny("AltPhone", c.AltPhone);
        w_.LeafIfAny("Fax", c.Fax);
        w_.LeafIfAny("Email", c.Email);
        w_.LeafIfAny("Contact", c.Contact);
        w_.Leaf("Balance", FormatMoney(c.Balance));
        w_.Leaf("TotalBalance", FormatMoney(c.Balance));
        w_.LeafIfAny("AccountNumber", c.AccountNumber);
        if (c.CreditLimit) w_.Leaf("CreditLimit", FormatMoney(*c.CreditLimit));
        w_.Leaf("JobStatus", "None");
        w_.LeafIfAny("Notes", c.Notes);
        w_.CloseRecord("CustomerRet");
    }

    void WriteItem(const TQbItem& item, const std::vector<std::string>& only) {
        std::string name = std::string("Item") + ItemTypeName(item.Type) + "Ret";
        w_.OpenRecord(name, only);
        w_.Leaf("ListID", item.ListID);
        WriteTimes(item.TimeCreated, item.TimeModified);
        w_.Leaf("Name", item.Name);
        w_.Leaf("FullName", item.Name);
        w_.Leaf("IsActive", FormatBool(item.IsActive));
        w_.Leaf("Sublevel", "0");
        w_.Open("SalesOrPurchase");
        w_.LeafIfAny("Desc", item.Desc);
        if (item.Price) w_.Leaf("Price", FormatRate(*item.Price));
        w_.Ref("AccountRef", AccountListId(item.AccountName), item.AccountName);
        w_.Close("SalesOrPurchase");
        w_.CloseRecord(name);
    }

    void WriteInvoice(const TQbInvoice& inv, bool lines, bool linked, const std::vector<std::string>& only) {
        w_.OpenRecord("InvoiceRet", only);
        w_.Leaf("TxnID", inv.TxnID);
        WriteTimes(inv.TimeCreated, inv.TimeModified);
        w_.Leaf("TxnNumber", std::to_string(inv.TxnNumber));
        w_.Ref("CustomerRef", inv.Customer.ListID, inv.Customer.FullName);
        static const std::string arAccount = AccountListId("Accounts Receivable");
        static const std::string invoiceTemplate = AccountListId("Intuit Service Invoice");
        w_.Ref("ARAccountRef", arAccount, "Accounts Receivable");
        w_.Ref("TemplateRef", invoiceTemplate, "Intuit Service Invoice");
        w_.Leaf("TxnDate", inv.TxnDate);
        w_.LeafIfAny("RefNumber", inv.RefNumber);
        WriteAddress(w_, "BillAddress", inv.BillAddress);
        w_.Leaf("IsPending", FormatBool(inv.IsPending));
        w_.Leaf("IsFinanceCharge", "false");
        w_.LeafIfAny("PONumber", inv.PONumber);
        w_.LeafIfAny("DueDate", inv.DueDate);
        w_.Leaf("Subtotal", FormatMoney(inv.Subtotal));
        w_.Leaf("SalesTaxPercentage", "0.00");
        w_.Leaf("SalesTaxTotal", "0.00");
        w_.Leaf("AppliedAmount", FormatMoney(-inv.Applied));
        w_.Leaf("BalanceRemaining", FormatMoney(inv.BalanceRemaining()));
        w_.LeafIfAny("Memo", inv.Memo);
        w_.Leaf("IsPaid", FormatBool(inv.IsPaid()));
        w_.Leaf("IsToBePrinted", FormatBool(inv.IsToBePrinted));
        w_.Leaf("IsToBeEmailed", FormatBool(inv.IsToBeEmailed));
        if (linked) {
            for (size_t row : inv.PaymentRows) {
                const TQbPayment& pay = file_.Payments()[row];
                TMoney amount = 0;
                for (const TQbAppliedTo& a : pay.Applied)
                    if (a.TxnID == inv.TxnID) amount += a.Amount;
                w_.Open("LinkedTxn");
                w_.Leaf("TxnID", pay.TxnID);
                w_.Leaf("TxnType", "ReceivePayment");
                w_.Leaf("TxnDate", pay.TxnDate);
                w_.LeafIfAny("RefNumber", pay.RefNumber);
                w_.Leaf("LinkType", "AMTTYPE");
                w_.Leaf("Amount", FormatMoney(-amount));
                w_.Close("LinkedTxn");
            }
        }
        if (lines) {
            for (const TQbInvoiceLine& line : inv.Lines) {
                w_.Open("InvoiceLineRet");
                w_.Leaf("TxnLineID", line.TxnLineID);
                w_.Ref("ItemRef", line.Item.ListID, line.Item.FullName);
                w_.LeafIfAny("Desc", line.Desc);
                if (line.Quantity) w_.Leaf("Quantity", FormatQuantity(*line.Quantity));
                if (line.Rate) w_.Leaf("Rate", FormatRate(*line.Rate));
                w_.Leaf("Amount", FormatMoney(line.Amount));
                w_.Close("InvoiceLineRet");
            }
        }
        w_.CloseRecord("InvoiceRet");
    }

    void WritePayment(const TQbPayment& pay, bool lines, const std::vector<std::string>& only) {
        w_.OpenRecord("ReceivePaymentRet", only);
        w_.Leaf("TxnID", pay.TxnID);
        WriteTimes(pay.TimeCreated, pay.TimeModified);
        w_.Leaf("TxnNumber", std::to_string(pay.TxnNumber));
        w_.Ref("CustomerRef", pay.Customer.ListID, pay.Customer.FullName);
        w_.Ref("ARAccountRef", AccountListId("Accounts Receivable"), "Accounts Receivable");
        w_.Leaf("TxnDate", pay.TxnDate);
        w_.LeafIfAny("RefNumber", pay.RefNumber);
        w_.Leaf("TotalAmount", FormatMoney(pay.TotalAmount));
        if (!pay.PaymentMethod.empty())
            w_.Ref("PaymentMethodRef", AccountListId(pay.PaymentMethod), pay.PaymentMethod);
        w_.LeafIfAny("Memo", pay.Memo);
        w_.Ref("DepositToAccountRef", AccountListId("Undeposited Funds"), "Undeposited Funds");
        w_.Leaf("UnusedPayment", FormatMoney(pay.Unused()));
        w_.Leaf("UnusedCredits", "0.00");
        if (lines) {
            for (const TQbAppliedTo& a : pay.Applied) {
                const TQbInvoice* inv = file_.FindInvoice(a.TxnID);
                w_.Open("AppliedToTxnRet");
                w_.Leaf("TxnID", a.TxnID);
                w_.Leaf("TxnType", "Invoice");
                if (inv) {
                    w_.Leaf("TxnDate", inv->TxnDate);
                    w_.LeafIfAny("RefNumber", inv->RefNumber);
                    w_.Leaf("BalanceRemaining", FormatMoney(inv->BalanceRemaining()));
                }
                w_.Leaf("Amount", FormatMoney(a.Amount));
                w_.Close("AppliedToTxnRet");
            }
        }
        w_.CloseRecord("ReceivePaymentRet");
    }

    // --- adds ---

    static std::vector<std::string> RetElements(pugi::xml_node rq) {
        std::vector<std::string> only;
        for (pugi::xml_node n : rq.children("IncludeRetElement")) only.push_back(n.child_value());
        return only;
    }

    bool CustomerAdd(pugi::xml_node rq, const std::string& rsName) {
        pugi::xml_node n = rq.child("CustomerAdd");
        TQbCustomer c;
        c.Name = Text(n, "Name");
        c.IsActive = ReadBoolField(n, "IsActive", true);
        c.CompanyName = Text(n, "CompanyName");
        c.Salutation = Text(n, "Salutation");
        c.FirstName = Text(n, "FirstName");
        c.MiddleName = Text(n, "MiddleName");
        c.LastName = Text(n, "LastName");
        c.BillAddress = ReadAddress(n.child("BillAddress"));
        c.ShipAddress = ReadAddress(n.child("ShipAddress"));
        c.Phone = Text(n, "Phone");
        c.AltPhone = Text(n, "AltPhone");
        c.Fax = Text(n, "Fax");
        c.Email = Text(n, "Email");
        c.Contact = Text(n, "Contact");
        c.AccountNumber = Text(n, "AccountNumber");
        c.Notes = Text(n, "Notes");
        c.CreditLimit = ReadMoneyField(n, "CreditLimit");
        const TQbCustomer& added = file_.AddCustomer(std::move(c), now_);
        Changed = true;
        BeginResponse(rq, rsName, {}, true);
        WriteCustomer(added, RetElements(rq));
        w_.Close(rsName);
        return false;
    }

    bool InvoiceAdd(pugi::xml_node rq, const std::string& rsName) {
        pugi::xml_node n = rq.child("InvoiceAdd");
        TQbInvoiceAdd add;
        add.Customer = ReadRef(n.child("CustomerRef"));
        add.TxnDate = ReadDateField(n, "TxnDate");
        add.RefNumber = Text(n, "RefNumber");
        if (n.child("BillAddress")) add.BillAddress = ReadAddress(n.child("BillAddress"));
        add.IsPending = ReadBoolField(n, "IsPending", false);
        add.PONumber = Text(n, "PONumber");
        add.DueDate = ReadDateField(n, "DueDate");
        add.Memo = Text(n, "Memo");
        add.IsToBePrinted = ReadBoolField(n, "IsToBePrinted", false);
        add.IsToBeEmailed = ReadBoolField(n, "IsToBeEmailed", false);
        for (pugi::xml_node l : n.children("InvoiceLineAdd")) {
            TQbInvoiceLineAdd line;
            line.Item = ReadRef(l.child("ItemRef"));
            line.Desc = Text(l, "Desc");
            line.Quantity = ReadNumberField(l, "Quantity");
            line.Rate = ReadNumberField(l, "Rate");
            line.Amount = ReadMoneyField(l, "Amount");
            add.Lines.push_back(std::move(line));
        }
        const TQbInvoice& added = file_.AddInvoice(add, now_);
        Changed = true;
        BeginResponse(rq, rsName, {}, true);
        WriteInvoice(added, true, false, RetElements(rq));
        w_.Close(rsName);
        return false;
    }

    bool ReceivePaymentAdd(pugi::xml_node rq, const std::string& rsName) {
        pugi::xml_node n = rq.child("ReceivePaymentAdd");
        TQbPaymentAdd add;
        add.Customer = ReadRef(n.child("CustomerRef"));
        add.TxnDate = ReadDateField(n, "TxnDate");
        add.RefNumber = Text(n, "RefNumber");
        add.TotalAmount = ReadMoneyField(n, "TotalAmount");
        add.PaymentMethod = ReadRef(n.child("PaymentMethodRef")).FullName;
        add.Memo = Text(n, "Memo");
        add.AutoApply = ReadBoolField(n, "IsAutoApply", false);
        for (pugi::xml_node a : n.children("AppliedToTxnAdd")) {
            std::optional<TMoney> amount = ReadMoneyField(a, "PaymentAmount");
            add.Applied.push_back({Text(a, "TxnID"), amount.value_or(0)});
        }
        const TQbPayment& added = file_.AddPayment(add, now_);
        Changed = true;
        BeginResponse(rq, rsName, {}, true);
        WritePayment(added, true, RetElements(rq));
        w_.Close(rsName);
        return false;
    }
};

std::string TQbXmlResponder::Process(TCompanyFile& file, std::string_view request, const TQbHostInfo& host,
                                     std::int64_t now, bool& changed) {
    TQbRequestRunner runner(*this, file, host, now);
    std::string response = runner.Run(request);
    changed = changed || runner.Changed;
    return response;
}

} // namespace dm
