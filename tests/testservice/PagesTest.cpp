#include "ServiceFixture.h"
#include "TestSupport.h"

#include "core/General.h"
#include "core/KvXml.h"

#include <cstdlib>

using namespace dmtest;
using nlohmann::json;

namespace {

const char* kScenario = R"({
  "accounts": [
    {"user": "demo", "password": "demo", "name": "Demo Co", "id": "1001", "delay_sending_invoices": true,
     "notifications": ["<b>One</b>", "<i>Two</i>"],
     "payments": [{"customer": "Acme", "invoice": "1001", "amount": "1250", "ref": "P1"}],
     "invoices": [{"number": "1001", "customer": "Acme", "amount": "1250.00", "balance": "1250.00"}]},
    {"user": "held", "password": "x", "state": "suspended", "message": "Please update your card."},
    {"user": "gone", "password": "x", "state": "deleted"},
    {"user": "changed", "password": "x", "state": "password_not_accepted"},
    {"user": "new", "password": "x", "name": "New Co", "id": "2002", "state": "setup_wizard"},
    {"user": "files", "password": "x", "name": "File Co", "id": "3003", "type": "ezi"}
  ],
  "update": {"available": true, "startup_version": "377", "message": "Version 2 is out.|Install it now?", "installer_size": 300000}
})";

class Pages : public ServiceTest {
protected:
    void SetUp() override { StartService(kScenario); }

    // What the agent's model reads from a desktop-manager answer.
    static std::string Path(const std::string& answer, const std::string& path) {
        dm::TKvXML xml;
        xml.Parse(answer);
        return xml.Root()->PathText(path);
    }
};

TEST_F(Pages, AccountConfirmationByState) {
    struct {
        const char* user;
        const char* password;
        std::vector<std::pair<std::string, std::string>> paths;
    } cases[] = {
        {"demo", "demo", {{"response/next", "1"}, {"response/business/name", "Demo Co"}, {"response/business/id", "1001"},
                          {"response/business/delay_sending_invoices", "1"}, {"response/done", ""}, {"response/setup_wizard", "0"}}},
        {"DEMO ", "demo", {{"response/next", "1"}}},
        {"demo", "wrong", {{"response/back", "1"}, {"response/next", ""}}},
        {"held", "x", {{"response/suspended", "1"}, {"response/message", "Please update your card."}, {"response/next", ""}}},
        {"gone", "x", {{"response/deleted", "1"}}},
        {"changed", "x", {{"response/back", "1"}}},
        {"new", "x", {{"response/next", "1"}, {"response/setup_wizard", "1"}, {"response/business/type", "qbd"}}},
        {"files", "x", {{"response/next", "1"}, {"response/done", "1"}, {"response/business/type", "ezi"}}},
    };
    for (const auto& c : cases) {
        // The frame's form and the wizard's form (with the switch in the address) get the same answer.
        for (const auto& [path, fields] : {std::pair<std::string, std::vector<std::string>>{
                                               "/business/dm_confirm_account.php",
                                               {"startup=1", std::string("un=") + c.user, std::string("pw=") + c.password, "hosted="}},
                                           {"/business/dm_confirm_account.php?DBGSESSID=1",
                                            {std::string("un=") + c.user, std::string("pw=") + c.password, "hosted="}}}) {
            auto a = PostForm(path, fields);
            ASSERT_EQ(a.status, 200);
            for (const auto& [p, value] : c.paths) EXPECT_EQ(Path(a.body, p), value) << c.user << " " << p;
        }
    }
}

TEST_F(Pages, NotificationsAreDeliveredOnceWithThePaymentCommand) {
    EXPECT_EQ(PostForm("/business/dm_notifications_update.php", {"un=demo", "pw=wrong", "hosted="}).body, "");
    auto a = PostForm("/business/dm_notifications_update.php", {"un=demo", "pw=demo", "hosted=", "DBGSESSID=1"});
    std::vector<std::string> fragments = dm::SplitText('\t', a.body);
    ASSERT_EQ(fragments.size(), 3u) << a.body;
    EXPECT_EQ(fragments[0], "<b>One</b>");
    EXPECT_EQ(fragments[1], "<i>Two</i>");
    EXPECT_NE(fragments[2].find("paid $1,250.00 on invoice #1001"), std::string::npos);
    EXPECT_NE(fragments[2].find("<!-- \b\bDM:syncpayments(1001)\b\b -->"), std::string::npos);
    EXPECT_EQ(PostForm("/business/dm_notifications_update.php", {"un=demo", "pw=demo", "hosted="}).body, "");
}

