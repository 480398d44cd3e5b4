// e2e-wlkeys: key chords for the Wayland end-to-end tests, pressed through
// a virtual keyboard of the test's own with an ordinary keymap (evdev, pc105,
// us): the modifier keys go down and up as real keys and the modifier state
// follows them, as a hardware keyboard's does.
//   e2e-wlkeys CHORD...    CHORD: "ctrl+a", "alt+c", "ctrl+shift+F12", "Return"
// wtype types text well, but its keymaps hold no modifier keys, only a
// modifier mask, and GTK 3 clients take no shortcut from it.
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace {

wl_seat* seat = nullptr;
zwp_virtual_keyboard_manager_v1* manager = nullptr;

void global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && seat == nullptr)
        seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
        manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
}
void global_remove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener registry_listener = {global, global_remove};

uint32_t now_ms() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string keysym_name(const std::string& word) {
    if (word == "ctrl") return "Control_L";
    if (word == "shift") return "Shift_L";
    if (word == "alt") return "Alt_L";
    if (word == "super") return "Super_L";
    return word;
}

// The keycode whose first level gives the keysym; 0 when none does.
xkb_keycode_t keycode_of(xkb_keymap* keymap, xkb_keysym_t sym) {
    for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap); code <= xkb_keymap_max_keycode(keymap); ++code) {
        const xkb_keysym_t* syms = nullptr;
        const int n = xkb_keymap_key_get_syms_by_level(keymap, code, 0, 0, &syms);
        for (int i = 0; i < n; ++i)
            if (syms[i] == sym) return code;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CHORD...  (ctrl+a, alt+c, ctrl+shift+F12, Return)\n", argv[0]);
        return 2;
    }
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const xkb_rule_names names = {"evdev", "pc105", "us", "", ""};
    xkb_keymap* keymap = context ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
    if (keymap == nullptr) {
        std::fprintf(stderr, "e2e-wlkeys: no us keymap (xkeyboard-config)\n");
        return 1;
    }
    // Every chord is looked up before anything is pressed.
    std::vector<std::vector<xkb_keycode_t>> chords;
    for (int i = 1; i < argc; ++i) {
        std::vector<xkb_keycode_t> codes;
        std::string chord = argv[i];
        for (size_t start = 0; start <= chord.size();) {
            size_t end = chord.find('+', start + 1);  // a lone "+" is the key itself
            if (end == std::string::npos) end = chord.size();
            const std::string name = keysym_name(chord.substr(start, end - start));
            xkb_keysym_t sym = xkb_keysym_from_name(name.c_str(), XKB_KEYSYM_NO_FLAGS);
            if (sym == XKB_KEY_NoSymbol) sym = xkb_keysym_from_name(name.c_str(), XKB_KEYSYM_CASE_INSENSITIVE);
            const xkb_keycode_t code = sym == XKB_KEY_NoSymbol ? 0 : keycode_of(keymap, sym);
            if (code == 0) {
                std::fprintf(stderr, "e2e-wlkeys: no key for %s in %s\n", name.c_str(), argv[i]);
                return 2;
            }
            codes.push_back(code);
            start = end + 1;
        }
        chords.push_back(codes);
    }

    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "e2e-wlkeys: no Wayland display\n");
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, nullptr);
    wl_display_roundtrip(display);
    if (seat == nullptr || manager == nullptr) {
        std::fprintf(stderr, "e2e-wlkeys: the compositor offers no %s\n", seat ? "virtual keyboard" : "seat");
        return 1;
    }
    zwp_virtual_keyboard_v1* keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager, seat);

    char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    const size_t size = std::strlen(text) + 1;
    const int fd = memfd_create("e2e-wlkeys-keymap", MFD_CLOEXEC);
    if (fd < 0 || write(fd, text, size) != static_cast<ssize_t>(size)) {
        std::perror("e2e-wlkeys: keymap");
        return 1;
    }
    std::free(text);
    zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, static_cast<uint32_t>(size));
    wl_display_roundtrip(display);
    close(fd);
    // Clients get the keymap with the first key; give them a moment for it.
    pause_ms(60);

    xkb_state* state = xkb_state_new(keymap);
    auto send = [&](xkb_keycode_t code, bool down) {
        xkb_state_update_key(state, code, down ? XKB_KEY_DOWN : XKB_KEY_UP);
        zwp_virtual_keyboard_v1_key(keyboard, now_ms(), code - 8,
                                    down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        zwp_virtual_keyboard_v1_modifiers(keyboard, xkb_state_serialize_mods(state, XKB_STATE_MODS_DEPRESSED),
                                          xkb_state_serialize_mods(state, XKB_STATE_MODS_LATCHED),
                                          xkb_state_serialize_mods(state, XKB_STATE_MODS_LOCKED),
                                          xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE));
        wl_display_flush(display);
        pause_ms(15);
    };
    for (const std::vector<xkb_keycode_t>& codes : chords) {
        for (xkb_keycode_t code : codes) send(code, true);
        for (auto it = codes.rbegin(); it != codes.rend(); ++it) send(*it, false);
        pause_ms(25);
    }
    wl_display_roundtrip(display);
    zwp_virtual_keyboard_v1_destroy(keyboard);
    zwp_virtual_keyboard_manager_v1_destroy(manager);
    wl_seat_destroy(seat);
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    xkb_state_unref(state);
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    wl_display_disconnect(display);
    return 0;
}
