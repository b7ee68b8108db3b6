#pragma once

// Other programs' windows on the user's desktop: finding them by class and title, bringing one
// to the front, moving it, pressing a command of its menu bar and typing into the focused one.
// On X11 the windows come from Xlib and the menu bar from the accessibility bus; on Wayland or
// without a display nothing is ever found.

#include "platform/SendKeys.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dm {

using TWindowHandle = std::uint64_t; // 0: none

struct TWindowRect {
    int Left = 0, Top = 0, Width = 0, Height = 0;
    int Bottom() const { return Top + Height; }
};

struct TWindowFacts {
    // Both parts of the class: a window matches on either (X11 names an instance and a class).
    std::string Instance, Class;
    std::string Title; // UTF-8
    std::int64_t ProcessId = 0;
};

class TWindowSystem {
public:
    virtual ~TWindowSystem() = default;
    // Top-level windows in the desktop's order (the window manager's client list, else the
    // stacking order of the root's children).
    virtual std::vector<TWindowHandle> TopWindows() = 0;
    // Every descendant of the window, parents before their children.
    virtual std::vector<TWindowHandle> Descendants(TWindowHandle parent) = 0;
    // Nothing when the window has gone meanwhile.
    virtual std::optional<TWindowFacts> Facts(TWindowHandle window) = 0;
    // Restores the window from its icon and raises it with the keyboard focus.
    virtual bool Activate(TWindowHandle window) = 0;
    // The outer rectangle on the screen.
    virtual std::optional<TWindowRect> Rect(TWindowHandle window) = 0;
    virtual bool Move(TWindowHandle window, int left, int top) = 0;
    // Invokes the item of a menu of the menu bar of the program that owns the window; the
    // captions are compared normalised (MenuCaptionKey). Returns before the program has acted.
    virtual bool ClickMenu(TWindowHandle window, const std::string& menu, const std::string& item) = 0;
    // The keyboard of the desktop, for SendKeys.
    virtual TKeySink& Keyboard() = 0;
};

// The process-wide window system: X11 when a display is there and the session is no Wayland
// one, otherwise one that finds nothing.
TWindowSystem& DesktopWindows();
// A window system that finds nothing and whose keyboard types nothing.
std::unique_ptr<TWindowSystem> NoWindowSystem();
// Over X11 on the display named (empty: $DISPLAY); nothing when it cannot be opened.
std::unique_ptr<TWindowSystem> X11WindowSystem(const std::string& displayName = {});

// A menu or item caption as it is compared: the first "&" removed, everything from the first
// tab on cut, trimmed, lower case.
std::string MenuCaptionKey(const std::string& caption);

struct TWindowMatch {
    TWindowHandle Window = 0;
    std::int64_t ProcessId = 0;
    explicit operator bool() const { return Window != 0; }
};

// The search for QuickBooks' windows: a class name that must be equal (case-sensitive) and a
// title part that must be contained without regard to case. The last matching window wins.
class TWindowSearch {
public:
    explicit TWindowSearch(TWindowSystem& windows) : windows_(windows) {}

    TWindowMatch FindTopWindow(const std::string& className, const std::string& titlePart);
    TWindowMatch FindChildWindow(TWindowHandle parent, const std::string& className, const std::string& titlePart);
    TWindowMatch FindQuickBooksWindow();
    // Restores QuickBooks' main window and brings it to the front; false when it is not there.
    bool ActivateQuickBooks();
    bool ClickQuickBooksMenu(const std::string& menu, const std::string& item);

    TWindowSystem& Windows() const { return windows_; }

private:
    TWindowMatch Search(const std::vector<TWindowHandle>& candidates, const std::string& className,
                        const std::string& titlePart);
    TWindowSystem& windows_;
};

extern const char* const QuickBooksWindowClass; // "MauiFrame"
extern const char* const QuickBooksTitlePart;   // "- QuickBooks"

} // namespace dm
