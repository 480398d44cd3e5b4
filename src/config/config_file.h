// The configuration file: every option, the encrypted password list and the
// placement of three dialogs, in one INI file shared with the Windows build.
// It is read once at start and written once when the program closes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "config/ini_file.h"
#include "config/settings.h"
#include "passwords/password_lists.h"
#include "textcrypt/error_reporter.h"

namespace morvantile {

// The prompt for the list password. kind 1 asks for the password that
// opens the list, kind 2 for the one that encrypts it. Returns true on OK
// and then leaves the typed password in RuntimeState::ListPassword.
class ListPasswordPrompt {
public:
    virtual ~ListPasswordPrompt() = default;
    virtual bool setpasswordpasswordlist(int kind) = 0;
};

inline constexpr std::string_view kListPromptDecrypt = "Enter password to decrypt Password List:";
inline constexpr std::string_view kListPromptEncrypt = "Enter password to encrypt Password List:";

// Reads the options from a parsed file into `s`: NoConfig first, and if it
// is set nothing else (the start values stay); otherwise every key with its
// default when missing, and the viewer font on top of its current values.
void read_options(const IniFile& ini, Settings& s);

// Writes every option key in the file's order.
void write_options(IniFile& ini, const Settings& s);

// Window position of a dialog, as stored in its "FormPlacement <form>" section.
struct FormPlacement {
    std::int32_t Flags = 0;
    std::int32_t ShowCmd = 1;
    std::int32_t PixelsPerInch = 96;
    std::int32_t MinX = -1, MinY = -1, MaxX = -1, MaxY = -1;
    std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    friend bool operator==(const FormPlacement&, const FormPlacement&) = default;
};

// The three dialogs that keep their position.
inline constexpr std::string_view kPlacementOptions = "frmoptions";
inline constexpr std::string_view kPlacementViewer = "frm_decryptview";
inline constexpr std::string_view kPlacementPasswordDialog = "passworddlg";

class ConfigFile {
public:
    ConfigFile(Settings& settings, RuntimeState& runtime, PasswordLists& lists, ListPasswordPrompt& prompt,
               ErrorReporter& errors);

    // Fills the settings, the password lists, PasswordListPresent and
    // ListPassword from RuntimeState::ConfigFileName. A missing or
    // unreadable file is not an error: every key takes its default.
    void readinifile();

    // mode "normal" writes everything, "noconfig" only NoConfig into an
    // existing file; any other mode writes nothing. The file is replaced as
    // a whole or not at all. Returns false after reporting a failure.
    // Without `ask`, a changed password list whose list password is not
    // known is not asked for: the stored list is kept as it is.
    bool writeinifile(std::string_view mode, bool ask = true);

    // What the program writes when it closes: nothing when both the file
    // and the command line said noconfig, only NoConfig when the file did
    // (or the options dialog ticked it), otherwise everything. Without
    // `ask` (the end of the session, which no dialog may hold up) as
    // writeinifile says.
    bool write_at_exit(bool ask = true);

    // The dialogs' placement, read when they open and written when they
    // close (whatever NoConfig says).
    std::optional<FormPlacement> read_placement(std::string_view form) const;
    bool write_placement(std::string_view form, const FormPlacement& placement);

private:
    void read_password_list(const IniFile& ini);
    void write_password_list(IniFile& ini, bool ask);
    // The file as it is now, to be changed and saved; nullopt (reported)
    // when it exists but cannot be read.
    std::optional<IniFile> load_for_update();
    bool save(const IniFile& ini);
    void report_write_failure();

    Settings& settings_;
    RuntimeState& runtime_;
    PasswordLists& lists_;
    ListPasswordPrompt& prompt_;
    ErrorReporter& errors_;
};

}  // namespace morvantile
