#include "config/command_line.h"

#include <algorithm>
#include <cstdlib>

#include "config/config_file.h"

namespace morvantile {

std::string strings_to_text(const std::vector<std::string>& lines, std::size_t width) {
    std::string out;
    for (const std::string& line : lines) {
        std::string_view rest = line;
        while (width > 0 && rest.size() > width) {
            out.append(rest.substr(0, width));
            out += "\r\n";
            rest.remove_prefix(width);
        }
        out.append(rest);
        out += "\r\n";
    }
    return out;
}

std::string paramerror_text() {
    return strings_to_text({"", "Command line error.", "Allowed parameters are:", "/noconfig - do not write config file",
                            "/nosplash - no splash screen", "/config=FILENAME - file to store options",
                            "/encrypt, /decrypt, /options, /exit - do what the hotkey does, in the running copy"},
                           100);
}

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v == nullptr ? std::string() : std::string(v);
}

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : static_cast<char>(c); });
    return out;
}

constexpr std::string_view kConfigFileBaseName = "morvantile.ini";

}  // namespace

std::optional<std::string> user_config_folder() {
    // Relative values of XDG_CONFIG_HOME are invalid and ignored.
    const std::string xdg = env("XDG_CONFIG_HOME");
    if (!xdg.empty() && xdg.front() == '/') return xdg + "/morvantile";
    const std::string home = env("HOME");
    if (!home.empty()) return home + "/.config/morvantile";
    return std::nullopt;
}

std::string resolve_config_name(const std::string& name, const std::string& folder) {
    if (name.empty() || name.front() == '/' || folder.empty()) return name;
    return folder + "/" + name;
}

void locate_configuration(RuntimeState& runtime, ErrorReporter& errors) {
    if (auto folder = user_config_folder()) {
        runtime.ConfigFolder = *folder;
        runtime.ConfigFileName = *folder + "/" + std::string(kConfigFileBaseName);
    } else {
        errors.show_error("Could not locate configuration folder!");
        runtime.ConfigFolder.clear();
        runtime.ConfigFileName = std::string(kConfigFileBaseName);
    }
}

namespace {

constexpr std::string_view kTriggerWords[] = {"encrypt", "decrypt", "options", "exit"};

std::string_view without_prefix(std::string_view p) {
    if (!p.empty() && (p.front() == '-' || p.front() == '/')) p.remove_prefix(1);
    return p;
}

}  // namespace

std::string_view trigger_word_name(TriggerWord word) { return kTriggerWords[static_cast<int>(word)]; }

std::optional<TriggerWord> trigger_word(std::string_view param) {
    const std::string word = lower(without_prefix(param));
    for (int i = 0; i < 4; ++i)
        if (word == kTriggerWords[i]) return static_cast<TriggerWord>(i);
    return std::nullopt;
}

std::optional<std::string> parse_command_line(const std::vector<std::string>& params, RuntimeState& runtime,
                                              std::optional<TriggerWord>* trigger) {
    constexpr std::string_view kConfigPrefix = "config=";
    bool have_trigger = false;
    for (const std::string& param : params) {
        const std::string_view p = without_prefix(param);
        const std::string word = lower(p);
        if (const auto request = trigger_word(param)) {
            // One request per call: "encrypt decrypt" has no meaning.
            if (have_trigger) return paramerror_text();
            have_trigger = true;
            if (trigger) *trigger = request;
        } else if (word == "d") {
            runtime.ShowSourceHandle = true;
        } else if (word == "nosplash") {
            runtime.CmdNoSplash = true;
        } else if (word == "noconfig") {
            runtime.CmdNoConfig = true;
        } else if (word.starts_with(kConfigPrefix) && word.size() > kConfigPrefix.size()) {
            // Only the switch is matched without regard to case: Linux file
            // names are case-sensitive, so the name is kept as given.
            const std::string name(p.substr(kConfigPrefix.size()));
            runtime.ConfigFileName = resolve_config_name(name, runtime.ConfigFolder);
        } else {
            return paramerror_text();
        }
    }
    return std::nullopt;
}

std::optional<TriggerWord> command_line_trigger(const std::vector<std::string>& params) {
    RuntimeState scratch;
    std::optional<TriggerWord> trigger;
    if (parse_command_line(params, scratch, &trigger)) return std::nullopt;
    return trigger;
}

bool start_configuration(const std::vector<std::string>& params, Settings& settings, RuntimeState& runtime,
                         ConfigFile& config, ErrorReporter& errors) {
    locate_configuration(runtime, errors);
    settings = Settings{};
    if (auto error = parse_command_line(params, runtime)) {
        errors.show_error(*error);
        return false;
    }
    if (runtime.CmdNoConfig) {
        settings.NoConfig = true;
    } else {
        config.readinifile();
    }
    return true;
}

}  // namespace morvantile
