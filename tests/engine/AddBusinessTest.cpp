// Enrolling a biller without a window: how each confirmation answer is read and where it leads,
// the login checks, the confirmation request on the wire, the QuickBooks check against the
// stand-in, and the biller made from what the wizard found.

#include "core/General.h"
#include "engine/AddBusiness.h"

#include "SessionFixture.h"

using namespace dm;
using dmtest::Account;
using dmtest::SessionFixture;
using nlohmann::json;

namespace {

std::string Dm(const std::string& response) { return "<?xml version=\"1.0\"?><dm><response>" + response + "</response></dm>"; }

const std::string Business = "<business><name>Acme &amp; Sons</name><id>2002</id><type>ezi</type></business>";

// Waits for the wizard's answer; nothing when the request failed.
struct TReply {
    std::optional<TConfirmStep> step;
    std::string message;
};
TReply Confirm(TAddBusiness& wizard) {
    TReply answer;
    bool over = false;
    QObject::connect(&wizard, &TAddBusiness::confirmed, [&](TConfirmStep s, const std::string& m) {
        answer = {s, m};
        over = true;
    });
    QObject::connect(&wizard, &TAddBusiness::confirmFailed, [&](const std::string& text) {
        answer.message = text;
        over = true;
    });
    wizard.ConfirmAccount();
    EXPECT_TRUE(dmtest::WaitUntil([&] { return over; }));
    return answer;
}

} // namespace

TEST(AddBusiness, EachReplyLeadsWhereItsPrecedenceSays) {
    struct Case {
        std::string reply;
        TConfirmStep step;
        std::string message;
    } cases[] = {
        {Dm("<done>1</done><next>1</next>" + Business), TConfirmStep::Done, ""},
        {Dm("<next>1</next><back>1</back><message>x</message>" + Business), TConfirmStep::Connect, ""},
        {Dm("<back>1</back><message>Wrong &lt;password&gt;.</message>"), TConfirmStep::Back, "Wrong <password>."},
        {Dm("<back>1</back>"), TConfirmStep::Back, ""},
        {Dm("<done>0</done><next>yes</next>"), TConfirmStep::Stay, ""},
        {Dm("<suspended>1</suspended><message>Suspended.</message>"), TConfirmStep::Stay, ""},
        {"<html><body>Fatal error</body></html>", TConfirmStep::Stay, ""},
        {"", TConfirmStep::Stay, ""},
    };
    for (const Case& c : cases) {
        SessionFixture f(json{{{"endpoint", "dm_confirm_account.php"}, {"body", c.reply}, {"content_type", "text/xml"}}});
        TAddBusiness wizard(*f.engine);
        wizard.UserName = "demo";
        wizard.Password = "demo";
        TReply answer = Confirm(wizard);
        ASSERT_TRUE(answer.step) << c.reply;
        EXPECT_EQ(*answer.step, c.step) << c.reply;
        EXPECT_EQ(answer.message, c.message) << c.reply;
        if (c.step == TConfirmStep::Done || c.step == TConfirmStep::Connect) {
            EXPECT_EQ(wizard.BusinessName, "Acme & Sons");
            EXPECT_EQ(wizard.BusinessId, "2002");
            // Only an account that is done names its type; a QuickBooks step means "qbd".
            EXPECT_EQ(wizard.BusinessType, c.step == TConfirmStep::Done ? "ezi" : "qbd");
        }
    }
}

TEST(AddBusiness, LoginChecksAndTheirFocus) {
    SessionFixture f;
    f.Biller("ann", "Ann Co", "1002");
    struct Case {
        std::string user, password;
        std::vector<std::string> messages;
        TAddBusiness::TLoginCheck::TFocus focus;
    } cases[] = {
        {"demo", "", {EnterLoginMessage}, TAddBusiness::TLoginCheck::PasswordBox},
        {"", "demo", {EnterLoginMessage}, TAddBusiness::TLoginCheck::UserNameBox},
        {"", "", {EnterLoginMessage}, TAddBusiness::TLoginCheck::UserNameBox},
        {"  ANN\t", "demo", {AlreadyLinkedMessage}, TAddBusiness::TLoginCheck::None},
        {" Ann ", "", {EnterLoginMessage, AlreadyLinkedMessage}, TAddBusiness::TLoginCheck::PasswordBox},
        {"anne", "demo", {}, TAddBusiness::TLoginCheck::None},
    };
    for (const Case& c : cases) {
        TAddBusiness wizard(*f.engine);
        wizard.UserName = c.user;
        wizard.Password = c.password;
        TAddBusiness::TLoginCheck check = wizard.CheckLogin();
        EXPECT_EQ(check.Messages, c.messages) << "'" << c.user << "' '" << c.password << "'";
        EXPECT_EQ(check.Focus, c.focus) << "'" << c.user << "' '" << c.password << "'";
    }
}

