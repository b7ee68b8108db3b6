#include "ServiceFixture.h"

#include "core/KvXml.h"

using namespace dmtest;
using nlohmann::json;

namespace {

std::string Base64(const std::string& bytes) {
    static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
        out += abc[(n >> 18) & 63];
        out += abc[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? abc[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? abc[n & 63] : '=';
    }
    return out;
}

// The biller request envelope; values go in as they are, the way the agent writes them.
std::string BillerRequest(const std::string& id, const std::string& password, const std::string& operation) {
    return "<?xml version=\"1.0\"?><request><biller><authenticate><id>" + id + "</id><password>" + password +
           "</password></authenticate>" + operation + "</biller></request>";
}

const char* kScenario = R"({
  "accounts": [
    {"user": "demo", "password": "demo", "name": "Demo Co", "id": "1001", "attachment_limit": 10000,
     "invoices": [{"number": "1001", "customer": "Acme", "amount": "125.00", "balance": "25.00",
                   "attachments": [{"filename": "terms.pdf", "description": "Our terms", "render": 0, "size": 2000}]}]},
    {"user": "files", "password": "pw", "name": "File Co", "id": "3003", "type": "ezi", "import": {"progress_steps": 2}},
    {"user": "resumer", "password": "pw", "id": "4004", "type": "ezi",
     "import": {"open_invoices": [{"number": "77", "customer": "Old", "amount": "5.00"}]}}
  ]
})";

class Biller : public ServiceTest {
protected:
    void SetUp() override { StartService(kScenario); }

    THttpAnswer Service(const std::string& body) { return Post("/webservices/service.php", body, "text/xml"); }

    static std::string Path(const std::string& answer, const std::string& path) {
        dm::TKvXML xml;
        xml.Parse(answer);
        return xml.Root()->PathText(path);
    }

    std::vector<std::string> ListAttachments(const std::string& ticket, std::string* remaining = nullptr) {
        auto a = PostSoap(Envelope("sendRequestXML", "<ticket>" + ticket + "</ticket><getInvoiceAttachments>5001</getInvoiceAttachments>"));
        dm::TKvXML xml;
        xml.Parse(a.body);
        dm::TKvXMLElement* dmElement = xml.Root()->FindPath("soap:body/dm");
        EXPECT_NE(dmElement, nullptr) << a.body;
        if (!dmElement) return {};
        if (remaining) *remaining = dmElement->PathText("invoice/remainingsize");
        std::vector<std::string> rows;
        dm::TKvXMLElement* list = dmElement->FindChild("attachments");
        for (int i = 0; list && i < list->ChildCount(); ++i) {
            dm::TKvXMLElement* att = list->ChildAt(i);
            rows.push_back(att->PathText("filename") + "|" + att->PathText("render") + "|" + att->PathText("description") +
                           "|" + att->PathText("id") + "|" + att->PathText("data"));
        }
        return rows;
    }

    // Announces a file, sends it in blocks of the agent's size and returns the upload id.
    std::string Upload(const std::string& name, const std::string& bytes, int* blocks = nullptr) {
        auto start = Service("<?xml version=\"1.0\"?><request><public><startupload><filename>" + name + "</filename><size>" +
                             std::to_string(bytes.size()) + "</size><blocksize>102400</blocksize></startupload></public></request>");
        std::string id = Path(start.body, "public/startupload/internalid");
        EXPECT_FALSE(id.empty()) << start.body;
        for (size_t at = 0; at < bytes.size(); at += 102400) {
            EXPECT_EQ(Post("/webservices/uploader.php", bytes.substr(at, 102400), "application/uploader-" + id).status, 200);
            if (blocks) ++*blocks;
        }
        return id;
    }
};

