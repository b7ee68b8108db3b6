#include "engine/UnsentInvoices.h"

#include "core/General.h"
#include "core/KvXml.h"
#include "platform/System.h"

#include <cstring>
#include <unistd.h>

namespace dm {

namespace {

void PutInt(std::string& out, size_t at, std::int32_t value) {
    auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::int32_t GetInt(std::string_view in, size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(in[at + static_cast<size_t>(i)]);
    return static_cast<std::int32_t>(v);
}

void PutText(std::string& out, size_t at, size_t capacity, std::string_view text) {
    size_t n = std::min(text.size(), capacity);
    out[at] = static_cast<char>(n);
    std::memcpy(&out[at + 1], text.data(), n);
}

std::string GetText(std::string_view in, size_t at, size_t capacity) {
    size_t n = std::min<size_t>(static_cast<unsigned char>(in[at]), capacity);
    return std::string(in.substr(at + 1, n));
}

std::int32_t IntegerOr0(std::string_view text) { return ParseInteger(text).value_or(0); }

// Lines end at CR, LF or CR LF.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t i = 0;
    while (i < text.size()) {
        size_t end = text.find_first_of("\r\n", i);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(i));
            break;
        }
        lines.push_back(text.substr(i, end - i));
        i = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
    }
    return lines;
}

void Check(bool ok, const std::string& what) {
    if (!ok) throw TUnsentInvoiceError(what);
}

void WriteAll(std::FILE* f, const std::string& bytes, const std::string& name) {
    Check(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size(), "Unable to write " + name);
}

std::string OrderBytes(const std::vector<std::int32_t>& order) {
    std::string bytes(order.size() * 4, '\0');
    for (size_t i = 0; i < order.size(); ++i) PutInt(bytes, i * 4, order[i]);
    return bytes;
}

} // namespace

std::string UnsentInvoiceRecord::Encode() const {
    std::string out(Size, '\0');
    PutInt(out, 0, position);
    out[4] = checked ? 1 : 0;
    PutInt(out, 8, emailKind);
    PutText(out, 12, 40, invoiceId);
    PutText(out, 53, 40, invoiceNumber);
    PutText(out, 94, 200, customer);
    PutText(out, 295, 15, amount);
    PutText(out, 311, 15, openBalance);
    PutText(out, 327, 10, shortText);
    PutInt(out, 340, attachmentCount);
    return out;
}

UnsentInvoiceRecord UnsentInvoiceRecord::Decode(std::string_view in) {
    UnsentInvoiceRecord r;
    if (in.size() < Size) throw TUnsentInvoiceError("A record of the invoice list is incomplete.");
    r.position = GetInt(in, 0);
    r.checked = in[4] == 1;
    r.emailKind = GetInt(in, 8);
    r.invoiceId = GetText(in, 12, 40);
    r.invoiceNumber = GetText(in, 53, 40);
    r.customer = GetText(in, 94, 200);
    r.amount = GetText(in, 295, 15);
    r.openBalance = GetText(in, 311, 15);
    r.shortText = GetText(in, 327, 10);
    r.attachmentCount = GetInt(in, 340);
    return r;
}

UnsentInvoiceRecord ParseUnsentInvoiceLine(std::string_view line, std::int32_t position) {
    std::vector<std::string> f = SplitText('\t', line);
    // SplitText drops an empty last field: an empty attachment count still counts as one.
    if (f.size() == 7 && !line.empty() && line.back() == '\t') f.emplace_back();
    Check(f.size() >= 8, "A line of the invoice list from Invara has fewer than eight fields.");
    UnsentInvoiceRecord r;
    r.position = position;
    // The id is the service's key and goes back exactly as it came; the texts the review shows
    // are the plain text the service's escaped XML stands for (the number is escaped again on
    // its way back).
    r.invoiceId = f[0].substr(0, 40);
    r.emailKind = IntegerOr0(f[1]);
    r.invoiceNumber = DecodeXmlEntities(f[2]).substr(0, 40);
    r.customer = DecodeXmlEntities(f[3]).substr(0, 200);
    r.amount = DecodeXmlEntities(f[4]).substr(0, 15);
    r.openBalance = DecodeXmlEntities(f[5]).substr(0, 15);
    r.shortText = f[6].substr(0, 10);
    r.attachmentCount = IntegerOr0(f[7]);
    return r;
}

