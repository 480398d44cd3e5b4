#include "platform/wayland/keymap.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdlib>

#include "automation/desktop_helpers.h"

namespace morvantile::platform {

namespace {

constexpr unsigned kMaxKeycode = 255;  // what the down_ bitmap holds

// The modifier combinations (masks) that select a level of a key: level 0
// must be reachable with none held, level 1 with Shift alone.
bool level_reachable(xkb_keymap* keymap, xkb_keycode_t key, xkb_layout_index_t layout, xkb_level_index_t level,
                     xkb_mod_mask_t wanted) {
    xkb_mod_mask_t masks[16];
    const std::size_t count = xkb_keymap_key_get_mods_for_level(keymap, key, layout, level, masks, 16);
    for (std::size_t i = 0; i < count; ++i)
        if (masks[i] == wanted) return true;
    return false;
}

}  // namespace

KeyboardMap::KeyboardMap(xkb_context* context, xkb_keymap* keymap)
    : context_(context), keymap_(keymap), state_(xkb_state_new(keymap)) {}

KeyboardMap::~KeyboardMap() {
    if (state_) xkb_state_unref(state_);
    xkb_keymap_unref(keymap_);
    xkb_context_unref(context_);
}

std::unique_ptr<KeyboardMap> KeyboardMap::compiled(const std::function<xkb_keymap*(xkb_context*)>& compile) {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context) return nullptr;
    xkb_keymap* keymap = compile(context);
    if (!keymap) {
        xkb_context_unref(context);
        return nullptr;
    }
    std::unique_ptr<KeyboardMap> map(new KeyboardMap(context, keymap));
    if (!map->state_) return nullptr;
    return map;
}

std::unique_ptr<KeyboardMap> KeyboardMap::from_text(std::string_view text) {
    // The compositor's copy ends in a NUL that is no part of the text.
    while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
    return compiled([text](xkb_context* context) {
        return xkb_keymap_new_from_buffer(context, text.data(), text.size(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                          XKB_KEYMAP_COMPILE_NO_FLAGS);
    });
}

std::unique_ptr<KeyboardMap> KeyboardMap::default_keymap() {
    return compiled([](xkb_context* context) {
        const xkb_rule_names names{};
        return xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    });
}

std::string KeyboardMap::text() const {
    char* text = xkb_keymap_get_as_string(keymap_, XKB_KEYMAP_FORMAT_TEXT_V1);
    if (!text) return {};
    std::string out(text);
    std::free(text);
    out.push_back('\0');
    return out;
}

KeyStroke KeyboardMap::key_for_keysym(std::uint32_t keysym, bool shift_allowed) const {
    if (keysym == XKB_KEY_NoSymbol) return {};
    const xkb_mod_index_t shift_index = xkb_keymap_mod_get_index(keymap_, XKB_MOD_NAME_SHIFT);
    const xkb_mod_mask_t shift = shift_index == XKB_MOD_INVALID ? 0 : (1u << shift_index);
    const xkb_keycode_t min = xkb_keymap_min_keycode(keymap_);
    const xkb_keycode_t max = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap_), kMaxKeycode);
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts(keymap_);
    for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
        for (xkb_level_index_t level = 0; level < (shift_allowed && shift ? 2u : 1u); ++level) {
            for (xkb_keycode_t key = min; key <= max; ++key) {
                const xkb_keysym_t* syms = nullptr;
                const int count = xkb_keymap_key_get_syms_by_level(keymap_, key, layout, level, &syms);
                if (count != 1 || syms[0] != keysym) continue;
                if (!level_reachable(keymap_, key, layout, level, level == 0 ? 0 : shift)) continue;
                return {key, level == 1};
            }
        }
    }
    return {};
}

KeyStroke KeyboardMap::key_for_vk(std::uint8_t vk) const { return key_for_keysym(vk_keysym(vk), false); }

KeyStroke KeyboardMap::key_for_char(char c) const {
    // Latin-1 bytes and their keysyms share their numbers.
    return key_for_keysym(char_keysym(static_cast<unsigned char>(c)), true);
}

ModifierMasks KeyboardMap::update(unsigned key, bool down) {
    if (key == 0 || key > kMaxKeycode) return modifiers();
    std::uint64_t& word = down_[key / 64];
    const std::uint64_t bit = std::uint64_t{1} << (key % 64);
    // A second press without a release, or a release without a press,
    // would count the key twice, or not at all, in xkb's modifier state.
    if (((word & bit) != 0) == down) return modifiers();
    word ^= bit;
    xkb_state_update_key(state_, key, down ? XKB_KEY_DOWN : XKB_KEY_UP);
    return modifiers();
}

ModifierMasks KeyboardMap::modifiers() const {
    return {xkb_state_serialize_mods(state_, XKB_STATE_MODS_DEPRESSED),
            xkb_state_serialize_mods(state_, XKB_STATE_MODS_LATCHED),
            xkb_state_serialize_mods(state_, XKB_STATE_MODS_LOCKED),
            xkb_state_serialize_layout(state_, XKB_STATE_LAYOUT_EFFECTIVE)};
}

bool KeyboardMap::is_down(unsigned key) const {
    return key != 0 && key <= kMaxKeycode && (down_[key / 64] & (std::uint64_t{1} << (key % 64))) != 0;
}

}  // namespace morvantile::platform
