#include "core/KvXml.h"
#include "engine/Notifications.h"
#include "engine/UnsentInvoices.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace dm;
namespace fs = std::filesystem;

namespace {

// An "unsent_invoices" element as the service sends it.
std::unique_ptr<TKvXML> Unsent(const std::string& invoices, const std::string& orders) {
    auto doc = std::make_unique<TKvXML>();
    doc->Parse("<?xml version=\"1.0\"?><unsent_invoices><invoices>" + invoices + "</invoices>" + orders +
               "</unsent_invoices>");
    return doc;
}

std::string Int(std::int32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF);
    return s;
}

} // namespace

TEST(UnsentInvoices, RecordLayoutByteForByte) {
    UnsentInvoiceRecord r = ParseUnsentInvoiceLine("A7\t2\t1001\tO'Brien & Sons\t$1,200.00\t$200.00\tshort text!\t3", 5);
    std::string bytes = r.Encode();
    ASSERT_EQ(bytes.size(), 344u);
    EXPECT_EQ(bytes.substr(0, 4), Int(5));
    EXPECT_EQ(bytes[4], 0);                 // not ticked when written
    EXPECT_EQ(bytes.substr(8, 4), Int(2));
    EXPECT_EQ(bytes.substr(12, 3), std::string("\x02" "A7", 3));
    EXPECT_EQ(bytes.substr(53, 5), std::string("\x04" "1001", 5));
    EXPECT_EQ(bytes.substr(94, 15), std::string("\x0e" "O'Brien & Sons", 15));
    EXPECT_EQ(bytes.substr(295, 10), std::string("\x09" "$1,200.00", 10));
    EXPECT_EQ(bytes.substr(311, 8), std::string("\x07" "$200.00", 8));
    EXPECT_EQ(bytes.substr(327, 11), std::string("\x0a" "short text", 11)); // cut to ten
    EXPECT_EQ(bytes.substr(340, 4), Int(3));

    UnsentInvoiceRecord back = UnsentInvoiceRecord::Decode(bytes);
    EXPECT_EQ(back.customer, "O'Brien & Sons");
    EXPECT_EQ(back.shortText, "short text");
    EXPECT_EQ(back.attachmentCount, 3);

    UnsentInvoiceRecord wide = ParseUnsentInvoiceLine(std::string(50, 'i') + "\tx\t1\t" + std::string(250, 'c') + "\t1\t1\t\t", 0);
    EXPECT_EQ(wide.invoiceId.size(), 40u);
    EXPECT_EQ(wide.customer.size(), 200u);
    EXPECT_EQ(wide.emailKind, 0); // not a number
    EXPECT_EQ(wide.attachmentCount, 0);
}

