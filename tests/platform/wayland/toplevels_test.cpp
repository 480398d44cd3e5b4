#include "platform/wayland/toplevels.h"

#include <gtest/gtest.h>

#include "platform/wayland/wayland_desktop.h"

namespace morvantile::platform {
namespace {

WindowId introduce(ToplevelTable& table, std::string_view title, std::string_view app_id, bool activated) {
    const WindowId id = table.add();
    table.set_title(id, title);
    table.set_app_id(id, app_id);
    table.set_state(id, activated, false);
    table.done(id);
    return id;
}

TEST(WaylandToplevels, AWindowCountsFromItsFirstDoneWithAllItsDetails) {
    ToplevelTable table;
    const WindowId id = table.add();
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, kFocusedWindow);
    table.set_title(id, "Untitled 1 - gedit");
    table.set_app_id(id, "org.gnome.gedit");
    table.set_state(id, true, false);
    EXPECT_EQ(table.find(id), nullptr);
    EXPECT_TRUE(table.windows().empty());
    EXPECT_EQ(table.active(), 0u);

    table.done(id);
    ASSERT_NE(table.find(id), nullptr);
    EXPECT_EQ(table.find(id)->title, "Untitled 1 - gedit");
    EXPECT_EQ(table.find(id)->app_id, "org.gnome.gedit");
    EXPECT_EQ(table.active(), id);

    // A retitle is seen only together with its done.
    table.set_title(id, "*Untitled 1 - gedit");
    EXPECT_EQ(table.find(id)->title, "Untitled 1 - gedit");
    table.done(id);
    EXPECT_EQ(table.find(id)->title, "*Untitled 1 - gedit");
}

TEST(WaylandToplevels, TheActiveWindowFollowsActivationAndClosing) {
    ToplevelTable table;
    const WindowId editor = introduce(table, "notes.txt", "featherpad", true);
    const WindowId terminal = introduce(table, "~", "foot", false);
    EXPECT_EQ(table.active(), editor);
    EXPECT_EQ(table.windows(), (std::vector<WindowId>{editor, terminal}));

    // The compositor tells the new window first, the old one after.
    table.set_state(terminal, true, false);
    table.done(terminal);
    EXPECT_EQ(table.active(), terminal);
    table.set_state(editor, false, false);
    table.done(editor);
    EXPECT_EQ(table.active(), terminal);

    // Two windows claiming activation (two seats): the latest wins, and a
    // done without a change does not make the other one newer.
    table.set_state(editor, true, false);
    table.done(editor);
    EXPECT_EQ(table.active(), editor);
    table.done(terminal);
    EXPECT_EQ(table.active(), editor);

    table.closed(editor);
    EXPECT_EQ(table.find(editor), nullptr);
    EXPECT_EQ(table.active(), terminal);
    EXPECT_EQ(table.windows(), (std::vector<WindowId>{terminal}));

    // Ids are not reused, and events for a closed window change nothing.
    const WindowId next = table.add();
    EXPECT_GT(next, editor);
    table.set_title(editor, "ghost");
    table.done(editor);
    EXPECT_EQ(table.find(editor), nullptr);
}

TEST(WaylandToplevels, MinimizedStateIsKept) {
    ToplevelTable table;
    const WindowId id = introduce(table, "a", "b", false);
    table.set_state(id, false, true);
    table.done(id);
    EXPECT_TRUE(table.find(id)->minimized);
    EXPECT_FALSE(table.find(id)->activated);
}

TEST(WaylandToplevels, OwnWindowsAreKnownByApplicationId) {
    Toplevel own{.title = "Morvantile: enter password", .app_id = "morvantile"};
    EXPECT_TRUE(own_app(own));
    own.app_id = "Morvantile";
    EXPECT_TRUE(own_app(own));
    // Another program that only mentions the name is not ours.
    const Toplevel other{.title = "morvantile - notes", .app_id = "org.gnome.gedit"};
    EXPECT_FALSE(own_app(other));
}

}  // namespace
}  // namespace morvantile::platform
