#include "platform/SendKeys.h"

#include "core/General.h"

#include <array>
#include <utility>
#include <vector>

namespace dm {

const char* const SendKeysTitle = "SendKeys";

namespace {

const char* const InvalidKeyName = "Invalid Key Name";
const char* const NoClose = "No Close";
const char* const NoKeyForCharacter = "Invalid KeyName";

// A typo in a repeat count must not keep the keyboard busy for minutes.
constexpr int MaxRepeat = 1000;

struct TNamed {
    const char* Name;
    int Key;
};
constexpr std::array<TNamed, 41> NamedKeys{{
    {"BKSP", vk::Back},     {"BS", vk::Back},        {"BACKSPACE", vk::Back},  {"BREAK", vk::Cancel},
    {"CAPSLOCK", vk::Capital}, {"CLEAR", vk::Clear}, {"DEL", vk::Delete},      {"DELETE", vk::Delete},
    {"DOWN", vk::Down},     {"END", vk::End},        {"ENTER", vk::Return},    {"ESC", vk::Escape},
    {"ESCAPE", vk::Escape}, {"F1", vk::F1},          {"F10", vk::F1 + 9},      {"F11", vk::F1 + 10},
    {"F12", vk::F1 + 11},   {"F13", vk::F1 + 12},    {"F14", vk::F1 + 13},     {"F15", vk::F1 + 14},
    {"F16", vk::F1 + 15},   {"F2", vk::F1 + 1},      {"F3", vk::F1 + 2},       {"F4", vk::F1 + 3},
    {"F5", vk::F1 + 4},     {"F6", vk::F1 + 5},      {"F7", vk::F1 + 6},       {"F8", vk::F1 + 7},
    {"F9", vk::F1 + 8},     {"HELP", vk::Help},      {"HOME", vk::Home},       {"INS", vk::Insert},
    {"LEFT", vk::Left},     {"NUMLOCK", vk::NumLock}, {"PGDN", vk::Next},      {"PGUP", vk::Prior},
    {"PRTSC", vk::Print},   {"RIGHT", vk::Right},    {"SCROLLLOCK", vk::Scroll}, {"TAB", vk::Tab},
    {"UP", vk::Up},
}};

// One code point of UTF-8; a byte that starts no valid sequence stands for itself (Latin-1).
char32_t NextCharacter(std::string_view text, size_t& at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(at);
    int length = first < 0x80 ? 1 : (first >> 5) == 6 ? 2 : (first >> 4) == 14 ? 3 : (first >> 3) == 30 ? 4 : 0;
    if (length > 1 && at + length <= text.size() && IsValidUtf8(text.substr(at, length))) {
        char32_t cp = first & (0x7F >> length);
        for (int i = 1; i < length; ++i) cp = (cp << 6) | (byte(at + i) & 0x3F);
        at += length;
        return cp;
    }
    ++at;
    return first;
}

class TTyping {
public:
    TTyping(TKeySink& sink, bool wait) : sink_(sink), wait_(wait) {}
    ~TTyping() {
        while (!groups_.empty()) CloseGroup();
        ReleasePending();
    }

    void HoldModifier(int key) {
        Event([&] { sink_.Key(key, true); });
        pending_.push_back(key);
    }
    // "(" after modifiers: they stay down until the matching ")".
    void OpenGroup() {
        groups_.push_back(std::move(pending_));
        pending_.clear();
    }
    // False for a ")" that closes nothing: it is then an ordinary character.
    bool CloseGroup() {
        if (groups_.empty()) return false;
        ReleasePending();
        pending_ = std::move(groups_.back());
        groups_.pop_back();
        ReleasePending();
        return true;
    }
    bool Press(int key, int times = 1) {
        for (int i = 0; i < times; ++i) {
            if (key == vk::NumLock) {
                Event([&] { sink_.ToggleNumLock(); });
                continue;
            }
            bool ok = true;
            Event([&] { ok = sink_.Key(key, true); });
            if (!ok) return false;
            Event([&] { sink_.Key(key, false); });
        }
        ReleasePending();
        return true;
    }
    bool Type(char32_t ch, int times = 1) {
        for (int i = 0; i < times; ++i) {
            bool ok = true;
            Event([&] { ok = sink_.Character(ch, true); });
            if (!ok) return false;
            Event([&] { sink_.Character(ch, false); });
        }
        ReleasePending();
        return true;
    }

private:
    template <class F> void Event(F&& event) {
        event();
        if (wait_) sink_.Flush();
    }
    void ReleasePending() {
        for (auto it = pending_.rbegin(); it != pending_.rend(); ++it) Event([&] { sink_.Key(*it, false); });
        pending_.clear();
    }

    TKeySink& sink_;
    bool wait_;
    std::vector<int> pending_;             // modifiers down for the next key
    std::vector<std::vector<int>> groups_; // modifiers down for an open "(" group, innermost last
};

// "{...}" starting at keys[at]; moves at past the "}".
TSendKeysResult Braced(std::string_view keys, size_t& at, TTyping& typing) {
    // The character right after "{" belongs to the name even when it is "}": "{}}".
    const size_t close = at + 1 < keys.size() ? keys.find('}', at + 2) : std::string_view::npos;
    if (close == std::string_view::npos) return {false, NoClose};
    std::string_view inside = keys.substr(at + 1, close - at - 1);
    at = close + 1;

    int times = 1;
    if (const size_t space = inside.rfind(' '); space != std::string_view::npos && space > 0) {
        const std::string_view count = inside.substr(space + 1);
        const bool digits = !count.empty() && count.find_first_not_of("0123456789") == std::string_view::npos;
        const std::optional<int> n = digits && count.size() <= 9 ? ParseInteger(count) : std::nullopt;
        if (!n || *n > MaxRepeat) return {false, InvalidKeyName};
        times = *n;
        inside = inside.substr(0, space);
    }
    if (inside.size() == 1 && std::string_view("{}+^%~()").find(inside[0]) != std::string_view::npos) {
        if (!typing.Type(static_cast<unsigned char>(inside[0]), times)) return {false, NoKeyForCharacter};
        return {};
    }
    const std::optional<int> key = NamedKey(inside);
    if (!key) return {false, InvalidKeyName};
    if (!typing.Press(*key, times)) return {false, InvalidKeyName};
    return {};
}

} // namespace

std::optional<int> NamedKey(std::string_view name) {
    for (const TNamed& named : NamedKeys)
        if (EqualsNoCase(name, named.Name)) return named.Key;
    return std::nullopt;
}

TSendKeysResult SendKeys(std::string_view keys, bool wait, TKeySink& sink) {
    TTyping typing(sink, wait);
    size_t at = 0;
    while (at < keys.size()) {
        const char c = keys[at];
        switch (c) {
        case '+': typing.HoldModifier(vk::Shift); ++at; continue;
        case '^': typing.HoldModifier(vk::Control); ++at; continue;
        case '%': typing.HoldModifier(vk::Menu); ++at; continue;
        case '~': typing.Press(vk::Return); ++at; continue;
        case '{':
            if (TSendKeysResult r = Braced(keys, at, typing); !r.Ok) return r;
            continue;
        default: break;
        }
        if (c == '(' && at > 0 && std::string_view("+^%").find(keys[at - 1]) != std::string_view::npos) {
            typing.OpenGroup();
            ++at;
            continue;
        }
        if (c == ')' && typing.CloseGroup()) {
            ++at;
            continue;
        }
        if (!typing.Type(NextCharacter(keys, at))) return {false, NoKeyForCharacter};
    }
    return {};
}

} // namespace dm
