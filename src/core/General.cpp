#include "core/General.h"

#include "core/Version.h"

#include <charconv>
#include <csignal>
#include <cstdio>

namespace dm {

std::string ReplaceText(char pattern, std::string_view replacement, std::string_view subject) {
    std::string out;
    out.reserve(subject.size());
    for (char c : subject) {
        if (c == pattern)
            out += replacement;
        else
            out += c;
    }
    return out;
}

std::string EscapeAmpersands(std::string_view text) { return ReplaceText('&', "&&", text); }

size_t HtmlEscapedSize(std::string_view text) {
    size_t size = text.size();
    for (char c : text) {
        if (c == '&') size += 4;
        else if (c == '<' || c == '>') size += 3;
    }
    return size;
}

void AppendHtmlEscaped(std::string& out, std::string_view text) {
    out.reserve(out.size() + HtmlEscapedSize(text));
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char* entity = nullptr;
        switch (text[i]) {
        case '&': entity = "&amp;"; break;
        case '>': entity = "&gt;"; break;
        case '<': entity = "&lt;"; break;
        default: continue;
        }
        out.append(text, start, i - start);
        out += entity;
        start = i + 1;
    }
    out.append(text, start, std::string_view::npos);
}

namespace {

// Shared by both checks so that they cannot drift apart in strictness.
bool ScanUtf8(std::string_view text, bool xmlChars) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        unsigned char c = *p;
        if (c < 0x80) {
            if (xmlChars && c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
            ++p;
            continue;
        }
        int extra = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0 || end - p <= extra) return false;
        std::uint32_t code = c & (0x3F >> extra);
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            code = (code << 6) | (p[i] & 0x3F);
        }
        static const std::uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (code < kMin[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        p += extra + 1;
    }
    return true;
}

} // namespace

bool IsValidUtf8(std::string_view text) { return ScanUtf8(text, false); }
bool IsXmlText(std::string_view text) { return ScanUtf8(text, true); }

std::string HtmlEscape(std::string_view text) {
    std::string out;
    AppendHtmlEscaped(out, text);
    return out;
}

namespace {

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// "#39" or "#x27" -> the code point; false for anything else, zero, surrogates and values
// beyond Unicode.
bool NumericReference(std::string_view name, std::uint32_t& cp) {
    if (name.size() < 2 || name[0] != '#') return false;
    int base = 10;
    std::string_view digits = name.substr(1);
    if (digits[0] == 'x' || digits[0] == 'X') {
        base = 16;
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.size() > 8) return false;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), cp, base);
    if (ec != std::errc() || end != digits.data() + digits.size()) return false;
    return cp != 0 && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
}

} // namespace

std::string HtmlUnescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        size_t amp = text.find('&', i);
        if (amp == std::string_view::npos) {
            out.append(text.substr(i));
            break;
        }
        out.append(text.substr(i, amp - i));
        size_t semi = text.find(';', amp + 1);
        if (semi == std::string_view::npos) {
            i = amp + 1; // a lone "&" is dropped
            continue;
        }
        std::string_view name = text.substr(amp + 1, semi - amp - 1);
        std::uint32_t cp = 0;
        if (name == "lt") out += '<';
        else if (name == "gt") out += '>';
        else if (name == "quot") out += '"';
        else if (name == "amp") out += '&';
        else if (name == "apos") out += '\'';
        else if (NumericReference(name, cp)) AppendUtf8(out, cp);
        i = semi + 1;
    }
    return out;
}

std::string DecodeXmlEntities(std::string_view text) {
    static const std::pair<std::string_view, char> named[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '&') {
            size_t semi = text.find(';', i + 1);
            // Entity names are short; a far ";" belongs to something else.
            if (semi != std::string_view::npos && semi - i <= 10) {
                std::string_view name = text.substr(i + 1, semi - i - 1);
                bool decoded = false;
                for (const auto& [entity, c] : named) {
                    if (name == entity) {
                        out += c;
                        decoded = true;
                        break;
                    }
                }
                std::uint32_t cp = 0;
                if (!decoded && NumericReference(name, cp)) {
                    AppendUtf8(out, cp);
                    decoded = true;
                }
                if (decoded) {
                    i = semi + 1;
                    continue;
                }
            }
        }
        out += text[i++];
    }
    return out;
}

