#include "platform/portal/portal_names.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <random>

#include "automation/desktop_helpers.h"
#include "cipher/wipe.h"

namespace morvantile::platform {

namespace {

// A token is a password to the desktop: anything longer is not one of ours.
constexpr std::size_t kMaxTokenBytes = 4096;

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

bool printable_token(std::string_view token) {
    if (token.empty() || token.size() > kMaxTokenBytes) return false;
    for (const char c : token)
        if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E) return false;
    return true;
}

}  // namespace

std::string shortcut_description(std::string_view id) {
    if (id == kShortcutEncrypt) return "Encrypt the text of the window in front";
    if (id == kShortcutDecrypt) return "Decrypt the text of the window in front";
    if (id == kShortcutOptions) return "Open the options of Morvantile";
    if (id == kShortcutExit) return "Exit Morvantile";
    return {};
}

std::string keysym_name_of_vk(std::uint8_t vk) {
    const std::uint32_t keysym = vk_keysym(vk);
    if (keysym == 0) return {};
    char name[64];
    const int n = xkb_keysym_get_name(keysym, name, sizeof name);
    return n > 0 && static_cast<std::size_t>(n) < sizeof name ? std::string(name, static_cast<std::size_t>(n))
                                                              : std::string();
}

std::string preferred_trigger(TShortCut shortcut) {
    std::string key = keysym_name_of_vk(shortcut_key(shortcut));
    if (key.empty()) return {};
    if (key.size() == 1) key[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(key[0])));
    std::string trigger;
    if (shortcut & kShortCutCtrl) trigger += "CTRL+";
    if (shortcut & kShortCutAlt) trigger += "ALT+";
    if (shortcut & kShortCutShift) trigger += "SHIFT+";
    return trigger + key;
}

std::string preferred_trigger(std::string_view hotkey_text, KeyNames& names) {
    const TShortCut shortcut = parsehotkeytext(hotkey_text, names);
    return shortcut == 0 ? std::string() : preferred_trigger(shortcut);
}

std::string sender_path_part(std::string_view unique_name) {
    std::string part(unique_name);
    if (!part.empty() && part.front() == ':') part.erase(0, 1);
    for (char& c : part)
        if (c == '.') c = '_';
    return part;
}

std::string request_path(std::string_view unique_name, std::string_view token) {
    return "/org/freedesktop/portal/desktop/request/" + sender_path_part(unique_name) + "/" + std::string(token);
}

std::string session_path(std::string_view unique_name, std::string_view token) {
    return "/org/freedesktop/portal/desktop/session/" + sender_path_part(unique_name) + "/" + std::string(token);
}

std::string new_portal_token(std::string_view kind) {
    static std::atomic<unsigned> counter{0};
    static const unsigned salt = std::random_device{}();
    std::string token = "morvantile_";
    for (const char c : kind) token += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return token + "_" + std::to_string(salt % 100000) + "_" + std::to_string(++counter);
}

std::optional<std::string> read_restore_token(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::string token;
    // Another user's file, or one others may read or change, is no
    // permission of this user's.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0 &&
        st.st_size > 0 && static_cast<std::size_t>(st.st_size) <= kMaxTokenBytes) {
        token.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        while (got < token.size()) {
            const ssize_t n = ::read(fd, token.data() + got, token.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        token.resize(got);
    }
    ::close(fd);
    while (!token.empty() && (token.back() == '\n' || token.back() == '\r')) token.pop_back();
    if (!printable_token(token)) {
        wipe_string(token);
        return std::nullopt;
    }
    return token;
}

bool write_restore_token(const std::string& path, std::string_view token) {
    if (token.empty()) return ::unlink(path.c_str()) == 0 || errno == ENOENT;
    if (!printable_token(token)) return false;
    const std::string folder = folder_of(path);
    if (!folder.empty()) ::mkdir(folder.c_str(), 0700);
    // Written beside it and renamed over it, so a crash never leaves half a
    // token, and a link planted at the name is replaced, never followed.
    const std::string temporary = path + ".new";
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0600) == 0;
    std::size_t put = 0;
    while (ok && put < token.size()) {
        const ssize_t n = ::write(fd, token.data() + put, token.size() - put);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else put += static_cast<std::size_t>(n);
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

bool portals_usable(const PortalVersions& v) { return portals_unusable_reason(v).empty(); }

std::string portals_unusable_reason(const PortalVersions& v) {
    if (!v.bus) return "There is no session bus to reach the desktop portals on.";
    if (!v.service) return "No desktop portal service answers on the session bus.";
    if (v.global_shortcuts < kMinGlobalShortcuts) return "The desktop portal offers no global shortcuts.";
    if (v.remote_desktop == 0) return "The desktop portal offers no remote desktop for keystrokes.";
    if (v.remote_desktop < kMinRemoteDesktop)
        return "The desktop portal's remote desktop is version " + std::to_string(v.remote_desktop) + ", too old (" +
               std::to_string(kMinRemoteDesktop) + " or later keeps the permission).";
    if (!(v.remote_desktop_devices & kKeyboardDevice)) return "The desktop portal's remote desktop offers no keyboard.";
    return {};
}

std::string portals_line(const PortalVersions& v) {
    if (!v.bus) return "Portals: no session bus";
    if (!v.service) return "Portals: no portal service on the session bus";
    const auto version = [](std::uint32_t found, std::uint32_t least) {
        if (found == 0) return std::string("missing");
        std::string text = "v" + std::to_string(found);
        if (found < least) text += " (too old)";
        return text;
    };
    std::string line = "Portals: GlobalShortcuts " + version(v.global_shortcuts, kMinGlobalShortcuts) +
                       ", RemoteDesktop " + version(v.remote_desktop, kMinRemoteDesktop);
    if (v.remote_desktop != 0) line += std::string(" (keyboard ") + (v.remote_desktop_devices & kKeyboardDevice ? "yes" : "no") + ")";
    line += ", Clipboard " + version(v.clipboard, kMinClipboard);
    return line;
}

}  // namespace morvantile::platform
