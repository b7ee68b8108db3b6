#include "engine/BillerRequest.h"

#include "core/General.h"

namespace dm {

std::string BillerRequestEnvelope(std::string_view identifier, std::string_view password, std::string_view operation) {
    std::string out = "<?xml version=\"1.0\"?><request><biller><authenticate><id>";
    AppendHtmlEscaped(out, identifier);
    out += "</id><password>";
    AppendHtmlEscaped(out, password);
    out += "</password></authenticate>";
    out += operation;
    out += "</biller></request>";
    return out;
}

} // namespace dm
