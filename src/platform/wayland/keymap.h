// The keyboard the virtual keyboard types with: an xkb keymap, the keys
// that type a virtual-key code or a character in it, and the modifier state
// that pressing and releasing its keys leads to. No connection needed, so
// the lookups are tested against xkbcommon's own default keymap.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "automation/automation.h"

struct xkb_context;
struct xkb_keymap;
struct xkb_state;

namespace morvantile::platform {

// The masks a wl_keyboard.modifiers event (and the virtual keyboard's
// modifiers request) carries.
struct ModifierMasks {
    std::uint32_t depressed = 0;
    std::uint32_t latched = 0;
    std::uint32_t locked = 0;
    std::uint32_t group = 0;
    bool operator==(const ModifierMasks&) const = default;
};

class KeyboardMap {
public:
    // A keymap in xkb's text form (as wl_keyboard.keymap hands it out);
    // nullptr when xkbcommon cannot read it.
    static std::unique_ptr<KeyboardMap> from_text(std::string_view text);
    // xkbcommon's default keymap (the XKB_DEFAULT_* environment or "us"):
    // a complete keyboard, for a seat that has none to copy.
    static std::unique_ptr<KeyboardMap> default_keymap();
    ~KeyboardMap();
    KeyboardMap(const KeyboardMap&) = delete;
    KeyboardMap& operator=(const KeyboardMap&) = delete;

    // The keymap as text, NUL-terminated as the compositor wants it.
    std::string text() const;

    // The key (xkb keycode, evdev + 8) that types the keysym in the first
    // layout with no modifier, or with Shift when `shift_allowed`; other
    // layouts after the first, so Ctrl+A has a key under a layout without
    // Latin letters. {0, false} when no key has it.
    KeyStroke key_for_keysym(std::uint32_t keysym, bool shift_allowed) const;
    KeyStroke key_for_vk(std::uint8_t vk) const;
    KeyStroke key_for_char(char c) const;

    // One key transition of the virtual keyboard; the modifier masks the
    // focused program must be told of afterwards.
    ModifierMasks update(unsigned key, bool down);
    ModifierMasks modifiers() const;
    // Whether a key of ours is down now (a release of a key never pressed
    // would otherwise leave xkb's count of held modifiers wrong).
    bool is_down(unsigned key) const;

private:
    KeyboardMap(xkb_context* context, xkb_keymap* keymap);
    // A map from the keymap `compile` makes in a new context; nullptr when
    // any step fails.
    static std::unique_ptr<KeyboardMap> compiled(const std::function<xkb_keymap*(xkb_context*)>& compile);

    xkb_context* context_;
    xkb_keymap* keymap_;
    xkb_state* state_;
    std::uint64_t down_[4] = {};  // keycodes 0-255 that are down
};

}  // namespace morvantile::platform
