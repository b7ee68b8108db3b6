#include "platform/AtSpiMenu.h"

#include "core/General.h"
#include "platform/Windows.h"

#include <atspi/atspi.h>

#include <functional>

namespace dm {

namespace {

// An accessible object that is released when it goes out of scope.
class TAccessible {
public:
    explicit TAccessible(AtspiAccessible* object = nullptr) : object_(object) {}
    TAccessible(TAccessible&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    TAccessible& operator=(TAccessible&& other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    TAccessible(const TAccessible&) = delete;
    TAccessible& operator=(const TAccessible&) = delete;
    ~TAccessible() {
        if (object_) g_object_unref(object_);
    }
    explicit operator bool() const { return object_ != nullptr; }
    AtspiAccessible* get() const { return object_; }

    int ChildCount() const {
        GError* error = nullptr;
        const int n = atspi_accessible_get_child_count(object_, &error);
        return Failed(error) ? 0 : n;
    }
    TAccessible Child(int index) const {
        GError* error = nullptr;
        AtspiAccessible* child = atspi_accessible_get_child_at_index(object_, index, &error);
        Failed(error);
        return TAccessible(child);
    }
    AtspiRole Role() const {
        GError* error = nullptr;
        const AtspiRole role = atspi_accessible_get_role(object_, &error);
        return Failed(error) ? ATSPI_ROLE_INVALID : role;
    }
    std::string Name() const {
        GError* error = nullptr;
        gchar* name = atspi_accessible_get_name(object_, &error);
        std::string text = name && !Failed(error) ? name : "";
        g_free(name);
        return text;
    }
    std::int64_t ProcessId() const {
        GError* error = nullptr;
        const guint pid = atspi_accessible_get_process_id(object_, &error);
        return Failed(error) ? 0 : static_cast<std::int64_t>(pid);
    }
    bool DoFirstAction() const {
        AtspiAction* action = atspi_accessible_get_action_iface(object_);
        if (!action) return false;
        GError* error = nullptr;
        const gboolean done = atspi_action_do_action(action, 0, &error);
        g_object_unref(action);
        return !Failed(error) && done;
    }

private:
    static bool Failed(GError* error) {
        if (!error) return false;
        g_error_free(error);
        return true;
    }
    AtspiAccessible* object_;
};

// Reaching the bus at all; libatspi must not be used again once that failed.
bool Connected() {
    static const bool connected = [] {
        if (atspi_init() > 1) return false;
        // A program that hangs must not freeze the agent for the library's default 25 seconds.
        atspi_set_timeout(3000, 5000);
        return true;
    }();
    return connected;
}

TAccessible FindRole(const TAccessible& under, AtspiRole role, int depth) {
    if (depth > 8) return TAccessible();
    const int n = under.ChildCount();
    for (int i = 0; i < n; ++i) {
        TAccessible child = under.Child(i);
        if (!child) continue;
        if (child.Role() == role) return child;
        // Menus hold no menu bar: their items are not searched.
        const AtspiRole r = child.Role();
        if (r == ATSPI_ROLE_MENU || r == ATSPI_ROLE_MENU_ITEM || r == ATSPI_ROLE_POPUP_MENU) continue;
        if (TAccessible found = FindRole(child, role, depth + 1)) return found;
    }
    return TAccessible();
}

bool IsTextItem(const TAccessible& item) {
    const AtspiRole role = item.Role();
    return role != ATSPI_ROLE_SEPARATOR && role != ATSPI_ROLE_INVALID;
}

// The first text item among the children whose caption is the key.
TAccessible ItemNamed(const TAccessible& container, const std::string& key) {
    const int n = container.ChildCount();
    for (int i = 0; i < n; ++i) {
        TAccessible item = container.Child(i);
        if (item && IsTextItem(item) && MenuCaptionKey(item.Name()) == key) return item;
    }
    return TAccessible();
}

// The items of a menu bar entry: toolkits put them either right under the entry or under a
// menu object that is its only child.
TAccessible SubmenuOf(TAccessible entry) {
    if (entry.ChildCount() == 1) {
        TAccessible only = entry.Child(0);
        if (only && (only.Role() == ATSPI_ROLE_MENU || only.Role() == ATSPI_ROLE_POPUP_MENU)) return only;
    }
    return entry;
}

std::string QueryKey(const std::string& caption) { return ToLowerAscii(TrimBlanks(caption)); }

} // namespace

bool AtSpiClickMenu(std::int64_t processId, const std::string& menu, const std::string& item) {
    if (!Connected()) return false;
    const std::string menuKey = QueryKey(menu), itemKey = QueryKey(item);
    TAccessible desktop(atspi_get_desktop(0));
    if (!desktop) return false;
    const int n = desktop.ChildCount();
    for (int i = 0; i < n; ++i) {
        TAccessible app = desktop.Child(i);
        if (!app || app.ProcessId() != processId) continue;
        TAccessible bar = FindRole(app, ATSPI_ROLE_MENU_BAR, 0);
        if (!bar) continue;
        TAccessible entry = ItemNamed(bar, menuKey);
        if (!entry) return false;
        TAccessible command = ItemNamed(SubmenuOf(std::move(entry)), itemKey);
        return command && command.DoFirstAction();
    }
    return false;
}

} // namespace dm
