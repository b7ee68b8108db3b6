// The desktop-manager pages under "business/": account confirmation, notifications, the
// update check, the control panel's sign-in and its pages with their command markers, the
// setup pages, and the send-session form.

#include "TestService.h"

#include "DebPackage.h"

#include "core/General.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace dm {

namespace {

const char* kCookie = "INVARASESSID";

std::string Element(const std::string& name, const std::string& escapedText) {
    return "<" + name + ">" + escapedText + "</" + name + ">";
}

// The desktop-manager answers read paths such as "response/next" below the document element,
// so "response" must be a child of it.
TServiceAnswer DmXml(const std::string& responseContent) {
    TServiceAnswer a;
    a.body = "<?xml version=\"1.0\" encoding=\"utf-8\"?><dm><response>" + responseContent + "</response></dm>";
    return a;
}

TServiceAnswer Text(const std::string& body, const char* type = "text/plain; charset=utf-8") {
    TServiceAnswer a;
    a.contentType = type;
    a.body = body;
    return a;
}

TServiceAnswer Refused(int status, const std::string& message) {
    TServiceAnswer a = Text(message + "\n");
    a.status = status;
    return a;
}

TServiceAnswer Page(const std::string& title, const std::string& content, const std::string& marker = {}) {
    std::string html = "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta charset=\"utf-8\">\r\n<title>" + HtmlEscape(title) +
                       " - Invara</title>\r\n<style>body { font-family: Arial, sans-serif; font-size: 10pt; margin: 16px; }"
                       " table { border-collapse: collapse; } td, th { border-bottom: 1px solid #ddd; padding: 3px 8px; }"
                       "</style>\r\n</head>\r\n<body>\r\n";
    if (!marker.empty()) html += marker + "\r\n";
    html += "<h1>" + HtmlEscape(title) + "</h1>\r\n" + content + "\r\n</body>\r\n</html>\r\n";
    return Text(html, "text/html; charset=utf-8");
}

std::string PdfText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '(' || c == ')' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

} // namespace

// A one-page PDF with the given lines, built by hand so that its cross-reference table is exact.
std::string MakePdf(const std::vector<std::string>& lines) {
    std::string content = "BT /F1 14 Tf 72 720 Td 18 TL";
    for (const auto& line : lines) content += " (" + PdfText(line) + ") Tj T*";
    content += " ET";
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    };
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t offset : offsets) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) +
           "\n%%EOF\n";
    return pdf;
}

TServiceAnswer TTestService::ConfirmAccount(TServiceRequest& request) {
    std::string user = FormValue(request.form, "un");
    request.account = user;
    TServiceAnswer answer;
    if (TFault* f = TakeFault(request); f && ReplacesAnswer(*f, answer)) return answer;
    if (request.method != "POST" || !request.formOk) return Refused(400, "The confirmation is a form post.");
    TAccount* a = FindByUser(user);
    if (!a || a->password != FormValue(request.form, "pw"))
        return DmXml("<back>1</back><message>The user name or password you entered is not correct.</message>");
    if (a->state == "password_not_accepted")
        return DmXml("<back>1</back>" +
                     Element("message", XmlText(a->message.empty() ? "Your password has changed. Please enter your new password."
                                                                    : a->message)));
    if (a->state == "suspended")
        return DmXml("<suspended>1</suspended>" +
                     Element("message", XmlText(a->message.empty() ? "Your Invara account has been suspended." : a->message)));
    if (a->state == "deleted") return DmXml("<deleted>1</deleted>");
    std::string business = "<business>" + Element("name", XmlText(a->name)) + Element("id", XmlText(a->id)) +
                           Element("type", XmlText(a->type)) +
                           Element("delay_sending_invoices", a->delaySendingInvoices ? "1" : "0") + "</business>";
    bool done = a->state == "done" || a->type == "ezi";
    return DmXml("<next>1</next>" + std::string(done ? "<done>1</done>" : "") + business +
                 Element("setup_wizard", a->state == "setup_wizard" ? "1" : "0"));
}