TEST_F(Pages, UpdateCheckAndInstaller) {
    auto a = PostForm("/business/dm_checkupdate.php", {"v=1.0.0", "b=1", "o=1"});
    EXPECT_EQ(Path(a.body, "response/update"), "1");
    EXPECT_EQ(Path(a.body, "response/versions/startup"), "377");
    EXPECT_EQ(Path(a.body, "response/updatemessage"), "Version 2 is out.|Install it now?");
    std::string url = Path(a.body, "response/url");
    ASSERT_EQ(url.rfind("http://", 0), 0u);
    auto installer = Get(url.substr(url.find('/', 7)));
    EXPECT_EQ(installer.status, 200);
    EXPECT_EQ(url.substr(url.size() - 27), "/invara-desktop-manager.deb");
    EXPECT_EQ(installer.body.rfind("!<arch>\ndebian-binary", 0), 0u);
    EXPECT_GE(installer.body.size(), 300000u);
    EXPECT_LT(installer.body.size(), 301024u);
    // dpkg itself accepts it.
    TempDir dir;
    const std::string deb = dir.Folder() + "update.deb";
    WriteFileBytes(deb, installer.body);
    EXPECT_EQ(std::system(("dpkg-deb --info " + deb + " >/dev/null && dpkg-deb --contents " + deb + " >/dev/null").c_str()), 0);
    EXPECT_EQ(Inspect("requests")[0]["form"]["o"], "1");
}

TEST_F(Pages, ErrorReportFieldsAreDecodedTwice) {
    // What the agent posts: every value but MerchantID encoded by the agent and again by its transport.
    std::string request = "<?xml version=\"1.0\"?><soap:Envelope>100% & more</soap:Envelope>";
    auto a = PostForm("/webservices/report_error.php",
                      {"MerchantID=1001", "BusinessName=" + FormEncode("A & B"), "Request=" + FormEncode(request),
                       "ServerResponse=" + FormEncode("Fatal error: x"), "Location=" + FormEncode("AsyncWebResponse - Non-XML Response")});
    EXPECT_EQ(a.status, 200);
    EXPECT_NE(Inspect("requests")[0]["body"].get<std::string>().find("BusinessName=A%2B%2526%2BB"), std::string::npos);
    json report = Inspect("state")["error_reports"][0];
    EXPECT_EQ(report["merchant_id"], "1001");
    EXPECT_EQ(report["business_name"], "A & B");
    EXPECT_EQ(report["request"], request);
    EXPECT_EQ(report["location"], "AsyncWebResponse - Non-XML Response");
    // Encoded once only: the "%" left after one decoding is not an escape.
    EXPECT_EQ(PostForm("/webservices/report_error.php", {"MerchantID=1001", "BusinessName=100% sure"}).status, 400);
}

TEST_F(Pages, SendSessionTakesHexText) {
    std::string text = "## ---------- BEGIN SESSION ---------- 1/2/2024 10:00:00 AM # 1001\r\n";
    std::string hex;
    for (unsigned char c : text) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", c);
        hex += pair;
    }
    EXPECT_EQ(PostForm("/business/dm_send_session.php?DBGSESSID=1", {"c=" + hex}).status, 200);
    EXPECT_EQ(Inspect("state")["sent_sessions"][0], text);
    EXPECT_EQ(PostForm("/business/dm_send_session.php?DBGSESSID=1", {"c=ABC"}).status, 400);
}

