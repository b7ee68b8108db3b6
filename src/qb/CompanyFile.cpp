#include "qb/CompanyFile.h"

#include "core/General.h"

#include <algorithm>
#include <cstdio>
#include <pugixml.hpp>
#include <sstream>

namespace dm {

namespace {

constexpr const char* kRootName = "InvaraQuickBooksCompany";
// QuickBooks' own limit for list names.
constexpr size_t kMaxNameLength = 41;

std::string InvalidReference(const char* list, const TQbRef& ref, const char* txn) {
    return std::string("There is an invalid reference to QuickBooks ") + list + " \"" + ref.Text() +
           "\" in the " + txn +
           ".  QuickBooks error message: Invalid argument.  The specified record does not exist "
           "in the list.";
}

std::string ObjectNotFound(const std::string& id) {
    return "Object \"" + id +
           "\" specified in the request cannot be found.  QuickBooks error message: Invalid "
           "argument.  The specified record does not exist in the list.";
}

void CheckDate(const std::string& value, const char* field) {
    if (!value.empty() && !IsQbDate(value))
        throw TQbStatusError(3020, "There was an error when converting the date value \"" + value +
                                       "\" in the field \"" + field + "\".");
}

void CheckName(const std::string& name) {
    if (name.empty() || TrimBlanks(name).empty())
        throw TQbStatusError(3090, "There was an error when storing \"\" in the field \"Name\".");
    if (name.size() > kMaxNameLength)
        throw TQbStatusError(3070, "The string \"" + name + "\" in the field \"Name\" is too long.");
}

// --- XML of the file on disk ---

void Put(pugi::xml_node node, const char* name, const std::string& value) {
    if (!value.empty()) node.append_child(name).text().set(value.c_str());
}

std::string Get(pugi::xml_node node, const char* name) {
    return node.child(name).text().as_string();
}

void PutTime(pugi::xml_node node, const char* name, std::int64_t value) {
    Put(node, name, FormatQbDateTime(value));
}

std::int64_t GetTime(pugi::xml_node node, const char* name) {
    return ParseQbDateTime(Get(node, name)).value_or(0);
}

void PutMoney(pugi::xml_node node, const char* name, TMoney value) { Put(node, name, FormatMoney(value)); }

TMoney GetMoney(pugi::xml_node node, const char* name) {
    TMoney value = 0;
    ParseMoney(Get(node, name), value);
    return value;
}

void PutNumber(pugi::xml_node node, const char* name, const std::optional<double>& value) {
    if (value) Put(node, name, FormatQuantity(*value));
}

std::optional<double> GetNumber(pugi::xml_node node, const char* name) {
    double value;
    if (ParseDecimal(Get(node, name), value)) return value;
    return std::nullopt;
}

void PutBool(pugi::xml_node node, const char* name, bool value) { Put(node, name, FormatBool(value)); }

bool GetBool(pugi::xml_node node, const char* name, bool fallback) {
    bool value = fallback;
    ParseBool(Get(node, name), value);
    return value;
}

void PutRef(pugi::xml_node node, const char* name, const TQbRef& ref) {
    if (ref.Empty()) return;
    pugi::xml_node child = node.append_child(name);
    Put(child, "ListID", ref.ListID);
    Put(child, "FullName", ref.FullName);
}

TQbRef GetRef(pugi::xml_node node, const char* name) {
    pugi::xml_node child = node.child(name);
    return {Get(child, "ListID"), Get(child, "FullName")};
}

void PutAddress(pugi::xml_node node, const char* name, const TQbAddress& a) {
    if (a.Empty()) return;
    pugi::xml_node n = node.append_child(name);
    Put(n, "Addr1", a.Addr1), Put(n, "Addr2", a.Addr2), Put(n, "Addr3", a.Addr3);
    Put(n, "Addr4", a.Addr4), Put(n, "Addr5", a.Addr5), Put(n, "City", a.City);
    Put(n, "State", a.State), Put(n, "PostalCode", a.PostalCode), Put(n, "Country", a.Country);
    Put(n, "Note", a.Note);
}

TQbAddress GetAddress(pugi::xml_node node, const char* name) {
    pugi::xml_node n = node.child(name);
    return {Get(n, "Addr1"), Get(n, "Addr2"), Get(n, "Addr3"), Get(n, "Addr4"), Get(n, "Addr5"),
            Get(n, "City"),  Get(n, "State"), Get(n, "PostalCode"), Get(n, "Country"), Get(n, "Note")};
}

const char* AccessName(TQbAccess access) {
    switch (access) {
    case TQbAccess::Granted: return "granted";
    case TQbAccess::Denied: return "denied";
    case TQbAccess::Revoked: return "revoked";
    }
    return "revoked";
}

} // namespace

bool TQbAddress::Empty() const {
    return Addr1.empty() && Addr2.empty() && Addr3.empty() && Addr4.empty() && Addr5.empty() &&
           City.empty() && State.empty() && PostalCode.empty() && Country.empty() && Note.empty();
}

const char* ItemTypeName(TQbItemType type) {
    switch (type) {
    case TQbItemType::Service: return "Service";
    case TQbItemType::NonInventory: return "NonInventory";
    case TQbItemType::OtherCharge: return "OtherCharge";
    }
    return "Service";
}

std::optional<TQbItemType> ParseItemType(std::string_view text) {
    for (TQbItemType type : {TQbItemType::Service, TQbItemType::NonInventory, TQbItemType::OtherCharge})
        if (EqualsNoCase(text, ItemTypeName(type))) return type;
    return std::nullopt;
}

TMoney TQbPayment::Unused() const {
    TMoney unused = TotalAmount;
    for (const TQbAppliedTo& applied : Applied) unused -= applied.Amount;
    return unused;
}

TCompanyFile TCompanyFile::FromXml(std::string_view xml) {
    pugi::xml_document doc;
    pugi::xml_parse_result parsed = doc.load_buffer(xml.data(), xml.size());
    pugi::xml_node root = doc.child(kRootName);
    if (!parsed || !root) throw std::runtime_error("not a QuickBooks company file");

    TCompanyFile file;
    pugi::xml_node company = root.child("Company");
    file.Company.CompanyName = Get(company, "CompanyName");
    file.Company.LegalCompanyName = Get(company, "LegalCompanyName");
    file.Company.Address = GetAddress(company, "Address");
    file.Company.Phone = Get(company, "Phone");
    file.Company.Email = Get(company, "Email");

    pugi::xml_node counters = root.child("Counters");
    file.nextList_ = counters.attribute("NextList").as_uint(0x80000001);
    file.nextTxn_ = counters.attribute("NextTxn").as_uint(1);
    file.nextTxnNumber_ = counters.attribute("NextTxnNumber").as_int(1);

    for (pugi::xml_node n : root.child("Applications").children("Application")) {
        TQbPermission p;
        p.AppName = n.attribute("Name").as_string();
        std::string access = n.attribute("Access").as_string();
        p.Access = access == "granted" ? TQbAccess::Granted
                   : access == "denied" ? TQbAccess::Denied
                                        : TQbAccess::Revoked;
        p.AutoLogin = n.attribute("AutoLogin").as_bool(true);
        file.permissions_.push_back(std::move(p));
    }
    for (pugi::xml_node n : root.child("Customers").children("Customer")) {
        TQbCustomer c;
        c.ListID = Get(n, "ListID");
        c.TimeCreated = GetTime(n, "TimeCreated");
        c.TimeModified = GetTime(n, "TimeModified");
        c.Name = Get(n, "Name");
        c.IsActive = GetBool(n, "IsActive", true);
        c.CompanyName = Get(n, "CompanyName");
        c.Salutation = Get(n, "Salutation");
        c.FirstName = Get(n, "FirstName");
        c.MiddleName = Get(n, "MiddleName");
        c.LastName = Get(n, "LastName");
        c.BillAddress = GetAddress(n, "BillAddress");
        c.ShipAddress = GetAddress(n, "ShipAddress");
        c.Phone = Get(n, "Phone");
        c.AltPhone = Get(n, "AltPhone");
        c.Fax = Get(n, "Fax");
        c.Email = Get(n, "Email");
        c.Contact = Get(n, "Contact");
        c.AccountNumber = Get(n, "AccountNumber");
        c.Notes = Get(n, "Notes");
        if (n.child("CreditLimit")) c.CreditLimit = GetMoney(n, "CreditLimit");
        file.customers_.push_back(std::move(c));
    }
    for (pugi::xml_node n : root.child("Items").children("Item")) {
        TQbItem item;
        item.ListID = Get(n, "ListID");
        item.TimeCreated = GetTime(n, "TimeCreated");
        item.TimeModified = GetTime(n, "TimeModified");
        item.Name = Get(n, "Name");
        item.IsActive = GetBool(n, "IsActive", true);
        item.Type = ParseItemType(n.attribute("Type").as_string()).value_or(TQbItemType::Service);
        item.Desc = Get(n, "Desc");
        item.Price = GetNumber(n, "Price");
        item.AccountName = Get(n, "AccountName");
        file.items_.push_back(std::move(item));
    }
    for (pugi::xml_node n : root.child("Invoices").children("Invoice")) {
        TQbInvoice inv;
        inv.TxnID = Get(n, "TxnID");
        inv.TimeCreated = GetTime(n, "TimeCreated");
        inv.TimeModified = GetTime(n, "TimeModified");
        inv.TxnNumber = n.child("TxnNumber").text().as_int();
        inv.Customer = GetRef(n, "CustomerRef");
        inv.TxnDate = Get(n, "TxnDate");
        inv.RefNumber = Get(n, "RefNumber");
        inv.PONumber = Get(n, "PONumber");
        inv.DueDate = Get(n, "DueDate");
        inv.Memo = Get(n, "Memo");
        inv.BillAddress = GetAddress(n, "BillAddress");
        inv.IsPending = GetBool(n, "IsPending", false);
        inv.IsToBePrinted = GetBool(n, "IsToBePrinted", false);
        inv.IsToBeEmailed = GetBool(n, "IsToBeEmailed", false);
        for (pugi::xml_node l : n.children("Line")) {
            TQbInvoiceLine line;
            line.TxnLineID = Get(l, "TxnLineID");
            line.Item = GetRef(l, "ItemRef");
            line.Desc = Get(l, "Desc");
            line.Quantity = GetNumber(l, "Quantity");
            line.Rate = GetNumber(l, "Rate");
            line.Amount = GetMoney(l, "Amount");
            inv.Lines.push_back(std::move(line));
        }
        file.invoices_.push_back(std::move(inv));
    }
    for (pugi::xml_node n : root.child("Payments").children("Payment")) {
        TQbPayment pay;
        pay.TxnID = Get(n, "TxnID");
        pay.TimeCreated = GetTime(n, "TimeCreated");
        pay.TimeModified = GetTime(n, "TimeModified");
        pay.TxnNumber = n.child("TxnNumber").text().as_int();
        pay.Customer = GetRef(n, "CustomerRef");
        pay.TxnDate = Get(n, "TxnDate");
        pay.RefNumber = Get(n, "RefNumber");
        pay.PaymentMethod = Get(n, "PaymentMethod");
        pay.Memo = Get(n, "Memo");
        pay.TotalAmount = GetMoney(n, "TotalAmount");
        for (pugi::xml_node a : n.children("AppliedTo")) {
            TMoney amount = 0;
            ParseMoney(a.attribute("Amount").as_string(), amount);
            pay.Applied.push_back({a.attribute("TxnID").as_string(), amount});
        }
        file.payments_.push_back(std::move(pay));
    }
    file.Reindex();
    file.Recalculate();
    return file;
}

std::string TCompanyFile::ToXml() const {
    pugi::xml_document doc;
    pugi::xml_node decl = doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    pugi::xml_node root = doc.append_child(kRootName);
    root.append_attribute("version") = 1;

    pugi::xml_node company = root.append_child("Company");
    Put(company, "CompanyName", Company.CompanyName);
    Put(company, "LegalCompanyName", Company.LegalCompanyName);
    PutAddress(company, "Address", Company.Address);
    Put(company, "Phone", Company.Phone);
    Put(company, "Email", Company.Email);

    pugi::xml_node counters = root.append_child("Counters");
    counters.append_attribute("NextList") = nextList_;
    counters.append_attribute("NextTxn") = nextTxn_;
    counters.append_attribute("NextTxnNumber") = nextTxnNumber_;

    pugi::xml_node apps = root.append_child("Applications");
    for (const TQbPermission& p : permissions_) {
        pugi::xml_node n = apps.append_child("Application");
        n.append_attribute("Name") = p.AppName.c_str();
        n.append_attribute("Access") = AccessName(p.Access);
        n.append_attribute("AutoLogin") = p.AutoLogin;
    }
    pugi::xml_node customers = root.append_child("Customers");
    for (const TQbCustomer& c : customers_) {
        pugi::xml_node n = customers.append_child("Customer");
        Put(n, "ListID", c.ListID);
        PutTime(n, "TimeCreated", c.TimeCreated);
        PutTime(n, "TimeModified", c.TimeModified);
        Put(n, "Name", c.Name);
        PutBool(n, "IsActive", c.IsActive);
        Put(n, "CompanyName", c.CompanyName);
        Put(n, "Salutation", c.Salutation);
        Put(n, "FirstName", c.FirstName);
        Put(n, "MiddleName", c.MiddleName);
        Put(n, "LastName", c.LastName);
        PutAddress(n, "BillAddress", c.BillAddress);
        PutAddress(n, "ShipAddress", c.ShipAddress);
        Put(n, "Phone", c.Phone);
        Put(n, "AltPhone", c.AltPhone);
        Put(n, "Fax", c.Fax);
        Put(n, "Email", c.Email);
        Put(n, "Contact", c.Contact);
        Put(n, "AccountNumber", c.AccountNumber);
        Put(n, "Notes", c.Notes);
        if (c.CreditLimit) PutMoney(n, "CreditLimit", *c.CreditLimit);
    }
    pugi::xml_node items = root.append_child("Items");
    for (const TQbItem& item : items_) {
        pugi::xml_node n = items.append_child("Item");
        n.append_attribute("Type") = ItemTypeName(item.Type);
        Put(n, "ListID", item.ListID);
        PutTime(n, "TimeCreated", item.TimeCreated);
        PutTime(n, "TimeModified", item.TimeModified);
        Put(n, "Name", item.Name);
        PutBool(n, "IsActive", item.IsActive);
        Put(n, "Desc", item.Desc);
        if (item.Price) Put(n, "Price", FormatRate(*item.Price));
        Put(n, "AccountName", item.AccountName);
    }
    pugi::xml_node invoices = root.append_child("Invoices");
    for (const TQbInvoice& inv : invoices_) {
        pugi::xml_node n = invoices.append_child("Invoice");
        Put(n, "TxnID", inv.TxnID);
        PutTime(n, "TimeCreated", inv.TimeCreated);
        PutTime(n, "TimeModified", inv.TimeModified);
        n.append_child("TxnNumber").text().set(inv.TxnNumber);
        PutRef(n, "CustomerRef", inv.Customer);
        Put(n, "TxnDate", inv.TxnDate);
        Put(n, "RefNumber", inv.RefNumber);
        Put(n, "PONumber", inv.PONumber);
        Put(n, "DueDate", inv.DueDate);
        Put(n, "Memo", inv.Memo);
        PutAddress(n, "BillAddress", inv.BillAddress);
        PutBool(n, "IsPending", inv.IsPending);
        PutBool(n, "IsToBePrinted", inv.IsToBePrinted);
        PutBool(n, "IsToBeEmailed", inv.IsToBeEmailed);
        for (const TQbInvoiceLine& line : inv.Lines) {
            pugi::xml_node l = n.append_child("Line");
            Put(l, "TxnLineID", line.TxnLineID);
            PutRef(l, "ItemRef", line.Item);
            Put(l, "Desc", line.Desc);
            PutNumber(l, "Quantity", line.Quantity);
            PutNumber(l, "Rate", line.Rate);
            PutMoney(l, "Amount", line.Amount);
        }
    }
    pugi::xml_node payments = root.append_child("Payments");
    for (const TQbPayment& pay : payments_) {
        pugi::xml_node n = payments.append_child("Payment");
        Put(n, "TxnID", pay.TxnID);
        PutTime(n, "TimeCreated", pay.TimeCreated);
        PutTime(n, "TimeModified", pay.TimeModified);
        n.append_child("TxnNumber").text().set(pay.TxnNumber);
        PutRef(n, "CustomerRef", pay.Customer);
        Put(n, "TxnDate", pay.TxnDate);
        Put(n, "RefNumber", pay.RefNumber);
        Put(n, "PaymentMethod", pay.PaymentMethod);
        Put(n, "Memo", pay.Memo);
        PutMoney(n, "TotalAmount", pay.TotalAmount);
        for (const TQbAppliedTo& applied : pay.Applied) {
            pugi::xml_node a = n.append_child("AppliedTo");
            a.append_attribute("TxnID") = applied.TxnID.c_str();
            a.append_attribute("Amount") = FormatMoney(applied.Amount).c_str();
        }
    }
    std::ostringstream out;
    doc.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
    return out.str();
}

void TCompanyFile::Reindex() {
    customerById_.clear(), customerByName_.clear(), itemById_.clear(), itemByName_.clear();
    invoiceById_.clear(), paymentById_.clear();
    for (size_t i = 0; i < customers_.size(); ++i) {
        customerById_.emplace(customers_[i].ListID, i);
        customerByName_.emplace(ToLowerAscii(customers_[i].Name), i);
    }
    for (size_t i = 0; i < items_.size(); ++i) {
        itemById_.emplace(items_[i].ListID, i);
        itemByName_.emplace(ToLowerAscii(items_[i].Name), i);
    }
    for (size_t i = 0; i < invoices_.size(); ++i) invoiceById_.emplace(invoices_[i].TxnID, i);
    for (size_t i = 0; i < payments_.size(); ++i) paymentById_.emplace(payments_[i].TxnID, i);
}

void TCompanyFile::Recalculate() {
    for (TQbInvoice& inv : invoices_) {
        inv.Subtotal = 0;
        for (const TQbInvoiceLine& line : inv.Lines) inv.Subtotal += line.Amount;
        inv.Applied = 0;
        inv.PaymentRows.clear();
    }
    for (size_t row = 0; row < payments_.size(); ++row) {
        for (const TQbAppliedTo& applied : payments_[row].Applied) {
            auto it = invoiceById_.find(applied.TxnID);
            if (it == invoiceById_.end()) continue;
            TQbInvoice& inv = invoices_[it->second];
            inv.Applied += applied.Amount;
            if (inv.PaymentRows.empty() || inv.PaymentRows.back() != row) inv.PaymentRows.push_back(row);
        }
    }
    for (TQbCustomer& c : customers_) c.Balance = 0;
    for (const TQbInvoice& inv : invoices_) {
        auto it = customerById_.find(inv.Customer.ListID);
        if (it != customerById_.end()) customers_[it->second].Balance += inv.BalanceRemaining();
    }
    for (const TQbPayment& pay : payments_) {
        auto it = customerById_.find(pay.Customer.ListID);
        if (it != customerById_.end()) customers_[it->second].Balance -= pay.Unused();
    }
}

const TQbCustomer* TCompanyFile::FindCustomer(const TQbRef& ref) const {
    if (!ref.ListID.empty()) {
        auto it = customerById_.find(ref.ListID);
        return it == customerById_.end() ? nullptr : &customers_[it->second];
    }
    auto it = customerByName_.find(ToLowerAscii(ref.FullName));
    return it == customerByName_.end() ? nullptr : &customers_[it->second];
}

const TQbItem* TCompanyFile::FindItem(const TQbRef& ref) const {
    if (!ref.ListID.empty()) {
        auto it = itemById_.find(ref.ListID);
        return it == itemById_.end() ? nullptr : &items_[it->second];
    }
    auto it = itemByName_.find(ToLowerAscii(ref.FullName));
    return it == itemByName_.end() ? nullptr : &items_[it->second];
}

const TQbInvoice* TCompanyFile::FindInvoice(std::string_view txnId) const {
    auto it = invoiceById_.find(std::string(txnId));
    return it == invoiceById_.end() ? nullptr : &invoices_[it->second];
}

const TQbPayment* TCompanyFile::FindPayment(std::string_view txnId) const {
    auto it = paymentById_.find(std::string(txnId));
    return it == paymentById_.end() ? nullptr : &payments_[it->second];
}

std::string TCompanyFile::NewListId(std::int64_t now) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%08X-%lld", nextList_++, static_cast<long long>(now));
    return buffer;
}

