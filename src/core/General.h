#pragma once

// Text helpers shared by every part of the program. Text is bytes; nothing here converts
// character sets.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

// Every occurrence of the character is replaced by the replacement text.
std::string ReplaceText(char pattern, std::string_view replacement, std::string_view subject);
// Doubles every "&" (captions, where a single "&" marks an access key).
std::string EscapeAmpersands(std::string_view text);
// "&" -> "&amp;", ">" -> "&gt;", "<" -> "&lt;"; quotes untouched.
std::string HtmlEscape(std::string_view text);
// The same, appended to out (large texts are escaped without a copy of their own).
void AppendHtmlEscaped(std::string& out, std::string_view text);
// The length HtmlEscape gives, for reserving.
size_t HtmlEscapedSize(std::string_view text);
// Decodes "&lt;", "&gt;", "&quot;", "&amp;", "&apos;" and numeric references (UTF-8 above 127);
// any other name is dropped with its "&" and ";", and an "&" with no later ";" is dropped.
std::string HtmlUnescape(std::string_view text);
// Decodes what an XML writer escapes ("&amp;", "&lt;", "&gt;", "&quot;", "&apos;" and numeric
// references) and leaves every other "&" as it stands, so that text written by a careless
// writer with bare ampersands reads back unchanged.
std::string DecodeXmlEntities(std::string_view text);
// Pieces between separators; empty pieces between two separators are kept, an empty rest
// after the last one is not.
std::vector<std::string> SplitText(char separator, std::string_view text);
std::string PadLeft(std::string_view text, size_t width, char fill);
// Keeps only digits and "." and converts; 0 when nothing converts.
double ParseAmount(std::string_view text);

// Two upper-case hexadecimal digits per byte.
std::string ToHex(std::string_view bytes);
void AppendHex(std::string& out, std::string_view bytes);

// The keyless, reversible password encoding of the settings file ("abc" <-> "313631-373138").
std::string SwapDigitsLetters(std::string_view text);
std::string EncodeToken(std::string_view password);
// False when the token is not the encoding of anything (bad hexadecimal).
bool TryDecodeToken(std::string_view token, std::string& password);
// The password, or the empty text for a token that cannot be decoded.
std::string DecodeToken(std::string_view token);

// A decimal integer that is the whole text (an optional sign, then digits); nothing for
// anything else, or a value outside the 32-bit range.
std::optional<int> ParseInteger(std::string_view text);

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no cut sequence.
bool IsValidUtf8(std::string_view text);
// What XML 1.0 can carry: valid UTF-8 without the control characters it forbids (tab, line
// feed and carriage return are allowed). QuickBooks refuses anything else.
bool IsXmlText(std::string_view text);

std::string ToLowerAscii(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
// Removes characters with codes 0 to 32 at both ends.
std::string_view TrimBlanks(std::string_view text);

// What a log line, a message box or an error report carries of a text from the network: the
// text itself when it is short, else its first head bytes and its size, so that an answer of a
// gigabyte is never copied on.
inline constexpr size_t TextHeadSize = 4096;
std::string TextHead(std::string_view text, size_t head = TextHeadSize);

// Programs that talk to peers over sockets ignore SIGPIPE: a write to a connection the peer
// has closed (a TLS close notify, an answer to a client gone) must fail, not end the process.
void IgnoreBrokenPipes();

// The program's version, split the way the service and the About box want it.
class TVersionInfo {
public:
    // The version compiled into this program.
    TVersionInfo();
    // A version text "a.b.c.d" as a version resource would hold it; anything else is invalid.
    explicit TVersionInfo(std::string_view resource);

    bool Valid() const { return valid_; }
    std::uint64_t FileVersion() const { return version_; }
    std::string FileVersionText() const;
    // "1.4.1" and "377" for 1.4.1.377.
    std::string VersionText() const;
    std::string BuildNumber() const;

private:
    bool valid_ = false;
    std::uint64_t version_ = 0;
};

} // namespace dm
