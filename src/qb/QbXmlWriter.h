#pragma once

// Writes qbXML the way QuickBooks does: one element per line, every text escaped (names
// such as O'Brien & Sons <UK> come out as O&apos;Brien &amp; Sons &lt;UK&gt;). Control
// characters that XML 1.0 cannot carry are dropped.

#include <string>
#include <string_view>
#include <vector>

namespace dm {

void AppendXmlEscaped(std::string& out, std::string_view text, bool attribute);

class TQbXmlWriter {
public:
    explicit TQbXmlWriter(std::string& out) : out_(out) {}

    void Open(std::string_view name);
    void Close(std::string_view name);
    void Leaf(std::string_view name, std::string_view text);
    void LeafIfAny(std::string_view name, std::string_view text) {
        if (!text.empty()) Leaf(name, text);
    }
    void Ref(std::string_view name, std::string_view listId, std::string_view fullName);

    // A record element whose direct children are limited to the names given
    // (IncludeRetElement); an empty list keeps them all.
    void OpenRecord(std::string_view name, const std::vector<std::string>& only);
    void CloseRecord(std::string_view name);

private:
    bool Skipped(std::string_view name) const;

    std::string& out_;
    int depth_ = 0;
    int skip_ = 0;
    int recordDepth_ = -1;
    const std::vector<std::string>* only_ = nullptr;
};

} // namespace dm
