#include "core/KvXml.h"

#include "core/General.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <new>
#include <system_error>

#include <sys/mman.h>

namespace dm {

namespace {

TKvXML::MessageHandler& Handler() {
    static TKvXML::MessageHandler handler;
    return handler;
}

bool IsBlankChar(char c) { return static_cast<unsigned char>(c) <= 32; }

bool IsBlank(std::string_view s) {
    return std::all_of(s.begin(), s.end(), IsBlankChar);
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool HasUpper(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

// Cuts the text into the tokens of the model: non-blank text pieces and tags ("<" body ">").
// A ">" inside a quoted part of a tag does not end it.
class Tokenizer {
public:
    explicit Tokenizer(std::string_view text) : rest_(text) {}

    enum class Result { Token, End, Error };

    Result Next(std::string_view& token, bool& isTag) {
        if (!pendingTag_.empty()) {
            token = pendingTag_;
            isTag = true;
            pendingTag_ = {};
            return Result::Token;
        }
        for (;;) {
            if (rest_.empty() || rest_ == " ") return Result::End;
            size_t lt = rest_.find('<');
            if (lt == std::string_view::npos)
                return IsBlank(rest_) ? Result::End : Result::Error;
            std::string_view piece = rest_.substr(0, lt);
            size_t gt = FindTagEnd(lt + 1);
            if (gt == std::string_view::npos) return Result::Error;
            std::string_view tag = rest_.substr(lt, gt - lt + 1);
            rest_.remove_prefix(gt + 1);
            if (!piece.empty() && !IsBlank(piece)) {
                token = piece;
                isTag = false;
                pendingTag_ = tag;
                return Result::Token;
            }
            token = tag;
            isTag = true;
            return Result::Token;
        }
    }

private:
    size_t FindTagEnd(size_t from) const {
        const char* p = rest_.data() + from;
        const char* end = rest_.data() + rest_.size();
        while (p < end) {
            // Jump to the next character that matters.
            const char* hit = p;
            while (hit < end && *hit != '>' && *hit != '"' && *hit != '\'') ++hit;
            if (hit == end) return std::string_view::npos;
            if (*hit == '>') return static_cast<size_t>(hit - rest_.data());
            const void* close = std::memchr(hit + 1, *hit, static_cast<size_t>(end - hit - 1));
            if (!close) return std::string_view::npos;
            p = static_cast<const char*>(close) + 1;
        }
        return std::string_view::npos;
    }

    std::string_view rest_;
    std::string_view pendingTag_;
};

// Cuts attribute text into name=value pairs; values are quoted with ' or ".
void ParseAttributes(std::string_view text, std::vector<std::string>& out) {
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsBlankChar(text[i])) ++i;
        if (i >= text.size()) break;
        size_t eq = text.find('=', i);
        if (eq == std::string_view::npos) break;
        std::string name = ToLowerAscii(TrimBlanks(text.substr(i, eq - i)));
        size_t q = eq + 1;
        while (q < text.size() && IsBlankChar(text[q])) ++q;
        if (q >= text.size() || (text[q] != '"' && text[q] != '\'')) break;
        size_t close = text.find(text[q], q + 1);
        if (close == std::string_view::npos) break;
        out.push_back(name + "=" + std::string(text.substr(q + 1, close - q - 1)));
        i = close + 1;
    }
}

// The names a parse gave, lower-cased once the whole text has been read. Kept from parse to
// parse on each thread (memory fresh from the system costs more than the list itself), unless a
// huge text made it large.
std::vector<std::string_view>& NameList() {
    thread_local std::vector<std::string_view> names;
    names.clear();
    return names;
}

void ReleaseNameList(std::vector<std::string_view>& names) {
    constexpr size_t kKept = 512 * 1024;
    if (names.capacity() > kKept) std::vector<std::string_view>().swap(names);
    else names.clear();
}

} // namespace

// Large blocks of documents that are gone, kept for the next large document: memory fresh from
// the system is faulted in page by page as it is first written, which costs a large answer more
// than parsing it. Bounded, so that one huge answer leaves nothing behind.
class TBlockCache {
public:
    static constexpr size_t kCapacity = 64 * 1024 * 1024;

