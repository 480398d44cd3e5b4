// Pieces every desktop backend (X11, Wayland) shares: the keysyms behind
// the Windows virtual-key codes that hotkeys and keystroke strings use, and
// the local processes behind windows and editors. Plain C++.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace morvantile {

// The X keysym (the same numbers in Xlib and xkbcommon) of a Windows
// virtual-key code: letters as lower case, digits, keypad, F1-F24, cursor
// and editing keys, modifiers (0x10/0x11/0x12 the left ones). 0 when the
// code has no key.
std::uint32_t vk_keysym(std::uint8_t vk);

// The keysym a byte of text types (Latin-1); 0 for control bytes without
// a key of their own (Backspace, Tab, Return and Escape have one).
std::uint32_t char_keysym(unsigned char c);

// The names hotkey texts give the modifier keys themselves ("Shift",
// "Ctrl", "Alt", for the left, right and either key); empty for any other.
std::string modifier_key_name(std::uint8_t vk);

// Full path of the program file a local process runs (from /proc), without
// the " (deleted)" of a file replaced while it runs; empty when unknown.
std::string process_program_file_of(std::int64_t pid);

// Full, resolved path of the regular, executable file `name` starts: on
// PATH when it has no "/"; empty when not found.
std::string resolve_program(std::string_view name);

// Latin-1 bytes (the text X11 and keymaps name characters in) as UTF-8.
std::string latin1_to_utf8(std::string_view text);

// Milliseconds from a monotonic clock.
std::uint64_t monotonic_ms();

}  // namespace morvantile
