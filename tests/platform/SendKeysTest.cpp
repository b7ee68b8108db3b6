#include "platform/SendKeys.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace dm;

namespace {

// Writes every event as a word: "home+" pressed, "home-" released, "a+" for a character.
class TRecordingKeys : public TKeySink {
public:
    std::string Events;
    int Flushes = 0;
    // A character that the layout is said to have no key for.
    char32_t Missing = U'\u2603';

    bool Key(int key, bool down) override {
        static const std::map<int, std::string> names = {
            {vk::Shift, "shift"}, {vk::Control, "ctrl"}, {vk::Menu, "alt"},   {vk::Home, "home"},
            {vk::Down, "down"},   {vk::Return, "enter"}, {vk::Delete, "del"}, {vk::Print, "print"},
            {vk::F1 + 15, "f16"}, {vk::Back, "bksp"},
        };
        auto it = names.find(key);
        Add((it != names.end() ? it->second : "vk" + std::to_string(key)) + (down ? "+" : "-"));
        return true;
    }
    bool Character(char32_t ch, bool down) override {
        if (ch == Missing) return false;
        std::string text = ch < 0x80 ? std::string(1, static_cast<char>(ch)) : "U" + std::to_string(ch);
        Add(text + (down ? "+" : "-"));
        return true;
    }
    void ToggleNumLock() override { Add("numlock"); }
    void Flush() override { ++Flushes; }

private:
    void Add(const std::string& word) { Events += (Events.empty() ? "" : " ") + word; }
};

struct TCase {
    const char* Keys;
    const char* Events;
    const char* Error; // empty: the call succeeds
};

} // namespace

TEST(SendKeys, TypesEveryFormOfTheSyntax) {
    const TCase cases[] = {
        {"{home}", "home+ home-", ""},
        {"{HoMe}", "home+ home-", ""},
        {"{down 3}", "down+ down- down+ down- down+ down-", ""},
        {"{down 0}", "", ""},
        {"%c", "alt+ c+ c- alt-", ""},
        {"+(ab)", "shift+ a+ a- b+ b- shift-", ""},
        {"+ab", "shift+ a+ a- shift- b+ b-", ""},
        {"^+(a%(b)c)d", "ctrl+ shift+ a+ a- alt+ b+ b- alt- c+ c- shift- ctrl- d+ d-", ""},
        {"^%{DEL}", "ctrl+ alt+ del+ del- alt- ctrl-", ""},
        {"+{home 2}", "shift+ home+ home- home+ home- shift-", ""},
        {"~x", "enter+ enter- x+ x-", ""},
        {"{{}{}}", "{+ {- }+ }-", ""},
        {"{+}{%}{~}{(}", "++ +- %+ %- ~+ ~- (+ (-", ""},
        {"(a)", "(+ (- a+ a- )+ )-", ""},
        {"{bksp}{prtsc}{F16}", "bksp+ bksp- print+ print- f16+ f16-", ""},
        {"{numlock}", "numlock", ""},
        {"\xC3\xA9", "U233+ U233-", ""},
        {"a\xE9", "a+ a- U233+ U233-", ""}, // a Latin-1 byte that is no UTF-8
        {"+(ab", "shift+ a+ a- b+ b- shift-", ""},
        // Errors stop where they stand, with the modifiers let go.
        {"{nosuch}", "", "Invalid Key Name"},
        {"+{nosuch}b", "shift+ shift-", "Invalid Key Name"},
        {"{down x}", "", "Invalid Key Name"},
        {"{down 100000}", "", "Invalid Key Name"},
        {"a{home", "a+ a-", "No Close"},
        {"{", "", "No Close"},
        {"%(a\xE2\x98\x83)", "alt+ a+ a- alt-", "Invalid KeyName"},
    };
    for (const TCase& c : cases) {
        TRecordingKeys keys;
        const TSendKeysResult result = SendKeys(c.Keys, false, keys);
        EXPECT_EQ(keys.Events, c.Events) << c.Keys;
        EXPECT_EQ(result.Ok, std::string(c.Error).empty()) << c.Keys;
        EXPECT_EQ(result.Error, c.Error) << c.Keys;
        EXPECT_EQ(keys.Flushes, 0) << c.Keys;
    }
}

TEST(SendKeys, WaitFlushesAfterEveryKeyEvent) {
    TRecordingKeys keys;
    EXPECT_TRUE(SendKeys("%c{down 2}", true, keys).Ok);
    EXPECT_EQ(keys.Flushes, 8);
}

TEST(SendKeys, NamedKeysGiveTheirKeyCodes) {
    const std::pair<const char*, int> names[] = {
        {"BS", 0x08},   {"BACKSPACE", 0x08}, {"BREAK", 0x03}, {"CAPSLOCK", 0x14}, {"CLEAR", 0x0C}, {"DELETE", 0x2E},
        {"END", 0x23},  {"ENTER", 0x0D},     {"ESC", 0x1B},   {"ESCAPE", 0x1B},   {"F1", 0x70},    {"F10", 0x79},
        {"F12", 0x7B},  {"HELP", 0x2F},      {"INS", 0x2D},   {"LEFT", 0x25},     {"PGDN", 0x22},  {"PGUP", 0x21},
        {"PRTSC", 42},  {"RIGHT", 0x27},     {"SCROLLLOCK", 0x91}, {"TAB", 0x09}, {"UP", 0x26},    {"NUMLOCK", 0x90},
    };
    for (const auto& [name, code] : names) EXPECT_EQ(NamedKey(name), code) << name;
    for (const char* unknown : {"", "F17", "SPACE", "HOME ", "{"}) EXPECT_FALSE(NamedKey(unknown)) << unknown;
}
