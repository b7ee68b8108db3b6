// The invoice list of a review, as any bytes: parsing a line, an order list and the whole
// element never crashes, and whatever is accepted survives the record layout.

#include "core/KvXml.h"
#include "engine/UnsentInvoices.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t cut = input.find('\n');
    std::string_view line = input.substr(0, cut);
    std::string_view rest = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);

    try {
        dm::UnsentInvoiceRecord r = dm::ParseUnsentInvoiceLine(line, 3);
        dm::UnsentInvoiceRecord back = dm::UnsentInvoiceRecord::Decode(r.Encode());
        if (back.invoiceId != r.invoiceId || back.customer != r.customer || back.shortText != r.shortText ||
            back.attachmentCount != r.attachmentCount)
            std::abort();
    } catch (const dm::TUnsentInvoiceError&) {
    }
    try {
        std::vector<std::int32_t> order = dm::ParseUnsentInvoiceOrder(rest, size % 7);
        for (std::int32_t k : order)
            if (k < 0 || static_cast<size_t>(k) >= size % 7) std::abort();
    } catch (const dm::TUnsentInvoiceError&) {
    }
    try {
        dm::UnsentInvoiceRecord::Decode(input);
    } catch (const dm::TUnsentInvoiceError&) {
    }
    return 0;
}
