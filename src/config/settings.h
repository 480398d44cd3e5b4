// The one record of user options and, beside it, the run-time state that is
// never written to the configuration file. Field names are the keys of the
// configuration file, so they keep the file's CamelCase spelling.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "cipher/catalogue.h"

namespace morvantile {

// Colour values keep the Windows encoding, since they are stored in
// configuration files shared with the Windows build: 0x00BBGGRR, or a system
// colour with the top bit set.
inline constexpr std::int32_t kColorWindowText = static_cast<std::int32_t>(0x80000008u);
inline constexpr std::int32_t kColorButtonFace = static_cast<std::int32_t>(0x8000000Fu);
inline constexpr std::int32_t kColorLime = 0x00FF00;
inline constexpr std::int32_t kColorYellow = 0x00FFFF;

struct ViewerFontSettings {
    std::string Name = "MS Sans Serif";
    std::int32_t Size = 8;  // points
    std::int32_t Color = kColorWindowText;
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool Strikeout = false;
    friend bool operator==(const ViewerFontSettings&, const ViewerFontSettings&) = default;
};

// The default hotkeys. Ctrl+Alt+F1..F12 switch virtual terminals on X11
// and never reach a program, so the Linux build uses Ctrl+Shift.
inline constexpr std::string_view kDefaultEncryptHotKey = "ctrl+shift+f12";
inline constexpr std::string_view kDefaultDecryptHotKey = "ctrl+shift+f9";
inline constexpr std::string_view kDefaultOptionsHotKey = "ctrl+shift+f8";
inline constexpr std::string_view kDefaultExitHotKey = "ctrl+shift+f5";

// The window check runs every ActiveWindowCheckTime ms: 0 would run it
// without pause and a negative value never, so it is at least this.
inline constexpr std::int32_t kMinWindowCheckMs = 1;

inline constexpr std::int32_t kDefaultMaxTextSizeMiB = 256;

// The member initialisers are the start values: what is in force whenever
// the configuration file is not read. The configuration reader uses the
// "default when missing" values of settings_missing_defaults() instead.
struct Settings {
    std::string AutoEncryptHotKeyString{kDefaultEncryptHotKey};
    std::string AutoDecryptHotKeyString{kDefaultDecryptHotKey};
    std::string OptionsHotKeyString{kDefaultOptionsHotKey};
    std::string ExitHotKeyString{kDefaultExitHotKey};
    bool HotKeysEnabled = false;
    bool AutoSelect_e = false;
    bool AutoSelect_d = false;
    bool AutoCopy = true;
    bool AutoPaste = true;
    bool AppendSeparator = true;
    std::int32_t ActiveWindowCheckTime = 250;  // ms, at least kMinWindowCheckMs
    std::int32_t SendKeysDelay = 250;          // ms, at least 0
    bool NoConfig = false;
    bool NoSplash = false;
    bool Hints = false;
    bool RevealPassword = false;
    bool ConfirmPassword = false;
    std::int32_t ChainingMode = 0;
    std::int32_t Hash = 0;
    std::int32_t Algorithm = 4;
    std::int32_t TrayHint = 0;  // 0 version, 1 + file name, 2 + options summary
    bool AllowChanges = false;
    bool OverwriteOriginal = false;
    bool UseRTF = false;
    bool ViewerWrap = true;
    bool AddSenderTag = false;
    bool NoDecompress = false;
    bool HardcoreMode = false;
    // The bytes typed text and passwords become: 0 Windows-1252 where every
    // character has a byte there (as the Windows build), 1 UTF-8 always.
    std::int32_t TextEncoding = 0;
    bool SecureWipe = true;
    bool ShowPasswordManager = true;
    std::int32_t DecryptView = 0;  // 0 source window, 1 viewer, 2 external editor
    std::string DecryptViewer;
    std::string QuoteString = ">";
    std::string FileExtension = "mvt";
    // The longest text to encrypt or to decrypt into, in MiB (at least 1):
    // every text is held in memory several times over while it is worked on.
    std::int32_t MaxTextSize = kDefaultMaxTextSizeMiB;
    ViewerFontSettings ViewerFont;

    CipherSetup cipher_setup() const { return {Algorithm, Hash, ChainingMode}; }
    std::uint64_t max_text_size() const { return static_cast<std::uint64_t>(std::max(MaxTextSize, 1)) << 20; }

    friend bool operator==(const Settings&, const Settings&) = default;
};

// The values the configuration reader takes for keys that are missing from
// the file (a first start gets these, not the start values).
Settings settings_missing_defaults();

// The external editor used when the configuration names none: the first of
// the usual desktop text editors found on PATH, or empty.
std::string default_decrypt_viewer();

// The executable regular file `program` (a name without "/") names in a
// folder of PATH, as PATH's folder + "/" + program; empty when there is
// none. Empty PATH entries are skipped: they would mean the current folder.
std::string find_on_path(std::string_view program);

// "as_e=y as_d=y ac=y ap=y hk=y sep=n rtf=n " (every item followed by a blank).
std::string options_summary(const Settings& s);

// Run-time state, never written to the configuration file.
struct RuntimeState {
    std::string ConfigFileName;
    std::string ConfigFolder;  // the user's configuration folder, empty if unknown
    bool CmdNoSplash = false;
    bool CmdNoConfig = false;
    bool ShowSourceHandle = false;
    std::string MasterPassword;
    bool RetainMaster = false;
    std::string CurrentPassword;
    std::string ListPassword;
    std::string SelectedEntryName;
    bool PasswordListPresent = false;
    bool PasswordListChanged = false;
    // A list was stored in the file but could not be opened this run; the
    // writer then leaves the stored list alone.
    bool StoredListUnreadable = false;
    std::string PromptText;
    std::string PasswordDialogCaption = "Morvantile: enter password";
    std::int32_t PromptColour = kColorButtonFace;
    bool TimingWarningShown = false;
    std::string VersionText;
    std::string SenderTag;
    // The clipboard's rich-text format: RTF, by its MIME type on X11.
    std::string RtfFormat = "text/rtf";
    bool OperationBusy = false;
    // The program is ending from outside (a signal, the end of the
    // session): nothing is asked and nothing more is sent to other windows.
    bool SessionEnding = false;
    std::uint64_t SourceWindow = 0;  // X window id; 0 = none
    bool FileMode = false;
    int NoticeMode = 1;
    // Parsed hotkeys (Windows virtual-key code in the low byte, 0x2000
    // Shift, 0x4000 Ctrl, 0x8000 Alt); 0 = none.
    std::uint16_t EncryptShortCut = 0;
    std::uint16_t DecryptShortCut = 0;
    std::uint16_t OptionsShortCut = 0;
    std::uint16_t ExitShortCut = 0;
    // The external editor last started for decrypted text.
    std::string ViewerExeName;
    int ViewerProcessId = 0;
    int ViewerWaitTicks = 0;

    RuntimeState();
    ~RuntimeState();
    RuntimeState(const RuntimeState&) = delete;
    RuntimeState& operator=(const RuntimeState&) = delete;

    // Empties and wipes every password held here.
    void wipe_passwords();
};

// "Morvantile v." + the four-part release number.
std::string version_text();

// The tray icon's hint: VersionText, a blank, then "[file name]" or
// "[options summary]" as TrayHint asks.
std::string tray_hint_text(const Settings& s, const RuntimeState& r);

}  // namespace morvantile
