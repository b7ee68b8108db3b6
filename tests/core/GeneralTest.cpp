#include "core/General.h"

#include <gtest/gtest.h>

using namespace dm;

TEST(Text, EscapingTables) {
    EXPECT_EQ(EscapeAmpersands("A & B && C"), "A && B &&&& C");
    EXPECT_EQ(ReplaceText('|', "\r", "a|b||"), "a\rb\r\r");
    EXPECT_EQ(HtmlEscape("<a href=\"x\">T&C</a>"), "&lt;a href=\"x\"&gt;T&amp;C&lt;/a&gt;");
    struct {
        const char* in;
        const char* out;
    } unescape[] = {
        {"&lt;a href=\"x\"&gt;T&amp;C&lt;/a&gt;", "<a href=\"x\">T&C</a>"},
        {"5 &euro; &AMP; x", "5   x"},                // unknown and wrong-case names dropped
        {"A & B", "A  B"},                           // "&" with no later ";" dropped
        {"O&apos;Brien O&#39;Brien O&#x27;Brien", "O'Brien O'Brien O'Brien"},
        {"caf&#233; &#x20AC;", "caf\xC3\xA9 \xE2\x82\xAC"},
        {"&#0;&#xD800;&#x110000;&#abc;&#;", ""},       // not characters: dropped
        {"&quot;q&quot;&amp;lt;", "\"q\"&lt;"},
    };
    for (const auto& c : unescape) EXPECT_EQ(HtmlUnescape(c.in), c.out) << c.in;

    struct {
        const char* in;
        const char* out;
    } decode[] = {
        {"O&apos;Brien &amp; Sons &lt;UK&gt; &quot;x&quot;", "O'Brien & Sons <UK> \"x\""},
        {"A & B; C", "A & B; C"},         // a bare ampersand stays
        {"5 &euro; &#233;", "5 &euro; \xC3\xA9"}, // unknown names stay
        {"&amp;lt;", "&lt;"},             // one pass only
        {"&", "&"},
    };
    for (const auto& c : decode) EXPECT_EQ(DecodeXmlEntities(c.in), c.out) << c.in;
}

// One rule for every place that checks: the stand-in's command line must refuse what its
// request processor later refuses, and the service's dump what its JSON writer would.
TEST(Text, Utf8Checks) {
    struct {
        const char* text;
        bool utf8;
        bool xml;
    } cases[] = {
        {"plain", true, true},
        {"tab\tline\r\n", true, true},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", true, true},
        {"bell\x07", true, false},
        {"\xC0\xAF", false, false},          // overlong "/"
        {"\xE0\x80\xAF", false, false},      // overlong, three bytes
        {"\xF0\x80\x80\xAF", false, false},  // overlong, four bytes
        {"\xED\xA0\x80", false, false},      // a surrogate
        {"\xF4\x90\x80\x80", false, false},  // above U+10FFFF
        {"cut \xE2\x82", false, false},
        {"\x80 alone", false, false},
        {"\xC3\x28", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dm::IsValidUtf8(c.text), c.utf8) << c.text;
        EXPECT_EQ(dm::IsXmlText(c.text), c.xml) << c.text;
    }
    EXPECT_TRUE(dm::IsXmlText(std::string_view("", 0)));
    EXPECT_FALSE(dm::IsXmlText(std::string_view("a\0b", 3)));
}

TEST(Text, SplitPadAndAmounts) {
    EXPECT_EQ(SplitText('/', "a//b/"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_TRUE(SplitText('/', "").empty());
    EXPECT_EQ(SplitText('/', "/a"), (std::vector<std::string>{"", "a"}));
    EXPECT_EQ(PadLeft("7", 2, '0'), "07");
    EXPECT_EQ(PadLeft("123", 2, '0'), "123");
    struct {
        const char* in;
        double value;
    } amounts[] = {{"$1,234.50", 1234.5}, {"", 0}, {"abc", 0}, {"1.2.3", 0}, {"-7.25", 7.25}, {".5", 0.5}};
    for (const auto& a : amounts) EXPECT_DOUBLE_EQ(ParseAmount(a.in), a.value) << a.in;
}

TEST(Text, TokenEncoding) {
    EXPECT_EQ(EncodeToken("abc"), "313631-373138");
    EXPECT_EQ(DecodeToken("313631-373138"), "abc");
    EXPECT_EQ(EncodeToken(""), "");
    EXPECT_EQ(DecodeToken(""), "");
    for (const std::string& password :
         std::vector<std::string>{"s3cret!", "A & B <x>", std::string("\0\xff\x80z", 4), "longer password 1234567890"})
        EXPECT_EQ(DecodeToken(EncodeToken(password)), password);
    std::string out;
    EXPECT_FALSE(TryDecodeToken("31363", out));   // odd length
    EXPECT_FALSE(TryDecodeToken("zz", out));      // not hexadecimal
    EXPECT_EQ(DecodeToken("313G31"), "");
    EXPECT_EQ(SwapDigitsLetters(SwapDigitsLetters("Az09 mN")), "Az09 mN");
}

TEST(Text, VersionInfo) {
    TVersionInfo v("2.0.10.5");
    EXPECT_TRUE(v.Valid());
    EXPECT_EQ(v.FileVersionText(), "2.0.10.5");
    EXPECT_EQ(v.VersionText(), "2.0.10");
    EXPECT_EQ(v.BuildNumber(), "5");
    EXPECT_EQ(v.FileVersion(), (std::uint64_t{2} << 48) | (std::uint64_t{10} << 16) | 5);
    for (const char* bad : {"", "1.2.3", "1.2.3.x", "1.2.3.70000"}) {
        TVersionInfo invalid(bad);
        EXPECT_FALSE(invalid.Valid()) << bad;
        EXPECT_EQ(invalid.FileVersionText(), "0.0.0.0");
        EXPECT_EQ(invalid.VersionText(), "0.0.0");
        EXPECT_EQ(invalid.BuildNumber(), "0");
    }
    EXPECT_TRUE(TVersionInfo().Valid());
}
