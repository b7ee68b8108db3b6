#pragma once

// The files attached to an invoice the service has not received yet: the list the session's
// sync channel answers, and the changes sent to the biller endpoint as one "invoiceupdate"
// operation of attachment elements.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

// The service's answer when the file is larger than the invoice may still take.
inline constexpr const char* AttachmentTooLargeError = "110352";

// One attached file, its texts decoded.
struct TInvoiceAttachment {
    std::string Filename;
    std::string Render; // "0": a link the customer clicks; "1" or "2": part of the invoice PDF
    std::string Size;   // display text
    std::string Description;
    std::string Id;   // the key for re-ordering
    std::string Data; // the key for deleting
};

struct TAttachmentList {
    std::string Number, Customer, Total, Balance;
    std::int64_t RemainingSize = 0; // bytes; 0 when missing or not a number
    std::vector<TInvoiceAttachment> Attachments;
};

// Nothing when the answer is not a SOAP envelope with a "dm" element.
std::optional<TAttachmentList> ReadAttachmentList(const std::string& answer);
// The "Display Method" column: "File View Link", "In Invoice PDF" or empty.
std::string DisplayMethodCaption(std::string_view render);

// The attachment elements of the update; texts are escaped here.
std::string AddAttachmentElement(std::string_view description, int displayOrder, std::string_view fileName,
                                 bool inInvoicePdf, std::string_view fileBytes);
std::string ReorderAttachmentElement(std::string_view id, int position);
std::string DeleteAttachmentElement(std::string_view data);
std::string InvoiceUpdateOperation(std::string_view attachmentElements, std::string_view invoiceId);
// biller/invoiceupdate/attachment/error/number of the update's reply.
std::string InvoiceUpdateErrorNumber(const std::string& reply);

} // namespace dm