std::vector<std::int32_t> ParseUnsentInvoiceOrder(std::string_view text, size_t count) {
    std::vector<std::int32_t> order;
    std::vector<bool> seen(count, false);
    for (const std::string& piece : SplitText(',', text)) {
        std::int32_t k = IntegerOr0(piece);
        Check(k >= 0 && static_cast<size_t>(k) < count && !seen[static_cast<size_t>(k)],
              "An order of the invoice list from Invara names an invoice that is not in the list.");
        seen[static_cast<size_t>(k)] = true;
        order.push_back(k);
    }
    Check(order.size() == count, "An order of the invoice list from Invara is incomplete.");
    return order;
}

TUnsentInvoiceFiles::TUnsentInvoiceFiles(std::string storageFolder) : folder_(std::move(storageFolder)) {}

TUnsentInvoiceFiles::~TUnsentInvoiceFiles() { CleanUp(); }

std::string TUnsentInvoiceFiles::FileName(int order) const {
    return order < 0 ? folder_ + "uninv.txt" : folder_ + "uninv_" + std::to_string(order) + ".txt";
}

int TUnsentInvoiceFiles::Write(const TKvXMLElement& unsent) {
    // Everything is checked before the first byte is written: an incomplete list must not
    // leave a review that reads past its files.
    std::vector<std::string_view> lines;
    // Empty lines (a leading line break, a blank line between two invoices) hold no invoice.
    const std::string invoicesText = unsent.PathText("invoices");
    for (std::string_view line : Lines(invoicesText))
        if (line.find_first_not_of(' ') != std::string_view::npos) lines.push_back(line);
    std::vector<UnsentInvoiceRecord> records;
    for (size_t k = 0; k < lines.size(); ++k)
        records.push_back(ParseUnsentInvoiceLine(lines[k], static_cast<std::int32_t>(k)));
    const char* orderNames[] = {"order_customer", "order_amount", "order_balance"};
    std::vector<std::vector<std::int32_t>> orders;
    for (const char* name : orderNames) {
        const TKvXMLElement* e = unsent.FindChild(name);
        Check(e != nullptr || records.empty(), std::string("The invoice list from Invara has no ") + name + ".");
        orders.push_back(records.empty() ? std::vector<std::int32_t>{}
                                         : ParseUnsentInvoiceOrder(e->Text(), records.size()));
    }

    for (int column = 1; column <= 3; ++column) {
        std::FILE* f = CreatePrivateFile(FileName(column));
        Check(f != nullptr, "Unable to create " + FileName(column));
        WriteAll(f, OrderBytes(orders[static_cast<size_t>(column - 1)]), FileName(column));
        Check(std::fclose(f) == 0, "Unable to write " + FileName(column));
    }
    rows_ = static_cast<int>(records.size());
    if (records.empty()) return 0;

    std::FILE* rf = CreatePrivateFile(FileName(-1));
    Check(rf != nullptr, "Unable to create " + FileName(-1));
    std::FILE* of = CreatePrivateFile(FileName(0));
    if (!of) std::fclose(rf);
    Check(of != nullptr, "Unable to create " + FileName(0));
    std::vector<std::int32_t> identity;
    std::string recordBytes;
    for (const UnsentInvoiceRecord& r : records) {
        recordBytes += r.Encode();
        identity.push_back(r.position);
    }
    bool ok = std::fwrite(recordBytes.data(), 1, recordBytes.size(), rf) == recordBytes.size();
    std::string identityBytes = OrderBytes(identity);
    ok = std::fwrite(identityBytes.data(), 1, identityBytes.size(), of) == identityBytes.size() && ok;
    ok = (std::fclose(rf) == 0) && ok;
    ok = (std::fclose(of) == 0) && ok;
    Check(ok, "Unable to write the invoice list files.");

    records_ = std::fopen(FileName(-1).c_str(), "r+b");
    Check(records_ != nullptr, "Unable to open " + FileName(-1));
    selectOrder(0);
    return rows_;
}

