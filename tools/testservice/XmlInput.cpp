#include "XmlInput.h"

#include <cctype>
#include <cstring>

namespace dm {

namespace {

// Every "&" must start a reference: a predefined entity or a character reference.
bool AmpersandsWellFormed(const std::string& text, std::string& error) {
    static const char* entities[] = {"amp;", "lt;", "gt;", "quot;", "apos;"};
    // One forward pass: CDATA sections and comments (which may hold a bare "&") are skipped
    // as they come, so the check stays linear in the text.
    size_t at = 0;
    size_t open = text.find("<!");
    for (;;) {
        size_t amp = text.find('&', at);
        if (amp == std::string::npos) break;
        if (open != std::string::npos && open < at) open = text.find("<!", at);
        if (open != std::string::npos && open < amp) {
            const char* close = nullptr;
            if (text.compare(open, 9, "<![CDATA[") == 0) close = "]]>";
            else if (text.compare(open, 4, "<!--") == 0) close = "-->";
            if (close) {
                size_t end = text.find(close, open);
                if (end == std::string::npos) break; // the parser reports the unclosed section
                at = end + std::strlen(close);
            } else {
                at = open + 2;
            }
            open = text.find("<!", at);
            continue;
        }
        at = amp;
        bool ok = false;
        for (const char* e : entities) ok = ok || text.compare(at + 1, std::strlen(e), e) == 0;
        if (!ok && at + 1 < text.size() && text[at + 1] == '#') {
            size_t i = at + 2;
            bool hex = i < text.size() && text[i] == 'x';
            if (hex) ++i;
            size_t digits = 0;
            while (i < text.size() && (hex ? std::isxdigit(static_cast<unsigned char>(text[i]))
                                           : std::isdigit(static_cast<unsigned char>(text[i])))) {
                ++i;
                ++digits;
            }
            ok = digits > 0 && i < text.size() && text[i] == ';';
        }
        if (!ok) {
            error = "bare \"&\" at offset " + std::to_string(at);
            return false;
        }
        ++at;
    }
    return true;
}

} // namespace

bool ParseStrict(const std::string& text, pugi::xml_document& doc, std::string& error) {
    if (!AmpersandsWellFormed(text, error)) return false;
    pugi::xml_parse_result result = doc.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_declaration);
    if (!result) {
        error = std::string(result.description()) + " at offset " + std::to_string(result.offset);
        return false;
    }
    if (!doc.document_element()) {
        error = "no document element";
        return false;
    }
    return true;
}

std::string LocalName(const pugi::xml_node& node) {
    std::string name = node.name();
    size_t colon = name.find(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

std::string NamespaceOf(const pugi::xml_node& node) {
    std::string name = node.name();
    size_t colon = name.find(':');
    std::string attr = colon == std::string::npos ? "xmlns" : "xmlns:" + name.substr(0, colon);
    for (pugi::xml_node n = node; n; n = n.parent())
        if (pugi::xml_attribute a = n.attribute(attr.c_str())) return a.value();
    return {};
}

pugi::xml_node ChildNs(const pugi::xml_node& node, const char* local, const std::string& ns) {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element && LocalName(c) == local && NamespaceOf(c) == ns) return c;
    return {};
}

} // namespace dm
