// The control-panel sign-in reply and page addresses as any bytes: no crash, no field longer
// than the reply, and a pseudo-address is always an "about:" one.

#include "engine/ControlPanelRules.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const dm::TSignInReply r = dm::ParseSignInReply(text);
    if (r.sid.size() > size || r.msg.size() > size || r.showlogin.size() > size) std::abort();
    (void)dm::IsHomeUrl(text);
    (void)dm::PanelCommandOf(text);
    const std::string pseudo = dm::AgentPseudoAddress(text);
    if (!pseudo.empty() && pseudo.rfind("about:", 0) != 0) std::abort();
    (void)dm::BrowserTargetOf(text, "http://127.0.0.1:8080/");
    (void)dm::BrowserTargetOf("http://127.0.0.1:8080/", text);
    return 0;
}