    static TBlockCache& Instance() {
        static TBlockCache* cache = new TBlockCache(); // never destroyed: documents may outlive statics
        return *cache;
    }
    // A kept block of at least this size and not much more; null when there is none.
    char* Take(size_t size, size_t& got) {
        std::lock_guard lock(mutex_);
        size_t best = blocks_.size();
        for (size_t i = 0; i < blocks_.size(); ++i)
            if (blocks_[i].second >= size && blocks_[i].second <= 2 * size &&
                (best == blocks_.size() || blocks_[i].second < blocks_[best].second))
                best = i;
        if (best == blocks_.size()) return nullptr;
        char* data = blocks_[best].first;
        got = blocks_[best].second;
        total_ -= got;
        blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(best));
        return data;
    }
    void Give(char* data, size_t size) {
        std::vector<std::pair<char*, size_t>> released;
        {
            std::lock_guard lock(mutex_);
            if (size > kCapacity) {
                released.emplace_back(data, size);
            } else {
                // The oldest go first.
                while (total_ + size > kCapacity && !blocks_.empty()) {
                    released.push_back(blocks_.front());
                    total_ -= blocks_.front().second;
                    blocks_.erase(blocks_.begin());
                }
                blocks_.emplace_back(data, size);
                total_ += size;
            }
        }
        for (auto& [p, n] : released) ::munmap(p, n);
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<char*, size_t>> blocks_;
    size_t total_ = 0;
};

// Elements and copied texts live in blocks owned by their document, so that a large answer
// costs one allocation per block instead of several per element. Blocks grow with the document,
// and a parse asks up front for what its text will need, so that a large answer takes one block.
struct TKvXML::Arena {
    static constexpr size_t kBlock = 64 * 1024;
    // From this size a block is a mapping of its own, which the cache above can keep.
    static constexpr size_t kMapped = 2 * 1024 * 1024;
    static constexpr size_t kMaxGrowth = 64 * 1024 * 1024;

    struct Block {
        char* data;
        size_t size;
        bool mapped;
    };
    std::vector<Block> blocks;
    char* next = nullptr;
    size_t left = 0;
    size_t total = 0;

    Arena() = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena() {
        for (auto& b : blocks) {
            if (b.mapped)
                TBlockCache::Instance().Give(b.data, b.size);
            else
                delete[] b.data;
        }
    }

    char* NewBlock(size_t size) {
        char* data = nullptr;
        bool mapped = false;
        if (size >= kMapped) {
            size = (size + kMapped - 1) / kMapped * kMapped;
            size_t got = 0;
            data = TBlockCache::Instance().Take(size, got);
            if (data) {
                size = got;
            } else {
                void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
                data = p == MAP_FAILED ? nullptr : static_cast<char*>(p);
            }
            mapped = data != nullptr;
        }
        if (!data) data = new char[size];
        blocks.push_back({data, size, mapped});
        total += size;
        return data;
    }

    // Makes room for at least this much more without a new block.
    void Reserve(size_t bytes) {
        if (bytes <= left) return;
        next = NewBlock(bytes);
        left = blocks.back().size;
    }

