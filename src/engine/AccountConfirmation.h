#pragma once

// The account confirmation as the service answers it, read once for both of its callers: a
// biller's frame, which confirms a stored account, and the Add Biller wizard, which confirms a
// login typed in.

#include <string>
#include <string_view>
#include <vector>

namespace dm {

// The form of the confirmation. startup: a stored biller's confirmation (the frame's);
// debugField: the test environments' "DBGSESSID=1" as the last field.
std::vector<std::string> ConfirmationFields(bool startup, const std::string& userName, const std::string& password,
                                            const std::string& hostedPartner, bool debugField);

// What an answer says. Texts are the plain text the service's XML stands for; the id is as it
// came.
struct TConfirmationReply {
    bool Next = false;
    bool Done = false;
    bool Back = false;
    bool Suspended = false;
    bool Deleted = false;
    bool SetupWizard = false;
    bool DelaySendingInvoices = false;
    std::string Name;
    std::string Id;
    std::string Type;
    std::string Message;
};
// Any bytes: an answer that is not XML reads as no case at all.
TConfirmationReply ReadConfirmationReply(std::string answer);

} // namespace dm