TEST_F(Biller, AttachmentsListedOverTheSessionAndChangedOverTheBillerEndpoint) {
    pugi::xml_document doc;
    std::string ticket = SoapBody(doc, PostSoap(AuthenticateEnvelope("demo", "demo", "<manual>1</manual><paymentnotifications>0</paymentnotifications><previewinvoices>1</previewinvoices>")).body)
                             .child("authenticateResponse").child("authenticateResult").first_child().text().as_string();
    std::string remaining;
    EXPECT_EQ(ListAttachments(ticket, &remaining), (std::vector<std::string>{"terms.pdf|0|Our terms|1|att_5001_1"}));
    EXPECT_EQ(remaining, "8000");

    std::string pdf = dm::MakePdf({"Work order 17"});
    auto add = [&](const std::string& file, const char* render, const char* order) {
        return Service(BillerRequest("1001", "demo", std::string("<invoiceupdate><attachment><description></description><displayorder>") + order +
                                                        "</displayorder><filename>order.pdf</filename><pdfrender>" + render +
                                                        "</pdfrender><file>" + Base64(file) + "</file><type>pdf</type></attachment>"
                                                        "<futureid>5001</futureid></invoiceupdate>"));
    };
    auto added = add(pdf, "back", "2");
    EXPECT_EQ(Path(added.body, "biller/invoiceupdate/attachment/error/number"), "");
    EXPECT_EQ(ListAttachments(ticket, &remaining),
              (std::vector<std::string>{"terms.pdf|0|Our terms|1|att_5001_1", "order.pdf|1||2|att_5001_2"}));
    EXPECT_EQ(remaining, std::to_string(8000 - pdf.size()));

    std::string big = pdf + std::string(8000, ' ');
    EXPECT_EQ(Path(add(big, "back", "3").body, "biller/invoiceupdate/attachment/error/number"), "110352");
    EXPECT_NE(Path(add("not a pdf", "no", "3").body, "biller/invoiceupdate/attachment/error/number"), "");

    // Re-order by id, delete by data key, in the agent's order: every row, then the deletions.
    auto changed = Service(BillerRequest("1001", "demo",
                                         "<invoiceupdate><attachment><internalid>2</internalid><changedisplayorder>1</changedisplayorder></attachment>"
                                         "<attachment><internalid>1</internalid><changedisplayorder>2</changedisplayorder></attachment>"
                                         "<futureid>5001</futureid></invoiceupdate>"));
    EXPECT_EQ(changed.status, 200);
    EXPECT_EQ(ListAttachments(ticket), (std::vector<std::string>{"order.pdf|1||2|att_5001_2", "terms.pdf|0|Our terms|1|att_5001_1"}));
    Service(BillerRequest("1001", "demo", "<invoiceupdate><attachment><internalid>att_5001_1</internalid><delete>1</delete></attachment>"
                                          "<futureid>5001</futureid></invoiceupdate>"));
    EXPECT_EQ(ListAttachments(ticket), (std::vector<std::string>{"order.pdf|1||2|att_5001_2"}));

    EXPECT_EQ(Service(BillerRequest("1001", "wrong", "<invoiceupdate><futureid>5001</futureid></invoiceupdate>")).status, 403);
    // Values are not escaped by the agent: a password with "&" makes the request malformed.
    EXPECT_EQ(Service(BillerRequest("1001", "de&mo", "<invoiceupdate><futureid>5001</futureid></invoiceupdate>")).status, 400);
}