void TUnsentInvoiceFiles::selectOrder(int column) {
    Check(column >= 0 && column <= 3, "There is no such order.");
    if (orderFile_) std::fclose(orderFile_);
    orderFile_ = std::fopen(FileName(column).c_str(), "rb");
    Check(orderFile_ != nullptr, "Unable to open " + FileName(column));
    order_ = column;
}

UnsentInvoiceRecord TUnsentInvoiceFiles::readRecordAtRow(int row) {
    Check(records_ && orderFile_ && row >= 0 && row < rows_, "There is no such row.");
    char entry[4];
    Check(std::fseek(orderFile_, static_cast<long>(row) * 4, SEEK_SET) == 0 && std::fread(entry, 1, 4, orderFile_) == 4,
          "Unable to read " + FileName(order_));
    std::int32_t position = GetInt(std::string_view(entry, 4), 0);
    Check(position >= 0 && position < rows_, "The order file names an invoice that is not in the list.");
    std::string bytes(UnsentInvoiceRecord::Size, '\0');
    Check(std::fseek(records_, static_cast<long>(position) * static_cast<long>(UnsentInvoiceRecord::Size), SEEK_SET) == 0 &&
              std::fread(bytes.data(), 1, bytes.size(), records_) == bytes.size(),
          "Unable to read " + FileName(-1));
    return UnsentInvoiceRecord::Decode(bytes);
}

void TUnsentInvoiceFiles::storeRecord(const UnsentInvoiceRecord& record) {
    Check(records_ && record.position >= 0 && record.position < rows_, "There is no such invoice.");
    std::string bytes = record.Encode();
    Check(std::fseek(records_, static_cast<long>(record.position) * static_cast<long>(UnsentInvoiceRecord::Size),
                     SEEK_SET) == 0 &&
              std::fwrite(bytes.data(), 1, bytes.size(), records_) == bytes.size() && std::fflush(records_) == 0,
          "Unable to write " + FileName(-1));
}

std::string TUnsentInvoiceFiles::chosenInvoicesText(bool skipEmails) {
    std::string text = skipEmails ? "<skipemails>1</skipemails>" : "";
    if (!records_) return text;
    std::string bytes(UnsentInvoiceRecord::Size, '\0');
    for (int n = 0; n < rows_; ++n) {
        Check(std::fseek(records_, static_cast<long>(n) * static_cast<long>(UnsentInvoiceRecord::Size), SEEK_SET) == 0 &&
                  std::fread(bytes.data(), 1, bytes.size(), records_) == bytes.size(),
              "Unable to read " + FileName(-1));
        UnsentInvoiceRecord r = UnsentInvoiceRecord::Decode(bytes);
        if (r.checked) text += "<inv><id>" + r.invoiceId + "</id><num>" + HtmlEscape(r.invoiceNumber) + "</num></inv>";
    }
    return text;
}

void TUnsentInvoiceFiles::CleanUp() {
    if (records_) std::fclose(records_);
    if (orderFile_) std::fclose(orderFile_);
    records_ = orderFile_ = nullptr;
    if (rows_ == 0 && order_ < 0) return; // nothing of ours was opened: an empty list stays on disk
    ::unlink(FileName(-1).c_str());
    for (int column = 0; column <= 3; ++column) ::unlink(FileName(column).c_str());
    rows_ = 0;
    order_ = -1;
}

} // namespace dm
