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
    TKvXML other;
    other.Parse("<?xml version=\"1.0\"?><s:Envelope><s:Body><r>1</r></s:Body></s:Envelope>");
    EXPECT_EQ(SoapBody(other), nullptr);

    struct {
        const char* text;
        int value;
    } percentages[] = {{"abc", 100}, {"-1", -1}, {"42", 42}, {"", 100}, {"100", 100}, {"5x", 100}};
    for (const auto& p : percentages) EXPECT_EQ(ReadPercentage(p.text), p.value) << p.text;

    EXPECT_TRUE(LooksLikeXml("<?xml version='1.0'?><a/>"));
    EXPECT_FALSE(LooksLikeXml(" <?xml version=\"1.0\"?>"));
    EXPECT_FALSE(LooksLikeXml("\xEF\xBB\xBF<?xml version=\"1.0\"?>"));
    EXPECT_FALSE(LooksLikeXml("Fatal error: ..."));
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