std::vector<std::string> SplitText(char separator, std::string_view text) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(separator, start);
        if (at == std::string_view::npos) {
            if (start < text.size()) pieces.emplace_back(text.substr(start));
            return pieces;
        }
        pieces.emplace_back(text.substr(start, at - start));
        start = at + 1;
    }
}

std::string PadLeft(std::string_view text, size_t width, char fill) {
    std::string out(text);
    if (out.size() < width) out.insert(0, width - out.size(), fill);
    return out;
}

// The kept characters are digits and ".", so the text is converted with "." whatever the
// regional separator: with a "," separator every amount would otherwise come out as 0.
double ParseAmount(std::string_view text) {
    std::string kept;
    for (char c : text)
        if ((c >= '0' && c <= '9') || c == '.') kept += c;
    if (kept.empty()) return 0;
    double value = 0;
    auto [end, ec] = std::from_chars(kept.data(), kept.data() + kept.size(), value);
    if (ec != std::errc() || end != kept.data() + kept.size()) return 0;
    return value;
}

void AppendHex(std::string& out, std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    const size_t at = out.size();
    out.resize(at + bytes.size() * 2);
    char* p = out.data() + at;
    for (unsigned char b : bytes) {
        *p++ = digits[b >> 4];
        *p++ = digits[b & 15];
    }
}

std::string ToHex(std::string_view bytes) {
    std::string out;
    AppendHex(out, bytes);
    return out;
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool FromHex(std::string_view hex, std::string& out) {
    if (hex.size() % 2 != 0) return false;
    out.clear();
    out.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = HexValue(hex[i]), lo = HexValue(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

} // namespace

std::string SwapDigitsLetters(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= '0' && c <= '9') c = static_cast<char>('0' + (c - '0' + 5) % 10);
        else if (c >= 'A' && c <= 'Z') c = static_cast<char>('A' + (c - 'A' + 13) % 26);
        else if (c >= 'a' && c <= 'z') c = static_cast<char>('a' + (c - 'a' + 13) % 26);
    }
    return out;
}

std::string EncodeToken(std::string_view password) {
    std::string hex = ToHex(SwapDigitsLetters(ToHex(password)));
    std::string out;
    for (size_t i = 0; i < hex.size(); i += 6) {
        if (i) out += '-';
        out.append(hex, i, 6);
    }
    return out;
}

bool TryDecodeToken(std::string_view token, std::string& password) {
    std::string hex;
    for (char c : token)
        if (c != '-') hex += c;
    std::string rotated;
    if (!FromHex(hex, rotated)) return false;
    return FromHex(SwapDigitsLetters(rotated), password);
}

std::string DecodeToken(std::string_view token) {
    std::string password;
    return TryDecodeToken(token, password) ? password : std::string();
}

std::optional<int> ParseInteger(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string ToLowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
    return text;
}

TVersionInfo::TVersionInfo() : TVersionInfo(DM_VERSION_TEXT) {}

TVersionInfo::TVersionInfo(std::string_view resource) {
    std::vector<std::string> parts = SplitText('.', resource);
    if (parts.size() != 4) return;
    std::uint64_t v = 0;
    for (const std::string& p : parts) {
        unsigned value = 0;
        auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), value);
        if (p.empty() || ec != std::errc() || end != p.data() + p.size() || value > 0xFFFF) return;
        v = (v << 16) | value;
    }
    valid_ = true;
    version_ = v;
}

std::string TVersionInfo::FileVersionText() const {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", unsigned(version_ >> 48 & 0xFFFF),
                  unsigned(version_ >> 32 & 0xFFFF), unsigned(version_ >> 16 & 0xFFFF),
                  unsigned(version_ & 0xFFFF));
    return buf;
}

std::string TVersionInfo::VersionText() const {
    std::string text = FileVersionText();
    return text.substr(0, text.rfind('.'));
}

std::string TVersionInfo::BuildNumber() const {
    std::string text = FileVersionText();
    return text.substr(text.rfind('.') + 1);
}

std::string TextHead(std::string_view text, size_t head) {
    if (text.size() <= head) return std::string(text);
    return std::string(text.substr(0, head)) + "... (" + std::to_string(text.size()) + " bytes in all)";
}

void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

} // namespace dm
