#pragma once

// A QuickBooks company file of the stand-in: the company, its customers, items, invoices with
// lines and received payments, and which integrated applications may open it. Balances are
// derived from the transactions whenever they change. The file on disk is XML.

#include "qb/QbValues.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace dm {

// What QuickBooks says about one request of a message set.
struct TQbStatus {
    int Code = 0;
    std::string Severity = "Info";
    std::string Message = "Status OK";
};

// A request that QuickBooks refuses with an error status.
class TQbStatusError : public std::runtime_error {
public:
    TQbStatusError(int code, const std::string& message)
        : std::runtime_error(message), status_{code, "Error", message} {}
    const TQbStatus& Status() const { return status_; }

private:
    TQbStatus status_;
};

struct TQbRef {
    std::string ListID;
    std::string FullName;
    bool Empty() const { return ListID.empty() && FullName.empty(); }
    // What a message names the reference by.
    const std::string& Text() const { return FullName.empty() ? ListID : FullName; }
};

struct TQbAddress {
    std::string Addr1, Addr2, Addr3, Addr4, Addr5, City, State, PostalCode, Country, Note;
    bool Empty() const;
};

struct TQbCompanyInfo {
    std::string CompanyName, LegalCompanyName;
    TQbAddress Address;
    std::string Phone, Email;
};

struct TQbCustomer {
    std::string ListID;
    std::int64_t TimeCreated = 0, TimeModified = 0;
    std::string Name;
    bool IsActive = true;
    std::string CompanyName, Salutation, FirstName, MiddleName, LastName;
    TQbAddress BillAddress, ShipAddress;
    std::string Phone, AltPhone, Fax, Email, Contact, AccountNumber, Notes;
    std::optional<TMoney> CreditLimit;
    TMoney Balance = 0; // derived: open invoices less unapplied payments
};

enum class TQbItemType { Service, NonInventory, OtherCharge };
// "Service", "NonInventory", "OtherCharge", as in the element names (ItemServiceRet...).
const char* ItemTypeName(TQbItemType type);
std::optional<TQbItemType> ParseItemType(std::string_view text); // without regard to case

struct TQbItem {
    std::string ListID;
    std::int64_t TimeCreated = 0, TimeModified = 0;
    std::string Name;
    bool IsActive = true;
    TQbItemType Type = TQbItemType::Service;
    std::string Desc;
    std::optional<double> Price;
    std::string AccountName = "Sales";
};

struct TQbInvoiceLine {
    std::string TxnLineID;
    TQbRef Item;
    std::string Desc;
    std::optional<double> Quantity, Rate;
    TMoney Amount = 0;
};

struct TQbInvoice {
    std::string TxnID;
    std::int64_t TimeCreated = 0, TimeModified = 0;
    int TxnNumber = 0;
    TQbRef Customer;
    std::string TxnDate, RefNumber, PONumber, DueDate, Memo;
    TQbAddress BillAddress;
    bool IsPending = false, IsToBePrinted = false, IsToBeEmailed = false;
    std::vector<TQbInvoiceLine> Lines;
    // Derived.
    TMoney Subtotal = 0;
    TMoney Applied = 0;              // payments applied, positive
    std::vector<size_t> PaymentRows; // the payments applied to it, by row
    TMoney BalanceRemaining() const { return Subtotal - Applied; }
    bool IsPaid() const { return BalanceRemaining() <= 0; }
};

struct TQbAppliedTo {
    std::string TxnID;
    TMoney Amount = 0;
};

struct TQbPayment {
    std::string TxnID;
    std::int64_t TimeCreated = 0, TimeModified = 0;
    int TxnNumber = 0;
    TQbRef Customer;
    std::string TxnDate, RefNumber, PaymentMethod, Memo;
    TMoney TotalAmount = 0;
    std::vector<TQbAppliedTo> Applied;
    TMoney Unused() const;
};

// Permission of one integrated application, by its name. An application without an entry
// has never been granted anything.
enum class TQbAccess { Granted, Denied, Revoked };
struct TQbPermission {
    std::string AppName;
    TQbAccess Access = TQbAccess::Granted;
    bool AutoLogin = true;
};

// What the add operations take; empty texts are defaults.
struct TQbInvoiceLineAdd {
    TQbRef Item;
    std::string Desc;
    std::optional<double> Quantity, Rate;
    std::optional<TMoney> Amount;
};
struct TQbInvoiceAdd {
    TQbRef Customer;
    std::string TxnDate, RefNumber, PONumber, DueDate, Memo;
    std::optional<TQbAddress> BillAddress;
    bool IsPending = false, IsToBePrinted = false, IsToBeEmailed = false;
    std::vector<TQbInvoiceLineAdd> Lines;
};
struct TQbPaymentAdd {
    TQbRef Customer;
    std::string TxnDate, RefNumber, PaymentMethod, Memo;
    std::optional<TMoney> TotalAmount;
    bool AutoApply = false;
    std::vector<TQbAppliedTo> Applied;
};

class TCompanyFile {
public:
    TQbCompanyInfo Company;

    // Throws std::runtime_error for text that is not a company file.
    static TCompanyFile FromXml(std::string_view xml);
    std::string ToXml() const;

    // Rows in the order they were added.
    const std::vector<TQbCustomer>& Customers() const { return customers_; }
    const std::vector<TQbItem>& Items() const { return items_; }
    const std::vector<TQbInvoice>& Invoices() const { return invoices_; }
    const std::vector<TQbPayment>& Payments() const { return payments_; }

    // By ListID when the reference has one, else by name without regard to case.
    const TQbCustomer* FindCustomer(const TQbRef& ref) const;
    const TQbItem* FindItem(const TQbRef& ref) const;
    const TQbInvoice* FindInvoice(std::string_view txnId) const;
    const TQbPayment* FindPayment(std::string_view txnId) const;

    // Each validates completely before it changes anything; refusals are TQbStatusError
    // with QuickBooks' status code and message. now is the time of the change.
    const TQbCustomer& AddCustomer(TQbCustomer customer, std::int64_t now);
    const TQbItem& AddItem(TQbItem item, std::int64_t now);
    const TQbInvoice& AddInvoice(const TQbInvoiceAdd& add, std::int64_t now);
    const TQbPayment& AddPayment(const TQbPaymentAdd& add, std::int64_t now);

    const TQbPermission* Permission(std::string_view appName) const;
    void SetPermission(std::string_view appName, TQbAccess access, bool autoLogin);
    bool RemovePermission(std::string_view appName);
    const std::vector<TQbPermission>& Permissions() const { return permissions_; }

private:
    void Reindex();
    void Recalculate();
    std::string NewListId(std::int64_t now);
    std::string NewTxnId(std::int64_t now);
    std::string NextRefNumber() const;

    std::vector<TQbCustomer> customers_;
    std::vector<TQbItem> items_;
    std::vector<TQbInvoice> invoices_;
    std::vector<TQbPayment> payments_;
    std::vector<TQbPermission> permissions_;
    std::unordered_map<std::string, size_t> customerById_, customerByName_, itemById_, itemByName_,
        invoiceById_, paymentById_;
    std::uint32_t nextList_ = 0x80000001;
    std::uint32_t nextTxn_ = 1;
    int nextTxnNumber_ = 1;
};

} // namespace dm