TEST(UnsentInvoices, ReviewThroughTheFiles) {
    dmtest::TempDir dir;
    // A file left by an older version with the usual mode is made private when written again.
    dmtest::WriteFileBytes(dir.Path() / "uninv_2.txt", "old");
    fs::permissions(dir.Path() / "uninv_2.txt", fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    auto doc = Unsent("K1\t2\tA&amp;B\tZed\t10.00\t10.00\t\t0\r\nK2\t1\t1002\tAlpha\t5.00\t5.00\t\t1\nK3\t0\t1003\tMid\t7.00\t0.00\t\t0",
                      "<order_customer>1,2,0</order_customer><order_amount>1,2,0</order_amount>"
                      "<order_balance>2,1,0</order_balance>");
    {
        TUnsentInvoiceFiles files(dir.Folder());
        ASSERT_EQ(files.Write(*doc->Root()), 3);
        EXPECT_EQ(dmtest::ReadFileBytes(dir.Path() / "uninv_0.txt"), Int(0) + Int(1) + Int(2));
        EXPECT_EQ(dmtest::ReadFileBytes(dir.Path() / "uninv_1.txt"), Int(1) + Int(2) + Int(0));
        EXPECT_EQ(dmtest::ReadFileBytes(dir.Path() / "uninv_3.txt"), Int(2) + Int(1) + Int(0));
        EXPECT_EQ(fs::file_size(dir.Path() / "uninv.txt"), 3u * 344u);
        // They hold the user's invoices: readable by the user only, like the log and the settings.
        for (const char* name : {"uninv.txt", "uninv_0.txt", "uninv_1.txt", "uninv_2.txt", "uninv_3.txt"})
            EXPECT_EQ(fs::status(dir.Path() / name).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write)
                << name;

        // Sorted by customer, row 0 is "Alpha" (record 1): ticking it ticks that record.
        files.selectOrder(1);
        UnsentInvoiceRecord row0 = files.readRecordAtRow(0);
        EXPECT_EQ(row0.customer, "Alpha");
        row0.checked = true;
        files.storeRecord(row0);
        files.selectOrder(0);
        UnsentInvoiceRecord first = files.readRecordAtRow(0);
        first.checked = true;
        files.storeRecord(first);
        EXPECT_EQ(dmtest::ReadFileBytes(dir.Path() / "uninv.txt")[344 + 4], 1);

        // File order, not display order; the number is kept as the text it stands for and
        // escaped again on the way back.
        EXPECT_EQ(first.invoiceNumber, "A&B");
        EXPECT_EQ(files.chosenInvoicesText(false),
                  "<inv><id>K1</id><num>A&amp;B</num></inv><inv><id>K2</id><num>1002</num></inv>");
        EXPECT_EQ(files.chosenInvoicesText(true).rfind("<skipemails>1</skipemails><inv>", 0), 0u);
        EXPECT_THROW(files.readRecordAtRow(3), TUnsentInvoiceError);
    }
    for (const char* name : {"uninv.txt", "uninv_0.txt", "uninv_1.txt", "uninv_2.txt", "uninv_3.txt"})
        EXPECT_FALSE(fs::exists(dir.Path() / name)) << name;
}

TEST(UnsentInvoices, KeysStayAsTheyCameAndEmptyLinesHoldNoInvoice) {
    dmtest::TempDir dir;
    // As the service's XML delivers it: escaped, after a leading line break, a blank line between.
    auto doc = Unsent("\r\nK&amp;1\t2\tA&amp;B\tSmith &amp; Sons &lt;Retail&gt;\t$1.00\t$1.00\tx&amp;y\t0\r\n\r\n"
                      "K2\t1\t1002\tAlpha\t5.00\t5.00\t\t0\r\n",
                      "<order_customer>1,0</order_customer><order_amount>0,1</order_amount>"
                      "<order_balance>0,1</order_balance>");
    TUnsentInvoiceFiles files(dir.Folder());
    ASSERT_EQ(files.Write(*doc->Root()), 2);
    UnsentInvoiceRecord first = files.readRecordAtRow(0);
    EXPECT_EQ(first.invoiceId, "K&amp;1");
    EXPECT_EQ(first.invoiceNumber, "A&B");
    EXPECT_EQ(first.customer, "Smith & Sons <Retail>");
    EXPECT_EQ(first.shortText, "x&amp;y"); // never shown: kept as it came
    EXPECT_EQ(files.readRecordAtRow(1).customer, "Alpha");
    first.checked = true;
    files.storeRecord(first);
    EXPECT_EQ(files.chosenInvoicesText(false), "<inv><id>K&amp;1</id><num>A&amp;B</num></inv>");
}

TEST(UnsentInvoices, EmptyListWritesOnlyTheThreeOrders) {
    dmtest::TempDir dir;
    auto doc = Unsent("", "<order_customer></order_customer><order_amount></order_amount><order_balance></order_balance>");
    {
        TUnsentInvoiceFiles files(dir.Folder());
        EXPECT_EQ(files.Write(*doc->Root()), 0);
        EXPECT_EQ(files.chosenInvoicesText(false), "");
    }
    EXPECT_FALSE(fs::exists(dir.Path() / "uninv.txt"));
    EXPECT_FALSE(fs::exists(dir.Path() / "uninv_0.txt"));
    for (const char* name : {"uninv_1.txt", "uninv_2.txt", "uninv_3.txt"}) {
        EXPECT_TRUE(fs::exists(dir.Path() / name)) << name;
        EXPECT_EQ(fs::file_size(dir.Path() / name), 0u);
    }
}

TEST(UnsentInvoices, IncompleteListsAreRefusedBeforeAnythingIsWritten) {
    const std::string line = "K1\t2\t1001\tZed\t10.00\t10.00\t\t0";
    const std::string two = line + "\n" + line;
    const std::string orders2 = "<order_customer>1,0</order_customer><order_amount>0,1</order_amount><order_balance>0,1</order_balance>";
    struct Case {
        std::string invoices, orders;
    } cases[] = {
        {"K1\t2\t1001\tZed\t10.00", orders2},                                                     // fewer than eight fields
        {two, "<order_customer>1,0</order_customer><order_amount>0,1</order_amount>"},            // an order missing
        {two, "<order_customer>1</order_customer><order_amount>0,1</order_amount><order_balance>0,1</order_balance>"},
        {two, "<order_customer>1,2</order_customer><order_amount>0,1</order_amount><order_balance>0,1</order_balance>"},
        {two, "<order_customer>1,1</order_customer><order_amount>0,1</order_amount><order_balance>0,1</order_balance>"},
        {two, "<order_customer>-1,0</order_customer><order_amount>0,1</order_amount><order_balance>0,1</order_balance>"},
    };
    for (const Case& c : cases) {
        dmtest::TempDir dir;
        auto doc = Unsent(c.invoices, c.orders);
        TUnsentInvoiceFiles files(dir.Folder());
        EXPECT_THROW(files.Write(*doc->Root()), TUnsentInvoiceError) << c.invoices << c.orders;
        EXPECT_TRUE(fs::is_empty(dir.Path())) << c.orders;
    }
}

TEST(Notifications, CommandsAreTakenOutOfFragments) {
    struct Case {
        std::string fragment;
        bool found;
        std::string command, argument, rest;
    } cases[] = {
        {"<p>Paid</p><!-- \b\bDM:syncpayments(1234)\b\b --><p>x</p>", true, "DM:syncpayments", "1234", "<p>Paid</p><p>x</p>"},
        {"<!-- \b\bDM:refresh\b\b -->", true, "DM:refresh", "", ""},
        {"a<!-- \b\bDM:one(1)\b\b -->b<!-- \b\bDM:two(2)\b\b -->c", true, "DM:one", "1", "ab<!-- \b\bDM:two(2)\b\b -->c"},
        {"no command <!-- plain comment -->", false, "", "", "no command <!-- plain comment -->"},
        {"cut <!-- \b\bDM:syncpayments(7", true, "DM:syncpayments", "", "cut "},
    };
    for (const Case& c : cases) {
        TNotificationCommand got = ExtractNotificationCommand(c.fragment);
        EXPECT_EQ(got.Found, c.found) << c.fragment;
        EXPECT_EQ(got.Command, c.command) << c.fragment;
        EXPECT_EQ(got.Argument, c.argument) << c.fragment;
        EXPECT_EQ(got.Rest, c.rest) << c.fragment;
    }
}

// The text of a desktop notice: what a reader of the popup sees, short and without markup.
TEST(Notifications, PlainTextOfFragments) {
    const struct {
        std::string fragment;
        size_t limit;
        std::string text;
    } cases[] = {
        {"<b>Acme &amp; Sons</b> paid <i>$1,250.00</i>.", 256, "Acme & Sons paid $1,250.00."},
        {"<div>Line one</div><div>Line&nbsp;two</div><br>three", 256, "Line one Line two three"},
        {"<!-- hidden --><script>alert('x<b>')</script><STYLE>p{}</STYLE> \r\n text \t", 256, "text"},
        {"<a href=\"x\" title='a > b'>link</a>", 256, "link"},
        {"caf\xC3\xA9 caf\xC3\xA9", 4, "caf..."},                      // never half a character
        {"abcdefgh", 5, "abcde..."},
        {"<unclosed", 256, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(NotificationText(c.fragment, c.limit), c.text) << c.fragment;
}