TEST_F(Biller, InvoiceImportFromStartThroughBlocksProgressInvoicesAndPdfs) {
    auto start = Service(BillerRequest("files", "pw", "<invoiceimportstart><dm><build>1</build></dm></invoiceimportstart>"));
    EXPECT_EQ(Path(start.body, "biller/invoiceimportstart/start"), "1");
    EXPECT_EQ(Path(start.body, "biller/invoiceimportstart/importfilenamepattern"), "*.csv");
    EXPECT_EQ(Path(start.body, "biller/invoiceimportstart/skipfirstline"), "1");

    // Two and a half blocks: the invoice lines, then blank padding.
    std::string csv = "Number,Customer,Amount,Due\r\n1001,Acme,10.00,2024-05-01\r\n1002,\"Baker, Inc\",20.50,2024-05-02\r\n";
    csv += std::string(256000 - csv.size() - 2, ' ') + "\r\n";
    int blocks = 0;
    std::string file = Upload("/srv/in/batch.csv", csv, &blocks);
    EXPECT_EQ(blocks, 3);
    EXPECT_EQ(Post("/webservices/uploader.php", std::string(102401, 'x'), "application/uploader-" + file).status, 400);

    auto read = Service(BillerRequest("files", "pw", "<invoiceimportreadfiles><file><filename>/srv/in/batch.csv</filename><uploadid>" + file +
                                                         "</uploadid></file></invoiceimportreadfiles>"));
    std::string importId = Path(read.body, "biller/invoiceimportreadfiles/importid");
    ASSERT_FALSE(importId.empty()) << read.body;
    std::string poll = BillerRequest("files", "pw", "<invoiceimportreadfilesprogress><importid>" + importId + "</importid></invoiceimportreadfilesprogress>");
    auto p1 = Service(poll), p2 = Service(poll);
    EXPECT_EQ(Path(p1.body, "biller/invoiceimportreadfilesprogress/percent") + "/" + Path(p1.body, "biller/invoiceimportreadfilesprogress/done"), "50/0");
    EXPECT_EQ(Path(p2.body, "biller/invoiceimportreadfilesprogress/percent") + "/" + Path(p2.body, "biller/invoiceimportreadfilesprogress/done"), "100/1");

    auto next = Service(BillerRequest("files", "pw", "<invoiceimportnextinvoice><importid>" + importId + "</importid></invoiceimportnextinvoice>"));
    EXPECT_EQ(Path(next.body, "biller/invoiceimportnextinvoice/done"), "0");
    EXPECT_EQ(Path(next.body, "biller/invoiceimportnextinvoice/invoice/number"), "1001");
    EXPECT_EQ(Path(next.body, "biller/invoiceimportnextinvoice/remaining"), "2");
    EXPECT_EQ(Path(next.body, "biller/invoiceimportnextinvoice/pdffilefilter"), "1001.pdf");
    std::string invoiceId = Path(next.body, "biller/invoiceimportnextinvoice/invoice/id");

    std::string pdfUpload = Upload("/srv/in/1001.pdf", dm::MakePdf({"Invoice 1001"}));
    auto processed = Service(BillerRequest("files", "pw", "<invoiceimportprocess><importid>" + importId + "</importid><invoiceid>" + invoiceId +
                                                              "</invoiceid><uploadid>" + pdfUpload + "</uploadid></invoiceimportprocess>"));
    EXPECT_EQ(Path(processed.body, "biller/invoiceimportprocess/invoice/number"), "1002");
    EXPECT_EQ(Path(processed.body, "biller/invoiceimportprocess/remaining"), "1");
    std::string second = Path(processed.body, "biller/invoiceimportprocess/invoice/id");
    auto last = Service(BillerRequest("files", "pw", "<invoiceimportprocess><importid>" + importId + "</importid><invoiceid>" + second +
                                                         "</invoiceid><pdfmissing>1</pdfmissing></invoiceimportprocess>"));
    EXPECT_EQ(Path(last.body, "biller/invoiceimportprocess/done"), "1");

    json invoices = Inspect("state")["accounts"][1]["invoices"];
    ASSERT_EQ(invoices.size(), 2u);
    EXPECT_EQ(invoices[1]["customer"], "Baker, Inc");
    EXPECT_EQ(invoices[0]["attachments"][0]["filename"], "1001.pdf");
    EXPECT_TRUE(invoices[1]["attachments"].empty());
    // A finished import is not resumed: the next session starts afresh.
    EXPECT_EQ(Path(Service(BillerRequest("files", "pw", "<invoiceimportstart><dm><build>1</build></dm></invoiceimportstart>")).body,
                   "biller/invoiceimportstart/start"), "1");
}

TEST_F(Biller, ImportStartAnswers) {
    const std::string op = "<invoiceimportstart><dm><build>1</build></dm></invoiceimportstart>";
    EXPECT_EQ(Service(BillerRequest("files", "nope", op)).status, 403);
    auto resumed = Service(BillerRequest("resumer", "pw", op));
    EXPECT_EQ(Path(resumed.body, "biller/invoiceimportstart/resume"), "1");
    std::string id = Path(resumed.body, "biller/invoiceimportstart/importid");
    auto next = Service(BillerRequest("resumer", "pw", "<invoiceimportnextinvoice><importid>" + id + "</importid></invoiceimportnextinvoice>"));
    EXPECT_EQ(Path(next.body, "biller/invoiceimportnextinvoice/invoice/number"), "77");
    EXPECT_NE(Path(Service(BillerRequest("demo", "demo", op)).body, "biller/invoiceimportstart/message"), "");
    // An upload of an unreadable file (size -1) gets no id, so the agent stops.
    auto bad = Service("<?xml version=\"1.0\"?><request><public><startupload><filename>x</filename><size>-1</size>"
                       "<blocksize>102400</blocksize></startupload></public></request>");
    EXPECT_EQ(Path(bad.body, "public/startupload/internalid"), "");
}

} // namespace
