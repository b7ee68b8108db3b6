#include "engine/SyncMessages.h"

#include <gtest/gtest.h>

using namespace dm;

namespace {
const std::string Head =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><soap:Body>";
const std::string Tail = "</soap:Body></soap:Envelope>";
} // namespace

TEST(SyncMessages, AuthenticateEnvelopeIsExactAndEscaped) {
    TClientInfo client{"1.4.1", "377", "desk<1>", "ann & co", "desk", "10.0.0.5"};
    TSyncMode mode;
    mode.Manual = true;
    mode.PreviewInvoices = true;
    mode.HostedPartner = "";
    EXPECT_EQ(AuthenticateEnvelope("a&b", "p<w", client, false, mode),
              Head + "<authenticate xmlns=\"http://developer.intuit.com/\"><strUserName>a&amp;b</strUserName>"
                     "<strPassword>p&lt;w</strPassword></authenticate>"
                     "<client><version>1.4.1</version><build>377</build><computername>desk&lt;1&gt;</computername>"
                     "<username>ann &amp; co</username><hostname>desk</hostname><localip>10.0.0.5</localip></client>"
                     "<sync><manual>1</manual><paymentnotifications>0</paymentnotifications>"
                     "<previewinvoices>1</previewinvoices><hosted></hosted></sync>" + Tail);

    TSyncMode automatic;
    automatic.PaymentNotifications = automatic.PaymentsOnly = automatic.SendInvoices = true;
    automatic.HostedPartner = "cloud9";
    std::string e = AuthenticateEnvelope("u", "p", client, true, automatic);
    EXPECT_NE(e.find("<localip>10.0.0.5</localip><resetcompanyfilepath>1</resetcompanyfilepath></client>"
                     "<sync><automatic>1</automatic><paymentnotifications>1</paymentnotifications>"
                     "<paymentsonly>1</paymentsonly><sendinvoices>1</sendinvoices><hosted>cloud9</hosted></sync>"),
              std::string::npos);
}

TEST(SyncMessages, TheOtherEnvelopes) {
    EXPECT_EQ(SendRequestEnvelope("T-1", "D:\\Data\\A&B.QBW", 13, 0),
              Head + "<sendRequestXML xmlns=\"http://developer.intuit.com/\"><ticket>T-1</ticket>"
                     "<strHCPResponse></strHCPResponse><strCompanyFileName>D:\\\\Data\\\\A&amp;B.QBW</strCompanyFileName>"
                     "<qbXMLCountry>US</qbXMLCountry><qbXMLMajorVers>13</qbXMLMajorVers><qbXMLMinorVers>0</qbXMLMinorVers>"
                     "</sendRequestXML>" + Tail);
    EXPECT_EQ(ChosenInvoicesEnvelope("T", "<skipemails>1</skipemails><inv><id>5</id><num>A&amp;1</num></inv>"),
              Head + "<sendRequestXML xmlns=\"http://developer.intuit.com/\"><ticket>T</ticket><sendchoseninvoices>"
                     "<skipemails>1</skipemails><inv><id>5</id><num>A&amp;1</num></inv></sendchoseninvoices>"
                     "</sendRequestXML>" + Tail);
    EXPECT_EQ(ReceiveResponseEnvelope("T", "<?xml version=\"1.0\" ?><QBXML>O'Brien & Sons</QBXML>"),
              Head + "<receiveResponseXML xmlns=\"http://developer.intuit.com/\"><ticket>T</ticket><response>"
                     "&lt;?xml version=\"1.0\" ?&gt;&lt;QBXML&gt;O'Brien &amp; Sons&lt;/QBXML&gt;</response>"
                     "<hresult /><message /></receiveResponseXML>" + Tail);
    EXPECT_EQ(CloseConnectionEnvelope("T"),
              Head + "<closeConnection xmlns=\"http://developer.intuit.com/\"><ticket>T</ticket></closeConnection>" + Tail);
    EXPECT_EQ(ReportErrorEnvelope("T", "Can't open <A&B.QBW>"),
              Head + "<reportError xmlns=\"http://developer.intuit.com/\"><ticket>T</ticket>"
                     "<info>Can't open &lt;A&amp;B.QBW&gt;</info></reportError>" + Tail);
}

