#include "Encoding.h"

#include "core/General.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace dm {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

int Base64Digit(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

} // namespace

bool FormDecode(std::string_view text, std::string& out) {
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= text.size()) return false;
            int hi = HexDigit(text[i + 1]);
            int lo = HexDigit(text[i + 2]);
            if (hi < 0 || lo < 0) return false;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += c;
        }
    }
    return true;
}

bool ParseForm(std::string_view body, TFormFields& fields) {
    fields.clear();
    if (body.empty()) return true;
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string_view::npos) end = body.size();
        std::string_view pair = body.substr(start, end - start);
        size_t eq = pair.find('=');
        std::string name, value;
        if (!FormDecode(pair.substr(0, eq), name)) return false;
        if (eq != std::string_view::npos && !FormDecode(pair.substr(eq + 1), value)) return false;
        fields.emplace_back(std::move(name), std::move(value));
        start = end + 1;
    }
    return true;
}

std::string FormValue(const TFormFields& fields, std::string_view name) {
    for (const auto& [n, v] : fields)
        if (n == name) return v;
    return {};
}

bool HexDecode(std::string_view text, std::string& out) {
    out.clear();
    if (text.size() % 2 != 0) return false;
    out.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = HexDigit(text[i]);
        int lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

bool Base64Decode(std::string_view text, std::string& out) {
    out.clear();
    if (text.size() % 4 != 0) return false;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        int d[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            char c = text[i + k];
            if (c == '=' && i + 4 == text.size() && k >= 2) {
                d[k] = 0;
                ++padding;
                continue;
            }
            if (padding > 0) return false; // data after padding
            d[k] = Base64Digit(c);
            if (d[k] < 0) return false;
        }
        unsigned triple = (d[0] << 18) | (d[1] << 12) | (d[2] << 6) | d[3];
        out += static_cast<char>((triple >> 16) & 0xFF);
        if (padding < 2) out += static_cast<char>((triple >> 8) & 0xFF);
        if (padding < 1) out += static_cast<char>(triple & 0xFF);
    }
    return true;
}

std::string XmlText(std::string_view text) { return HtmlEscape(text); }

double AmountValue(std::string_view amount) {
    std::string text(amount);
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    return end == text.c_str() ? 0.0 : value;
}

std::string MoneyText(std::string_view amount) {
    double value = AmountValue(amount);
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.2f", value < 0 ? -value : value);
    std::string whole(digits, std::strlen(digits) - 3);
    std::string grouped;
    for (size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0) grouped += ',';
        grouped += whole[i];
    }
    return (value < 0 ? "-$" : "$") + grouped + (digits + std::strlen(digits) - 3);
}

std::string NowText() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

std::string NextSecond(std::string_view time) {
    std::tm t{};
    std::string head(time.substr(0, 19));
    if (std::sscanf(head.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
                    &t.tm_sec) != 6)
        return std::string(time);
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    std::time_t seconds = timegm(&t) + 1;
    std::tm next{};
    gmtime_r(&seconds, &next);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &next);
    return text + std::string(time.substr(std::min<size_t>(19, time.size())));
}

} // namespace dm
