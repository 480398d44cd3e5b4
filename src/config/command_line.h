// The program's command line and where its configuration file lives.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"
#include "textcrypt/error_reporter.h"

namespace morvantile {

class ConfigFile;

// Joins lines into one text, every line ending in CR LF; lines longer than
// `width` are cut into pieces of exactly `width` characters.
std::string strings_to_text(const std::vector<std::string>& lines, std::size_t width);

// The message for a command-line error (it begins with a line break).
std::string paramerror_text();

// The user's configuration folder: $XDG_CONFIG_HOME/morvantile, else
// ~/.config/morvantile; nullopt when neither variable is set.
std::optional<std::string> user_config_folder();

// A configuration name that is not a full path resolves in `folder`.
std::string resolve_config_name(const std::string& name, const std::string& folder);

// Sets ConfigFolder and the default ConfigFileName (morvantile.ini in the
// configuration folder). Without a folder it reports "Could not locate
// configuration folder!" and falls back to morvantile.ini in the current
// folder.
void locate_configuration(RuntimeState& runtime, ErrorReporter& errors);

// The words that ask the running copy for what a hotkey does
// ("morvantile encrypt", bound to a key in the desktop's own settings).
enum class TriggerWord { Encrypt, Decrypt, Options, Exit };

// "encrypt", "decrypt", "options", "exit".
std::string_view trigger_word_name(TriggerWord word);
// A parameter naming a trigger word, with an optional leading "-" or "/" and
// in any letter case.
std::optional<TriggerWord> trigger_word(std::string_view param);

// Applies the parameters (without the program name) in order: "d",
// "nosplash", "noconfig", "config=NAME" and one trigger word, each with an
// optional leading "-" or "/" and in any letter case. Returns the error text
// for a parameter it does not know, or for a second trigger word; the flags
// set before it stay set. The trigger word goes to `trigger` when given.
std::optional<std::string> parse_command_line(const std::vector<std::string>& params, RuntimeState& runtime,
                                              std::optional<TriggerWord>* trigger = nullptr);

// The trigger word of a valid command line; nullopt when there is none or
// the command line has an error.
std::optional<TriggerWord> command_line_trigger(const std::vector<std::string>& params);

// The configuration steps of start-up: locate the configuration, put the
// start values in place, read the command line, then the configuration file
// unless "noconfig". Returns false when the program must end (a command
// line error, already reported).
bool start_configuration(const std::vector<std::string>& params, Settings& settings, RuntimeState& runtime,
                         ConfigFile& config, ErrorReporter& errors);

}  // namespace morvantile
