#include "config/settings.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "cipher/wipe.h"

#ifndef MORVANTILE_VERSION_STRING
#error "MORVANTILE_VERSION_STRING comes from the build (the project version)"
#endif

namespace morvantile {

Settings settings_missing_defaults() {
    Settings s;
    s.HotKeysEnabled = true;
    s.AutoSelect_e = true;
    s.AutoSelect_d = true;
    s.AppendSeparator = false;
    s.Hints = true;
    s.DecryptViewer = default_decrypt_viewer();
    return s;
}

namespace {

bool is_executable_file(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string find_on_path(std::string_view program) {
    const char* path_env = std::getenv("PATH");
    if (path_env == nullptr || program.empty()) return {};
    const std::string_view path = path_env;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view dir = path.substr(start, end - start);
        start = end + 1;
        if (dir.empty()) continue;
        std::string candidate(dir);
        if (candidate.back() != '/') candidate += '/';
        candidate += program;
        if (is_executable_file(candidate)) return candidate;
    }
    return {};
}

std::string default_decrypt_viewer() {
    static constexpr const char* kEditors[] = {"mousepad", "gedit", "gnome-text-editor", "kate",
                                               "kwrite", "featherpad", "pluma", "xed"};
    for (const char* editor : kEditors)
        if (!find_on_path(editor).empty()) return editor;
    return {};
}

std::string options_summary(const Settings& s) {
    const std::pair<const char*, bool> items[] = {
        {"as_e=", s.AutoSelect_e}, {"as_d=", s.AutoSelect_d},     {"ac=", s.AutoCopy},
        {"ap=", s.AutoPaste},      {"hk=", s.HotKeysEnabled},     {"sep=", s.AppendSeparator},
        {"rtf=", s.UseRTF},
    };
    std::string out;
    for (const auto& [name, on] : items) {
        out += name;
        out += on ? "y " : "n ";
    }
    return out;
}

RuntimeState::RuntimeState() : VersionText(version_text()) {}

RuntimeState::~RuntimeState() { wipe_passwords(); }

void RuntimeState::wipe_passwords() {
    wipe_string(MasterPassword);
    wipe_string(CurrentPassword);
    wipe_string(ListPassword);
}

std::string version_text() { return std::string("Morvantile v.") + MORVANTILE_VERSION_STRING; }

std::string tray_hint_text(const Settings& s, const RuntimeState& r) {
    std::string hint = r.VersionText + " ";
    if (s.TrayHint == 1) hint += "[" + r.ConfigFileName + "]";
    else if (s.TrayHint == 2) hint += "[" + options_summary(s) + "]";
    return hint;
}

}  // namespace morvantile