TServiceAnswer TTestService::Notifications(TServiceRequest& request) {
    request.account = FormValue(request.form, "un");
    TServiceAnswer answer;
    if (TFault* f = TakeFault(request); f && ReplacesAnswer(*f, answer)) return answer;
    if (request.method != "POST" || !request.formOk) return Refused(400, "The notifications request is a form post.");
    TAccount* a = FindByUser(request.account);
    if (!a || a->password != FormValue(request.form, "pw") || a->state == "deleted" || a->state == "suspended")
        return Text("", "text/html; charset=utf-8");
    // Each notification is delivered once; new online payments are announced with the
    // command that makes the agent fetch them.
    std::vector<std::string> fragments = a->notifications;
    a->notifications.clear();
    if (a->paymentNotices)
        for (auto& p : a->payments) {
            if (p.pushed || p.announced) continue;
            p.announced = true;
            fragments.push_back("<div style=\"margin-bottom: 6px;\"><b>Payment received</b></div><div>" + HtmlEscape(p.customer) +
                                " paid " + HtmlEscape(MoneyText(p.amount)) + " on invoice #" + HtmlEscape(p.invoice) +
                                ".</div><!-- \b\bDM:syncpayments(" + a->id + ")\b\b -->");
        }
    std::string body;
    for (size_t i = 0; i < fragments.size(); ++i) body += (i ? "\t" : "") + fragments[i];
    return Text(body, "text/html; charset=utf-8");
}

TServiceAnswer TTestService::CheckUpdate(TServiceRequest& request) {
    TServiceAnswer answer;
    if (TFault* f = TakeFault(request); f && ReplacesAnswer(*f, answer)) return answer;
    if (request.method != "POST" || !request.formOk) return Refused(400, "The update check is a form post.");
    const TUpdateOffer& u = scenario_.update;
    std::string host = request.Header("Host").empty() ? "localhost:" + std::to_string(port_) : request.Header("Host");
    std::string content = Element("update", u.available ? "1" : "0");
    if (!u.startupVersion.empty()) content += "<versions>" + Element("startup", XmlText(u.startupVersion)) + "</versions>";
    content += Element("url", XmlText("http://" + host + "/" + request.prefix + "invara-desktop-manager.deb")) +
               Element("updatemessage", XmlText(u.message));
    return DmXml(content);
}

TServiceAnswer TTestService::Installer(TServiceRequest& request) {
    TServiceAnswer answer;
    if (TFault* f = TakeFault(request); f && ReplacesAnswer(*f, answer)) return answer;
    const TUpdateOffer& u = scenario_.update;
    if (!u.installerFile.empty()) {
        std::ifstream in(u.installerFile, std::ios::binary);
        if (!in) return Refused(404, "The package to offer cannot be read.");
        answer.body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
        answer.body = MakeTestPackage("99.0.0", u.installerSize);
    }
    answer.contentType = "application/vnd.debian.binary-package";
    return answer;
}

TServiceAnswer TTestService::PanelSignIn(TServiceRequest& request) {
    std::string user = FormValue(request.form, "un");
    request.account = user;
    TServiceAnswer answer;
    if (TFault* f = TakeFault(request); f && ReplacesAnswer(*f, answer)) return answer;
    if (request.method != "POST" || !request.formOk) return Refused(400, "The sign-in is a form post.");
    TAccount* a = FindByUser(user);
    auto lines = [](const std::string& msg, const std::string& sid, const char* showLogin) {
        return Text("msg=" + msg + "\r\nsid=" + sid + "\r\nshowlogin=" + showLogin + "\r\n");
    };
    if (!a || a->password != FormValue(request.form, "pw") || a->state == "password_not_accepted")
        return lines("The user name or password you entered is not correct.", "", "1");
    if (a->state == "deleted") return lines("Your Invara account has been canceled.", "", "0");
    std::string sid = NewKey("S");
    webSessions_[sid] = static_cast<size_t>(a - scenario_.accounts.data());
    return lines("", sid, "0");
}