TEST(SyncMessages, PasswordIsMaskedForTheLog) {
    TClientInfo client{"1", "2", "c", "u", "h", "i"};
    std::string e = AuthenticateEnvelope("u", "a much longer secret & more", client, false, TSyncMode{});
    std::string masked = MaskPassword(e);
    EXPECT_NE(masked.find("<strPassword>********</strPassword>"), std::string::npos);
    EXPECT_EQ(masked.find("secret"), std::string::npos);
    EXPECT_EQ(MaskPassword("<x/>"), "<x/>");
}

TEST(SyncMessages, AnswersAreReadBelowSoapBody) {
    for (const char* answer : {"<?xml version=\"1.0\"?><soap:Envelope><SOAP:BODY><r>1</r></SOAP:BODY></soap:Envelope>",
                               "<?xml version=\"1.0\"?><soap:Envelope><soap:Body><r>1</r></soap:Body></soap:Envelope>"}) {
        TKvXML doc;
        doc.Parse(answer);
        ASSERT_NE(SoapBody(doc), nullptr) << answer;
        EXPECT_EQ(SoapBody(doc)->PathText("r"), "1");
    }

    struct {
        const char* text;
        int value;
    } percentages[] = {{"abc", 100}, {"-1", -1}, {"42", 42}, {"", 100}, {"100", 100}, {"5x", 100},
                       // kept to the range the session and its bar use
                       {"-5", -1}, {"1000", 100}, {"2147483647", 100}, {"-2147483648", -1}};
    for (const auto& p : percentages) EXPECT_EQ(ReadPercentage(p.text), p.value) << p.text;

    struct {
        const char* text;
        int value;
    } delays[] = {{"30", 30}, {"x", 0}, {"-7", 0}, {"2147483647", 86400}};
    for (const auto& d : delays) EXPECT_EQ(ReadSmartSyncDelay(d.text), d.value) << d.text;

    EXPECT_TRUE(LooksLikeXml("<?xml version='1.0'?><a/>"));
    EXPECT_FALSE(LooksLikeXml(" <?xml version=\"1.0\"?>"));
    EXPECT_FALSE(LooksLikeXml("\xEF\xBB\xBF<?xml version=\"1.0\"?>"));
    EXPECT_FALSE(LooksLikeXml("Fatal error: ..."));
}

// Sizes made elsewhere than in ReadPopup: the arithmetic itself cannot overflow.
TEST(SyncMessages, PopupGeometryOfExtremeSpecs) {
    TPopupSpec spec;
    spec.WidthPercent = 2147483647;
    spec.HeightPercent = -2147483647 - 1;
    spec.MinWidth = -1;
    spec.MaxHeight = 2147483647;
    TPopupGeometry g = PopupGeometry(spec, 640, 2147483647);
    EXPECT_EQ(g.Width, 640);
    EXPECT_EQ(g.Height, 0);
    EXPECT_EQ(g.MinWidth, 0);
    EXPECT_EQ(g.MaxHeight, MaxPopupPixels);
    spec.HeightPercent = 100;
    EXPECT_EQ(PopupGeometry(spec, 640, 2147483647).Height, MaxPopupPixels);
}

TEST(SyncMessages, PopupSizes) {
    struct Case {
        const char* popup;
        TPopupGeometry expected;
        bool hideMaximize, maximized, again;
    } cases[] = {
        {"<popup><width>80%</width><height>50%</height></popup>", {1280, 450}, false, false, false},
        {"<popup><width>80</width><height>x</height><min_width>10</min_width><max_height></max_height></popup>",
         {80, 50, 10}, false, false, false},
        {"<popup><width></width><height>x%</height><max_width>y</max_width><hide_maximize>1</hide_maximize>"
         "<maximized>1</maximized><send_request_again>1</send_request_again></popup>",
         {0, 450, 0, 50}, true, true, true},
        // Numbers no screen has are kept to what a window can be.
        {"<popup><width>2147483647%</width><height>99999999</height><min_width>-5</min_width>"
         "<max_width>2147483647</max_width></popup>",
         {1600, MaxPopupPixels, 0, MaxPopupPixels}, false, false, false},
        {"<popup><width>-80%</width><height>-3</height></popup>", {0, 0}, false, false, false},
    };
    for (const Case& c : cases) {
        TKvXML doc;
        doc.Parse(std::string("<?xml version=\"1.0\"?>") + c.popup);
        TPopupSpec spec = ReadPopup(*doc.Root());
        TPopupGeometry g = PopupGeometry(spec, 1600, 900);
        EXPECT_EQ(g.Width, c.expected.Width) << c.popup;
        EXPECT_EQ(g.Height, c.expected.Height) << c.popup;
        EXPECT_EQ(g.MinWidth, c.expected.MinWidth) << c.popup;
        EXPECT_EQ(g.MaxWidth, c.expected.MaxWidth) << c.popup;
        EXPECT_EQ(g.MaxHeight, c.expected.MaxHeight) << c.popup;
        EXPECT_EQ(spec.HideMaximize, c.hideMaximize);
        EXPECT_EQ(spec.Maximized, c.maximized);
        EXPECT_EQ(spec.SendRequestAgain, c.again);
    }
}

