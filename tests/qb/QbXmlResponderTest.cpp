#include "QbTestSupport.h"

#include "core/KvXml.h"
#include "qb/QbXmlResponder.h"
#include "qb/RequestProcessor.h"
#include "qb/SampleCompany.h"

#include <algorithm>
#include <list>
#include <set>

using namespace dm;
using namespace dmtest;

namespace {

constexpr std::int64_t kNow = 1700000000;

class ResponderTest : public ::testing::Test {
protected:
    TCompanyFile file = MakeSampleCompany("Demo Co", kNow);
    TQbXmlResponder responder;
    bool changed = false;

    std::string AskRaw(const std::string& request, std::int64_t now = kNow) {
        return responder.Process(file, request, {}, now, changed);
    }
    pugi::xml_document Ask(const std::string& requests, const std::string& onError = "stopOnError",
                           std::int64_t now = kNow) {
        return ParseXml(AskRaw(QbRequest(requests, onError), now));
    }
    // The first response of the answer. A node only points into its document, so the document
    // is kept for the rest of the test.
    pugi::xml_node AskFirst(const std::string& requests, const std::string& onError = "stopOnError",
                            std::int64_t now = kNow) {
        kept.push_back(Ask(requests, onError, now));
        return First(kept.back());
    }
    std::list<pugi::xml_document> kept;
    pugi::xml_node First(const pugi::xml_document& doc) {
        auto responses = Responses(doc);
        EXPECT_FALSE(responses.empty());
        return responses.empty() ? pugi::xml_node() : responses[0];
    }
    static std::vector<std::string> Values(pugi::xml_node rs, const char* path) {
        std::vector<std::string> values;
        for (pugi::xpath_node n : rs.select_nodes(path)) values.push_back(n.node().child_value());
        return values;
    }
    const TQbInvoice& InvoiceByRef(const std::string& ref) {
        for (const TQbInvoice& inv : file.Invoices())
            if (inv.RefNumber == ref) return inv;
        throw std::runtime_error("no invoice " + ref);
    }
};

std::vector<std::string> ChildNames(pugi::xml_node node) {
    std::vector<std::string> names;
    for (pugi::xml_node c : node.children())
        if (c.type() == pugi::node_element && std::find(names.begin(), names.end(), c.name()) == names.end())
            names.push_back(c.name());
    return names;
}

// Our element has every child the real one has (except those the stand-in leaves out), in
// the real order, all the way down.
void ExpectSameShape(pugi::xml_node ours, pugi::xml_node real, const std::set<std::string>& leftOut,
                     const std::string& path) {
    std::vector<std::string> ourNames = ChildNames(ours), realNames = ChildNames(real);
    std::vector<std::string> expected, actual;
    for (const std::string& n : realNames) {
        if (leftOut.count(n)) continue;
        expected.push_back(n);
        EXPECT_TRUE(ours.child(n.c_str())) << path << "/" << n << " is missing";
    }
    for (const std::string& n : ourNames)
        if (std::find(expected.begin(), expected.end(), n) != expected.end()) actual.push_back(n);
    EXPECT_EQ(actual, expected) << "order of the children of " << path;
    for (const std::string& n : expected)
        if (ours.child(n.c_str()))
            ExpectSameShape(ours.child(n.c_str()), real.child(n.c_str()), leftOut, path + "/" + n);
}

std::vector<std::string> AttributeNames(pugi::xml_node node) {
    std::vector<std::string> names;
    for (pugi::xml_attribute a : node.attributes()) names.push_back(a.name());
    return names;
}

TEST_F(ResponderTest, AnswersRealRequestsInTheShapeOfRealResponses) {
    struct Case {
        const char* request;
        const char* response;
        std::set<std::string> leftOut;
    };
    const Case cases[] = {
        // That sample puts Salutation before FullName, where no QuickBooks writes it.
        {"01-CustomerQueryRq.xml", "02-CustomerQueryRs-ok.xml", {"Salutation"}},
        {"05-CustomerAddRq.xml", "06-CustomerAddRs-ok.xml", {}},
        // The stand-in keeps no terms, sales reps, ship dates or sales tax codes; linked
        // transactions come only with IncludeLinkedTxns, which request 08 does not ask for.
        {"08-InvoiceQueryRq-iterator.xml",
         "09-InvoiceQueryRs-line-items.xml",
         {"TermsRef", "SalesRepRef", "ShipDate", "ItemSalesTaxRef", "CustomerMsgRef", "CustomerSalesTaxCodeRef",
          "SalesTaxCodeRef", "LinkedTxn"}},
    };
    // The customer request 01 asks for, with what the real answer shows.
    TQbCustomer c;
    c.Name = "myUserName";
    c.Salutation = "Mr";
    c.Email = "myUserName@gmail.com";
    c.AccountNumber = "123456789";
    file.AddCustomer(c, kNow);

    for (const Case& k : cases) {
        SCOPED_TRACE(k.request);
        std::string raw = AskRaw(Fixture(k.request));
        EXPECT_EQ(raw.rfind("<?xml version=\"1.0\" ?>\n<QBXML>\n<QBXMLMsgsRs>\n", 0), 0u) << raw;
        pugi::xml_document ours = ParseXml(raw);
        pugi::xml_document real = ParseXml(Fixture(k.response));
        pugi::xml_node ourRs = First(ours);
        pugi::xml_node realRs = real.child("QBXML").child("QBXMLMsgsRs").first_child();
        ASSERT_STREQ(ourRs.name(), realRs.name());
        for (const char* attribute : {"statusCode", "statusSeverity", "statusMessage"})
            EXPECT_STREQ(ourRs.attribute(attribute).value(), realRs.attribute(attribute).value()) << attribute;
        std::vector<std::string> realAttributes = AttributeNames(realRs), ourAttributes = AttributeNames(ourRs);
        if (!ourRs.attribute("requestID")) std::erase(realAttributes, "requestID"); // echoed only when asked
        EXPECT_EQ(ourAttributes, realAttributes);
        ExpectSameShape(ourRs, realRs, k.leftOut, ourRs.name());
    }
    EXPECT_STREQ(AskFirst("<CustomerQueryRq><FullName>mrjoecustomer</FullName></CustomerQueryRq>")
                     .child("CustomerRet")
                     .child("CreditLimit")
                     .child_value(),
                 "2000.00");
}

TEST_F(ResponderTest, EscapesCompanyTextAndEchoedValues) {
    std::string raw = AskRaw(QbRequest("<CustomerQueryRq requestID=\"a&amp;b\"><FullName>O&apos;Brien &amp; Sons "
                                       "&lt;UK&gt;</FullName></CustomerQueryRq>"
                                       "<CustomerQueryRq requestID=\"2\"><FullName>Say \"hi\" &amp; "
                                       "&lt;go&gt;</FullName></CustomerQueryRq>"));
    EXPECT_NE(raw.find("<Name>O&apos;Brien &amp; Sons &lt;UK&gt;</Name>"), std::string::npos) << raw;
    pugi::xml_document doc = ParseXml(raw);
    auto rs = Responses(doc);
    ASSERT_EQ(rs.size(), 2u);
    EXPECT_STREQ(rs[0].attribute("requestID").value(), "a&b");
    EXPECT_STREQ(rs[0].child("CustomerRet").child("Name").child_value(), "O'Brien & Sons <UK>");
    EXPECT_STREQ(rs[0].child("CustomerRet").child("BillAddress").child("Addr1").child_value(),
                 "O'Brien & Sons <UK>");
    EXPECT_STREQ(rs[1].attribute("statusCode").value(), "500");
    EXPECT_STREQ(rs[1].attribute("statusSeverity").value(), "Warn");
    EXPECT_STREQ(rs[1].attribute("statusMessage").value(),
                 "The query request has not been fully completed. There was a required element (\"Say \"hi\" & "
                 "<go>\") that could not be found in QuickBooks.");
}

TEST_F(ResponderTest, PaymentChangesTheBalanceOfTheInvoiceItPays) {
    const std::string txn = InvoiceByRef("1003").TxnID; // Northwind Traders, 197.00 open
    auto pay = [&](const char* amount) {
        return AskFirst("<ReceivePaymentAddRq requestID=\"p\"><ReceivePaymentAdd><CustomerRef><FullName>Northwind "
                         "Traders</FullName></CustomerRef><RefNumber>CHK 1</RefNumber><AppliedToTxnAdd><TxnID>" +
                             txn + "</TxnID><PaymentAmount>" + amount +
                             "</PaymentAmount></AppliedToTxnAdd></ReceivePaymentAdd></ReceivePaymentAddRq>",
                         "stopOnError", kNow + 60);
    };
    auto invoice = [&] {
        return AskFirst("<InvoiceQueryRq><TxnID>" + txn + "</TxnID><IncludeLinkedTxns>true</IncludeLinkedTxns>"
                                                           "</InvoiceQueryRq>")
            .child("InvoiceRet");
    };
    auto customerBalance = [&] {
        return std::string(AskFirst("<CustomerQueryRq><FullName>Northwind Traders</FullName></CustomerQueryRq>")
                               .child("CustomerRet")
                               .child("Balance")
                               .child_value());
    };

    pugi::xml_node rs = pay("97.00");
    EXPECT_STREQ(rs.attribute("statusCode").value(), "0");
    EXPECT_STREQ(rs.child("ReceivePaymentRet").child("AppliedToTxnRet").child("BalanceRemaining").child_value(),
                 "100.00");
    EXPECT_STREQ(rs.child("ReceivePaymentRet").child("UnusedPayment").child_value(), "0.00");
    pugi::xml_node inv = invoice();
    EXPECT_STREQ(inv.child("AppliedAmount").child_value(), "-97.00");
    EXPECT_STREQ(inv.child("BalanceRemaining").child_value(), "100.00");
    EXPECT_STREQ(inv.child("IsPaid").child_value(), "false");
    EXPECT_STREQ(inv.child("LinkedTxn").child("Amount").child_value(), "-97.00");
    EXPECT_EQ(ParseQbDateTime(inv.child("TimeModified").child_value()), kNow + 60) << "a paid invoice is modified";
    EXPECT_EQ(customerBalance(), "100.00");

    // More than is due is refused and changes nothing.
    rs = pay("100.01");
    EXPECT_STREQ(rs.attribute("statusCode").value(), "3210");
    EXPECT_STREQ(rs.attribute("statusSeverity").value(), "Error");
    EXPECT_FALSE(rs.first_child());
    EXPECT_STREQ(invoice().child("BalanceRemaining").child_value(), "100.00");

    pay("100");
    inv = invoice();
    EXPECT_STREQ(inv.child("BalanceRemaining").child_value(), "0.00");
    EXPECT_STREQ(inv.child("IsPaid").child_value(), "true");
    EXPECT_EQ(Values(inv, "LinkedTxn/Amount"), (std::vector<std::string>{"-97.00", "-100.00"}));
    EXPECT_EQ(customerBalance(), "0.00");
    EXPECT_TRUE(changed);
}

TEST_F(ResponderTest, IteratorsWalkALongListInPages) {
    for (int i = 0; i < 22; ++i) {
        TQbInvoiceAdd add;
        add.Customer.FullName = "Blue Sky Cafe";
        add.Lines.push_back({{"", "Design"}, "", 1.0, std::nullopt, std::nullopt});
        file.AddInvoice(add, kNow);
    }
    const std::string filter = "<EntityFilter><FullName>blue sky cafe</FullName></EntityFilter>";
    pugi::xml_document doc = Ask("<InvoiceQueryRq requestID=\"7\" iterator=\"Start\"><MaxReturned>10</MaxReturned>" +
                                 filter + "</InvoiceQueryRq>");
    pugi::xml_node rs = First(doc);
    std::string id = rs.attribute("iteratorID").value();
    ASSERT_FALSE(id.empty());
    std::vector<std::string> seen = Values(rs, "InvoiceRet/TxnID");
    std::vector<int> remaining = {rs.attribute("iteratorRemainingCount").as_int()};
    for (int page = 0; page < 2; ++page) {
        doc = Ask("<InvoiceQueryRq requestID=\"8\" iterator=\"Continue\" iteratorID=\"" + id +
                  "\"><MaxReturned>10</MaxReturned></InvoiceQueryRq>");
        rs = First(doc);
        EXPECT_STREQ(rs.attribute("iteratorID").value(), id.c_str());
        remaining.push_back(rs.attribute("iteratorRemainingCount").as_int());
        for (const std::string& txn : Values(rs, "InvoiceRet/TxnID")) seen.push_back(txn);
    }
    EXPECT_EQ(remaining, (std::vector<int>{13, 3, 0}));
    EXPECT_EQ(seen.size(), 23u);
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()).size(), 23u);
    EXPECT_EQ(responder.OpenIterators(), 0u);

    // An iterator walked to its end is gone.
    rs = AskFirst("<InvoiceQueryRq iterator=\"Continue\" iteratorID=\"" + id + "\"><MaxReturned>10</MaxReturned>"
                                                                                "</InvoiceQueryRq>");
    EXPECT_STREQ(rs.attribute("statusCode").value(), "3000");

    // Stopping one early releases it.
    rs = AskFirst("<CustomerQueryRq iterator=\"Start\"><MaxReturned>2</MaxReturned></CustomerQueryRq>");
    EXPECT_EQ(rs.attribute("iteratorRemainingCount").as_int(), 3);
    EXPECT_EQ(responder.OpenIterators(), 1u);
    Ask("<CustomerQueryRq iterator=\"Stop\" iteratorID=\"" + std::string(rs.attribute("iteratorID").value()) +
        "\"></CustomerQueryRq>");
    EXPECT_EQ(responder.OpenIterators(), 0u);
}