TServiceAnswer TTestService::PanelStart(TServiceRequest& request) {
    std::string sid = request.Query("sid");
    auto it = webSessions_.find(sid);
    if (it != webSessions_.end()) request.account = scenario_.accounts[it->second].user;
    TServiceAnswer answer;
    if (TFault* f = TakeFault(request); f && ReplacesAnswer(*f, answer)) return answer;
    if (it == webSessions_.end())
        return Page("Session expired", "<p>Your session has expired. Please log in again.</p>", "<!-- DMCOMMAND_LOGOUT -->");
    answer.status = 302;
    answer.contentType = "text/html";
    std::string target = request.Query("p") == "dm_setup" ? "business/setup.php?step=1" : "business/index.php";
    answer.headers.emplace_back("Set-Cookie", std::string(kCookie) + "=" + sid + "; Path=/; HttpOnly");
    answer.headers.emplace_back("Location", "/" + request.prefix + target);
    answer.body = "<html><body><a href=\"/" + request.prefix + target + "\">Continue</a></body></html>";
    return answer;
}

TServiceAnswer TTestService::SendSession(TServiceRequest& request) {
    TServiceAnswer answer;
    if (TFault* f = TakeFault(request); f && ReplacesAnswer(*f, answer)) return answer;
    std::string text;
    if (request.method != "POST" || !request.formOk || !HexDecode(FormValue(request.form, "c"), text) || text.empty())
        return Refused(400, "The session is posted as the field c, two hexadecimal digits per byte.");
    sentSessions_.push_back(text);
    return Page("Session received", "<p>The log session was sent to support.</p>");
}

int TTestService::CookieAccount(const TServiceRequest& request) {
    std::string cookies = request.Header("Cookie");
    std::string key = std::string(kCookie) + "=";
    size_t at = cookies.find(key);
    if (at == std::string::npos) return -1;
    size_t end = cookies.find(';', at);
    auto it = webSessions_.find(cookies.substr(at + key.size(), end == std::string::npos ? std::string::npos : end - at - key.size()));
    return it == webSessions_.end() ? -1 : static_cast<int>(it->second);
}

TServiceAnswer TTestService::SecureLogin(TServiceRequest& request) {
    TServiceAnswer answer;
    if (TFault* f = TakeFault(request); f && ReplacesAnswer(*f, answer)) return answer;
    std::string note;
    if (request.method == "POST") {
        TAccount* a = FindByUser(FormValue(request.form, "un"));
        if (a && a->password == FormValue(request.form, "pw") && a->state != "deleted") {
            std::string sid = NewKey("S");
            webSessions_[sid] = static_cast<size_t>(a - scenario_.accounts.data());
            request.account = a->user;
            answer.status = 302;
            answer.contentType = "text/html";
            answer.headers.emplace_back("Set-Cookie", std::string(kCookie) + "=" + sid + "; Path=/; HttpOnly");
            answer.headers.emplace_back("Location", "/" + request.prefix + "business/index.php");
            return answer;
        }
        note = "<p style=\"color: #800000;\">The user name or password you entered is not correct.</p>";
    }
    return Page("Secure Login", note + "<form method=\"post\" action=\"/" + request.prefix +
                                    "securelogin\"><p>User name: <input name=\"un\"></p><p>Password: <input name=\"pw\" "
                                    "type=\"password\"></p><p><input type=\"submit\" value=\"Login\"></p></form>");
}

