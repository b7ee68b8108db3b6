#include "engine/Notifications.h"

#include "core/General.h"

#include <cctype>

namespace dm {

const char* const NotificationCommandStart = "<!-- \b\b";
const char* const NotificationCommandEnd = "\b\b -->";

TNotificationCommand ExtractNotificationCommand(std::string_view fragment) {
    TNotificationCommand c;
    c.Rest = std::string(fragment);
    const std::string_view start = NotificationCommandStart, end = NotificationCommandEnd;
    size_t at = fragment.find(start);
    if (at == std::string_view::npos) return c;
    c.Found = true;
    std::string_view after = fragment.substr(at + start.size());
    size_t close = after.find(end);
    std::string_view command = after.substr(0, close);
    size_t paren = command.find('(');
    if (paren == std::string_view::npos) {
        c.Command = std::string(command);
    } else {
        c.Command = std::string(command.substr(0, paren));
        std::string_view argument = command.substr(paren + 1);
        if (!argument.empty()) argument.remove_suffix(1); // the closing parenthesis
        c.Argument = std::string(argument);
    }
    // Without an end marker the command reaches to the end of the fragment.
    size_t removeEnd = close == std::string_view::npos ? fragment.size() : at + start.size() + close + end.size();
    c.Rest = std::string(fragment.substr(0, at)) + std::string(fragment.substr(removeEnd));
    return c;
}

namespace {

bool StartsWithNoCase(std::string_view text, size_t at, std::string_view prefix) {
    return text.size() - at >= prefix.size() && EqualsNoCase(text.substr(at, prefix.size()), prefix);
}

// Past the end of the first "what" at or after from; the end of the text without one.
size_t Past(std::string_view text, size_t from, std::string_view what, bool noCase = false) {
    for (size_t i = from; i < text.size(); ++i)
        if (noCase ? StartsWithNoCase(text, i, what) : text.substr(i, what.size()) == what) return i + what.size();
    return text.size();
}

// Past the ">" that ends the tag at from, a ">" inside a quoted attribute value aside.
size_t PastTag(std::string_view text, size_t from) {
    char quote = 0;
    for (size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return text.size();
}

} // namespace

std::string NotificationText(std::string_view fragment, size_t limit) {
    std::string bare;
    size_t i = 0;
    while (i < fragment.size()) {
        const char c = fragment[i];
        if (c != '<') {
            bare += c;
            ++i;
            continue;
        }
        if (fragment.substr(i, 4) == "<!--") {
            i = Past(fragment, i + 4, "-->");
            continue;
        }
        const bool script = StartsWithNoCase(fragment, i, "<script"), style = StartsWithNoCase(fragment, i, "<style");
        size_t name = i + 1;
        if (name < fragment.size() && fragment[name] == '/') ++name;
        size_t nameEnd = name;
        while (nameEnd < fragment.size() && std::isalnum(static_cast<unsigned char>(fragment[nameEnd]))) ++nameEnd;
        const std::string tag = ToLowerAscii(fragment.substr(name, nameEnd - name));
        i = PastTag(fragment, nameEnd);
        if (script) i = Past(fragment, Past(fragment, i, "</script", true), ">");
        if (style) i = Past(fragment, Past(fragment, i, "</style", true), ">");
        // Blocks and line breaks part words; inline markup (b, i, a, span, nobr) does not.
        static const char* const breaking[] = {"br", "p", "div", "li", "tr", "td", "th", "table", "ul", "ol",
                                               "h1", "h2", "h3", "h4", "h5", "h6", "hr"};
        for (const char* b : breaking)
            if (tag == b) bare += ' ';
    }
    // The one named entity a notice commonly carries besides the escapes.
    std::string spaced;
    for (size_t at = 0; at < bare.size();) {
        if (StartsWithNoCase(bare, at, "&nbsp;")) {
            spaced += ' ';
            at += 6;
        } else {
            spaced += bare[at++];
        }
    }
    const std::string text = HtmlUnescape(spaced);
    std::string out;
    for (char ch : text) {
        if (static_cast<unsigned char>(ch) <= ' ') {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += ch;
        }
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    if (out.size() > limit) {
        size_t cut = limit;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
        out += "...";
    }
    return out;
}

} // namespace dm