    void* Allocate(size_t size, size_t align) {
        size_t pad = (align - reinterpret_cast<uintptr_t>(next) % align) % align;
        if (!next || pad + size > left) {
            if (size + align > kBlock / 4) {
                char* p = NewBlock(size + align);
                p += (align - reinterpret_cast<uintptr_t>(p) % align) % align;
                return p;
            }
            // Each new block as large as all before it: a growing document needs few of them.
            next = NewBlock(std::clamp(total, kBlock, kMaxGrowth));
            left = blocks.back().size;
            pad = (align - reinterpret_cast<uintptr_t>(next) % align) % align;
        }
        char* p = next + pad;
        next = p + size;
        left -= pad + size;
        return p;
    }
};

TKvXML::TKvXML() : arena_(std::make_unique<Arena>()) { root_ = NewElement(nullptr); }

TKvXML::~TKvXML() { Destroy(root_); }

TKvXML::MessageHandler TKvXML::SetMessageHandler(MessageHandler handler) {
    MessageHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

std::string_view TKvXML::Store(std::string_view text) {
    if (text.empty()) return {};
    char* p = static_cast<char*>(arena_->Allocate(text.size(), 1));
    std::memcpy(p, text.data(), text.size());
    return {p, text.size()};
}

TKvXMLElement* TKvXML::NewElement(TKvXMLElement* parent) {
    void* p = arena_->Allocate(sizeof(TKvXMLElement), alignof(TKvXMLElement));
    return new (p) TKvXMLElement(this, parent);
}

// Iterative, so that a deeply nested tree cannot exhaust the stack.
void TKvXML::Destroy(TKvXMLElement* element) {
    std::vector<TKvXMLElement*> pending{element};
    while (!pending.empty()) {
        TKvXMLElement* e = pending.back();
        pending.pop_back();
        for (std::uint32_t i = e->children_.size; i > 0; --i) pending.push_back(e->children_.data[i - 1]);
        e->~TKvXMLElement();
    }
}

TKvXMLElement::~TKvXMLElement() = default;

void TKvXMLElement::SetName(std::string_view name) { name_ = document_->Store(name); }
void TKvXMLElement::SetText(std::string_view text) { text_ = document_->Store(text); }

std::vector<std::string> TKvXMLElement::Attributes() const {
    return attributes_ ? *attributes_ : std::vector<std::string>{};
}

TKvXMLElement* TKvXMLElement::FindChild(std::string_view name) const {
    if (!HasUpper(name)) {
        for (TKvXMLElement* c : children_)
            if (c->name_ == name) return c;
        return nullptr;
    }
    std::string lowered = ToLowerAscii(name);
    for (TKvXMLElement* c : children_)
        if (c->name_ == lowered) return c;
    return nullptr;
}

TKvXMLElement* TKvXMLElement::FindPath(std::string_view path) const {
    if (path.empty()) return nullptr;
    const TKvXMLElement* e = this;
    size_t start = 0;
    for (;;) {
        size_t slash = path.find('/', start);
        if (slash == std::string_view::npos) {
            // A trailing "/" adds no piece.
            if (start == path.size()) break;
            e = e->FindChild(path.substr(start));
            break;
        }
        e = e->FindChild(path.substr(start, slash - start));
        if (!e) return nullptr;
        start = slash + 1;
    }
    return const_cast<TKvXMLElement*>(e);
}

std::string TKvXMLElement::PathText(std::string_view path) const {
    const TKvXMLElement* e = FindPath(path);
    return e ? std::string(e->text_) : std::string();
}

void TKvXMLElement::Adopt(TKvXMLElement* child) {
    if (children_.size == children_.capacity) {
        std::uint32_t capacity = children_.capacity ? children_.capacity * 2 : 4;
        auto data = static_cast<TKvXMLElement**>(
            document_->arena_->Allocate(sizeof(TKvXMLElement*) * capacity, alignof(TKvXMLElement*)));
        if (children_.size) std::memcpy(data, children_.data, sizeof(TKvXMLElement*) * children_.size);
        children_.data = data;
        children_.capacity = capacity;
    }
    child->index_ = children_.size;
    children_.data[children_.size++] = child;
}

TKvXMLElement* TKvXMLElement::AddChild(std::string_view name, std::string_view text) {
    TKvXMLElement* child = document_->NewElement(this);
    child->name_ = document_->Store(name);
    child->text_ = document_->Store(text);
    Adopt(child);
    return child;
}

void TKvXMLElement::RemoveChild(TKvXMLElement* child) {
    if (!child || child->parent_ != this || child->index_ >= children_.size ||
        children_.data[child->index_] != child)
        return;
    for (std::uint32_t i = child->index_; i + 1 < children_.size; ++i) {
        children_.data[i] = children_.data[i + 1];
        children_.data[i]->index_ = i;
    }
    --children_.size;
    document_->Destroy(child);
}

void TKvXMLElement::RemoveFromParent() {
    if (parent_) parent_->RemoveChild(this);
}

TKvXMLElement* TKvXMLElement::NextSibling() const {
    if (!parent_) return nullptr;
    size_t next = static_cast<size_t>(index_) + 1;
    return next < parent_->children_.size ? parent_->children_.data[next] : nullptr;
}

TKvXMLElement* TKvXMLElement::ChildAt(int index) const {
    if (index < 0 || static_cast<std::uint32_t>(index) >= children_.size) return nullptr;
    return children_.data[index];
}

std::string TKvXMLElement::ToXml() const {
    std::string out;
    AppendXml(out);
    return out;
}

// Iterative for the same reason as destruction.
void TKvXMLElement::AppendXml(std::string& out) const {
    struct Frame {
        const TKvXMLElement* e;
        size_t next;
    };
    std::vector<Frame> stack{{this, 0}};
    while (!stack.empty()) {
        Frame& f = stack.back();
        const TKvXMLElement* e = f.e;
        if (e->children_.size == 0) {
            out += '<';
            out += e->name_;
            if (e->text_.empty()) {
                out += " />";
            } else {
                out += '>';
                out += e->text_;
                out += "</";
                out += e->name_;
                out += '>';
            }
            stack.pop_back();
            continue;
        }
        if (f.next == 0) {
            out += '<';
            out += e->name_;
            out += '>';
        }
        if (f.next < e->children_.size) {
            const TKvXMLElement* child = e->children_.data[f.next++];
            stack.push_back({child, 0});
            continue;
        }
        out += "</";
        out += e->name_;
        out += '>';
        stack.pop_back();
    }
}

void TKvXML::Report(const std::string& message) const {
    if (!Silent && Handler()) Handler()(message);
}

TKvXML::TParseResult TKvXML::Parse(std::string text) {
    // Step 2 and 3: skip spaces and line breaks, find the declaration, drop it.
    std::string_view view(text);
    size_t lead = 0;
    while (lead < view.size() && (view[lead] == ' ' || view[lead] == '\r' || view[lead] == '\n'))
        ++lead;
    std::string_view rest = view.substr(lead);
    if (rest.substr(0, 6) != "<?xml ") {
        size_t decl = rest.find("<?xml");
        if (decl == std::string_view::npos) return TParseResult::NoDeclaration;
        rest.remove_prefix(decl);
    }
    size_t declEnd = rest.find('>');
    if (declEnd == std::string_view::npos) return TParseResult::Malformed;
    rest.remove_prefix(declEnd + 1);

    size_t offset = static_cast<size_t>(rest.data() - view.data());
    size_t size = rest.size();
    // About what the elements will take: one per 24 bytes of the densest answers. A large text
    // then takes one block; fewer elements leave the rest untouched.
    arena_->Reserve(size / 24 * (sizeof(TKvXMLElement) + 2 * sizeof(TKvXMLElement*)));
    inputs_.push_back(std::move(text));
    TBuildResult r = Build(inputs_.back().data() + offset, size);
    if (r == TBuildResult::Malformed) {
        // Nothing was changed in the text, so the message shows it as it came.
        std::string whole = std::move(inputs_.back());
        inputs_.pop_back();
        Report(whole);
        return TParseResult::Malformed;
    }
    return r == TBuildResult::Parsed ? TParseResult::Parsed : TParseResult::Unclosed;
}

// One pass over the text builds the tree. A text that turns out not to cut into tokens (a tag
// without its ">", text after the last tag) leaves the document as it was: the elements it
// added are taken out again and the root gets back its name, text and attributes. Names are
// lower-cased in the document's copy of the text only once the whole text has been read.
TKvXML::TBuildResult TKvXML::Build(char* text, size_t size) {
    const int depthBefore = Depth;
    const std::string_view rootName = root_->name_, rootText = root_->text_;
    const std::uint32_t rootChildren = root_->children_.size;
    const bool hadAttributes = root_->attributes_ != nullptr;
    const size_t rootAttributes = hadAttributes ? root_->attributes_->size() : 0;

    Depth = 0;
    std::vector<TKvXMLElement*> stack;
    std::vector<std::string_view>& names = NameList();
    bool tooDeep = false;
    auto enter = [&](TKvXMLElement* e) {
        ++Depth;
        if (Depth > 100) tooDeep = true;
        stack.push_back(e);
    };
    enter(root_);

    Tokenizer tokens(std::string_view(text, size));
    std::string_view token;
    bool isTag = false;
    Tokenizer::Result next;
    while ((next = tokens.Next(token, isTag)) == Tokenizer::Result::Token) {
        if (stack.empty()) continue; // the document element is closed; the rest is only checked
        TKvXMLElement* e = stack.back();
        if (!isTag) {
            e->text_ = token; // the last text wins
            continue;
        }
        std::string_view body = token.substr(1, token.size() - 2);
        if (!body.empty() && body.front() == '/') {
            body.remove_prefix(1);
            if (EqualsNoCase(body, e->name_)) {
                stack.pop_back();
                --Depth;
                continue;
            }
            // A closing tag that does not match opens an element of that name.
        }
        bool selfClosing = !body.empty() && body.back() == '/';
        if (selfClosing) body.remove_suffix(1);

        TKvXMLElement* target;
        if (Depth == 1) {
            target = e; // the first top-level tag names the document element
        } else {
            target = NewElement(e);
            e->Adopt(target);
        }
        size_t space = body.find(' ');
        target->name_ = TrimBlanks(body.substr(0, space));
        names.push_back(target->name_);
        if (space != std::string_view::npos && space + 1 < body.size()) {
            if (!target->attributes_) target->attributes_ = std::make_unique<std::vector<std::string>>();
            ParseAttributes(body.substr(space + 1), *target->attributes_);
        }
        if (!selfClosing) enter(target);
    }

    if (next == Tokenizer::Result::Error) {
        ReleaseNameList(names);
        for (std::uint32_t i = root_->children_.size; i > rootChildren; --i) Destroy(root_->children_.data[i - 1]);
        root_->children_.size = rootChildren;
        root_->name_ = rootName;
        root_->text_ = rootText;
        if (!hadAttributes)
            root_->attributes_.reset();
        else
            root_->attributes_->resize(rootAttributes);
        Depth = depthBefore;
        return TBuildResult::Malformed;
    }

    // The names this text gave, lower-cased where they lie.
    for (std::string_view name : names) {
        char* writable = text + (name.data() - text);
        for (size_t i = 0; i < name.size(); ++i) writable[i] = Lower(writable[i]);
    }
    ReleaseNameList(names);
    // One message per text: a million nested elements must not mean a million message boxes.
    if (tooDeep) Report("XML parsing recursion too deep.");
    // The root's own frame stays open unless the document element was closed.
    return stack.size() <= 1 ? TBuildResult::Parsed : TBuildResult::Unclosed;
}

std::string NormalizeLineEnds(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32 + 2);
    size_t i = 0;
    while (i < text.size()) {
        size_t stop = text.find_first_of("\r\n", i);
        if (stop == std::string_view::npos) {
            out.append(text.substr(i));
            out += "\r\n";
            break;
        }
        out.append(text.substr(i, stop - i));
        out += "\r\n";
        i = stop + ((text[stop] == '\r' && stop + 1 < text.size() && text[stop + 1] == '\n') ? 2 : 1);
    }
    return out;
}

void TKvXML::LoadFromFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw std::system_error(errno, std::generic_category(), path);
    std::string bytes;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    int failed = std::ferror(file) ? (errno ? errno : EIO) : 0;
    std::fclose(file);
    if (failed) throw std::system_error(failed, std::generic_category(), path);
    Parse(NormalizeLineEnds(bytes));
}

std::string TKvXML::SaveToText() const {
    std::string text = "<?xml version=\"1.0\"?>";
    root_->AppendXml(text);
    return NormalizeLineEnds(text);
}

void TKvXML::SaveToFile(const std::string& path) const {
    std::string bytes = SaveToText();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::system_error(errno ? errno : EACCES, std::generic_category(), path);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) throw std::system_error(errno ? errno : EIO, std::generic_category(), path);
}

} // namespace dm