namespace {

// Answers framed as the service writes them, and as other servers of the protocol do.
std::string Invara(const std::string& content) { return Head + content + Tail; }
std::string SoapEnv(const std::string& content) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
           "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" xmlns:ns1=\"http://developer.intuit.com/\">"
           "<SOAP-ENV:Body>" + content + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
}
std::string Soapenv(const std::string& content) {
    return "<?xml version=\"1.0\"?>\n<soapenv:Envelope xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "xmlns:tns=\"http://developer.intuit.com/\">\n  <soapenv:Header/>\n  <soapenv:Body>\n" + content +
           "\n  </soapenv:Body>\n</soapenv:Envelope>\n";
}
std::string Op(const std::string& op, const std::string& result, const std::string& prefix = "") {
    return "<" + prefix + op + "Response xmlns=\"http://developer.intuit.com/\"><" + prefix + op + "Result>" + result +
           "</" + prefix + op + "Result></" + prefix + op + "Response>";
}

} // namespace

TEST(SyncMessages, AnswerReadersTakeEveryShapeOfTheProtocol) {
    enum TExpect { Text, NoResult, Unreadable };
    struct Shape {
        const char* what;
        std::string answer;
        const char* operation;
        TExpect expect;
        const char* text;
    } shapes[] = {
        {"the service's request", Invara(Op("sendRequestXML", "&lt;QBXML/&gt;")), "sendRequestXML", Text,
         "&lt;QBXML/&gt;"},
        {"wrapped request", Invara(Op("sendRequestXML", "<string>&lt;QBXML/&gt;</string>")), "sendRequestXML", Text,
         "&lt;QBXML/&gt;"},
        {"wrapped percentage", Invara(Op("receiveResponseXML", "<int>33</int>")), "receiveResponseXML", Text, "33"},
        {"wrapped close", Invara(Op("closeConnection", "<string>OK</string>")), "closeConnection", Text, "OK"},
        {"empty request", Invara(Op("sendRequestXML", "")), "sendRequestXML", Text, ""},
        {"empty wrapped request", Invara(Op("sendRequestXML", "<string></string>")), "sendRequestXML", Text, ""},
        {"self-closed wrapper", Invara(Op("sendRequestXML", "<string/>")), "sendRequestXML", Text, ""},
        {"wrapped across lines", Invara(Op("receiveResponseXML", "\n    <int>33</int>\n  ")), "receiveResponseXML",
         Text, "33"},
        {"own text wins over a child", Invara(Op("receiveResponseXML", "40<int>7</int>")), "receiveResponseXML", Text,
         "40"},
        {"two children", Invara(Op("sendRequestXML", "<string>a</string><string>b</string>")), "sendRequestXML",
         Unreadable, ""},
        {"markup inside the wrapper", Invara(Op("sendRequestXML", "<string><QBXML/></string>")), "sendRequestXML",
         Unreadable, ""},
        {"SOAP-ENV and ns1:", SoapEnv(Op("sendRequestXML", "&lt;QBXML/&gt;", "ns1:")), "sendRequestXML", Text,
         "&lt;QBXML/&gt;"},
        {"soapenv:, tns: and a header", Soapenv(Op("receiveResponseXML", "<tns:int>50</tns:int>", "tns:")),
         "receiveResponseXML", Text, "50"},
        {"letter case ignored", SoapEnv("<NS1:SENDREQUESTXMLRESPONSE><NS1:SENDREQUESTXMLRESULT>x"
                                        "</NS1:SENDREQUESTXMLRESULT></NS1:SENDREQUESTXMLRESPONSE>"),
         "sendRequestXML", Text, "x"},
        {"no prefix at all", "<?xml version=\"1.0\"?><Envelope><Body>" + Op("closeConnection", "OK") + "</Body></Envelope>",
         "closeConnection", Text, "OK"},
        {"SOAP:BODY", "<?xml version=\"1.0\"?><soap:Envelope><SOAP:BODY>" + Op("closeConnection", "OK") +
                          "</SOAP:BODY></soap:Envelope>",
         "closeConnection", Text, "OK"},
        // The service's own names are found first, whatever stands before them.
        {"full name first", Invara(Op("sendRequestXML", "other", "x:") + Op("sendRequestXML", "ours")), "sendRequestXML",
         Text, "ours"},
        {"no body", "<?xml version=\"1.0\"?><soap:Envelope><soap:Header/></soap:Envelope>", "sendRequestXML", NoResult, ""},
        {"a name that only starts like Body", "<?xml version=\"1.0\"?><s:Envelope><s:Bodyguard>" +
                                                  Op("sendRequestXML", "x") + "</s:Bodyguard></s:Envelope>",
         "sendRequestXML", NoResult, ""},
        {"another operation", Invara(Op("receiveResponseXML", "33")), "sendRequestXML", NoResult, ""},
        {"response without result", Invara("<sendRequestXMLResponse/>"), "sendRequestXML", NoResult, ""},
    };
    for (const Shape& s : shapes) {
        SCOPED_TRACE(s.what);
        TKvXML doc;
        doc.Parse(s.answer);
        const TKvXMLElement* body = SoapBody(doc);
        const TKvXMLElement* result = body ? OperationResult(*body, s.operation) : nullptr;
        if (s.expect == NoResult) {
            EXPECT_EQ(result, nullptr);
            continue;
        }
        ASSERT_NE(result, nullptr);
        std::optional<std::string_view> text = ResultText(*result);
        if (s.expect == Unreadable) {
            EXPECT_FALSE(text.has_value()) << *text;
            continue;
        }
        ASSERT_TRUE(text.has_value());
        EXPECT_EQ(*text, s.text);
    }

    // Smart sync is read from the response element of a prefixed answer too.
    TKvXML close;
    close.Parse(SoapEnv("<ns1:closeConnectionResponse><smartsync><howoften>60</howoften></smartsync>"
                        "</ns1:closeConnectionResponse>"));
    const TKvXMLElement* response = OperationResponse(*SoapBody(close), "closeConnection");
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(response->PathText("smartsync/howoften"), "60");
}

