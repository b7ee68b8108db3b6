#include "engine/ControlPanelRules.h"

#include "core/General.h"

#include <QUrl>

namespace dm {

const char* const PanelConnectFailedMessage = "Unable to connect to the control panel.";

TSignInReply ParseSignInReply(std::string_view body) {
    TSignInReply reply;
    bool seenSid = false, seenMsg = false, seenShowLogin = false;
    while (!body.empty()) {
        size_t end = body.find('\n');
        std::string_view line = body.substr(0, end);
        body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view name = line.substr(0, eq), value = line.substr(eq + 1);
        auto take = [&](bool& seen, std::string& field) {
            if (seen) return;
            seen = true;
            field.assign(value);
        };
        if (name == "sid") take(seenSid, reply.sid);
        else if (name == "msg") take(seenMsg, reply.msg);
        else if (name == "showlogin") take(seenShowLogin, reply.showlogin);
    }
    return reply;
}

bool IsHomeUrl(std::string_view url) {
    for (size_t at = url.find('/'); at != std::string_view::npos; at = url.find('/', at + 1))
        if (url.substr(at + 1) == "index.php") return true;
    return false;
}

TPanelCommand PanelCommandOf(std::string_view pageText) {
    if (pageText.find("<!-- DMCOMMAND_ACCOUNT_CANCELED") != std::string_view::npos) return TPanelCommand::AccountCanceled;
    if (pageText.find("<!-- DMCOMMAND_LOGOUT") != std::string_view::npos) return TPanelCommand::Logout;
    if (pageText.find("<!-- DMCOMMAND_CONFIRM_ACCOUNT") != std::string_view::npos) return TPanelCommand::ConfirmAccount;
    return TPanelCommand::None;
}

bool HasPrintToolbarMarker(std::string_view pageText) {
    return pageText.find("<!-- DMCOMMAND_SHOW_PRINT_TOOLBAR") != std::string_view::npos;
}

namespace {

QUrl ParseUrl(std::string_view text) {
    return QUrl(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), QUrl::StrictMode);
}

bool IsWeb(const QUrl& url) { return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"); }

int EffectivePort(const QUrl& url) { return url.port(url.scheme() == QLatin1String("https") ? 443 : 80); }

} // namespace

TBrowserTarget BrowserTargetOf(std::string_view url, std::string_view serviceBaseUrl) {
    const QUrl target = ParseUrl(url);
    if (!target.isValid()) return TBrowserTarget::Refused;
    const QString scheme = target.scheme();
    if (scheme == QLatin1String("about")) return TBrowserTarget::Agent;
    if (scheme == QLatin1String("app"))
        return target.host() == QLatin1String("local") ? TBrowserTarget::Agent : TBrowserTarget::Refused;
    if (!IsWeb(target) || target.host().isEmpty()) return TBrowserTarget::Refused;
    const QUrl service = ParseUrl(serviceBaseUrl);
    // A user name in the address could pass a foreign host off as ours to a reader; Chromium
    // would send it as credentials. Such pages never load inside the agent.
    if (IsWeb(service) && target.userInfo().isEmpty() &&
        target.host().compare(service.host(), Qt::CaseInsensitive) == 0 && EffectivePort(target) == EffectivePort(service))
        return TBrowserTarget::Agent;
    return TBrowserTarget::Desktop;
}

std::string AgentPseudoAddress(std::string_view url) {
    constexpr std::string_view local = "app://local/";
    if (url.substr(0, 6) == "about:") return std::string(url);
    if (url.substr(0, local.size()) != local) return {};
    std::string_view rest = url.substr(local.size());
    if (rest.empty() || rest.front() == '#') return "about:blank" + std::string(rest);
    return "about:" + std::string(rest);
}

} // namespace dm
