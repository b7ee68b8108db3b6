#include "qb/QbXmlWriter.h"

#include <algorithm>

namespace dm {

void AppendXmlEscaped(std::string& out, std::string_view text, bool attribute) {
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\t': out += attribute ? "&#9;" : "\t"; break;
        case '\n': out += attribute ? "&#10;" : "\n"; break;
        case '\r': out += "&#13;"; break;
        default:
            if (static_cast<unsigned char>(c) >= 0x20) out += c;
        }
    }
}

bool TQbXmlWriter::Skipped(std::string_view name) const {
    if (skip_ > 0) return true;
    if (!only_ || only_->empty() || depth_ != recordDepth_) return false;
    return std::find(only_->begin(), only_->end(), name) == only_->end();
}

void TQbXmlWriter::Open(std::string_view name) {
    if (Skipped(name)) {
        ++skip_;
        return;
    }
    out_ += '<';
    out_ += name;
    out_ += ">\n";
    ++depth_;
}

void TQbXmlWriter::Close(std::string_view name) {
    if (skip_ > 0) {
        --skip_;
        return;
    }
    --depth_;
    out_ += "</";
    out_ += name;
    out_ += ">\n";
}

void TQbXmlWriter::Leaf(std::string_view name, std::string_view text) {
    if (Skipped(name)) return;
    out_ += '<';
    out_ += name;
    out_ += '>';
    AppendXmlEscaped(out_, text, false);
    out_ += "</";
    out_ += name;
    out_ += ">\n";
}

void TQbXmlWriter::Ref(std::string_view name, std::string_view listId, std::string_view fullName) {
    if (listId.empty() && fullName.empty()) return;
    Open(name);
    LeafIfAny("ListID", listId);
    LeafIfAny("FullName", fullName);
    Close(name);
}

void TQbXmlWriter::OpenRecord(std::string_view name, const std::vector<std::string>& only) {
    Open(name);
    only_ = &only;
    recordDepth_ = depth_;
}

void TQbXmlWriter::CloseRecord(std::string_view name) {
    only_ = nullptr;
    recordDepth_ = -1;
    Close(name);
}

} // namespace dm
