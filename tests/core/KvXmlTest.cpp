#include "core/KvXml.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using dm::TKvXML;
using dm::TKvXMLElement;

namespace {

// Collects what the model would show the user.
struct Messages {
    std::vector<std::string> shown;
    TKvXML::MessageHandler previous;
    Messages() {
        previous = TKvXML::SetMessageHandler([this](const std::string& m) { shown.push_back(m); });
    }
    ~Messages() { TKvXML::SetMessageHandler(previous); }
};

std::string Decl(const std::string& body) { return "<?xml version=\"1.0\"?>" + body; }

} // namespace

TEST(KvXml, PathsStartBelowTheDocumentElementAndIgnoreCase) {
    TKvXML doc;
    doc.Parse(Decl("<Response><Update>1</Update><Soap:Body><X>y</X></Soap:Body></Response>"));
    EXPECT_EQ(doc.Root()->Name(), "response");
    EXPECT_EQ(doc.Root()->PathText("update"), "1");
    EXPECT_EQ(doc.Root()->PathText("response/update"), "");
    EXPECT_EQ(doc.Root()->PathText("SOAP:BODY/x"), "y");
    EXPECT_EQ(doc.Root()->PathText("soap:body/x/"), "y");
    EXPECT_EQ(doc.Root()->FindPath(""), nullptr);
    EXPECT_EQ(doc.Root()->FindPath("soap:body//x"), nullptr);
}

TEST(KvXml, EmptyElementsAllSerialiseWithASpace) {
    for (const char* input : {"<a/>", "<a />", "<a></a>"}) {
        TKvXML doc;
        doc.Parse(Decl(input));
        EXPECT_EQ(doc.Root()->Name(), "a") << input;
        EXPECT_EQ(doc.Root()->ChildCount(), 0) << input;
        EXPECT_EQ(doc.Root()->ToXml(), "<a />") << input;
    }
}

TEST(KvXml, LastTextWinsUntrimmedAndOwnTextIsNotWrittenWithChildren) {
    TKvXML doc;
    doc.Parse(Decl("<a> x <b/> y </a>"));
    EXPECT_EQ(doc.Root()->Text(), " y ");
    ASSERT_EQ(doc.Root()->ChildCount(), 1);
    EXPECT_EQ(doc.Root()->ChildAt(0)->Name(), "b");
    EXPECT_EQ(doc.Root()->ToXml(), "<a><b /></a>");
}

TEST(KvXml, AddChildKeepsTheNameAndWritesTextUnescaped) {
    TKvXML doc;
    doc.Root()->SetName("mvt");
    TKvXMLElement* n = doc.Root()->AddChild("Name", "x");
    EXPECT_EQ(doc.Root()->FindChild("Name"), nullptr);
    EXPECT_EQ(doc.Root()->FindChild("name"), nullptr);
    EXPECT_EQ(n->Parent(), doc.Root());
    doc.Root()->AddChild("n", "x<y");
    EXPECT_EQ(doc.Root()->ToXml(), "<mvt><Name>x</Name><n>x<y</n></mvt>");

    TKvXML back;
    back.Parse(doc.SaveToText());
    EXPECT_NE(back.Root()->PathText("n"), "x<y");
}

TEST(KvXml, EntitiesAreNotDecodedAndQuotedGreaterThanDoesNotEndATag) {
    TKvXML doc;
    doc.Parse(Decl("<r><a>x &amp; y</a><b t='x>y' u=\"1>2\" V = 'w'>z</b></r>"));
    EXPECT_EQ(doc.Root()->PathText("a"), "x &amp; y");
    EXPECT_EQ(doc.Root()->PathText("b"), "z");
    std::vector<std::string> expected{"t=x>y", "u=1>2", "v=w"};
    EXPECT_EQ(doc.Root()->FindChild("b")->Attributes(), expected);
    EXPECT_EQ(doc.Root()->ToXml(), "<r><a>x &amp; y</a><b>z</b></r>");
}

TEST(KvXml, MismatchedClosingTagsOpenElements) {
    TKvXML doc;
    doc.Parse(Decl("<a><b></c></b></a>"));
    std::vector<std::string> chain;
    for (const TKvXMLElement* e = doc.Root(); e; e = e->ChildAt(0)) chain.emplace_back(e->Name());
    EXPECT_EQ(chain, (std::vector<std::string>{"a", "b", "c", "b", "a"}));
}

