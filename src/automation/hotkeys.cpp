#include "automation/hotkeys.h"

#include <algorithm>
#include <array>

#include "config/ascii.h"
#include "config/settings.h"
#include "textcrypt/error_reporter.h"

namespace morvantile {

namespace {

// Names fixed by the program rather than by the keyboard layout, so that a
// stored hotkey text means the same key on every machine.
std::string fixed_key_name(std::uint8_t vk) {
    switch (vk) {
        case 0x08: return "BkSp";
        case 0x09: return "Tab";
        case 0x0D: return "Enter";
        case 0x1B: return "Esc";
        case 0x2D: return "Ins";
        case 0x2E: return "Del";
        default: break;
    }
    static constexpr std::array<const char*, 9> kNavigation = {"Space", "PgUp", "PgDn", "End", "Home",
                                                                "Left",  "Up",   "Right", "Down"};
    if (vk >= 0x20 && vk <= 0x28) return kNavigation[vk - 0x20];
    if (vk >= 0x30 && vk <= 0x39) return std::string(1, static_cast<char>('0' + (vk - 0x30)));
    if (vk >= 0x41 && vk <= 0x5A) return std::string(1, static_cast<char>('A' + (vk - 0x41)));
    // The keypad digits carry the same names as the main row, so a typed
    // digit always parses to the main-row key, which is found first.
    if (vk >= 0x60 && vk <= 0x69) return std::string(1, static_cast<char>('0' + (vk - 0x60)));
    if (vk >= 0x70 && vk <= 0x87) return "F" + std::to_string(vk - 0x70 + 1);
    return {};
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equal_ignoring_case(text.substr(0, prefix.size()), prefix);
}

struct HotKeyField {
    const std::string& text;
    std::uint16_t& parsed;
    std::string_view invalid;
    std::string_view taken;
};

constexpr std::string_view kEncryptTaken = "Auto-encrypt hotkey already taken. Please change.";
constexpr std::string_view kDecryptTaken = "Auto-decrypt hotkey already taken. Please change.";
constexpr std::string_view kOptionsTaken = "Options hotkey already taken. Please change.";
constexpr std::string_view kExitTaken = "Exit hotkey already taken. Please change.";

}  // namespace

unsigned shortcut_modifiers(TShortCut shortcut) {
    unsigned modifiers = 0;
    if (shortcut & kShortCutAlt) modifiers |= MOD_ALT;
    if (shortcut & kShortCutCtrl) modifiers |= MOD_CONTROL;
    if (shortcut & kShortCutShift) modifiers |= MOD_SHIFT;
    return modifiers;
}

std::uint8_t shortcut_key(TShortCut shortcut) { return static_cast<std::uint8_t>(shortcut & 0xFF); }

TShortCut shortcut_from(unsigned modifiers, std::uint8_t vk) {
    TShortCut shortcut = vk;
    if (modifiers & MOD_SHIFT) shortcut |= kShortCutShift;
    if (modifiers & MOD_CONTROL) shortcut |= kShortCutCtrl;
    if (modifiers & MOD_ALT) shortcut |= kShortCutAlt;
    return shortcut;
}

std::string keyname(TShortCut shortcut, KeyNames& names) {
    const std::uint8_t vk = shortcut_key(shortcut);
    std::string name = fixed_key_name(vk);
    if (name.empty()) name = names.layout_key_name(vk);
    if (name.empty()) return {};
    std::string result;
    if (shortcut & kShortCutShift) result += "Shift+";
    if (shortcut & kShortCutCtrl) result += "Ctrl+";
    if (shortcut & kShortCutAlt) result += "Alt+";
    return result + name;
}

TShortCut parsehotkeytext(std::string_view text, KeyNames& names) {
    static constexpr std::array<std::pair<std::string_view, TShortCut>, 4> kPrefixes = {{
        {"Shift+", kShortCutShift},
        {"^", kShortCutCtrl},
        {"Ctrl+", kShortCutCtrl},
        {"Alt+", kShortCutAlt},
    }};
    TShortCut modifiers = 0;
    for (bool matched = true; matched;) {
        matched = false;
        for (const auto& [prefix, bit] : kPrefixes) {
            if (starts_with_ignoring_case(text, prefix)) {
                modifiers |= bit;
                text.remove_prefix(prefix.size());
                matched = true;
                break;
            }
        }
    }
    if (text.empty()) return 0;
    // Whatever is left is a single key; blanks are part of the text, so
    // "ctrl + f12" names no key.
    for (unsigned code = 8; code <= 255; ++code) {
        const std::string name = keyname(static_cast<TShortCut>(code), names);
        if (!name.empty() && equal_ignoring_case(name, text)) return static_cast<TShortCut>(modifiers | code);
    }
    return 0;
}

THotKeyManager::THotKeyManager(HotKeySystem& system) : system_(system) {
    system_.set_hotkey_handler([this](Id id, unsigned modifiers, std::uint8_t vk) { hotkey_message(id, modifiers, vk); });
}

THotKeyManager::~THotKeyManager() {
    clearshortcuts();
    system_.set_hotkey_handler({});
}

THotKeyManager::Id THotKeyManager::addshortcut(TShortCut shortcut) {
    const Id id = system_.add_atom("HotKeyManagerHotKey" + std::to_string(static_cast<unsigned>(shortcut)));
    if (id == 0) return 0;
    if (!system_.register_hotkey(id, shortcut_modifiers(shortcut), shortcut_key(shortcut))) {
        // A refused combination must not keep its name alive on the desktop.
        system_.delete_atom(id);
        return 0;
    }
    entries_.push_back({shortcut, id});
    return id;
}

bool THotKeyManager::shortcutavailable(TShortCut shortcut) {
    const Id id = system_.add_atom("HotKeyManagerHotKeyTest");
    if (id == 0) return false;
    const bool available = system_.register_hotkey(id, shortcut_modifiers(shortcut), shortcut_key(shortcut));
    if (available) system_.unregister_hotkey(id);
    system_.delete_atom(id);
    return available;
}

bool THotKeyManager::removeshortcut(const HotKeyEntry& entry) {
    // `entry` may live in entries_ itself.
    const HotKeyEntry removed = entry;
    const bool unregistered = system_.unregister_hotkey(removed.id);
    system_.delete_atom(removed.id);
    if (unregistered) {
        auto it = std::find_if(entries_.begin(), entries_.end(), [&](const HotKeyEntry& e) {
            return e.shortcut == removed.shortcut && e.id == removed.id;
        });
        if (it != entries_.end()) entries_.erase(it);
    }
    return unregistered;
}

void THotKeyManager::clearshortcuts() {
    // An entry the desktop will not release is dropped all the same: the
    // list then starts empty for the next registration pass.
    while (!entries_.empty()) {
        const HotKeyEntry last = entries_.back();
        entries_.pop_back();
        removeshortcut(last);
    }
}

void THotKeyManager::hotkey_message(Id id, unsigned modifiers, std::uint8_t vk) {
    if (!OnHotKeyPressed) return;
    const TShortCut shortcut = shortcut_from(modifiers, vk);
    const bool ours = std::any_of(entries_.begin(), entries_.end(),
                                  [&](const HotKeyEntry& e) { return e.shortcut == shortcut; });
    if (!ours) return;
    // The handler may reassign OnHotKeyPressed (a new registration pass
    // from the options dialog), so it runs from a copy.
    const auto handler = OnHotKeyPressed;
    handler(shortcut, id);
}

bool registerhotkeys(const Settings& settings, RuntimeState& runtime, THotKeyManager& manager,
                     ErrorReporter& errors) {
    const std::array<HotKeyField, 4> fields = {{
        {settings.AutoEncryptHotKeyString, runtime.EncryptShortCut, "Invalid Auto-encrypt hotkey. Please correct.",
         kEncryptTaken},
        {settings.AutoDecryptHotKeyString, runtime.DecryptShortCut, "Invalid Auto-decrypt hotkey. Please correct.",
         kDecryptTaken},
        {settings.OptionsHotKeyString, runtime.OptionsShortCut, "Invalid Options hotkey. Please correct.",
         kOptionsTaken},
        {settings.ExitHotKeyString, runtime.ExitShortCut, "Invalid Exit hotkey. Please correct.", kExitTaken},
    }};
    for (const HotKeyField& f : fields) f.parsed = 0;
    for (const HotKeyField& f : fields) f.parsed = parsehotkeytext(f.text, manager.system());

    bool any = false;
    for (const HotKeyField& f : fields) {
        if (f.parsed == 0) {
            // An empty text switches the hotkey off without a word.
            if (!f.text.empty()) errors.show_error(f.invalid);
        } else if (manager.shortcutavailable(f.parsed)) {
            if (manager.addshortcut(f.parsed) != 0) any = true;
        } else {
            errors.show_error(f.taken);
        }
    }
    return any;
}

HotKeyPurpose hotkey_purpose(const RuntimeState& runtime, TShortCut shortcut) {
    // In the order a press is dispatched, so that a combination set for two
    // purposes means to the desktop what it means to the program.
    if (shortcut == 0) return {};
    if (shortcut == runtime.ExitShortCut) return {"exit", kExitTaken};
    if (shortcut == runtime.OptionsShortCut) return {"options", kOptionsTaken};
    if (shortcut == runtime.EncryptShortCut) return {"encrypt", kEncryptTaken};
    if (shortcut == runtime.DecryptShortCut) return {"decrypt", kDecryptTaken};
    return {};
}

HotKeyCommand hotkey_command(const Settings& settings, const RuntimeState& runtime, TShortCut hotkey,
                             bool request_running) {
    if (request_running || !settings.HotKeysEnabled || hotkey == 0) return HotKeyCommand::Ignore;
    // A file operation sends no keystrokes, and a large file keeps it busy
    // for a while: the program ends once the file work under way is done
    // (its dialogs close as if cancelled).
    if (runtime.OperationBusy && runtime.FileMode && hotkey == runtime.ExitShortCut) return HotKeyCommand::Exit;
    // Options opened, or the program ended, in the middle of a request's
    // keystrokes would leave them to land anywhere.
    if (runtime.OperationBusy) return HotKeyCommand::Ignore;
    if (hotkey == runtime.ExitShortCut) return HotKeyCommand::Exit;
    if (hotkey == runtime.OptionsShortCut) return HotKeyCommand::Options;
    if (hotkey == runtime.EncryptShortCut) return HotKeyCommand::Encrypt;
    if (hotkey == runtime.DecryptShortCut) return HotKeyCommand::Decrypt;
    return HotKeyCommand::Ignore;
}

}  // namespace morvantile
