// e2e-wlkeys: key chords for the Wayland end-to-end tests, pressed through
// a virtual keyboard of the test's own with an ordinary keymap (evdev, pc105,
// us): the modifier keys go down and up as real keys and the modifier state
// follows them, as a hardware keyboard's does.
//   e2e-wlkeys CHORD...    CHORD: "ctrl+a", "alt+c", "ctrl+shift+F12", "Return"
//   e2e-wlkeys --stream    one key event a line on standard input, kept on
//                          one keyboard whose modifier state lasts from key
//                          to key (the test's desktop portal types with it):
//     keysym SYM STATE     SYM a keysym number (0xffe3 is Control_L), STATE
//                          1 pressed, 0 released; a keysym found only on the
//                          shifted level is pressed with Shift
//     keycode CODE STATE   CODE an evdev key code (the xkb code less 8)
//     release              lets go of every key still down
//   each line is answered with "ok" or "error WHAT"; at the end of the input
//   every key still down is let go.
// wtype types text well, but its keymaps hold no modifier keys, only a
// modifier mask, and GTK 3 clients take no shortcut from it.
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <sstream>
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

// The keycode whose given level (of the first layout) gives the keysym; 0
// when none does.
xkb_keycode_t keycode_of(xkb_keymap* keymap, xkb_keysym_t sym, xkb_level_index_t level = 0) {
    for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap); code <= xkb_keymap_max_keycode(keymap); ++code) {
        const xkb_keysym_t* syms = nullptr;
        const int n = xkb_keymap_key_get_syms_by_level(keymap, code, 0, level, &syms);
        for (int i = 0; i < n; ++i)
            if (syms[i] == sym) return code;
    }
    return 0;
}

// Key events read from standard input until its end (see the top).
int stream(xkb_keymap* keymap, const std::function<void(xkb_keycode_t, bool)>& send) {
    const xkb_keycode_t shift = keycode_of(keymap, XKB_KEY_Shift_L);
    std::map<xkb_keycode_t, int> down;  // key -> how many presses hold it
    std::map<xkb_keysym_t, std::vector<xkb_keycode_t>> held;  // a pressed keysym's keys
    auto press = [&](xkb_keycode_t code) {
        if (down[code]++ == 0) send(code, true);
    };
    auto release = [&](xkb_keycode_t code) {
        auto it = down.find(code);
        if (it == down.end()) return;
        if (--it->second <= 0) {
            down.erase(it);
            send(code, false);
        }
    };
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string kind, number;
        unsigned state_word = 2;
        words >> kind >> number >> state_word;
        std::string answer = "ok";
        if (kind == "release") {
            while (!down.empty()) {
                const xkb_keycode_t code = down.begin()->first;
                down.erase(down.begin());
                send(code, false);
            }
            held.clear();
        } else if ((kind != "keysym" && kind != "keycode") || number.empty() || state_word > 1) {
            answer = "error unreadable line: " + line;
        } else {
            const long value = std::strtol(number.c_str(), nullptr, 0);
            const bool pressed = state_word == 1;
            if (kind == "keycode") {
                const xkb_keycode_t code = static_cast<xkb_keycode_t>(value + 8);
                if (value <= 0 || code > xkb_keymap_max_keycode(keymap))
                    answer = "error no key with the code " + number;
                else if (pressed)
                    press(code);
                else
                    release(code);
            } else {
                const xkb_keysym_t sym = static_cast<xkb_keysym_t>(value);
                if (pressed) {
                    std::vector<xkb_keycode_t> codes;
                    if (const xkb_keycode_t code = keycode_of(keymap, sym); code != 0) {
                        codes = {code};
                    } else if (const xkb_keycode_t shifted = keycode_of(keymap, sym, 1); shifted != 0 && shift != 0) {
                        codes = {shift, shifted};
                    }
                    if (codes.empty()) {
                        answer = "error no key types the keysym " + number;
                    } else {
                        for (xkb_keycode_t code : codes) press(code);
                        auto& keys = held[sym];
                        keys.insert(keys.end(), codes.begin(), codes.end());
                    }
                } else {
                    auto it = held.find(sym);
                    if (it == held.end() || it->second.empty()) {
                        answer = "error the keysym " + number + " is not down";
                    } else {
                        // The keys of its last press, in the reverse order.
                        std::vector<xkb_keycode_t>& keys = it->second;
                        const size_t count = keys.size() >= 2 && keys[keys.size() - 2] == shift ? 2 : 1;
                        for (size_t i = 0; i < count; ++i) {
                            release(keys.back());
                            keys.pop_back();
                        }
                        if (keys.empty()) held.erase(it);
                    }
                }
            }
        }
        std::printf("%s\n", answer.c_str());
        std::fflush(stdout);
    }
    while (!down.empty()) {
        const xkb_keycode_t code = down.begin()->first;
        down.erase(down.begin());
        send(code, false);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CHORD...  (ctrl+a, alt+c, ctrl+shift+F12, Return) | --stream\n", argv[0]);
        return 2;
    }
    const bool streaming = std::strcmp(argv[1], "--stream") == 0;
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const xkb_rule_names names = {"evdev", "pc105", "us", "", ""};
    xkb_keymap* keymap = context ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
    if (keymap == nullptr) {
        std::fprintf(stderr, "e2e-wlkeys: no us keymap (xkeyboard-config)\n");
        return 1;
    }
    // Every chord is looked up before anything is pressed.
    std::vector<std::vector<xkb_keycode_t>> chords;
    for (int i = streaming ? argc : 1; i < argc; ++i) {
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
        if (streaming) {
            wl_display_roundtrip(display);  // in order with what other clients do next
        } else {
            wl_display_flush(display);
            pause_ms(15);
        }
    };
    const int status = streaming ? stream(keymap, send) : 0;
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
    return status;
}
