#include "platform/AtSpiMenu.h"
#include "platform/Windows.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <array>
#include <utility>

namespace dm {

namespace {

// Windows go away while they are read: the error is expected, and Xlib's default handler would
// end the program.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

struct TKeysymOf {
    int Key;
    KeySym Sym;
};
constexpr std::array<TKeysymOf, 40> KeySyms{{
    {vk::Cancel, XK_Break},   {vk::Back, XK_BackSpace}, {vk::Tab, XK_Tab},         {vk::Clear, XK_Clear},
    {vk::Return, XK_Return},  {vk::Shift, XK_Shift_L},  {vk::Control, XK_Control_L}, {vk::Menu, XK_Alt_L},
    {vk::Capital, XK_Caps_Lock}, {vk::Escape, XK_Escape}, {vk::Prior, XK_Page_Up}, {vk::Next, XK_Page_Down},
    {vk::End, XK_End},        {vk::Home, XK_Home},      {vk::Left, XK_Left},       {vk::Up, XK_Up},
    {vk::Right, XK_Right},    {vk::Down, XK_Down},      {vk::Print, XK_Print},     {vk::Insert, XK_Insert},
    {vk::Delete, XK_Delete},  {vk::Help, XK_Help},      {vk::NumLock, XK_Num_Lock}, {vk::Scroll, XK_Scroll_Lock},
    {vk::F1, XK_F1},          {vk::F1 + 1, XK_F2},      {vk::F1 + 2, XK_F3},       {vk::F1 + 3, XK_F4},
    {vk::F1 + 4, XK_F5},      {vk::F1 + 5, XK_F6},      {vk::F1 + 6, XK_F7},       {vk::F1 + 7, XK_F8},
    {vk::F1 + 8, XK_F9},      {vk::F1 + 9, XK_F10},     {vk::F1 + 10, XK_F11},     {vk::F1 + 11, XK_F12},
    {vk::F1 + 12, XK_F13},    {vk::F1 + 13, XK_F14},    {vk::F1 + 14, XK_F15},     {vk::F1 + 15, XK_F16},
}};

KeySym CharacterKeySym(char32_t ch) {
    if (ch == '\t') return XK_Tab;
    if (ch == '\n' || ch == '\r') return XK_Return;
    if ((ch >= 0x20 && ch <= 0x7E) || (ch >= 0xA0 && ch <= 0xFF)) return ch;
    if (ch < 0x20 || (ch >= 0x7F && ch < 0xA0) || ch > 0x10FFFF) return NoSymbol;
    return 0x01000000 | ch;
}

// Keystrokes through the XTest extension, each character with the key and shift level that the
// current layout gives it.
class TXTestKeyboard : public TKeySink {
public:
    explicit TXTestKeyboard(Display* display) : display_(display) {}

    bool Key(int virtualKey, bool down) override {
        for (const TKeysymOf& k : KeySyms)
            if (k.Key == virtualKey) return Fake(XKeysymToKeycode(display_, k.Sym), down);
        return false;
    }
    bool Character(char32_t ch, bool down) override {
        if (!down) {
            if (!charKey_) return false;
            Fake(charKey_, false);
            if (charShift_) Fake(XKeysymToKeycode(display_, XK_Shift_L), false);
            charKey_ = 0;
            return true;
        }
        const KeySym sym = CharacterKeySym(ch);
        const KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(display_, sym);
        if (!code) return false;
        charShift_ = XkbKeycodeToKeysym(display_, code, 0, 0) != sym && XkbKeycodeToKeysym(display_, code, 0, 1) == sym;
        if (charShift_) Fake(XKeysymToKeycode(display_, XK_Shift_L), true);
        charKey_ = code;
        return Fake(code, true);
    }
    void ToggleNumLock() override {
        const KeyCode code = XKeysymToKeycode(display_, XK_Num_Lock);
        Fake(code, true);
        Fake(code, false);
    }
    void Flush() override { XSync(display_, False); }

private:
    bool Fake(KeyCode code, bool down) {
        if (!code) return false;
        XTestFakeKeyEvent(display_, code, down ? True : False, CurrentTime);
        XFlush(display_);
        return true;
    }
    Display* display_;
    KeyCode charKey_ = 0;
    bool charShift_ = false;
};

class TX11Windows : public TWindowSystem {
public:
    explicit TX11Windows(Display* display) : display_(display), keyboard_(display) {
        XSetErrorHandler(IgnoreXError);
    }
    ~TX11Windows() override { XCloseDisplay(display_); }

    std::vector<TWindowHandle> TopWindows() override {
        std::vector<TWindowHandle> list;
        const Window root = DefaultRootWindow(display_);
        unsigned long count = 0;
        if (auto* clients = Property<Window>(root, Intern("_NET_CLIENT_LIST"), XA_WINDOW, count)) {
            for (unsigned long i = 0; i < count; ++i) list.push_back(clients[i]);
            XFree(clients);
            return list;
        }
        // No window manager keeps a client list: the root's children are the programs' windows.
        for (Window w : Children(root)) list.push_back(w);
        return list;
    }

    std::vector<TWindowHandle> Descendants(TWindowHandle parent) override {
        std::vector<TWindowHandle> list;
        AddDescendants(static_cast<Window>(parent), list, 0);
        return list;
    }

