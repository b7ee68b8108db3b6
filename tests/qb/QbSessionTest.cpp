#include "QbTestSupport.h"

#include "core/General.h"
#include "qb/QbSimProcessor.h"
#include "qb/RequestProcessor.h"
#include "qb/SampleCompany.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <list>
#include <set>
#include <sys/wait.h>
#include <thread>

using namespace dm;
using namespace dmtest;

namespace {

struct TRun {
    int Code = -1;
    std::string Output;
};

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string QbSimCommand(const std::string& home, const std::vector<std::string>& args) {
    std::string command = Quote(std::string(DM_BIN_DIR) + "/invara-qbsim") + " --home " + Quote(home);
    for (const std::string& a : args) command += " " + Quote(a);
    return command;
}

TRun RunShell(const std::string& command) {
    TRun run;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.Output.append(buffer, n);
    int status = ::pclose(pipe);
    run.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class SessionTest : public ::testing::Test {
protected:
    TempDir home;
    std::string demo; // the demo company file, open in QuickBooks once Demo() ran

    TRun QbSim(const std::vector<std::string>& args) { return RunShell(QbSimCommand(home.Folder(), args)); }
    void Demo() {
        TRun run = QbSim({"demo"});
        ASSERT_EQ(run.Code, 0) << run.Output;
        demo = home.Folder() + "Demo Co.qbw";
    }
    std::unique_ptr<TQbSimRequestProcessor> Connect() {
        auto processor = std::make_unique<TQbSimRequestProcessor>(home.Folder());
        processor->OpenConnection("", std::string(kQbApplicationName));
        SetQuickBooksAuthPreferences(*processor);
        return processor;
    }
    TQbState State() { return TQuickBooksHome(home.Folder()).ReadState(); }
};

TEST_F(SessionTest, BeginSessionRefusesWithQuickBooksMessages) {
    struct Case {
        std::vector<std::vector<std::string>> setup; // command lines run after the demo
        std::string path;                            // "demo" for the demo file
        int mode;
        std::uint32_t code;
        std::string message; // exact, or "~" and a part that must occur without regard to case
    };
    const Case cases[] = {
        {{{"deny"}}, "demo", 2, 0x80040420, std::string(kQbMsgUserDenied)},
        {{{"revoke"}}, "demo", 2, 0x8004041A, std::string(kQbMsgNoPermission)},
        {{{"no-auto-login"}}, "", 2, 0x8004041D, std::string(kQbMsgNoAutoLogin)},
        {{{"grant", "--no-auto-login"}}, "demo", 2, 0x8004041D, std::string(kQbMsgNoAutoLogin)},
        {{{"forget"}}, "demo", 2, 0x80040418, "~has not accessed this QuickBooks company data file before"},
        {{{"create", "Other"}, {"open", "Other"}}, "demo", 2, 0x8004040A, "~company data file is already open"},
        {{{"dialog", "show", "Enter Password"}}, "", 2, 0x80040414, "~modal dialog box"},
        {{{"quit"}}, "", 2, 0x80040416, "~must include the name of the data file"},
        {{{"close"}}, "", 1, 0x80040416, "~must include the name of the data file"},
        {{{"quit"}}, "/nowhere/Gone.qbw", 2, 0x80040403, "Could not open the specified QuickBooks company data file."},
        {{{"open", "Demo Co", "--multi"}}, "", 0, 0x80040410, "~in a mode other than"},
        {{}, "", 1, 0x80040410, "~in a mode other than"},
    };
    for (const Case& k : cases) {
        TempDir caseHome;
        std::string folder = caseHome.Folder();
        ASSERT_EQ(RunShell(QbSimCommand(folder, {"demo"})).Code, 0);
        std::string setupText;
        for (const auto& command : k.setup) {
            TRun run = RunShell(QbSimCommand(folder, command));
            ASSERT_EQ(run.Code, 0) << run.Output;
            for (const std::string& word : command) setupText += word + " ";
            setupText += "; ";
        }
        SCOPED_TRACE(setupText + "-> BeginSession(\"" + k.path + "\", " + std::to_string(k.mode) + ")");
        TQbState before = TQuickBooksHome(folder).ReadState();
        TQbSimRequestProcessor processor(folder);
        processor.OpenConnection("", std::string(kQbApplicationName));
        SetQuickBooksAuthPreferences(processor);
        try {
            processor.BeginSession(k.path == "demo" ? folder + "Demo Co.qbw" : k.path, k.mode);
            ADD_FAILURE() << "the session began";
        } catch (const TQbError& e) {
            EXPECT_EQ(static_cast<std::uint32_t>(e.Code()), k.code);
            if (k.message[0] == '~')
                EXPECT_NE(ToLowerAscii(e.what()).find(ToLowerAscii(k.message.substr(1))), std::string::npos) << e.what();
            else
                EXPECT_EQ(e.what(), k.message);
        }
        TQbState after = TQuickBooksHome(folder).ReadState();
        EXPECT_EQ(after.Running, before.Running);
        EXPECT_EQ(after.CompanyFile, before.CompanyFile);
        EXPECT_TRUE(after.Sessions.empty());
    }
}

TEST_F(SessionTest, SessionOnAClosedQuickBooksOpensTheFileUntilItEnds) {
    Demo();
    ASSERT_EQ(QbSim({"quit"}).Code, 0);
    auto processor = Connect();
    std::string ticket = processor->BeginSession(demo, kQbFileOpenDoNotCare);
    EXPECT_EQ(processor->GetCurrentCompanyFileName(ticket), demo);
    TQbState during = State();
    EXPECT_TRUE(during.Running);
    EXPECT_EQ(during.CompanyFile, demo);
    ASSERT_EQ(during.Sessions.size(), 1u);
    EXPECT_EQ(during.Sessions[0].AppName, kQbApplicationName);

    pugi::xml_document host = ParseXml(processor->ProcessRequest(ticket, QbRequest("<HostQueryRq/>")));
    pugi::xml_node ret = Responses(host).at(0).child("HostRet");
    EXPECT_STREQ(ret.child("IsAutomaticLogin").child_value(), "true");
    EXPECT_STREQ(ret.child("QBFileMode").child_value(), "SingleUser");

    processor->EndSession(ticket);
    EXPECT_FALSE(State().Running);
    EXPECT_THROW(processor->ProcessRequest(ticket, QbRequest("<HostQueryRq/>")), TQbError);
    processor->CloseConnection();

    // With the file open in QuickBooks, "" is that file and the end of the session leaves it open.
    ASSERT_EQ(QbSim({"open", "Demo Co", "--multi"}).Code, 0);
    processor = Connect();
    ticket = processor->BeginSession("", kQbFileOpenMultiUser);
    EXPECT_EQ(processor->GetCurrentCompanyFileName(ticket), demo);
    host = ParseXml(processor->ProcessRequest(ticket, QbRequest("<HostQueryRq/>")));
    ret = Responses(host).at(0).child("HostRet");
    EXPECT_STREQ(ret.child("IsAutomaticLogin").child_value(), "false");
    EXPECT_STREQ(ret.child("QBFileMode").child_value(), "MultiUser");
    processor.reset(); // ends the session and the connection
    EXPECT_TRUE(State().Running);
    EXPECT_EQ(State().CompanyFile, demo);
    EXPECT_TRUE(State().Sessions.empty());
}

TEST_F(SessionTest, ProcessRequestFailuresCarryComErrorCodes) {
    Demo();
    auto processor = Connect();
    std::string ticket = processor->BeginSession(demo, kQbFileOpenDoNotCare);
    struct Case {
        std::string ticket, request;
        std::uint32_t code;
        const char* message;
    };
    const Case cases[] = {
        {ticket, "<QBXML><QBXMLMsgsRq>", 0x80040400, "QuickBooks found an error when parsing the provided XML text stream."},
        {"{not-a-ticket}", QbRequest("<HostQueryRq/>"), 0x8004040D, "The ticket parameter is invalid."},
    };
    for (const Case& k : cases) {
        try {
            processor->ProcessRequest(k.ticket, k.request);
            ADD_FAILURE() << k.request;
        } catch (const TQbError& e) {
            EXPECT_TRUE(e.IsComError());
            EXPECT_EQ(static_cast<std::uint32_t>(e.Code()), k.code);
            EXPECT_STREQ(e.what(), k.message);
        }
    }
    // QuickBooks quit under the session.
    ASSERT_EQ(QbSim({"quit"}).Code, 0);
    try {
        processor->ProcessRequest(ticket, QbRequest("<HostQueryRq/>"));
        ADD_FAILURE() << "answered with QuickBooks closed";
    } catch (const TQbError& e) {
        EXPECT_EQ(static_cast<std::uint32_t>(e.Code()), 0x80040401u);
    }
}

TEST_F(SessionTest, CommandLineInvoiceIsSeenByTheOpenSessionsNextModifiedSinceQuery) {
    Demo();
    auto processor = Connect();
    std::string ticket = processor->BeginSession("", kQbFileOpenDoNotCare);
    std::list<pugi::xml_document> answers; // the nodes handed out point into them
    auto modifiedSince = [&](std::int64_t from) {
        pugi::xml_document& doc = answers.emplace_back();
        doc = ParseXml(processor->ProcessRequest(
            ticket, QbRequest("<InvoiceQueryRq><ModifiedDateRangeFilter><FromModifiedDate>" + FormatQbDateTime(from) +
                              "</FromModifiedDate></ModifiedDateRangeFilter><IncludeLineItems>true</IncludeLineItems>"
                              "</InvoiceQueryRq>")));
        return Responses(doc).at(0);
    };
    // The demo's invoices were made this second; the next one must come later.
    std::int64_t made = std::time(nullptr);
    EXPECT_EQ(modifiedSince(made + 1).attribute("statusCode").as_int(), 1);
    while (std::time(nullptr) <= made) std::this_thread::sleep_for(std::chrono::milliseconds(20));

    TRun run = QbSim({"invoice", "add", "--customer", "O'Brien & Sons <UK>", "--ref", "A-77", "--item", "Design",
                      "--qty", "2", "--item", "Delivery", "--rate", "7.5", "--desc", "Courier"});
    ASSERT_EQ(run.Code, 0) << run.Output;
    pugi::xml_node rs = modifiedSince(made + 1);
    ASSERT_EQ(rs.select_nodes("InvoiceRet").size(), 1u);
    pugi::xml_node inv = rs.child("InvoiceRet");
    EXPECT_STREQ(inv.child("RefNumber").child_value(), "A-77");
    EXPECT_STREQ(inv.child("CustomerRef").child("FullName").child_value(), "O'Brien & Sons <UK>");
    EXPECT_STREQ(inv.child("Subtotal").child_value(), "197.50");
    EXPECT_STREQ(inv.select_node("InvoiceLineRet[2]/Desc").node().child_value(), "Courier");

    // And a payment from the command line reaches the session's balances.
    run = QbSim({"payment", "add", "--customer", "O'Brien & Sons <UK>", "--amount", "50", "--invoice", "A-77"});
    ASSERT_EQ(run.Code, 0) << run.Output;
    EXPECT_STREQ(modifiedSince(made + 1).child("InvoiceRet").child("BalanceRemaining").child_value(), "147.50");
}

TEST_F(SessionTest, ProcessesAddingAtOnceLoseNothing) {
    Demo();
    auto processor = Connect();
    std::string ticket = processor->BeginSession(demo, kQbFileOpenDoNotCare);
    const int perWriter = 6;
    std::string loop = "i=0; while [ $i -lt " + std::to_string(perWriter) + " ]; do " +
                       QbSimCommand(home.Folder(), {"invoice", "add", "--customer", "Acme Supplies", "--item", "Design"}) +
                       " >/dev/null || exit 1; i=$((i+1)); done";
    std::jthread writers([&] { EXPECT_EQ(RunShell("(" + loop + ") & (" + loop + ") & wait").Code, 0); });
    for (int i = 0; i < perWriter; ++i) {
        std::string response = processor->ProcessRequest(
            ticket, QbRequest("<InvoiceAddRq><InvoiceAdd><CustomerRef><FullName>Acme Supplies</FullName></CustomerRef>"
                              "<InvoiceLineAdd><ItemRef><FullName>Design</FullName></ItemRef></InvoiceLineAdd>"
                              "</InvoiceAdd></InvoiceAddRq>"));
        EXPECT_STREQ(Responses(ParseXml(response)).at(0).attribute("statusCode").value(), "0");
    }
    writers.join();
    TCompanyFile file = TCompanyFileStore(demo).Read();
    ASSERT_EQ(file.Invoices().size(), 5u + 3 * perWriter);
    std::set<std::string> refs;
    for (const TQbInvoice& inv : file.Invoices()) refs.insert(inv.RefNumber);
    EXPECT_EQ(refs.size(), file.Invoices().size()) << "every invoice got its own number";
}

TEST_F(SessionTest, CommandLineExitCodes) {
    Demo();
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* output;
    };
    const Case cases[] = {
        {{"--help"}, 0, "Usage: invara-qbsim"},
        {{"list", "customers"}, 0, "O'Brien & Sons <UK>"},
        {{"status"}, 0, "Demo Co.qbw (single-user)"},
        {{"bogus"}, 2, "unknown command bogus"},
        {{"invoice", "add", "--customer", "Acme Supplies", "--qty", "2"}, 2, "--qty belongs after an --item"},
        {{"invoice", "add", "--customer", "Nobody", "--item", "Design"}, 1,
         "There is an invalid reference to QuickBooks Customer \"Nobody\""},
        {{"customer", "add", "acme supplies"}, 1, "is already in use"},
        {{"open", "Missing"}, 1, "does not exist"},
        // What the request processor would refuse later is refused here (an overlong "/").
        {{"customer", "add", "Slash \xE0\x80\xAF Co"}, 2, "arguments must be UTF-8 text"},
        {{"customer", "add", "Fine Co", "--email", "a\xC0\xAF@b.test"}, 2, "--email is not UTF-8 text"},
    };
    for (const Case& k : cases) {
        TRun run = QbSim(k.args);
        EXPECT_EQ(run.Code, k.code) << k.args[0] << "\n" << run.Output;
        EXPECT_NE(run.Output.find(k.output), std::string::npos) << run.Output;
    }
}

TEST(RequestProcessorTest, PreferencesAreSetInOrder) {
    TempDir home;
    TQbSimRequestProcessor processor(home.Folder());
    SetQuickBooksAuthPreferences(processor);
    using Call = TAuthPreferences::TCall;
    EXPECT_EQ(processor.AuthPreferences().Calls(),
              (std::vector<Call>{{"PutAuthFlags", 15}, {"PutIsReadOnly", 0}, {"PutUnattendedModePref", 1},
                                 {"PutPersonalDataPref", 3}}));
}

TEST(RequestProcessorTest, FactoryResolvesTheProgIdAndCanBeReplaced) {
    TempDir home;
    ::setenv("INVARA_QB_HOME", home.Path().c_str(), 1);
    auto processor = CreateRequestProcessor("QBXMLRP2.RequestProcessor");
    auto* sim = dynamic_cast<TQbSimRequestProcessor*>(processor.get());
    ASSERT_NE(sim, nullptr);
    EXPECT_EQ(sim->Home().Folder(), home.Folder());
    ::unsetenv("INVARA_QB_HOME");
    try {
        CreateRequestProcessor("QBXMLRP.RequestProcessor");
        ADD_FAILURE() << "an unknown ProgID made a processor";
    } catch (const TQbError& e) {
        EXPECT_EQ(static_cast<std::uint32_t>(e.Code()), 0x800401F3u);
    }

    std::vector<std::string> asked;
    {
        TScopedRequestProcessorFactory fake([&](std::string_view progId) -> std::unique_ptr<TRequestProcessor> {
            asked.emplace_back(progId);
            return nullptr;
        });
        EXPECT_EQ(CreateRequestProcessor("QBXMLRP2.RequestProcessor"), nullptr);
    }
    EXPECT_EQ(asked, std::vector<std::string>{"QBXMLRP2.RequestProcessor"});
    ::setenv("INVARA_QB_HOME", home.Path().c_str(), 1);
    EXPECT_NE(dynamic_cast<TQbSimRequestProcessor*>(CreateRequestProcessor("QBXMLRP2.RequestProcessor").get()), nullptr);
    ::unsetenv("INVARA_QB_HOME");
}

} // namespace
