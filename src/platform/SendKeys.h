#pragma once

// Typing a key sequence into whatever window has the keyboard focus. The text is read here,
// without any display: the keys go to a sink, which the desktop's keyboard injection realises
// and tests record.
//
// Syntax: "+", "^" and "%" hold Shift, Control and Alt for the next key, or for the keys
// between a following "(" and its ")"; "~" is Enter; "{NAME}" is a named key and "{NAME N}"
// repeats it N times; "{{}" and "{}}" (and "{+}", "{^}", "{%}", "{~}", "{(}", "{)}") type the
// character itself; every other character is typed as the keyboard layout gives it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dm {

// Keys by their Windows virtual-key codes: the named keys of the syntax and the three modifiers.
namespace vk {
constexpr int Cancel = 0x03, Back = 0x08, Tab = 0x09, Clear = 0x0C, Return = 0x0D, Shift = 0x10, Control = 0x11,
              Menu = 0x12, Capital = 0x14, Escape = 0x1B, Prior = 0x21, Next = 0x22, End = 0x23, Home = 0x24,
              Left = 0x25, Up = 0x26, Right = 0x27, Down = 0x28, Print = 0x2A, Insert = 0x2D, Delete = 0x2E,
              Help = 0x2F, F1 = 0x70, NumLock = 0x90, Scroll = 0x91;
}

class TKeySink {
public:
    virtual ~TKeySink() = default;
    // A key by its virtual-key code; false when the keyboard has no such key.
    virtual bool Key(int virtualKey, bool down) = 0;
    // A character with the key and shift state the current layout gives it; false when the layout
    // has no key for it (nothing is pressed then).
    virtual bool Character(char32_t ch, bool down) = 0;
    virtual void ToggleNumLock() = 0;
    // The events so far have been delivered and what they queued for this program handled.
    virtual void Flush() {}
};

// The virtual-key code of a name of the syntax (compared without case), or nothing.
std::optional<int> NamedKey(std::string_view name);

struct TSendKeysResult {
    bool Ok = true;
    std::string Error; // the message for a box titled "SendKeys" when not Ok
};

// Types the keys into the sink; with wait, the sink is flushed after every key event. An error
// stops the sequence where it stands; the modifiers held are released first.
TSendKeysResult SendKeys(std::string_view keys, bool wait, TKeySink& sink);

extern const char* const SendKeysTitle;

} // namespace dm
