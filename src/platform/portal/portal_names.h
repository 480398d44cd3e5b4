// The plain parts of talking to the desktop portals: the trigger texts the
// global-shortcuts portal takes, the object paths its requests answer on,
// the restore token of the remote-desktop session kept on disk, and which
// portal versions are good enough. No D-Bus here, so all of it runs in
// tests as it is.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "automation/hotkeys.h"

namespace morvantile::platform {

// The shortcuts the program binds, by the ids the desktop knows them by.
inline constexpr std::string_view kShortcutEncrypt = "encrypt";
inline constexpr std::string_view kShortcutDecrypt = "decrypt";
inline constexpr std::string_view kShortcutOptions = "options";
inline constexpr std::string_view kShortcutExit = "exit";

// What the desktop shows beside each shortcut in its settings; empty for
// an unknown id.
std::string shortcut_description(std::string_view id);

// A hotkey as the portal's preferred trigger: modifiers "CTRL", "ALT",
// "SHIFT" in that order, then the key's keysym name, letters upper case
// ("CTRL+SHIFT+F12", "ALT+E", "CTRL+Page_Up"). Empty when the key has no
// keysym.
std::string preferred_trigger(TShortCut shortcut);

// The same from a hotkey text of the options ("ctrl+shift+f12"), through
// the hotkey grammar; empty when the text names no hotkey.
std::string preferred_trigger(std::string_view hotkey_text, KeyNames& names);

// The keysym name of a Windows virtual-key code ("F12", "a", "Page_Up"),
// as hotkey texts and triggers name keys; empty when it has none.
std::string keysym_name_of_vk(std::uint8_t vk);

// A unique bus name (":1.42") as the portal writes it into object paths
// ("1_42").
std::string sender_path_part(std::string_view unique_name);
// Where the portal's answer to a request with `token` appears.
std::string request_path(std::string_view unique_name, std::string_view token);
// Where a session created with `token` lives.
std::string session_path(std::string_view unique_name, std::string_view token);
// A fresh token for a request or session: letters, digits and '_' only, as
// object path elements need, and unique within the process.
std::string new_portal_token(std::string_view kind);

// The remote-desktop restore token lets the desktop skip its question on
// the next start. It is the user's permission, so it lives in a file of its
// own (mode 0600) beside the configuration, never in the INI file that users
// exchange.
inline constexpr std::string_view kRestoreTokenFileName = "remote-desktop-token";
// The token in `path`; nullopt when there is none, or when the file is not
// a regular file of this user's with no access for others (then it is not
// trusted, and the desktop simply asks again).
std::optional<std::string> read_restore_token(const std::string& path);
// Replaces the file with the token (mode 0600; the folder is made if
// missing). An empty token removes the file. False on failure.
bool write_restore_token(const std::string& path, std::string_view token);

// The portal versions found on the session bus; 0 = not offered.
struct PortalVersions {
    bool bus = false;  // a session bus answered
    bool service = false;  // the portal service is there
    std::uint32_t global_shortcuts = 0;
    std::uint32_t remote_desktop = 0;
    std::uint32_t remote_desktop_devices = 0;  // AvailableDeviceTypes
    std::uint32_t clipboard = 0;
};

// The oldest versions the program works with: global shortcuts as first
// published, remote desktop from the version that keeps the permission.
inline constexpr std::uint32_t kMinGlobalShortcuts = 1;
inline constexpr std::uint32_t kMinRemoteDesktop = 2;
inline constexpr std::uint32_t kMinClipboard = 1;
inline constexpr std::uint32_t kKeyboardDevice = 1;

// Whether the portals can run the program here: global shortcuts for the
// hotkeys and a remote-desktop keyboard for the keystrokes.
bool portals_usable(const PortalVersions& v);
// One line for `morvantile diagnose`: each interface with its version, or
// why it does not count.
std::string portals_line(const PortalVersions& v);
// Why the portals cannot be used, one sentence; empty when they can.
std::string portals_unusable_reason(const PortalVersions& v);

}  // namespace morvantile::platform