std::string TCompanyFile::NewTxnId(std::int64_t now) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%X-%lld", nextTxn_++, static_cast<long long>(now));
    return buffer;
}

std::string TCompanyFile::NextRefNumber() const {
    long long highest = 0;
    for (const TQbInvoice& inv : invoices_) {
        const std::string& ref = inv.RefNumber;
        if (ref.empty() || ref.size() > 11 ||
            !std::all_of(ref.begin(), ref.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        highest = std::max(highest, std::stoll(ref));
    }
    return std::to_string(highest + 1);
}

const TQbCustomer& TCompanyFile::AddCustomer(TQbCustomer customer, std::int64_t now) {
    CheckName(customer.Name);
    if (customerByName_.count(ToLowerAscii(customer.Name)))
        throw TQbStatusError(3100, "The name \"" + customer.Name + "\" of the list element is already in use.");
    customer.ListID = NewListId(now);
    customer.TimeCreated = customer.TimeModified = now;
    customer.Balance = 0;
    customers_.push_back(std::move(customer));
    customerById_.emplace(customers_.back().ListID, customers_.size() - 1);
    customerByName_.emplace(ToLowerAscii(customers_.back().Name), customers_.size() - 1);
    return customers_.back();
}

const TQbItem& TCompanyFile::AddItem(TQbItem item, std::int64_t now) {
    CheckName(item.Name);
    if (itemByName_.count(ToLowerAscii(item.Name)))
        throw TQbStatusError(3100, "The name \"" + item.Name + "\" of the list element is already in use.");
    item.ListID = NewListId(now);
    item.TimeCreated = item.TimeModified = now;
    if (item.AccountName.empty()) item.AccountName = "Sales";
    items_.push_back(std::move(item));
    itemById_.emplace(items_.back().ListID, items_.size() - 1);
    itemByName_.emplace(ToLowerAscii(items_.back().Name), items_.size() - 1);
    return items_.back();
}

const TQbInvoice& TCompanyFile::AddInvoice(const TQbInvoiceAdd& add, std::int64_t now) {
    const TQbCustomer* customer = FindCustomer(add.Customer);
    if (!customer) throw TQbStatusError(3140, InvalidReference("Customer", add.Customer, "Invoice"));
    CheckDate(add.TxnDate, "TxnDate");
    CheckDate(add.DueDate, "DueDate");

    TQbInvoice inv;
    for (const TQbInvoiceLineAdd& lineAdd : add.Lines) {
        TQbInvoiceLine line;
        const TQbItem* item = nullptr;
        if (!lineAdd.Item.Empty()) {
            item = FindItem(lineAdd.Item);
            if (!item) throw TQbStatusError(3140, InvalidReference("Item", lineAdd.Item, "Invoice"));
            line.Item = {item->ListID, item->Name};
        }
        line.Desc = !lineAdd.Desc.empty() || !item ? lineAdd.Desc : item->Desc;
        line.Quantity = lineAdd.Quantity;
        line.Rate = lineAdd.Rate;
        if (!line.Rate && !lineAdd.Amount && item && item->Price) line.Rate = item->Price;
        if (lineAdd.Amount) {
            line.Amount = *lineAdd.Amount;
        } else if (line.Rate) {
            line.Amount = AmountOf(line.Quantity.value_or(1.0), *line.Rate);
        }
        inv.Lines.push_back(std::move(line));
    }
    // Everything is valid: from here on the file changes.
    inv.TxnID = NewTxnId(now);
    for (TQbInvoiceLine& line : inv.Lines) line.TxnLineID = NewTxnId(now);
    inv.TimeCreated = inv.TimeModified = now;
    inv.TxnNumber = nextTxnNumber_++;
    inv.Customer = {customer->ListID, customer->Name};
    inv.TxnDate = add.TxnDate.empty() ? FormatQbDate(now) : add.TxnDate;
    inv.RefNumber = add.RefNumber.empty() ? NextRefNumber() : add.RefNumber;
    inv.PONumber = add.PONumber;
    inv.DueDate = add.DueDate.empty() ? inv.TxnDate : add.DueDate;
    inv.Memo = add.Memo;
    inv.BillAddress = add.BillAddress ? *add.BillAddress : customer->BillAddress;
    inv.IsPending = add.IsPending;
    inv.IsToBePrinted = add.IsToBePrinted;
    inv.IsToBeEmailed = add.IsToBeEmailed;
    for (const TQbInvoiceLine& line : inv.Lines) inv.Subtotal += line.Amount;
    customers_[customerById_.at(customer->ListID)].Balance += inv.BalanceRemaining();
    invoices_.push_back(std::move(inv));
    invoiceById_.emplace(invoices_.back().TxnID, invoices_.size() - 1);
    return invoices_.back();
}

const TQbPayment& TCompanyFile::AddPayment(const TQbPaymentAdd& add, std::int64_t now) {
    const TQbCustomer* customer = FindCustomer(add.Customer);
    if (!customer)
        throw TQbStatusError(3140, InvalidReference("Customer", add.Customer, "ReceivePayment"));
    CheckDate(add.TxnDate, "TxnDate");

    std::vector<TQbAppliedTo> applied;
    std::unordered_map<std::string, TMoney> appliedPerInvoice;
    TMoney appliedTotal = 0;
    for (const TQbAppliedTo& a : add.Applied) {
        const TQbInvoice* inv = FindInvoice(a.TxnID);
        if (!inv || inv->Customer.ListID != customer->ListID)
            throw TQbStatusError(3120, ObjectNotFound(a.TxnID));
        TMoney& sum = appliedPerInvoice[a.TxnID];
        sum += a.Amount;
        if (a.Amount < 0 || sum > inv->BalanceRemaining())
            throw TQbStatusError(3210, "The \"AppliedToTxnAdd payment amount\" field has an invalid value \"" +
                                           FormatMoney(a.Amount) +
                                           "\".  QuickBooks error message: You cannot pay more than the amount due.");
        applied.push_back(a);
        appliedTotal += a.Amount;
    }
    TMoney total = add.TotalAmount.value_or(appliedTotal);
    if (total < 0)
        throw TQbStatusError(3040, "There was an error when converting the amount \"" + FormatMoney(total) +
                                       "\" in the field \"TotalAmount\".");
    if (add.AutoApply && add.Applied.empty()) {
        // Oldest open invoices first, as QuickBooks applies automatically.
        std::vector<const TQbInvoice*> open;
        for (const TQbInvoice& inv : invoices_)
            if (inv.Customer.ListID == customer->ListID && inv.BalanceRemaining() > 0) open.push_back(&inv);
        std::stable_sort(open.begin(), open.end(),
                         [](const TQbInvoice* a, const TQbInvoice* b) { return a->TxnDate < b->TxnDate; });
        TMoney left = total;
        for (const TQbInvoice* inv : open) {
            if (left <= 0) break;
            TMoney amount = std::min(left, inv->BalanceRemaining());
            applied.push_back({inv->TxnID, amount});
            appliedTotal += amount;
            left -= amount;
        }
    }
    if (appliedTotal > total)
        throw TQbStatusError(3210, "The \"TotalAmount\" field has an invalid value \"" + FormatMoney(total) +
                                       "\".  QuickBooks error message: The amounts applied are more than the "
                                       "amount of the payment.");

    TQbPayment pay;
    pay.TxnID = NewTxnId(now);
    pay.TimeCreated = pay.TimeModified = now;
    pay.TxnNumber = nextTxnNumber_++;
    pay.Customer = {customer->ListID, customer->Name};
    pay.TxnDate = add.TxnDate.empty() ? FormatQbDate(now) : add.TxnDate;
    pay.RefNumber = add.RefNumber;
    pay.PaymentMethod = add.PaymentMethod;
    pay.Memo = add.Memo;
    pay.TotalAmount = total;
    pay.Applied = std::move(applied);
    // A payment changes the invoices it pays: their balance and paid state are new.
    size_t row = payments_.size();
    for (const TQbAppliedTo& a : pay.Applied) {
        TQbInvoice& inv = invoices_[invoiceById_.at(a.TxnID)];
        inv.TimeModified = now;
        inv.Applied += a.Amount;
        if (inv.PaymentRows.empty() || inv.PaymentRows.back() != row) inv.PaymentRows.push_back(row);
    }
    customers_[customerById_.at(customer->ListID)].Balance -= total;
    payments_.push_back(std::move(pay));
    paymentById_.emplace(payments_.back().TxnID, row);
    return payments_.back();
}

const TQbPermission* TCompanyFile::Permission(std::string_view appName) const {
    for (const TQbPermission& p : permissions_)
        if (p.AppName == appName) return &p;
    return nullptr;
}

void TCompanyFile::SetPermission(std::string_view appName, TQbAccess access, bool autoLogin) {
    for (TQbPermission& p : permissions_) {
        if (p.AppName == appName) {
            p.Access = access;
            p.AutoLogin = autoLogin;
            return;
        }
    }
    permissions_.push_back({std::string(appName), access, autoLogin});
}

bool TCompanyFile::RemovePermission(std::string_view appName) {
    auto it = std::remove_if(permissions_.begin(), permissions_.end(),
                             [&](const TQbPermission& p) { return p.AppName == appName; });
    bool removed = it != permissions_.end();
    permissions_.erase(it, permissions_.end());
    return removed;
}

} // namespace dm
