// The four system-wide hotkeys: the text grammar ("ctrl+shift+f12"), the
// 16-bit TShortCut value, the manager that owns the registrations with the
// desktop, the registration pass with its messages, and which command a
// press stands for. The desktop's grab mechanism sits behind HotKeySystem,
// so all of this runs in tests without a display.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace morvantile {

struct Settings;
struct RuntimeState;
class ErrorReporter;

// Low byte: Windows virtual-key code (kept so that stored values such as
// 49275 mean the same on every build). 0 = no hotkey.
using TShortCut = std::uint16_t;
inline constexpr TShortCut kShortCutShift = 0x2000;
inline constexpr TShortCut kShortCutCtrl = 0x4000;
inline constexpr TShortCut kShortCutAlt = 0x8000;

// Modifier flags as the hotkey system takes them.
inline constexpr unsigned MOD_ALT = 1;
inline constexpr unsigned MOD_CONTROL = 2;
inline constexpr unsigned MOD_SHIFT = 4;

unsigned shortcut_modifiers(TShortCut shortcut);
std::uint8_t shortcut_key(TShortCut shortcut);
TShortCut shortcut_from(unsigned modifiers, std::uint8_t vk);

// The keyboard layout's names for keys outside the fixed table
// (punctuation, Pause, the modifier keys themselves...).
class KeyNames {
public:
    virtual ~KeyNames() = default;
    // Empty when the layout has no such key.
    virtual std::string layout_key_name(std::uint8_t vk) = 0;
};

// "Shift+Ctrl+Alt+" (for the bits set) followed by the key's name; empty
// when the key has no name.
std::string keyname(TShortCut shortcut, KeyNames& names);
// 0 when the text is empty or not valid.
TShortCut parsehotkeytext(std::string_view text, KeyNames& names);

// What a combination of the four hotkeys is for: the id a desktop that
// binds shortcuts by purpose knows it by ("encrypt", "decrypt", "options",
// "exit"), and the message for when that desktop refuses it.
struct HotKeyPurpose {
    std::string id;  // empty: none of the four
    std::string_view taken_message;
};

// The purpose of `shortcut` among RuntimeState's parsed hotkeys.
HotKeyPurpose hotkey_purpose(const RuntimeState& runtime, TShortCut shortcut);

// The desktop's global key grabs.
class HotKeySystem : public KeyNames {
public:
    using Id = std::uint32_t;
    // An id unique to `name`; 0 on failure.
    virtual Id add_atom(std::string_view name) = 0;
    virtual void delete_atom(Id id) = 0;
    // Grabs the combination for the whole desktop under `id`. False when
    // anybody holds it already, this program included (under another id),
    // or when the desktop reserves it for itself.
    virtual bool register_hotkey(Id id, unsigned modifiers, std::uint8_t vk) = 0;
    virtual bool unregister_hotkey(Id id) = 0;
    // Where presses of registered combinations go, on the GUI thread:
    // (id, modifiers, virtual key). An empty function stops delivery.
    virtual void set_hotkey_handler(std::function<void(Id, unsigned, std::uint8_t)> handler) = 0;

    // Desktops that bind shortcuts by purpose, and decide about them later
    // (the global-shortcuts portal, where the user confirms them), learn
    // here what each registered combination is for, and report a shortcut
    // they refuse afterwards through `errors`. Desktops whose grabs answer
    // at once ignore it.
    virtual void set_purposes(std::function<HotKeyPurpose(TShortCut)> /*purpose_of*/, ErrorReporter* /*errors*/) {}
    // The keys the desktop really assigned, for the Hotkeys tab, with where
    // the user changes them; empty where the program's own grabs are the
    // keys.
    virtual std::string assigned_keys() { return {}; }
    // The desktop's activation token that came with the press being
    // delivered now (so that the request's dialog may take the focus);
    // empty when it gave none.
    virtual std::string press_activation_token() { return {}; }
};

struct HotKeyEntry {
    TShortCut shortcut = 0;
    HotKeySystem::Id id = 0;
};

// Owns the program's registrations; destroying it releases them all.
class THotKeyManager {
public:
    using Id = HotKeySystem::Id;
    explicit THotKeyManager(HotKeySystem& system);
    ~THotKeyManager();
    THotKeyManager(const THotKeyManager&) = delete;
    THotKeyManager& operator=(const THotKeyManager&) = delete;

    // Registers one combination; its id, or 0 when the desktop refuses.
    Id addshortcut(TShortCut shortcut);
    // Whether the combination could be registered now (a combination this
    // program holds already is not available).
    bool shortcutavailable(TShortCut shortcut);
    bool removeshortcut(const HotKeyEntry& entry);
    // Unregisters everything, last registered first.
    void clearshortcuts();
    const std::vector<HotKeyEntry>& entries() const { return entries_; }
    // The desktop's grabs, which also name the layout's keys for parsing.
    HotKeySystem& system() const { return system_; }

    // A registered combination was pressed: (HotKey, Index = its id).
    std::function<void(TShortCut, Id)> OnHotKeyPressed;

private:
    void hotkey_message(Id id, unsigned modifiers, std::uint8_t vk);

    HotKeySystem& system_;
    std::vector<HotKeyEntry> entries_;
};

// Parses the four hotkey texts into RuntimeState's EncryptShortCut...
// ExitShortCut and registers them in that order; each invalid or taken one
// gets its message and costs only itself. True when at least one was
// registered.
bool registerhotkeys(const Settings& settings, RuntimeState& runtime, THotKeyManager& manager,
                     ErrorReporter& errors);

enum class HotKeyCommand { Ignore, Exit, Options, Encrypt, Decrypt };

// What a press of `hotkey` asks for: nothing while an operation runs, while
// a request is still switching to its window or copying from it
// (`request_running`), or with hotkeys switched off; otherwise the first of
// exit, options, encrypt, decrypt whose parsed value equals it.
HotKeyCommand hotkey_command(const Settings& settings, const RuntimeState& runtime, TShortCut hotkey,
                             bool request_running = false);

}  // namespace morvantile