TEST_F(Pages, ControlPanelSignInPagesAndMarkers) {
    auto refused = PostForm("/business/dm_authenticate_2.php?DBGSESSID=1&b=1", {"un=demo", "pw=nope"});
    EXPECT_EQ(refused.body, "msg=The user name or password you entered is not correct.\r\nsid=\r\nshowlogin=1\r\n");
    EXPECT_NE(PostForm("/business/dm_authenticate_2.php?DBGSESSID=1&b=1", {"un=gone", "pw=x"}).body.find("showlogin=0"),
              std::string::npos);
    auto signIn = PostForm("/business/dm_authenticate_2.php?DBGSESSID=1&b=1", {"un=demo", "pw=demo"});
    size_t at = signIn.body.find("\r\nsid=");
    ASSERT_NE(at, std::string::npos);
    std::string sid = signIn.body.substr(at + 6, signIn.body.find("\r\n", at + 6) - at - 6);
    ASSERT_FALSE(sid.empty());

    auto start = Get("/business/dm_start.php?sid=" + sid);
    EXPECT_EQ(start.status, 302);
    EXPECT_EQ(start.location, "/business/index.php");
    std::string cookie = start.cookie;
    EXPECT_EQ(Get("/business/dm_start.php?sid=" + sid + "&p=dm_setup").location, "/business/setup.php?step=1");
    EXPECT_NE(Get("/business/dm_start.php?sid=bogus").body.find("<!-- DMCOMMAND_LOGOUT"), std::string::npos);

    struct {
        const char* page;
        const char* contains;
        bool present;
    } pages[] = {
        {"/business/index.php", "Demo Co", true},
        {"/business/index.php", "<!-- DMCOMMAND_", false},
        {"/business/statement.php", "<!-- DMCOMMAND_SHOW_PRINT_TOOLBAR", true},
        {"/business/reports.php", "target=\"_blank\"", true},
        {"/business/reports.php", "_new_window_external", false},
        {"/business/help.php", "<input type=\"hidden\" id=\"_new_window_external\" value=\"1\">", true},
        {"/business/settings.php?saved=1", "<!-- DMCOMMAND_CONFIRM_ACCOUNT", true},
        {"/business/setup.php?step=3", "<!-- DMCOMMAND_SUCCESS", true},
        {"/business/cancel_account.php?confirm=1", "<!-- DMCOMMAND_ACCOUNT_CANCELED", true},
        {"/business/index.php", "<!-- DMCOMMAND_ACCOUNT_CANCELED", true}, // the account is gone now
        {"/business/logout.php", "<!-- DMCOMMAND_LOGOUT", true},
        {"/business/index.php", "Please Log In", true}, // the session ended with the logout
    };
    for (const auto& p : pages) {
        auto a = Get(p.page, cookie);
        EXPECT_EQ(a.status, 200) << p.page;
        EXPECT_EQ(a.body.find(p.contains) != std::string::npos, p.present) << p.page << " / " << p.contains;
    }
    for (const char* page : {"/", "/securelogin", "/signup/", "/login/forgot_username.php"}) EXPECT_EQ(Get(page).status, 200) << page;
}

TEST_F(Pages, InvoiceDocumentIsAPdfAndSecureLoginSignsIn) {
    auto login = PostForm("/securelogin", {"un=demo", "pw=demo"});
    EXPECT_EQ(login.status, 302);
    auto home = Get("/business/index.php", login.cookie);
    size_t link = home.body.find("invoice_pdf.php?id=");
    ASSERT_NE(link, std::string::npos);
    auto pdf = Get("/business/" + home.body.substr(link, home.body.find('"', link) - link), login.cookie);
    EXPECT_EQ(pdf.contentType, "application/pdf");
    EXPECT_EQ(pdf.body.rfind("%PDF-1.4\n", 0), 0u);
    // The cross-reference offset must point at the table, or viewers reject the file.
    size_t startxref = pdf.body.rfind("startxref\n");
    EXPECT_EQ(pdf.body.compare(std::stoul(pdf.body.substr(startxref + 10)), 4, "xref"), 0);
    EXPECT_EQ(Get("/business/invoice_pdf.php?id=404", login.cookie).status, 404);
}

} // namespace
