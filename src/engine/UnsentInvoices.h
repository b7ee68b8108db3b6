#pragma once

// The new invoices a session offers for review, kept in five binary files in the storage
// folder while the review runs: the records in "uninv.txt" and one row order per list column
// in "uninv_0.txt" to "uninv_3.txt". The review dialog reads and ticks records through them.

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

class TKvXMLElement;

// One invoice as stored: 344 bytes, integers little-endian, texts as a length byte and a
// fixed capacity.
struct UnsentInvoiceRecord {
    static constexpr size_t Size = 344;
    std::int32_t position = 0;
    bool checked = false;
    std::int32_t emailKind = 0; // 0 none, 1 non-enrolled customer e-mail, 2 enrolled customer e-mail
    std::string invoiceId;      // up to 40
    std::string invoiceNumber;  // up to 40
    std::string customer;       // up to 200
    std::string amount;         // up to 15
    std::string openBalance;    // up to 15
    std::string shortText;      // up to 10
    std::int32_t attachmentCount = 0;

    std::string Encode() const;
    static UnsentInvoiceRecord Decode(std::string_view bytes);
};

// The service sent a list that cannot be reviewed safely, or a file could not be used.
class TUnsentInvoiceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One line of the service's list, as its XML delivers it; throws TUnsentInvoiceError for fewer
// than eight fields.
UnsentInvoiceRecord ParseUnsentInvoiceLine(std::string_view line, std::int32_t position);
// A comma-separated order list; throws when it does not name every position 0 to n-1 once.
std::vector<std::int32_t> ParseUnsentInvoiceOrder(std::string_view text, size_t count);

class TUnsentInvoiceFiles {
public:
    explicit TUnsentInvoiceFiles(std::string storageFolder);
    ~TUnsentInvoiceFiles(); // closes and deletes the files
    TUnsentInvoiceFiles(const TUnsentInvoiceFiles&) = delete;
    TUnsentInvoiceFiles& operator=(const TUnsentInvoiceFiles&) = delete;

    // Writes the files from the "unsent_invoices" element and opens them for the review.
    // Returns the number of rows; 0 when the list is empty (nothing to review). Throws
    // TUnsentInvoiceError; nothing is written when the list is incomplete.
    int Write(const TKvXMLElement& unsentInvoices);

    int RowCount() const { return rows_; }
    UnsentInvoiceRecord readRecordAtRow(int row);
    void storeRecord(const UnsentInvoiceRecord& record);
    // Column 0 "Invoice #", 1 "Customer", 2 "Amount", 3 "Open Balance".
    void selectOrder(int column);
    int SelectedOrder() const { return order_; }
    // The ticked invoices in file order, for the chosen-invoices request.
    std::string chosenInvoicesText(bool skipEmails);
    // Closes the files and deletes all five.
    void CleanUp();

    std::string FileName(int order) const; // -1: the record file

private:
    std::string folder_;
    std::FILE* records_ = nullptr;
    std::FILE* orderFile_ = nullptr;
    int order_ = -1;
    int rows_ = 0;
};

} // namespace dm