    std::optional<TWindowFacts> Facts(TWindowHandle handle) override {
        const Window window = static_cast<Window>(handle);
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display_, window, &attributes)) return std::nullopt;
        TWindowFacts facts;
        XClassHint hint{};
        if (XGetClassHint(display_, window, &hint)) {
            if (hint.res_name) facts.Instance = hint.res_name;
            if (hint.res_class) facts.Class = hint.res_class;
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        facts.Title = Title(window);
        unsigned long count = 0;
        if (auto* pid = Property<unsigned long>(window, Intern("_NET_WM_PID"), XA_CARDINAL, count)) {
            if (count > 0) facts.ProcessId = static_cast<std::int64_t>(pid[0]);
            XFree(pid);
        }
        return facts;
    }

    bool Activate(TWindowHandle handle) override {
        const Window window = static_cast<Window>(handle);
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display_, window, &attributes)) return false;
        if (WindowManagerRuns()) {
            // The window manager restores an iconified window it is asked to activate; 2 says the
            // request comes from a pager, which it honours without focus-stealing rules.
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = window;
            event.xclient.message_type = Intern("_NET_ACTIVE_WINDOW");
            event.xclient.format = 32;
            event.xclient.data.l[0] = 2;
            event.xclient.data.l[1] = CurrentTime;
            XSendEvent(display_, DefaultRootWindow(display_), False,
                       SubstructureRedirectMask | SubstructureNotifyMask, &event);
        } else {
            XMapRaised(display_, window);
            XSync(display_, False);
            if (Viewable(window)) XSetInputFocus(display_, window, RevertToParent, CurrentTime);
        }
        XSync(display_, False);
        return true;
    }

    std::optional<TWindowRect> Rect(TWindowHandle handle) override {
        const Window window = static_cast<Window>(handle);
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display_, window, &attributes)) return std::nullopt;
        int x = 0, y = 0;
        Window child;
        XTranslateCoordinates(display_, window, attributes.root, 0, 0, &x, &y, &child);
        // The frame the window manager drew around it belongs to the window as the user sees it.
        long left = 0, right = 0, top = 0, bottom = 0;
        unsigned long count = 0;
        if (auto* extents = Property<unsigned long>(window, Intern("_NET_FRAME_EXTENTS"), XA_CARDINAL, count)) {
            if (count == 4) {
                left = static_cast<long>(extents[0]);
                right = static_cast<long>(extents[1]);
                top = static_cast<long>(extents[2]);
                bottom = static_cast<long>(extents[3]);
            }
            XFree(extents);
        }
        return TWindowRect{x - static_cast<int>(left), y - static_cast<int>(top),
                           attributes.width + static_cast<int>(left + right),
                           attributes.height + static_cast<int>(top + bottom)};
    }

    bool Move(TWindowHandle handle, int left, int top) override {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display_, static_cast<Window>(handle), &attributes)) return false;
        XMoveWindow(display_, static_cast<Window>(handle), left, top);
        XSync(display_, False);
        return true;
    }

    bool ClickMenu(TWindowHandle window, const std::string& menu, const std::string& item) override {
        const std::optional<TWindowFacts> facts = Facts(window);
        return facts && facts->ProcessId > 0 && AtSpiClickMenu(facts->ProcessId, menu, item);
    }

    TKeySink& Keyboard() override { return keyboard_; }

private:
    ::Atom Intern(const char* name) { return XInternAtom(display_, name, False); }

    // The property's items (freed by the caller with XFree), or nullptr.
    template <class T> T* Property(Window window, ::Atom property, ::Atom type, unsigned long& count) {
        ::Atom actualType = None;
        int format = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        count = 0;
        if (XGetWindowProperty(display_, window, property, 0, 1 << 16, False, type, &actualType, &format, &count,
                               &after, &data) != Success)
            return nullptr;
        if (actualType != type || !data) {
            if (data) XFree(data);
            count = 0;
            return nullptr;
        }
        return reinterpret_cast<T*>(data);
    }

    std::string Title(Window window) {
        unsigned long count = 0;
        if (auto* name = Property<char>(window, Intern("_NET_WM_NAME"), Intern("UTF8_STRING"), count)) {
            std::string title(name, count);
            XFree(name);
            return title;
        }
        XTextProperty text{};
        std::string title;
        if (XGetWMName(display_, window, &text) && text.value) {
            char** list = nullptr;
            int n = 0;
            if (Xutf8TextPropertyToTextList(display_, &text, &list, &n) >= Success && list) {
                if (n > 0 && list[0]) title = list[0];
                XFreeStringList(list);
            }
            XFree(text.value);
        }
        return title;
    }

    std::vector<Window> Children(Window parent) {
        Window root = 0, up = 0;
        Window* children = nullptr;
        unsigned int n = 0;
        std::vector<Window> list;
        if (XQueryTree(display_, parent, &root, &up, &children, &n) && children) {
            list.assign(children, children + n);
            XFree(children);
        }
        return list;
    }

    void AddDescendants(Window parent, std::vector<TWindowHandle>& list, int depth) {
        if (depth > 64) return; // a tree is never this deep; a loop would be
        for (Window w : Children(parent)) {
            list.push_back(w);
            AddDescendants(w, list, depth + 1);
        }
    }

    bool WindowManagerRuns() {
        unsigned long count = 0;
        auto* check = Property<Window>(DefaultRootWindow(display_), Intern("_NET_SUPPORTING_WM_CHECK"), XA_WINDOW, count);
        const bool runs = check && count > 0;
        if (check) XFree(check);
        return runs;
    }

    bool Viewable(Window window) {
        XWindowAttributes attributes;
        return XGetWindowAttributes(display_, window, &attributes) && attributes.map_state == IsViewable;
    }

    Display* display_;
    TXTestKeyboard keyboard_;
};

} // namespace

std::unique_ptr<TWindowSystem> X11WindowSystem(const std::string& displayName) {
    Display* display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (!display) return nullptr;
    return std::make_unique<TX11Windows>(display);
}

} // namespace dm
