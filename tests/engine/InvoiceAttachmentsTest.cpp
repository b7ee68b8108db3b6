// The biller request envelope and the attachment messages: exact texts, escaping of what the
// user typed or the service sent, and the reading of the service's list.

#include "engine/BillerRequest.h"
#include "engine/InvoiceAttachments.h"
#include "engine/SyncMessages.h"

#include <QByteArray>

#include <gtest/gtest.h>

using namespace dm;

TEST(BillerRequest, EnvelopeIsExactAndEscapesTheCredentials) {
    EXPECT_EQ(BillerRequestEnvelope("1001", "demo", "<invoiceupdate></invoiceupdate>"),
              "<?xml version=\"1.0\"?><request><biller><authenticate><id>1001</id><password>demo</password>"
              "</authenticate><invoiceupdate></invoiceupdate></biller></request>");
    const std::string e = BillerRequestEnvelope("a&b", "p<&>w", "<op/>");
    EXPECT_NE(e.find("<id>a&amp;b</id><password>p&lt;&amp;&gt;w</password>"), std::string::npos) << e;
}

TEST(InvoiceAttachments, UpdateElementsInTheirOrderWithEscapedTexts) {
    EXPECT_EQ(ReorderAttachmentElement("7", 2),
              "<attachment><internalid>7</internalid><changedisplayorder>2</changedisplayorder></attachment>");
    EXPECT_EQ(DeleteAttachmentElement("att_5001_2"),
              "<attachment><internalid>att_5001_2</internalid><delete>1</delete></attachment>");
    EXPECT_EQ(InvoiceUpdateOperation("<attachment/>", "50&1"),
              "<invoiceupdate><attachment/><futureid>50&amp;1</futureid></invoiceupdate>");

    // Bytes that Base64 pads, with every byte value: one unbroken line that decodes back.
    std::string bytes = "%PDF-1.4\n";
    for (int i = 0; i < 256 * 3 + 1; ++i) bytes += static_cast<char>(i & 0xFF);
    const std::string link = AddAttachmentElement("Terms & <conditions>", 3, "a&b.pdf", false, bytes);
    const std::string head = "<attachment><description>Terms &amp; &lt;conditions&gt;</description>"
                             "<displayorder>3</displayorder><filename>a&amp;b.pdf</filename><pdfrender>no</pdfrender><file>";
    ASSERT_EQ(link.rfind(head, 0), 0u) << link.substr(0, 200);
    const size_t end = link.find("</file>");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(link.substr(end), "</file><type>pdf</type></attachment>");
    const std::string base64 = link.substr(head.size(), end - head.size());
    EXPECT_EQ(base64.find_first_of("\r\n "), std::string::npos);
    EXPECT_EQ(base64.back(), '=');
    EXPECT_EQ(QByteArray::fromBase64(QByteArray::fromStdString(base64)).toStdString(), bytes);

    const std::string inPdf = AddAttachmentElement("", 1, "x.pdf", true, "%PDF-");
    EXPECT_NE(inPdf.find("<description></description><displayorder>1</displayorder><filename>x.pdf</filename>"
                         "<pdfrender>back</pdfrender><file>JVBERi0=</file>"),
              std::string::npos)
        << inPdf;
}

TEST(InvoiceAttachments, ListRequestAndReply) {
    const std::string request = AttachmentListEnvelope("T-1", "5&1");
    EXPECT_NE(request.find("<sendRequestXML xmlns=\"http://developer.intuit.com/\"><ticket>T-1</ticket>"
                           "<getInvoiceAttachments>5&amp;1</getInvoiceAttachments></sendRequestXML>"
                           "</soap:Body></soap:Envelope>"),
              std::string::npos)
        << request;

    auto soap = [](const std::string& dm) {
        return "<?xml version=\"1.0\"?><soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">"
               "<soap:Body>" + dm + "</soap:Body></soap:Envelope>";
    };
    std::optional<TAttachmentList> list = ReadAttachmentList(soap(
        "<dm><invoice><number>A&amp;1</number><customer>O'Brien &amp; Sons &lt;UK&gt;</customer><total>$5.00</total>"
        "<balance>$1.00</balance><remainingsize>4096</remainingsize></invoice><attachments>"
        "<attachment><filename>t.pdf</filename><render>0</render><size>2 KB</size><description>Our &amp; terms"
        "</description><id>1</id><data>att_5001_1</data></attachment>"
        "<attachment><filename>s.pdf</filename><render>2</render><size>4 KB</size><id>2</id></attachment>"
        "</attachments></dm>"));
    ASSERT_TRUE(list);
    EXPECT_EQ(list->Number, "A&1");
    EXPECT_EQ(list->Customer, "O'Brien & Sons <UK>");
    EXPECT_EQ(list->RemainingSize, 4096);
    ASSERT_EQ(list->Attachments.size(), 2u);
    EXPECT_EQ(list->Attachments[0].Description, "Our & terms");
    EXPECT_EQ(list->Attachments[0].Data, "att_5001_1");
    EXPECT_EQ(list->Attachments[1].Data, ""); // a missing key is sent empty
    EXPECT_EQ(DisplayMethodCaption(list->Attachments[0].Render), "File View Link");
    EXPECT_EQ(DisplayMethodCaption(list->Attachments[1].Render), "In Invoice PDF");
    EXPECT_EQ(DisplayMethodCaption("3"), "");

    // Whatever remainingsize says that is not a size allows nothing.
    for (const char* remaining : {"", "<remainingsize></remainingsize>", "<remainingsize>12kb</remainingsize>",
                                  "<remainingsize>-5</remainingsize>", "<remainingsize>99999999999</remainingsize>"}) {
        auto l = ReadAttachmentList(soap(std::string("<dm><invoice>") + remaining + "</invoice></dm>"));
        ASSERT_TRUE(l) << remaining;
        EXPECT_EQ(l->RemainingSize, 0) << remaining;
        EXPECT_TRUE(l->Attachments.empty());
    }
    EXPECT_FALSE(ReadAttachmentList("<html>Service unavailable</html>"));
    EXPECT_FALSE(ReadAttachmentList(soap("<fault/>")));
}

TEST(InvoiceAttachments, UpdateReplyErrorNumber) {
    EXPECT_EQ(InvoiceUpdateErrorNumber("<?xml version=\"1.0\"?><response><biller><invoiceupdate><attachment><error>"
                                       "<number>110352</number><message>too large</message></error></attachment>"
                                       "<futureid>5001</futureid></invoiceupdate></biller></response>"),
              AttachmentTooLargeError);
    EXPECT_EQ(InvoiceUpdateErrorNumber("<?xml version=\"1.0\"?><response><biller><invoiceupdate><attachment><result>"
                                       "added</result></attachment></invoiceupdate></biller></response>"),
              "");
    EXPECT_EQ(InvoiceUpdateErrorNumber("not xml at all"), "");
}
