#pragma once

// The small XML model that every answer of the service, every qbXML answer and the settings
// file go through. It is deliberately not a conforming XML processor, and callers depend on
// its quirks: parsed names are lower case, lookups lower-case their argument, paths start
// below the document element, text is kept raw (no entity decoding on input, no escaping on
// output), attributes are parsed but never written, and comments are taken as tags.
//
// Names and texts are returned as views. A view stays valid while the document lives and the
// element's name or text is not changed.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

class TKvXML;

class TKvXMLElement {
public:
    TKvXMLElement(const TKvXMLElement&) = delete;
    TKvXMLElement& operator=(const TKvXMLElement&) = delete;

    TKvXMLElement* Parent() const { return parent_; }
    std::string_view Name() const { return name_; }
    std::string_view Text() const { return text_; }
    void SetName(std::string_view name);
    void SetText(std::string_view text);
    // Each entry is an attribute name, "=" and its value, in the order parsed.
    std::vector<std::string> Attributes() const;

    // First child whose name equals the lower-cased argument byte for byte.
    TKvXMLElement* FindChild(std::string_view name) const;
    // Applies FindChild for every piece of the path split at "/"; null for an empty path.
    TKvXMLElement* FindPath(std::string_view path) const;
    std::string PathText(std::string_view path) const;

    // The name is kept exactly as given (not lower-cased).
    TKvXMLElement* AddChild(std::string_view name, std::string_view text = {});
    void RemoveChild(TKvXMLElement* child);
    void RemoveFromParent();
    TKvXMLElement* NextSibling() const;
    int ChildCount() const { return static_cast<int>(children_.size); }
    TKvXMLElement* ChildAt(int index) const;

    std::string ToXml() const;
    void AppendXml(std::string& out) const;

private:
    friend class TKvXML;
    TKvXMLElement(TKvXML* document, TKvXMLElement* parent) : document_(document), parent_(parent) {}
    ~TKvXMLElement();
    void Adopt(TKvXMLElement* child);

    // Child arrays live in the document's arena; a grown array leaves the old one there.
    struct ChildList {
        TKvXMLElement** data = nullptr;
        std::uint32_t size = 0;
        std::uint32_t capacity = 0;
        TKvXMLElement** begin() const { return data; }
        TKvXMLElement** end() const { return data + size; }
    };

    TKvXML* document_;
    TKvXMLElement* parent_;
    std::string_view name_;
    std::string_view text_;
    ChildList children_;
    std::unique_ptr<std::vector<std::string>> attributes_;
    std::uint32_t index_ = 0; // position among the parent's children, for NextSibling
};

class TKvXML {
public:
    // Receives the model's two user-visible messages: the whole input text when it has text
    // after its last tag, and "XML parsing recursion too deep.".
    using MessageHandler = std::function<void(const std::string& message)>;

    TKvXML();
    ~TKvXML();
    TKvXML(const TKvXML&) = delete;
    TKvXML& operator=(const TKvXML&) = delete;

    TKvXMLElement* Root() const { return root_; }
    int Depth = 0;
    // Nothing of this document reaches the user: for texts whose problems the caller reports
    // in its own words (or not at all), and for texts that must never be shown (secrets).
    bool Silent = false;

    enum class TParseResult {
        Parsed,        // every element was closed
        Unclosed,      // the text ended inside an element; the open elements were closed
        NoDeclaration, // no "<?xml": nothing was parsed
        Malformed,     // text after the last tag, or a tag without its ">": nothing was built
    };
    // Builds the tree into Root; never throws. The text is kept by the document, whose
    // element names and texts point into it. A second parse adds to the same tree.
    TParseResult Parse(std::string text);
    // Reads the file as lines, each followed by CR LF; throws std::system_error when the file
    // cannot be read.
    void LoadFromFile(const std::string& path);
    // Writes the declaration and Root's XML as CR LF lines; throws std::system_error.
    void SaveToFile(const std::string& path) const;
    // The exact bytes SaveToFile writes.
    std::string SaveToText() const;

    // The handler for every document; the application routes it to the user. Returns the
    // previous one. Without one, messages go nowhere.
    static MessageHandler SetMessageHandler(MessageHandler handler);

private:
    friend class TKvXMLElement;
    std::string_view Store(std::string_view text);
    TKvXMLElement* NewElement(TKvXMLElement* parent);
    void Destroy(TKvXMLElement* element);
    enum class TBuildResult { Parsed, Unclosed, Malformed };
    TBuildResult Build(char* text, size_t size);
    void Report(const std::string& message) const;

    struct Arena;
    std::unique_ptr<Arena> arena_;
    std::deque<std::string> inputs_; // every parsed text; a deque never moves them, so views stay valid
    TKvXMLElement* root_;
};

// Text split into lines at CR, LF or CR LF, every line followed by CR LF (the way text files
// are read and written).
std::string NormalizeLineEnds(std::string_view text);

} // namespace dm