TEST(KvXml, DeclarationAndTextAroundIt) {
    struct Case {
        std::string input;
        std::string root;
        bool message;
    } cases[] = {
        {"\xEF\xBB\xBF<?xml version=\"1.0\"?><a>1</a>", "a", false},     // byte-order mark dropped
        {" \r\n<?xml version=\"1.0\"?><a>1</a>", "a", false},
        {"<a>1</a>", "", false},                                          // no declaration: nothing
        {Decl("<a>1</a>  \r\n"), "a", false},                             // blank tail is fine
        {Decl("<a>1</a> trailing"), "", true},                            // text after the last tag
        {Decl("<a>1</a><b"), "", true},                                   // unterminated tag
        {Decl("<!-- note --><a>1</a>"), "!--", false},                    // comments are tags
    };
    for (const Case& c : cases) {
        Messages messages;
        TKvXML doc;
        doc.Parse(c.input);
        EXPECT_EQ(doc.Root()->Name(), c.root) << c.input;
        ASSERT_EQ(messages.shown.size(), c.message ? 1u : 0u) << c.input;
        if (c.message) EXPECT_EQ(messages.shown[0], c.input);
    }
}

TEST(KvXml, CommentSwallowsTheRestOfTheDocument) {
    TKvXML doc;
    doc.Parse(Decl("<r><!-- c --><a>1</a></r>"));
    ASSERT_EQ(doc.Root()->ChildCount(), 1);
    EXPECT_EQ(doc.Root()->ChildAt(0)->Name(), "!--");
    EXPECT_EQ(doc.Root()->PathText("!--/a"), "1");
}

TEST(KvXml, FurtherTopLevelTagsRenameTheRootAndAddToIt) {
    TKvXML doc;
    doc.Parse(Decl("<a><x/></a><b><y/></b>"));
    EXPECT_EQ(doc.Root()->Name(), "b");
    EXPECT_EQ(doc.Root()->ChildCount(), 2);
}

// One message per text however deep it goes: a million nested elements once made a million
// modal boxes.
TEST(KvXml, DepthMessageOnceFromLevelHundred) {
    for (auto [levels, expected] : {std::pair{99, 0}, {100, 1}, {101, 1}, {5000, 1}}) {
        std::string body;
        for (int i = 0; i < levels; ++i) body += "<e>";
        for (int i = 0; i < levels; ++i) body += "</e>";
        Messages messages;
        TKvXML doc;
        doc.Parse(Decl(body));
        EXPECT_EQ(static_cast<int>(messages.shown.size()), expected) << levels;
        for (const auto& m : messages.shown) EXPECT_EQ(m, "XML parsing recursion too deep.");
    }
}

TEST(KvXml, MillionNestedElementsNeitherOverflowTheStackNorStop) {
    constexpr int levels = 1000000;
    std::string body;
    body.reserve(levels * 8);
    for (int i = 0; i < levels; ++i) body += "<e>";
    body += "deep";
    for (int i = 0; i < levels; ++i) body += "</e>";
    size_t count = 0;
    auto previous = TKvXML::SetMessageHandler([&](const std::string&) { ++count; });
    {
        TKvXML doc;
        doc.Parse(Decl(body));
        const TKvXMLElement* e = doc.Root();
        int depth = 1;
        while (e->ChildCount() == 1) {
            e = e->ChildAt(0);
            ++depth;
        }
        EXPECT_EQ(depth, levels);
        EXPECT_EQ(e->Text(), "deep");
        EXPECT_EQ(doc.Root()->ToXml().size(), body.size());
    }
    TKvXML::SetMessageHandler(previous);
    EXPECT_EQ(count, 1u);
}

TEST(KvXml, ParseSaysWhetherTheDocumentWasWhole) {
    using R = TKvXML::TParseResult;
    struct {
        std::string text;
        R result;
    } cases[] = {
        {Decl("<mvt><a>1</a></mvt>"), R::Parsed},
        {Decl("<mvt/>"), R::Parsed},
        {Decl("<mvt><a>1</a>"), R::Unclosed},           // cut after a tag
        {Decl("<mvt><a>1</a></mvt><b>"), R::Unclosed},  // a further top-level element left open
        {Decl("<mvt><a>1"), R::Malformed},               // cut inside a text
        {Decl("<mvt><a"), R::Malformed},                 // cut inside a tag
        {Decl("<mvt></mvt> junk"), R::Malformed},
        {"no declaration at all", R::NoDeclaration},
        {"", R::NoDeclaration},
    };
    for (const auto& c : cases) {
        TKvXML doc;
        doc.Silent = true;
        EXPECT_EQ(doc.Parse(c.text), c.result) << c.text;
    }
}

TEST(KvXml, SilentDocumentsShowNothing) {
    Messages messages;
    TKvXML loud;
    loud.Parse(Decl("<a>secret</a> trailing"));
    EXPECT_EQ(messages.shown.size(), 1u);
    TKvXML quiet;
    quiet.Silent = true;
    quiet.Parse(Decl("<a>secret</a> trailing"));
    std::string deep;
    for (int i = 0; i < 200; ++i) deep += "<e>";
    quiet.Parse(Decl(deep));
    EXPECT_EQ(messages.shown.size(), 1u);
}