TEST(AddBusiness, ConfirmationOnTheWire) {
    SessionFixture f(json::array(), json::array({Account("a&b", "Demo Co", "1001")}));
    f.app.HostedPartner = "cloud9";
    TAddBusiness wizard(*f.engine);
    wizard.UserName = "a&b";
    wizard.Password = "p w&=";
    TReply answer = Confirm(wizard);
    std::vector<json> posts = f.Posts("business/dm_confirm_account.php");
    ASSERT_EQ(posts.size(), 1u);
    // The wizard's own form: no startup field, each value encoded once.
    EXPECT_EQ(posts[0]["body"], "un=a%26b&pw=p+w%26%3D&hosted=cloud9");
    EXPECT_TRUE(posts[0]["query"].empty()) << posts[0].dump();
    ASSERT_TRUE(answer.step);
    EXPECT_EQ(*answer.step, TConfirmStep::Back) << "the password is wrong";
    EXPECT_EQ(answer.message, "The user name or password you entered is not correct.");

    // The test environments add their debug session to the address.
    f.app.TestMode = true;
    wizard.Password = "demo";
    answer = Confirm(wizard);
    posts = f.Posts("business/dm_confirm_account.php");
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[1]["query"].dump(), R"({"DBGSESSID":"1"})");
    EXPECT_EQ(answer.step, TConfirmStep::Connect);
}

TEST(AddBusiness, UnreachableServiceNamesTheErrorNumber) {
    SessionFixture f;
    f.app.BusinessUrl = "http://127.0.0.1:1/business/";
    TAddBusiness wizard(*f.engine);
    wizard.UserName = "demo";
    wizard.Password = "demo";
    TReply answer = Confirm(wizard);
    EXPECT_FALSE(answer.step);
    EXPECT_EQ(answer.message.rfind(ConnectionFailedText, 0), 0u) << answer.message;
    EXPECT_TRUE(ParseInteger(answer.message.substr(std::string(ConnectionFailedText).size())).has_value())
        << answer.message;
    EXPECT_FALSE(wizard.Confirming());
}

TEST(AddBusiness, QuickBooksCheckFollowsTheStandIn) {
    SessionFixture f;
    TAddBusiness wizard(*f.engine);
    EXPECT_EQ(wizard.CheckQuickBooks(), "");
    f.Qb({"quit"});
    const std::string error = wizard.CheckQuickBooks();
    EXPECT_NE(error, "");
    EXPECT_NE(QuickBooksErrorHtml(error).find("<p>Error Message: <b>" + HtmlEscape(error) + "</b></p>"), std::string::npos);
    // Access refused in the company file is a failure of the check as well.
    f.Qb({"demo"});
    f.Qb({"deny"});
    EXPECT_EQ(wizard.CheckQuickBooks(), std::string(kQbMsgUserDenied));
    f.Qb({"grant"});
    EXPECT_EQ(wizard.CheckQuickBooks(), "");
    // Without any request processor there is no session either: the check fails instead of passing.
    TScopedRequestProcessorFactory none([](std::string_view) -> std::unique_ptr<TRequestProcessor> {
        throw TQbError("Could not create the request processor.", qbhr::InvalidClassString);
    });
    EXPECT_EQ(wizard.CheckQuickBooks(), "Could not create the request processor.");
}

TEST(AddBusiness, PagesEscapeWhatTheServiceNamed) {
    const std::string page = ConnectPageHtml("<script>x</script> & Co");
    EXPECT_NE(page.find("business named <b>&lt;script&gt;x&lt;/script&gt; &amp; Co</b>."), std::string::npos);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_EQ(page.rfind("<head>\r\n<style>\r\nbody { font-family: Arial; font-size: 9pt; }\r\n", 0), 0u);
    EXPECT_NE(page.find("<body leftmargin=\"20px\" topmargin=\"20px\">"), std::string::npos);
    EXPECT_EQ(QuickBooksErrorHtml("a<b").find("</body>"), std::string::npos) << "the error page has no closing body";
}

TEST(AddBusiness, EnrolledBillerIsSavedAndSessionStartsOnlyForQuickBooksOutsideUniData) {
    struct Case {
        std::string type, partner;
        bool session;
    } cases[] = {{"qbd", "", true}, {"ezi", "", false}, {"qbd", "unidata", false}, {"qbd", "cloud9", true}};
    for (const Case& c : cases) {
        SessionFixture f(json::array(), json::array({json{{"user", "demo"}, {"password", "abc"}, {"name", "Demo Co"},
                                                          {"id", "1001"}, {"type", c.type}, {"state", "done"}}}));
        f.app.HostedPartner = c.partner;
        TAddBusiness wizard(*f.engine);
        wizard.UserName = "demo";
        wizard.Password = "abc";
        ASSERT_EQ(Confirm(wizard).step, TConfirmStep::Done);
        TSync* frame = f.engine->EnrolBiller(wizard);
        ASSERT_EQ(f.engine->Billers(), std::vector<TSync*>{frame});
        EXPECT_EQ(frame->ListEntry, "Demo Co") << "a biller added in the run is listed by its name";
        const BillerRecord& r = frame->Biller;
        EXPECT_EQ(r.type, c.type);
        EXPECT_TRUE(r.autosync);
        EXPECT_EQ(r.autosyncminutes, 30);
        EXPECT_FALSE(r.remembercppassword);
        const std::string saved = dmtest::ReadFileBytes(f.app.SettingsFileName());
        EXPECT_NE(saved.find("<username>demo</username><token>313631-373138</token>"), std::string::npos) << saved;
        EXPECT_EQ(saved.find("<password>"), std::string::npos);
        EXPECT_EQ(frame->SyncAfterConfirm, c.session) << c.type << " " << c.partner;
        if (c.session) {
            EXPECT_TRUE(dmtest::WaitUntil([&] { return frame->CloseReceived; }, std::chrono::seconds(30)));
        }
    }
}