TEST_F(ResponderTest, QueriesFilterAndSelect) {
    struct Case {
        std::string request;
        const char* statusCode;
        const char* records; // XPath of the records, below the response
        std::vector<std::string> values;
    };
    const std::string later = FormatQbDateTime(kNow + 1);
    const Case cases[] = {
        {"<InvoiceQueryRq/>", "0", "InvoiceRet/RefNumber", {"1001", "1002", "1003", "1004", "1005"}},
        {"<InvoiceQueryRq><RefNumber>1003</RefNumber></InvoiceQueryRq>", "0", "InvoiceRet/RefNumber", {"1003"}},
        {"<InvoiceQueryRq><TxnID>nope</TxnID></InvoiceQueryRq>", "500", "InvoiceRet", {}},
        {"<InvoiceQueryRq><MaxReturned>2</MaxReturned></InvoiceQueryRq>", "0", "InvoiceRet/RefNumber", {"1001", "1002"}},
        {"<InvoiceQueryRq><PaidStatus>PaidOnly</PaidStatus></InvoiceQueryRq>", "0", "InvoiceRet/RefNumber", {"1001"}},
        {"<InvoiceQueryRq><PaidStatus>NotPaidOnly</PaidStatus><EntityFilter><FullName>O'Brien &amp; Sons "
         "&lt;UK&gt;</FullName></EntityFilter></InvoiceQueryRq>",
         "0", "InvoiceRet/BalanceRemaining", {"687.50"}},
        {"<InvoiceQueryRq><ModifiedDateRangeFilter><FromModifiedDate>" + later +
             "</FromModifiedDate></ModifiedDateRangeFilter></InvoiceQueryRq>",
         "1", "InvoiceRet", {}},
        {"<InvoiceQueryRq><TxnDateRangeFilter><ToTxnDate>2000-01-01</ToTxnDate></TxnDateRangeFilter></InvoiceQueryRq>",
         "1", "InvoiceRet", {}},
        {"<InvoiceQueryRq><RefNumber>1001</RefNumber><IncludeLineItems>true</IncludeLineItems></InvoiceQueryRq>", "0",
         "InvoiceRet/InvoiceLineRet/Amount", {"1200.00", "15.00"}},
        {"<CustomerQueryRq><NameFilter><MatchCriterion>Contains</MatchCriterion><Name>SKY</Name></NameFilter>"
         "</CustomerQueryRq>",
         "0", "CustomerRet/Name", {"Blue Sky Cafe"}},
        {"<CustomerQueryRq><ActiveStatus>InactiveOnly</ActiveStatus></CustomerQueryRq>", "1", "CustomerRet", {}},
        {"<ItemQueryRq><NameFilter><MatchCriterion>StartsWith</MatchCriterion><Name>d</Name></NameFilter>"
         "</ItemQueryRq>",
         "0", "*/SalesOrPurchase/Price", {"15.00", "95.00"}},
        {"<ReceivePaymentQueryRq><IncludeLineItems>true</IncludeLineItems><EntityFilter><FullName>Acme "
         "Supplies</FullName></EntityFilter></ReceivePaymentQueryRq>",
         "0", "ReceivePaymentRet/AppliedToTxnRet/Amount", {"1215.00"}},
        {"<CompanyQueryRq/>", "0", "CompanyRet/CompanyName", {"Demo Co"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.request);
        pugi::xml_document doc = Ask(k.request);
        pugi::xml_node rs = First(doc);
        EXPECT_STREQ(rs.attribute("statusCode").value(), k.statusCode);
        EXPECT_EQ(Values(rs, k.records), k.values);
    }
    pugi::xml_document some = Ask("<InvoiceQueryRq><RefNumber>1001</RefNumber><IncludeRetElement>TxnID"
                                  "</IncludeRetElement><IncludeRetElement>Subtotal</IncludeRetElement>"
                                  "<IncludeLineItems>true</IncludeLineItems></InvoiceQueryRq>");
    EXPECT_EQ(ChildNames(First(some).child("InvoiceRet")), (std::vector<std::string>{"TxnID", "Subtotal"}));
    // Items come as the record of their kind, sorted by name.
    pugi::xml_document items = Ask("<ItemQueryRq/>");
    std::vector<std::string> kinds;
    for (pugi::xml_node n : First(items).children()) kinds.push_back(n.name());
    EXPECT_EQ(kinds, (std::vector<std::string>{"ItemServiceRet", "ItemOtherChargeRet", "ItemServiceRet",
                                               "ItemNonInventoryRet", "ItemServiceRet"}));
}

TEST_F(ResponderTest, MalformedRequestsAreRefusedLikeQuickBooksAndChangeNothing) {
    const std::string add = "<CustomerAddRq><CustomerAdd><Name>New One</Name></CustomerAdd></CustomerAddRq>";
    const std::string cases[] = {
        "",
        "not xml at all",
        QbRequest(add).substr(0, 120), // cut short
        "<QBXML><QBXMLMsgsRq onError=\"stopOnError\">" + add + "</QBXMLMsgsRq></QBXML><QBXML/>",
        "<Other><QBXMLMsgsRq>" + add + "</QBXMLMsgsRq></Other>",
        "<QBXML><QBXMLMsgsRs/></QBXML>",
        QbRequest(add + "<CustomerAdd><Name>x</Name></CustomerAdd>"), // not a request
        QbRequest(add + "stray text"),
        QbRequest(add + "<CustomerAddRq><CustomerAdd><IsActive>true</IsActive></CustomerAdd></CustomerAddRq>"),
        QbRequest(add + "<InvoiceAddRq><InvoiceAdd/></InvoiceAddRq>"),
        QbRequest(add + "<CustomerQueryRq><FullName>\xC3\x28</FullName></CustomerQueryRq>"), // not UTF-8
        QbRequest(add + "<CustomerQueryRq><FullName>a\x01</FullName></CustomerQueryRq>"),
    };
    size_t customers = file.Customers().size();
    for (const std::string& request : cases) {
        SCOPED_TRACE(request);
        try {
            AskRaw(request);
            ADD_FAILURE() << "accepted";
        } catch (const TQbError& e) {
            EXPECT_EQ(e.Code(), static_cast<std::int32_t>(0x80040400));
            EXPECT_STREQ(e.what(), "QuickBooks found an error when parsing the provided XML text stream.");
        }
    }
    EXPECT_EQ(file.Customers().size(), customers);
    EXPECT_FALSE(changed);
}

TEST_F(ResponderTest, BadValuesAndUnknownRequestsGetErrorStatuses) {
    struct Case {
        std::string request;
        const char* statusCode;
    };
    const Case cases[] = {
        {"<VendorQueryRq/>", "1030"},
        {"<InvoiceQueryRq><TxnDateRangeFilter><FromTxnDate>2024-02-30</FromTxnDate></TxnDateRangeFilter>"
         "</InvoiceQueryRq>",
         "3020"},
        {"<InvoiceQueryRq><IncludeLineItems>yes</IncludeLineItems></InvoiceQueryRq>", "3010"},
        {"<InvoiceQueryRq><MaxReturned>ten</MaxReturned></InvoiceQueryRq>", "3030"},
        {"<CustomerAddRq><CustomerAdd><Name>Acme Supplies</Name></CustomerAdd></CustomerAddRq>", "3100"},
        {"<CustomerAddRq><CustomerAdd><Name>" + std::string(42, 'x') + "</Name></CustomerAdd></CustomerAddRq>", "3070"},
        {"<InvoiceAddRq><InvoiceAdd><CustomerRef><FullName>Nobody</FullName></CustomerRef></InvoiceAdd></InvoiceAddRq>",
         "3140"},
        {"<InvoiceAddRq><InvoiceAdd><CustomerRef><FullName>Acme Supplies</FullName></CustomerRef><InvoiceLineAdd>"
         "<ItemRef><FullName>Gold</FullName></ItemRef></InvoiceLineAdd></InvoiceAdd></InvoiceAddRq>",
         "3140"},
        {"<InvoiceAddRq><InvoiceAdd><CustomerRef><FullName>Acme Supplies</FullName></CustomerRef><InvoiceLineAdd>"
         "<Desc>x</Desc><Amount>12,00</Amount></InvoiceLineAdd></InvoiceAdd></InvoiceAddRq>",
         "3040"},
        {"<ReceivePaymentAddRq><ReceivePaymentAdd><CustomerRef><FullName>Acme Supplies</FullName></CustomerRef>"
         "<AppliedToTxnAdd><TxnID>" +
             InvoiceByRef("1002").TxnID + // another customer's invoice
             "</TxnID><PaymentAmount>1.00</PaymentAmount></AppliedToTxnAdd></ReceivePaymentAdd></ReceivePaymentAddRq>",
         "3120"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.request);
        pugi::xml_node rs = AskFirst(k.request);
        EXPECT_STREQ(rs.attribute("statusCode").value(), k.statusCode);
        EXPECT_STREQ(rs.attribute("statusSeverity").value(), "Error");
        EXPECT_FALSE(std::string(rs.attribute("statusMessage").value()).empty());
        EXPECT_FALSE(rs.first_child()) << "an error carries no records";
    }
    EXPECT_FALSE(changed);

    // After an error, stopOnError leaves the rest unanswered; continueOnError goes on.
    const std::string set = "<VendorQueryRq requestID=\"1\"/><CompanyQueryRq requestID=\"2\"/>";
    EXPECT_EQ(Responses(Ask(set, "stopOnError")).size(), 1u);
    pugi::xml_document answer = Ask(set, "continueOnError");
    auto all = Responses(answer);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_STREQ(all[0].name(), "VendorQueryRs");
    EXPECT_STREQ(all[1].attribute("requestID").value(), "2");
}

TEST_F(ResponderTest, AnswersReadThroughTheAgentsXmlModel) {
    // Smart sync starts a session when a response below QBXMLMsgsRs has a record.
    auto firstResponseChildren = [&](const std::string& request) {
        TKvXML xml;
        xml.Parse(AskRaw(QbRequest(request)));
        TKvXMLElement* msgs = xml.Root()->FindChild("qbxmlmsgsrs");
        EXPECT_NE(msgs, nullptr);
        return msgs && msgs->ChildCount() > 0 ? msgs->ChildAt(0)->ChildCount() : -1;
    };
    EXPECT_EQ(firstResponseChildren("<InvoiceQueryRq><PaidStatus>NotPaidOnly</PaidStatus></InvoiceQueryRq>"), 4);
    EXPECT_EQ(firstResponseChildren("<InvoiceQueryRq><ModifiedDateRangeFilter><FromModifiedDate>2030-01-01"
                                    "</FromModifiedDate></ModifiedDateRangeFilter></InvoiceQueryRq>"),
              0);
}

} // namespace