// Names and texts point into the parsed texts; a second parse must not move the first one's
// (short texts live inside the string object itself).
TEST(KvXml, ParsingTwiceIntoOneDocumentKeepsTheFirstTree) {
    TKvXML doc;
    doc.Parse(Decl("<r><a>1</a></r>"));
    for (int i = 0; i < 40; ++i) doc.Parse(Decl("<r><b" + std::to_string(i) + ">2</b" + std::to_string(i) + "></r>"));
    EXPECT_EQ(doc.Root()->Name(), "r");
    ASSERT_EQ(doc.Root()->ChildCount(), 41);
    EXPECT_EQ(doc.Root()->ChildAt(0)->Name(), "a");
    EXPECT_EQ(doc.Root()->PathText("a"), "1");
    EXPECT_EQ(doc.Root()->PathText("b39"), "2");
}

// A text that turns out malformed only at its end adds nothing, whatever came before the fault:
// the document is as it was, and the message shows the text exactly as it came.
TEST(KvXml, MalformedTextLeavesTheDocumentAsItWas) {
    std::string deep;
    for (int i = 0; i < 150; ++i) deep += "<E>";
    const std::string cases[] = {
        Decl("<Mvt Z=\"2\"><New><Inner K='v'>T</Inner></New></Mvt> trailing"),
        Decl("<Other><X>1</X><Y"),
        Decl("<Mvt><A B=\"x>y</A></Mvt>"), // the quote is never closed
        Decl(deep + " tail"),
    };
    for (const auto& text : cases) {
        Messages messages;
        TKvXML doc;
        doc.Parse(Decl("<mvt q=\"1\"><a>1</a></mvt>"));
        const std::string before = doc.Root()->ToXml();
        const std::vector<std::string> attributes = doc.Root()->Attributes();
        EXPECT_EQ(doc.Parse(text), TKvXML::TParseResult::Malformed) << text;
        EXPECT_EQ(doc.Root()->ToXml(), before) << text;
        EXPECT_EQ(doc.Root()->Attributes(), attributes) << text;
        EXPECT_EQ(doc.Root()->Name(), "mvt");
        ASSERT_EQ(messages.shown.size(), 1u) << text;
        EXPECT_EQ(messages.shown[0], text);
        // Still a working document.
        doc.Parse(Decl("<mvt><b>2</b></mvt>"));
        EXPECT_EQ(doc.Root()->PathText("b"), "2");
        EXPECT_EQ(doc.Root()->PathText("a"), "1");
    }
}

TEST(KvXml, SiblingsChildrenAndRemoval) {
    TKvXML doc;
    doc.Parse(Decl("<list><i>1</i><i>2</i><other>3</other></list>"));
    std::string seen;
    for (TKvXMLElement* e = doc.Root()->FindChild("i"); e; e = e->NextSibling()) seen += e->Text();
    EXPECT_EQ(seen, "123");
    EXPECT_EQ(doc.Root()->ChildAt(3), nullptr);
    EXPECT_EQ(doc.Root()->ChildAt(-1), nullptr);

    doc.Root()->FindChild("i")->RemoveFromParent();
    EXPECT_EQ(doc.Root()->ToXml(), "<list><i>2</i><other>3</other></list>");
    EXPECT_EQ(doc.Root()->FindChild("i")->NextSibling()->Name(), "other");

    TKvXML stranger;
    TKvXMLElement* foreign = stranger.Root()->AddChild("i", "x");
    doc.Root()->RemoveChild(foreign); // not a child: nothing happens
    EXPECT_EQ(doc.Root()->ChildCount(), 2);
    EXPECT_EQ(stranger.Root()->ChildCount(), 1);
}

TEST(KvXml, FilesAreWrittenAndReadAsCrLfLines) {
    dmtest::TempDir dir;
    std::string path = (dir.Path() / "t.xml").string();
    TKvXML doc;
    doc.Root()->SetName("mvt");
    doc.Root()->AddChild("note", "one\ntwo\r\nthree\rfour");
    doc.SaveToFile(path);
    EXPECT_EQ(dmtest::ReadFileBytes(path),
              "<?xml version=\"1.0\"?><mvt><note>one\r\ntwo\r\nthree\r\nfour</note></mvt>\r\n");

    TKvXML back;
    back.LoadFromFile(path);
    EXPECT_EQ(back.Root()->PathText("note"), "one\r\ntwo\r\nthree\r\nfour");

    EXPECT_THROW(back.LoadFromFile((dir.Path() / "missing.xml").string()), std::system_error);
    EXPECT_THROW(doc.SaveToFile((dir.Path() / "no" / "such" / "t.xml").string()), std::system_error);
}

TEST(KvXml, LineEndNormalisation) {
    EXPECT_EQ(dm::NormalizeLineEnds(""), "");
    EXPECT_EQ(dm::NormalizeLineEnds("a"), "a\r\n");
    EXPECT_EQ(dm::NormalizeLineEnds("a\n"), "a\r\n");
    EXPECT_EQ(dm::NormalizeLineEnds("a\r\n\r\nb"), "a\r\n\r\nb\r\n");
    EXPECT_EQ(dm::NormalizeLineEnds("a\n\rb"), "a\r\n\r\nb\r\n");
}
