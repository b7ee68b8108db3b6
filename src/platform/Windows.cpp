#include "platform/Windows.h"

#include "core/General.h"

#include <QString>

#include <cstdlib>

namespace dm {

const char* const QuickBooksWindowClass = "MauiFrame";
const char* const QuickBooksTitlePart = "- QuickBooks";

namespace {

class TNoKeyboard : public TKeySink {
public:
    bool Key(int, bool) override { return false; }
    bool Character(char32_t, bool) override { return false; }
    void ToggleNumLock() override {}
};

class TNoWindows : public TWindowSystem {
public:
    std::vector<TWindowHandle> TopWindows() override { return {}; }
    std::vector<TWindowHandle> Descendants(TWindowHandle) override { return {}; }
    std::optional<TWindowFacts> Facts(TWindowHandle) override { return std::nullopt; }
    bool Activate(TWindowHandle) override { return false; }
    std::optional<TWindowRect> Rect(TWindowHandle) override { return std::nullopt; }
    bool Move(TWindowHandle, int, int) override { return false; }
    bool ClickMenu(TWindowHandle, const std::string&, const std::string&) override { return false; }
    TKeySink& Keyboard() override { return keyboard_; }

private:
    TNoKeyboard keyboard_;
};

std::string LowerText(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).toLower().toStdString();
}

bool IsWaylandSession() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return (wayland && *wayland) || (type && std::string_view(type) == "wayland");
}

} // namespace

std::unique_ptr<TWindowSystem> NoWindowSystem() { return std::make_unique<TNoWindows>(); }

TWindowSystem& DesktopWindows() {
    // Under Wayland an X server may be there for old programs, but the windows of everything
    // else are out of its sight: finding nothing is the honest answer.
    static std::unique_ptr<TWindowSystem> windows = [] {
        std::unique_ptr<TWindowSystem> x11 = IsWaylandSession() ? nullptr : X11WindowSystem();
        return x11 ? std::move(x11) : NoWindowSystem();
    }();
    return *windows;
}

std::string MenuCaptionKey(const std::string& caption) {
    std::string text = caption;
    if (size_t amp = text.find('&'); amp != std::string::npos) text.erase(amp, 1);
    if (size_t tab = text.find('\t'); tab != std::string::npos) text.erase(tab);
    return LowerText(TrimBlanks(text));
}

TWindowMatch TWindowSearch::Search(const std::vector<TWindowHandle>& candidates, const std::string& className,
                                   const std::string& titlePart) {
    const std::string part = LowerText(TrimBlanks(titlePart));
    TWindowMatch last;
    for (TWindowHandle window : candidates) {
        const std::optional<TWindowFacts> facts = windows_.Facts(window);
        if (!facts || (facts->Class != className && facts->Instance != className)) continue;
        if (!part.empty() && LowerText(facts->Title).find(part) == std::string::npos) continue;
        last = {window, facts->ProcessId};
    }
    return last;
}

TWindowMatch TWindowSearch::FindTopWindow(const std::string& className, const std::string& titlePart) {
    return Search(windows_.TopWindows(), className, titlePart);
}

TWindowMatch TWindowSearch::FindChildWindow(TWindowHandle parent, const std::string& className,
                                            const std::string& titlePart) {
    if (!parent) return {};
    return Search(windows_.Descendants(parent), className, titlePart);
}

TWindowMatch TWindowSearch::FindQuickBooksWindow() { return FindTopWindow(QuickBooksWindowClass, QuickBooksTitlePart); }

bool TWindowSearch::ActivateQuickBooks() {
    const TWindowMatch qb = FindQuickBooksWindow();
    if (!qb) return false;
    windows_.Activate(qb.Window);
    return true;
}

bool TWindowSearch::ClickQuickBooksMenu(const std::string& menu, const std::string& item) {
    const TWindowMatch qb = FindQuickBooksWindow();
    return qb && windows_.ClickMenu(qb.Window, menu, item);
}

} // namespace dm