TEST(SyncMessages, AuthenticateResultByPosition) {
    using K = TAuthenticateResult::TKind;
    struct {
        std::string answer;
        const char* ticket;
        const char* file;
        K kind;
    } cases[] = {
        {Invara(Op("authenticate", "<string>T-1</string><string></string>")), "T-1", "", K::CompanyFile},
        {Invara(Op("authenticate", "<string>T-1</string><string>C:\\Co.QBW</string>")), "T-1", "C:\\Co.QBW", K::CompanyFile},
        {Invara(Op("authenticate", "<string></string><string>nvu</string>")), "", "nvu", K::InvalidUser},
        {Invara(Op("authenticate", "<string>T-1</string><string>none</string>")), "T-1", "none", K::NoWork},
        {Invara(Op("authenticate", "<string>T-1</string><string>NONE</string>")), "T-1", "NONE", K::NoWork},
        {Invara(Op("authenticate", "<string>T-1</string><string>None.QBW</string>")), "T-1", "None.QBW", K::CompanyFile},
        // A serializer that leaves out an empty second string.
        {Invara(Op("authenticate", "<string>T-1</string>")), "T-1", "", K::CompanyFile},
        {SoapEnv(Op("authenticate", "<ns1:string>T-2</ns1:string><ns1:string>None</ns1:string>", "ns1:")), "T-2", "None",
         K::NoWork},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        TKvXML doc;
        doc.Parse(c.answer);
        const TKvXMLElement* body = SoapBody(doc);
        ASSERT_NE(body, nullptr);
        const TKvXMLElement* result = OperationResult(*body, "authenticate");
        ASSERT_NE(result, nullptr);
        TAuthenticateResult r = ReadAuthenticateResult(*result);
        EXPECT_EQ(r.Ticket, c.ticket);
        EXPECT_EQ(r.CompanyFile, c.file);
        EXPECT_EQ(r.Kind, c.kind);
    }
}