TServiceAnswer TTestService::PanelPage(TServiceRequest& request) {
    int index = CookieAccount(request);
    if (index >= 0) request.account = scenario_.accounts[index].user;
    TServiceAnswer answer;
    if (TFault* f = TakeFault(request); f && ReplacesAnswer(*f, answer)) return answer;
    const std::string& e = request.endpoint;
    std::string base = "/" + request.prefix;
    if (e.empty() || e == "index.html")
        return Page("Invara (local test service)",
                    "<p>This is the local Invara service.</p><p><a href=\"" + base + "securelogin\">Log in</a> | <a href=\"" +
                        base + "signup/\">Sign up</a></p>");
    if (e == "signup/" || e == "signup/index.php")
        return Page("Sign Up", "<p>New accounts are made in the scenario file of the local service.</p>");
    if (e == "login/forgot_username.php")
        return Page("Forgot User Name or Password", "<p>The demo account is user name <b>demo</b>, password <b>demo</b>.</p>");
    if (e == "business/dm_popup.php") {
        std::string message = request.Query("msg").empty() ? "A message from Invara." : request.Query("msg");
        // close=1: the page closes its own window once loaded.
        std::string closing = request.Query("close") == "1"
                                  ? "<script>window.addEventListener('load', function () { setTimeout(function () { "
                                    "window.close(); }, 300); });</script>"
                                  : "";
        return Page("Invara", "<p>" + HtmlEscape(message) + "</p><p><button onclick=\"window.close()\">Close</button></p>" +
                                  closing);
    }
    if (e.rfind("business/", 0) != 0) {
        answer = Page("Not Found", "<p>There is no such page.</p>");
        answer.status = 404;
        return answer;
    }

    if (index < 0)
        return Page("Please Log In", "<p>Your session has ended. <a href=\"" + base + "securelogin\">Log in again</a>.</p>");
    TAccount& a = scenario_.accounts[index];
    std::string page = e.substr(9);
    std::string home = "<p><a href=\"" + base + "business/index.php\">Home</a></p>";

    if (page == "index.php") {
        std::string marker = a.state == "deleted" ? "<!-- DMCOMMAND_ACCOUNT_CANCELED -->" : "";
        std::string rows;
        for (const auto& inv : a.invoices)
            rows += "<tr><td><a href=\"" + base + "business/invoice_pdf.php?id=" + HtmlEscape(inv.key) + "\">" +
                    HtmlEscape(inv.number) + "</a></td><td>" + HtmlEscape(inv.customer) + "</td><td>" +
                    HtmlEscape(MoneyText(inv.amount)) + "</td><td>" + HtmlEscape(MoneyText(inv.balance)) + "</td><td>" +
                    (inv.sent ? "sent" : "not sent") + "</td></tr>\r\n";
        std::string payments;
        for (const auto& p : a.payments)
            payments += "<tr><td>" + HtmlEscape(p.date) + "</td><td>" + HtmlEscape(p.customer) + "</td><td>" +
                        HtmlEscape(MoneyText(p.amount)) + "</td><td>" + (p.pushed ? "in QuickBooks" : "waiting for sync") +
                        "</td></tr>\r\n";
        return Page(a.name,
                    "<p>Business #" + HtmlEscape(a.id) + (a.lastSync.empty() ? "" : ", last synchronized " + HtmlEscape(a.lastSync)) +
                        "</p>\r\n<h2>Invoices</h2>\r\n<table><tr><th>Invoice #</th><th>Customer</th><th>Amount</th>"
                        "<th>Open Balance</th><th>Status</th></tr>\r\n" + rows + "</table>\r\n<h2>Payments</h2>\r\n<table>" +
                        payments + "</table>\r\n<p><a href=\"" + base + "business/statement.php\">Print statement</a> | <a href=\"" +
                        base + "business/reports.php\">Reports</a> | <a href=\"" + base + "business/help.php\">Help</a> | <a href=\"" +
                        base + "business/settings.php\">Settings</a> | <a href=\"" + base +
                        "business/cancel_account.php\">Cancel account</a> | <a href=\"" + base + "business/logout.php\">Logout</a></p>",
                    marker);
    }
    if (page == "statement.php" || page == "report.php")
        return Page(page == "report.php" ? "Payments Report" : "Statement",
                    "<p>" + HtmlEscape(a.name) + ": " + std::to_string(a.invoices.size()) + " invoices, " +
                        std::to_string(a.payments.size()) + " payments.</p>",
                    "<!-- DMCOMMAND_SHOW_PRINT_TOOLBAR -->");
    if (page == "reports.php")
        return Page("Reports", "<p><a href=\"" + base + "business/report.php\" target=\"_blank\">Open the payments report</a> "
                               "(opens a new window inside the Desktop Manager).</p>" + home);
    if (page == "frames.php")
        return Page("Frames", "<iframe src=\"" + base + "business/statement.php\" width=\"300\" height=\"120\"></iframe>"
                              "<iframe src=\"" + base + "business/report.php\" width=\"300\" height=\"120\"></iframe>" + home,
                    request.Query("marker") == "logout" ? "<!-- DMCOMMAND_LOGOUT -->" : "");
    if (page == "new_window.php") {
        // Opens report.php in a new window shortly after loading, as a click on a _blank link would.
        std::string external = request.Query("external") == "1"
                                   ? "<input type=\"hidden\" id=\"_new_window_external\" value=\"1\">\r\n"
                                   : "";
        std::string target = request.Query("to") == "foreign" ? "http://localhost:9/elsewhere.html" : base + "business/report.php";
        return Page("New Window", external + "<p>A report opens in a new window.</p><script>window.addEventListener('load', "
                                             "function () { setTimeout(function () { window.open('" + target +
                                             "', '_blank'); }, 300); });</script>" + home);
    }
    if (page == "help.php")
        return Page("Help", "<input type=\"hidden\" id=\"_new_window_external\" value=\"1\">\r\n<p><a href=\"" + base +
                                "signup/\" target=\"_blank\">Open the help site</a> (opens your web browser).</p>" + home);
    if (page == "settings.php") {
        if (request.Query("saved") == "1")
            return Page("Settings", "<p>Your settings were saved.</p>" + home, "<!-- DMCOMMAND_CONFIRM_ACCOUNT -->");
        return Page("Settings", "<p>Delay sending invoices: " + std::string(a.delaySendingInvoices ? "on" : "off") +
                                    "</p><p><a href=\"" + base + "business/settings.php?saved=1\">Save</a></p>" + home);
    }
    if (page == "logout.php") {
        for (auto it = webSessions_.begin(); it != webSessions_.end();)
            it = static_cast<int>(it->second) == index ? webSessions_.erase(it) : std::next(it);
        return Page("Logged Out", "<p>You have logged out.</p>", "<!-- DMCOMMAND_LOGOUT -->");
    }
    if (page == "cancel_account.php") {
        if (request.Query("confirm") == "1") {
            a.state = "deleted";
            return Page("Account Canceled", "<p>Your Invara account has been canceled.</p>", "<!-- DMCOMMAND_ACCOUNT_CANCELED -->");
        }
        return Page("Cancel Account", "<p><a href=\"" + base + "business/cancel_account.php?confirm=1\">Cancel my account</a></p>" + home);
    }
    if (page == "setup.php") {
        std::string step = request.Query("step");
        if (step == "1")
            return Page("Business Setup", "<p>Step 1 of 2: check your business details (" + HtmlEscape(a.name) +
                                              ").</p><p><a href=\"" + base + "business/setup.php?step=2\">Next</a></p>");
        if (step == "2")
            return Page("Business Setup", "<p>Step 2 of 2: choose how customers pay you.</p><p><a href=\"" + base +
                                              "business/setup.php?step=3\">Finish</a></p>");
        if (a.state == "setup_wizard") a.state = "usable";
        return Page("Business Setup", "<p>Your business is set up.</p>", "<!-- DMCOMMAND_SUCCESS: setup complete -->");
    }
    if (page == "invoice_pdf.php") {
        auto it = std::find_if(a.invoices.begin(), a.invoices.end(), [&](const TInvoice& i) { return i.key == request.Query("id"); });
        if (it == a.invoices.end()) {
            answer = Page("Not Found", "<p>There is no such invoice.</p>");
            answer.status = 404;
            return answer;
        }
        answer.contentType = "application/pdf";
        answer.body = MakePdf({a.name, "Invoice #" + it->number, "Customer: " + it->customer, "Amount: " + MoneyText(it->amount),
                               "Open balance: " + MoneyText(it->balance)});
        return answer;
    }
    answer = Page("Not Found", "<p>There is no such page.</p>");
    answer.status = 404;
    return answer;
}

} // namespace dm
