#include "platform/wayland/keymap.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdlib>

#include "automation/desktop_helpers.h"

namespace morvantile::platform {
namespace {

// Keycodes of the evdev keymap (evdev + 8).
constexpr unsigned kCtrlL = 37, kShiftL = 50, kAltL = 64, kKeyA = 38, kKeyC = 54, kKeyV = 55, kKey1 = 10,
                   kKeyY = 29, kKeyZ = 52, kReturn = 36, kF1 = 67, kHome = 110, kDelete = 119;

std::unique_ptr<KeyboardMap> keymap_for(const char* layout) {
    setenv("XKB_DEFAULT_RULES", "evdev", 1);
    setenv("XKB_DEFAULT_MODEL", "pc105", 1);
    setenv("XKB_DEFAULT_LAYOUT", layout, 1);
    unsetenv("XKB_DEFAULT_VARIANT");
    unsetenv("XKB_DEFAULT_OPTIONS");
    auto map = KeyboardMap::default_keymap();
    unsetenv("XKB_DEFAULT_LAYOUT");
    return map;
}

bool same(KeyStroke a, KeyStroke b) { return a.key == b.key && a.shift == b.shift; }

TEST(WaylandKeymap, VirtualKeysOfTheKeystrokeStringsFindTheirKeys) {
    auto map = keymap_for("us");
    ASSERT_TRUE(map);
    EXPECT_TRUE(same(map->key_for_vk(0x11), {kCtrlL, false}));
    EXPECT_TRUE(same(map->key_for_vk(0x10), {kShiftL, false}));
    EXPECT_TRUE(same(map->key_for_vk(0x12), {kAltL, false}));
    EXPECT_TRUE(same(map->key_for_vk('A'), {kKeyA, false}));
    EXPECT_TRUE(same(map->key_for_vk('C'), {kKeyC, false}));
    EXPECT_TRUE(same(map->key_for_vk('V'), {kKeyV, false}));
    EXPECT_TRUE(same(map->key_for_vk(0x70), {kF1, false}));
    EXPECT_TRUE(same(map->key_for_vk(0x24), {kHome, false}));
    EXPECT_TRUE(same(map->key_for_vk(0x2E), {kDelete, false}));
    EXPECT_TRUE(same(map->key_for_vk(0x0D), {kReturn, false}));
    // No key for a code without a keysym.
    EXPECT_EQ(map->key_for_vk(0xFF).key, 0u);
}

TEST(WaylandKeymap, CharactersNeedShiftOnlyOnTheirShiftedLevel) {
    auto map = keymap_for("us");
    ASSERT_TRUE(map);
    EXPECT_TRUE(same(map->key_for_char('a'), {kKeyA, false}));
    EXPECT_TRUE(same(map->key_for_char('A'), {kKeyA, true}));
    EXPECT_TRUE(same(map->key_for_char('1'), {kKey1, false}));
    EXPECT_TRUE(same(map->key_for_char('!'), {kKey1, true}));
    EXPECT_TRUE(same(map->key_for_char('\n'), {kReturn, false}));
    EXPECT_EQ(map->key_for_char('\x01').key, 0u);
}

TEST(WaylandKeymap, FollowsTheLayoutNotTheKeyPositions) {
    auto german = keymap_for("de");
    ASSERT_TRUE(german);
    // Z and Y trade places on a German keyboard.
    EXPECT_TRUE(same(german->key_for_vk('Z'), {kKeyY, false}));
    EXPECT_TRUE(same(german->key_for_vk('Y'), {kKeyZ, false}));
    // "@" is AltGr+Q there: no key types it with Shift alone.
    EXPECT_EQ(german->key_for_char('@').key, 0u);
    // Latin-1 letters of the layout are found as characters.
    EXPECT_NE(german->key_for_char('\xE4').key, 0u);  // ä

    // Under a layout without Latin letters, the second layout's A key still
    // makes Ctrl+A.
    auto russian = keymap_for("ru,us");
    ASSERT_TRUE(russian);
    EXPECT_TRUE(same(russian->key_for_vk('A'), {kKeyA, false}));
}

TEST(WaylandKeymap, ControlHeldShowsInTheDepressedMaskUntilReleased) {
    auto map = keymap_for("us");
    ASSERT_TRUE(map);
    const ModifierMasks none = map->modifiers();
    EXPECT_EQ(none.depressed, 0u);

    // The keystroke strings start by releasing modifiers never pressed.
    EXPECT_EQ(map->update(kAltL, false), none);
    EXPECT_EQ(map->update(kCtrlL, false), none);

    const ModifierMasks ctrl = map->update(kCtrlL, true);
    EXPECT_NE(ctrl.depressed, 0u);
    EXPECT_TRUE(map->is_down(kCtrlL));
    // A second press counts once: one release frees it.
    EXPECT_EQ(map->update(kCtrlL, true), ctrl);
    EXPECT_EQ(map->update(kKeyA, true), ctrl);
    EXPECT_EQ(map->update(kKeyA, false), ctrl);
    const ModifierMasks both = map->update(kShiftL, true);
    EXPECT_NE(both.depressed, ctrl.depressed);
    EXPECT_EQ(map->update(kShiftL, false), ctrl);
    EXPECT_EQ(map->update(kCtrlL, false), none);
    EXPECT_FALSE(map->is_down(kCtrlL));
    // Keycodes out of range change nothing.
    EXPECT_EQ(map->update(0, true), none);
    EXPECT_EQ(map->update(300, true), none);
    EXPECT_FALSE(map->is_down(300));
}

TEST(WaylandKeymap, TheTextSentToTheCompositorReadsBackAsTheSameKeyboard) {
    auto german = keymap_for("de");
    ASSERT_TRUE(german);
    const std::string text = german->text();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\0');
    auto copy = KeyboardMap::from_text(text);
    ASSERT_TRUE(copy);
    EXPECT_TRUE(same(copy->key_for_vk('Z'), {kKeyY, false}));
    EXPECT_TRUE(same(copy->key_for_vk(0x11), {kCtrlL, false}));
    EXPECT_FALSE(KeyboardMap::from_text("xkb_keymap { nonsense"));
    EXPECT_FALSE(KeyboardMap::from_text(""));
}

TEST(WaylandKeymap, SharedVirtualKeyTableUsesXkbKeysyms) {
    EXPECT_EQ(vk_keysym(0x11), XKB_KEY_Control_L);
    EXPECT_EQ(vk_keysym(0x10), XKB_KEY_Shift_L);
    EXPECT_EQ(vk_keysym(0x12), XKB_KEY_Alt_L);
    EXPECT_EQ(vk_keysym(0xA3), XKB_KEY_Control_R);
    EXPECT_EQ(vk_keysym(0x14), XKB_KEY_Caps_Lock);
    EXPECT_EQ(vk_keysym(0x5B), XKB_KEY_Super_L);
    EXPECT_EQ(vk_keysym(0x24), XKB_KEY_Home);
    EXPECT_EQ(vk_keysym(0x23), XKB_KEY_End);
    EXPECT_EQ(vk_keysym(0x21), XKB_KEY_Prior);
    EXPECT_EQ(vk_keysym(0x22), XKB_KEY_Next);
    EXPECT_EQ(vk_keysym(0x25), XKB_KEY_Left);
    EXPECT_EQ(vk_keysym(0x28), XKB_KEY_Down);
    EXPECT_EQ(vk_keysym(0x2D), XKB_KEY_Insert);
    EXPECT_EQ(vk_keysym(0x2E), XKB_KEY_Delete);
    EXPECT_EQ(vk_keysym(0x70), XKB_KEY_F1);
    EXPECT_EQ(vk_keysym(0x7B), XKB_KEY_F12);
    EXPECT_EQ(vk_keysym(0x60), XKB_KEY_KP_0);
    EXPECT_EQ(vk_keysym(0x6F), XKB_KEY_KP_Divide);
    EXPECT_EQ(vk_keysym(0x90), XKB_KEY_Num_Lock);
    EXPECT_EQ(vk_keysym(0x91), XKB_KEY_Scroll_Lock);
    EXPECT_EQ(vk_keysym(0x2C), XKB_KEY_Print);
    EXPECT_EQ(vk_keysym(0x5D), XKB_KEY_Menu);
    EXPECT_EQ(vk_keysym(0x1B), XKB_KEY_Escape);
    EXPECT_EQ(vk_keysym(0x08), XKB_KEY_BackSpace);
    EXPECT_EQ(vk_keysym('Q'), XKB_KEY_q);
    EXPECT_EQ(vk_keysym('7'), XKB_KEY_7);
    EXPECT_EQ(char_keysym('\t'), XKB_KEY_Tab);
    EXPECT_EQ(char_keysym(0xE9), XKB_KEY_eacute);
}

}  // namespace
}  // namespace morvantile::platform
