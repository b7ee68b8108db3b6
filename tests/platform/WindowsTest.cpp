#include "platform/Windows.h"

#include <gtest/gtest.h>

// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

using namespace dm;

namespace {

// Windows of a test's own, on a connection of its own, as another program would have them.
class TTestWindows {
public:
    TTestWindows() : display_(XOpenDisplay(nullptr)) {}
    ~TTestWindows() {
        if (!display_) return;
        for (Window w : created_) XDestroyWindow(display_, w);
        XCloseDisplay(display_);
    }
    bool Open() const { return display_ != nullptr; }

    Window Create(const std::string& className, const std::string& title, Window parent = 0, long pid = 4242) {
        const bool top = parent == 0;
        if (top) parent = DefaultRootWindow(display_);
        Window w = XCreateSimpleWindow(display_, parent, 10, 10, 200, 100, 0, 0, 0);
        XClassHint hint{const_cast<char*>("stand-in"), const_cast<char*>(className.c_str())};
        XSetClassHint(display_, w, &hint);
        XChangeProperty(display_, w, XInternAtom(display_, "_NET_WM_NAME", False),
                        XInternAtom(display_, "UTF8_STRING", False), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
        XChangeProperty(display_, w, XInternAtom(display_, "_NET_WM_PID", False), XA_CARDINAL, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
        XMapWindow(display_, w);
        XSync(display_, False);
        if (top) created_.push_back(w);
        return w;
    }
    // A title in the old property only, in Latin-1.
    void SetOldTitle(Window w, const std::string& latin1) {
        XDeleteProperty(display_, w, XInternAtom(display_, "_NET_WM_NAME", False));
        XStoreName(display_, w, latin1.c_str());
        XSync(display_, False);
    }
    Display* display() const { return display_; }

private:
    Display* display_;
    std::vector<Window> created_;
};

struct TWindowShape {
    const char* Class;
    const char* Title;
};

} // namespace

class Windows : public ::testing::Test {
protected:
    void SetUp() override {
        if (!ours.Open()) GTEST_SKIP() << "no X display";
        system = X11WindowSystem();
        ASSERT_TRUE(system);
    }
    TTestWindows ours;
    std::unique_ptr<TWindowSystem> system;
};

TEST_F(Windows, QuickBooksWindowIsFoundByExactClassAndTitlePart) {
    struct TCase {
        std::vector<TWindowShape> Windows;
        int Expected; // index of the window found, -1 for none
    };
    const TCase cases[] = {
        {{{"MauiFrame", "Demo Co - QuickBooks Pro"}}, 0},
        {{{"mauiframe", "Demo Co - QuickBooks Pro"}}, -1},
        {{{"MAUIFRAME", "Demo Co - QuickBooks Pro"}}, -1},
        {{{"MauiFrame", "demo co - QUICKBOOKS pro"}}, 0},
        {{{"MauiFrame", "Acme Ltd - QuickBooks Pro 2009"}}, 0},
        {{{"MauiFrame", "QuickBooks Pro 2009"}}, -1},
        {{{"MauiFrame", "Preferences"}, {"MauiForm", "Demo Co - QuickBooks Pro"}}, -1},
        {{{"MauiFrame", "First - QuickBooks"}, {"MauiFrame", "Second - QuickBooks"}}, 1},
        {{{"MauiFrame", "First - QuickBooks"}, {"MauiFrame", "Second - QuickBooks"}, {"MauiFrame", "Other"}}, 1},
    };
    for (const TCase& c : cases) {
        TTestWindows windows;
        std::vector<Window> made;
        for (const TWindowShape& shape : c.Windows) made.push_back(windows.Create(shape.Class, shape.Title));
        TWindowSearch search(*system);
        const TWindowMatch match = search.FindQuickBooksWindow();
        const std::string what = std::string(c.Windows.back().Class) + " " + c.Windows.back().Title;
        if (c.Expected < 0) {
            EXPECT_FALSE(match) << what;
            continue;
        }
        EXPECT_EQ(match.Window, made[static_cast<size_t>(c.Expected)]) << what;
        EXPECT_EQ(match.ProcessId, 4242) << what;
    }
}

TEST_F(Windows, TopWindowTitlePartIsTrimmedAndOptionalAndOldTitlesCount) {
    Window prefs = ours.Create("MauiForm", "Preferences");
    Window old = ours.Create("OldForm", "");
    ours.SetOldTitle(old, "R\xE9glages");
    TWindowSearch search(*system);
    EXPECT_EQ(search.FindTopWindow("MauiForm", "  PREFERENCES ").Window, prefs);
    EXPECT_EQ(search.FindTopWindow("MauiForm", "").Window, prefs);
    EXPECT_EQ(search.FindTopWindow("stand-in", "preferences").Window, prefs); // the instance part
    EXPECT_FALSE(search.FindTopWindow("MauiForm", "Preferences!"));
    EXPECT_EQ(search.FindTopWindow("OldForm", "r\xC3\xA9gl").Window, old);
}

TEST_F(Windows, ChildWindowsAreSearchedAtEveryDepth) {
    Window prefs = ours.Create("MauiForm", "Preferences");
    Window page = ours.Create("MauiPanel", "Integrated Applications", prefs);
    Window box = ours.Create("MauiCheckBox", "Don't allow any application whose certificate has expired", page);
    ours.Create("MauiCheckBox", "Show this later", page);
    ours.Create("MauiButton", "application whose certificate", prefs);
    Window elsewhere = ours.Create("MauiForm", "Other");
    ours.Create("MauiCheckBox", "application whose certificate", elsewhere);

    TWindowSearch search(*system);
    EXPECT_EQ(search.FindChildWindow(prefs, "MauiCheckBox", "Application Whose Certificate").Window, box);
    EXPECT_FALSE(search.FindChildWindow(prefs, "MauiCheckBox", "no such text"));
    EXPECT_FALSE(search.FindChildWindow(page, "MauiPanel", ""));
    EXPECT_FALSE(search.FindChildWindow(0, "MauiCheckBox", ""));
}

TEST_F(Windows, MovesRaisesAndFocusesAnotherProgramsWindow) {
    Window qb = ours.Create("MauiFrame", "Demo Co - QuickBooks Pro");
    ours.Create("Cover", "on top");
    ASSERT_TRUE(system->Move(qb, 140, 0));
    const std::optional<TWindowRect> rect = system->Rect(qb);
    ASSERT_TRUE(rect);
    EXPECT_EQ(rect->Left, 140);
    EXPECT_EQ(rect->Top, 0);
    EXPECT_EQ(rect->Width, 200);
    EXPECT_EQ(rect->Bottom(), 100);

    XUnmapWindow(ours.display(), qb); // as if minimised where no window manager keeps icons
    XSync(ours.display(), False);
    TWindowSearch search(*system);
    EXPECT_TRUE(search.ActivateQuickBooks());
    XWindowAttributes attributes;
    XGetWindowAttributes(ours.display(), qb, &attributes);
    EXPECT_EQ(attributes.map_state, IsViewable);
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(ours.display(), &focus, &revert);
    EXPECT_EQ(focus, qb);
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    XQueryTree(ours.display(), DefaultRootWindow(ours.display()), &root, &parent, &children, &n);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(children[n - 1], qb); // on top of the stack
    XFree(children);
}

TEST_F(Windows, GoneWindowsAndMissingProgramsAreNotFound) {
    Window gone = ours.Create("MauiFrame", "Gone - QuickBooks");
    XDestroyWindow(ours.display(), gone);
    XSync(ours.display(), False);
    EXPECT_FALSE(system->Facts(gone));
    EXPECT_FALSE(system->Rect(gone));
    EXPECT_FALSE(system->Move(gone, 0, 0));
    EXPECT_FALSE(system->Activate(gone));
    TWindowSearch search(*system);
    EXPECT_FALSE(search.ActivateQuickBooks());
    EXPECT_FALSE(search.ClickQuickBooksMenu("Edit", "Preferences..."));

    std::unique_ptr<TWindowSystem> none = NoWindowSystem();
    TWindowSearch nothing(*none);
    EXPECT_FALSE(nothing.FindTopWindow("MauiFrame", ""));
}

TEST_F(Windows, MenuOfAProgramWithoutAnAccessibilityBusIsNotPressed) {
    // Nothing answers at this address: the menu is out of reach, and the call says so.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
    unsetenv("AT_SPI_BUS_ADDRESS");
    Window qb = ours.Create("MauiFrame", "Demo Co - QuickBooks Pro");
    EXPECT_FALSE(system->ClickMenu(qb, "Edit", "Preferences..."));
    TWindowSearch search(*system);
    EXPECT_FALSE(search.ClickQuickBooksMenu("Edit", "Preferences..."));
}

TEST(MenuCaptions, AreComparedNormalised) {
    const std::pair<const char*, const char*> cases[] = {
        {"&File", "file"},
        {"Open\tCtrl+O", "open"},
        {"  E&dit  ", "edit"},
        {"Save &As...&", "save as...&"},
        {"&&Jobs", "&jobs"},
        {"Pr\xC3\x89" "f\xC3\xA9rences", "pr\xC3\xA9" "f\xC3\xA9rences"},
        {"\tHidden", ""},
    };
    for (const auto& [caption, key] : cases) EXPECT_EQ(MenuCaptionKey(caption), key) << caption;
}
