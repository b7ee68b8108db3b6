#pragma once

// The decisions of the embedded control panel that need no browser: the sign-in reply, the
// home page test, the command markers of the service's pages, and which addresses may load
// inside the agent at all.

#include <string>
#include <string_view>

namespace dm {

// The reply of the control-panel sign-in: name=value lines.
struct TSignInReply {
    std::string sid;
    std::string msg;
    std::string showlogin;
};
// The first line of each name counts; lines may end with CR LF or LF; unknown names are ignored.
TSignInReply ParseSignInReply(std::string_view body);

extern const char* const PanelConnectFailedMessage;

// True when the text after some "/" of the address is exactly "index.php" (so a query string
// or another case does not count).
bool IsHomeUrl(std::string_view url);

// The markers a page of the service carries, first match only, in this order.
enum class TPanelCommand { None, AccountCanceled, Logout, ConfirmAccount };
TPanelCommand PanelCommandOf(std::string_view pageText);
bool HasPrintToolbarMarker(std::string_view pageText);

// Where an address may be shown. Only http/https pages of the service's own host (scheme aside,
// host without case, same port) and the agent's own app:/about: pages load inside the agent;
// other http/https addresses go to the user's browser; everything else (file:, data:, custom
// schemes that would start a local program) is refused.
enum class TBrowserTarget { Agent, Desktop, Refused };
TBrowserTarget BrowserTargetOf(std::string_view url, std::string_view serviceBaseUrl);

// Pages the agent writes are loaded on "app://local/", so their pseudo-addresses come back in
// that form: "app://local/link" is "about:link", "app://local/#x" is "about:blank#x". Any
// "about:" address stays as it is; anything else gives the empty text.
std::string AgentPseudoAddress(std::string_view url);

} // namespace dm
