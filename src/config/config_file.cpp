#include "config/config_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

#include "cipher/wipe.h"
#include "textcrypt/password_list_cipher.h"
#include "textcrypt/text_encoding.h"

namespace morvantile {

namespace {

constexpr std::string_view kHotkeys = "hotkeys";
constexpr std::string_view kMisc = "misc";
constexpr std::string_view kTiming = "timing";
constexpr std::string_view kEncryption = "encryption";
constexpr std::string_view kFilemode = "filemode";
constexpr std::string_view kFont = "Font";
constexpr std::string_view kPasswordList = "PasswordList";

std::string placement_section(std::string_view form) { return "FormPlacement " + std::string(form); }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The first three characters of an entry are its cipher settings when they
// read as an integer (a sign counts, as with the Windows reader).
bool has_settings_prefix(std::string_view entry) {
    if (entry.size() < 3) return false;
    std::string_view p = entry.substr(0, 3);
    std::size_t i = (p[0] == '+' || p[0] == '-') ? 1 : 0;
    if (i == p.size()) return false;
    for (; i < p.size(); ++i)
        if (!is_digit(p[i])) return false;
    return true;
}

bool file_exists(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0;
}

// Creates the folder of `path` and its parents (private to the user) when
// they are missing.
void make_parent_folders(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return;
    const std::string folder = path.substr(0, slash);
    for (std::size_t i = 1; i <= folder.size(); ++i) {
        if (i == folder.size() || folder[i] == '/') {
            const std::string part = folder.substr(0, i);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return;  // save() reports it
        }
    }
}

}  // namespace

void read_options(const IniFile& ini, Settings& s) {
    s.NoConfig = ini.read_bool(kMisc, "NoConfig", false);
    if (s.NoConfig) return;

    const Settings d = settings_missing_defaults();
    s.AutoEncryptHotKeyString = ini.read_string(kHotkeys, "AutoEncryptHotKeyString", d.AutoEncryptHotKeyString);
    s.AutoDecryptHotKeyString = ini.read_string(kHotkeys, "AutoDecryptHotKeyString", d.AutoDecryptHotKeyString);
    s.OptionsHotKeyString = ini.read_string(kHotkeys, "OptionsHotKeyString", d.OptionsHotKeyString);
    s.ExitHotKeyString = ini.read_string(kHotkeys, "ExitHotKeyString", d.ExitHotKeyString);
    s.HotKeysEnabled = ini.read_bool(kHotkeys, "HotKeysEnabled", d.HotKeysEnabled);
    s.AutoSelect_e = ini.read_bool(kMisc, "AutoSelect_e", d.AutoSelect_e);
    s.AutoSelect_d = ini.read_bool(kMisc, "AutoSelect_d", d.AutoSelect_d);
    s.AutoCopy = ini.read_bool(kMisc, "AutoCopy", d.AutoCopy);
    s.AutoPaste = ini.read_bool(kMisc, "AutoPaste", d.AutoPaste);
    s.AppendSeparator = ini.read_bool(kMisc, "AppendSeparator", d.AppendSeparator);
    // A hand-edited time below the least sensible one is brought up to it.
    s.ActiveWindowCheckTime =
        std::max(ini.read_integer(kTiming, "ActiveWindowCheckTime", d.ActiveWindowCheckTime), kMinWindowCheckMs);
    s.SendKeysDelay = std::max(ini.read_integer(kTiming, "SendKeysDelay", d.SendKeysDelay), 0);
    s.NoConfig = ini.read_bool(kMisc, "NoConfig", d.NoConfig);
    s.NoSplash = ini.read_bool(kMisc, "NoSplash", d.NoSplash);
    s.Hints = ini.read_bool(kMisc, "Hints", d.Hints);
    s.RevealPassword = ini.read_bool(kMisc, "RevealPassword", d.RevealPassword);
    s.ConfirmPassword = ini.read_bool(kMisc, "ConfirmPassword", d.ConfirmPassword);
    s.ChainingMode = ini.read_integer(kEncryption, "ChainingMode", d.ChainingMode);
    s.Hash = ini.read_integer(kEncryption, "Hash", d.Hash);
    s.Algorithm = ini.read_integer(kEncryption, "Algorithm", d.Algorithm);
    s.TrayHint = ini.read_integer(kMisc, "TrayHint", d.TrayHint);
    s.AllowChanges = ini.read_bool(kEncryption, "AllowChanges", d.AllowChanges);
    s.OverwriteOriginal = ini.read_bool(kFilemode, "OverwriteOriginal", d.OverwriteOriginal);
    s.UseRTF = ini.read_bool(kMisc, "UseRTF", d.UseRTF);
    s.ViewerWrap = ini.read_bool(kMisc, "ViewerWrap", d.ViewerWrap);
    s.AddSenderTag = ini.read_bool(kMisc, "AddSenderTag", d.AddSenderTag);
    s.NoDecompress = ini.read_bool(kEncryption, "NoDecompress", d.NoDecompress);
    s.HardcoreMode = ini.read_bool(kEncryption, "HardcoreMode", d.HardcoreMode);
    // The Windows build knows no such key; anything but "always UTF-8" is
    // its way.
    s.TextEncoding = ini.read_integer(kEncryption, "TextEncoding", d.TextEncoding) == kTextEncodingUtf8
                         ? kTextEncodingUtf8
                         : kTextEncodingWindows1252;
    s.SecureWipe = ini.read_bool(kFilemode, "SecureWipe", d.SecureWipe);
    s.ShowPasswordManager = ini.read_bool(kMisc, "ShowPasswordManager", d.ShowPasswordManager);
    s.DecryptView = ini.read_integer(kMisc, "DecryptView", d.DecryptView);
    s.DecryptViewer = ini.read_string(kMisc, "DecryptViewer", d.DecryptViewer);
    s.QuoteString = ini.read_string(kMisc, "QuoteString", d.QuoteString);
    s.FileExtension = ini.read_string(kMisc, "FileExtension", d.FileExtension);
    // Another build knows no such key; a limit below 1 MiB is no limit to use.
    const std::int32_t mib = ini.read_integer(kMisc, "MaxTextSize", d.MaxTextSize);
    s.MaxTextSize = mib >= 1 ? mib : d.MaxTextSize;

    // The font reads on top of its current values; a style is only ever added.
    ViewerFontSettings& f = s.ViewerFont;
    f.Name = ini.read_string(kFont, "Name", f.Name);
    f.Size = ini.read_integer(kFont, "Size", f.Size);
    f.Color = ini.read_integer(kFont, "Color", f.Color);
    if (ini.read_bool(kFont, "Bold", false)) f.Bold = true;
    if (ini.read_bool(kFont, "Italic", false)) f.Italic = true;
    if (ini.read_bool(kFont, "Underline", false)) f.Underline = true;
    if (ini.read_bool(kFont, "Strikeout", false)) f.Strikeout = true;
}

void write_options(IniFile& ini, const Settings& s) {
    ini.write_string(kHotkeys, "AutoEncryptHotKeyString", s.AutoEncryptHotKeyString);
    ini.write_string(kHotkeys, "AutoDecryptHotKeyString", s.AutoDecryptHotKeyString);
    ini.write_string(kHotkeys, "OptionsHotKeyString", s.OptionsHotKeyString);
    ini.write_string(kHotkeys, "ExitHotKeyString", s.ExitHotKeyString);
    ini.write_bool(kHotkeys, "HotKeysEnabled", s.HotKeysEnabled);
    ini.write_bool(kMisc, "AutoSelect_e", s.AutoSelect_e);
    ini.write_bool(kMisc, "AutoSelect_d", s.AutoSelect_d);
    ini.write_bool(kMisc, "AutoCopy", s.AutoCopy);
    ini.write_bool(kMisc, "AutoPaste", s.AutoPaste);
    ini.write_bool(kMisc, "AppendSeparator", s.AppendSeparator);
    ini.write_integer(kTiming, "ActiveWindowCheckTime", s.ActiveWindowCheckTime);
    ini.write_integer(kTiming, "SendKeysDelay", s.SendKeysDelay);
    ini.write_bool(kMisc, "NoConfig", s.NoConfig);
    ini.write_bool(kMisc, "NoSplash", s.NoSplash);
    ini.write_bool(kMisc, "Hints", s.Hints);
    ini.write_bool(kMisc, "RevealPassword", s.RevealPassword);
    ini.write_bool(kMisc, "ConfirmPassword", s.ConfirmPassword);
    ini.write_integer(kEncryption, "ChainingMode", s.ChainingMode);
    ini.write_integer(kEncryption, "Hash", s.Hash);
    ini.write_integer(kEncryption, "Algorithm", s.Algorithm);
    ini.write_integer(kMisc, "TrayHint", s.TrayHint);
    ini.write_bool(kEncryption, "AllowChanges", s.AllowChanges);
    ini.write_bool(kFilemode, "OverwriteOriginal", s.OverwriteOriginal);
    ini.write_bool(kMisc, "UseRTF", s.UseRTF);
    ini.write_bool(kMisc, "ViewerWrap", s.ViewerWrap);
    ini.write_integer(kMisc, "DecryptView", s.DecryptView);
    ini.write_string(kMisc, "DecryptViewer", s.DecryptViewer);
    ini.write_bool(kMisc, "AddSenderTag", s.AddSenderTag);
    ini.write_bool(kEncryption, "Nodecompress", s.NoDecompress);
    ini.write_bool(kEncryption, "HardcoreMode", s.HardcoreMode);
    ini.write_integer(kEncryption, "TextEncoding", s.TextEncoding);
    ini.write_bool(kFilemode, "SecureWipe", s.SecureWipe);
    ini.write_bool(kMisc, "ShowPasswordManager", s.ShowPasswordManager);
    ini.write_string(kMisc, "QuoteString", s.QuoteString);
    ini.write_string(kMisc, "FileExtension", s.FileExtension);
    ini.write_integer(kMisc, "MaxTextSize", s.MaxTextSize);
    ini.write_string(kFont, "Name", s.ViewerFont.Name);
    ini.write_integer(kFont, "Size", s.ViewerFont.Size);
    ini.write_integer(kFont, "Color", s.ViewerFont.Color);
    ini.write_bool(kFont, "Bold", s.ViewerFont.Bold);
    ini.write_bool(kFont, "Italic", s.ViewerFont.Italic);
    ini.write_bool(kFont, "Underline", s.ViewerFont.Underline);
    ini.write_bool(kFont, "Strikeout", s.ViewerFont.Strikeout);
}

ConfigFile::ConfigFile(Settings& settings, RuntimeState& runtime, PasswordLists& lists, ListPasswordPrompt& prompt,
                       ErrorReporter& errors)
    : settings_(settings), runtime_(runtime), lists_(lists), prompt_(prompt), errors_(errors) {}

void ConfigFile::readinifile() {
    IniFile ini;
    try {
        ini = IniFile::load(runtime_.ConfigFileName);
    } catch (const EIniFileError& e) {
        // Read as missing, so the program runs on its defaults; the writer
        // will refuse to replace a file it cannot read. The user is told
        // why the options are not theirs.
        errors_.show_error(std::string("Could not read the config file:\r\n") + e.what());
    }
    read_options(ini, settings_);
    if (settings_.NoConfig) return;
    read_password_list(ini);
}

void ConfigFile::read_password_list(const IniFile& ini) {
    const std::optional<std::string> first = ini.value(kPasswordList, "1");
    if (!first || first->empty()) return;
    runtime_.PasswordListPresent = true;

    bool answered = true;
    while (runtime_.ListPassword.empty() && answered) {
        runtime_.PromptText = std::string(kListPromptDecrypt);
        answered = prompt_.setpasswordpasswordlist(1);
    }

    lists_.clear();
    try {
        for (const auto& [key, stored] : ini.section_entries(kPasswordList)) {
            if (stored.empty()) continue;
            std::string entry = passwordlistencryption(stored, 'd', runtime_.ListPassword, errors_);
            if (entry.empty()) {
                // The reason has been shown; the manager is unavailable for
                // this run, and the stored list must survive it.
                lists_.clear();
                runtime_.PasswordListPresent = false;
                runtime_.StoredListUnreadable = true;
                return;
            }
            if (!has_settings_prefix(entry)) entry.insert(0, "400");
            const std::size_t eq = entry.find('=');
            const std::size_t name_end = eq == std::string::npos ? entry.size() : eq;
            lists_.passwordlist_setting.push_back(entry.substr(0, 3));
            lists_.passwordlist_name.push_back(name_end > 3 ? entry.substr(3, name_end - 3) : std::string());
            lists_.passwordlist.push_back(std::move(entry));
        }
    } catch (...) {
        errors_.show_error("Error reading in encrypted password list");
    }
}

void ConfigFile::write_password_list(IniFile& ini, bool ask) {
    if (!runtime_.PasswordListChanged) return;

    // A stored list that this run could not open is never replaced: it may
    // hold passwords that exist nowhere else.
    if (runtime_.StoredListUnreadable && ini.has_section(kPasswordList)) {
        if (!lists_.empty())
            errors_.show_error(
                "The stored Password List could not be opened this session and has been kept.\r\n"
                "The entries added this session were not saved.");
        return;
    }

    bool answered = ask;
    while (!lists_.empty() && runtime_.ListPassword.empty() && answered) {
        runtime_.PromptText = std::string(kListPromptEncrypt);
        answered = prompt_.setpasswordpasswordlist(2);
    }
    // Without a list password (the prompt was cancelled, or there was no
    // asking) the stored list is kept as it is rather than erased.
    if (!lists_.empty() && runtime_.ListPassword.empty()) return;

    std::vector<std::string> stored;
    for (const std::string& entry : lists_.passwordlist) {
        std::string line = passwordlistencryption(entry, 'e', runtime_.ListPassword, errors_);
        if (line.empty()) return;  // reported; keep what the file holds
        stored.push_back(std::move(line));
    }
    ini.erase_section(kPasswordList);
    for (std::size_t i = 0; i < stored.size(); ++i) ini.write_string(kPasswordList, std::to_string(i + 1), stored[i]);
}

void ConfigFile::report_write_failure() {
    errors_.show_error("Could not write to config file:\r\n" + runtime_.ConfigFileName);
}

std::optional<IniFile> ConfigFile::load_for_update() {
    try {
        return IniFile::load(runtime_.ConfigFileName);
    } catch (const EIniFileError&) {
        // Replacing a file that cannot be read would lose what it holds.
        report_write_failure();
        return std::nullopt;
    }
}

bool ConfigFile::save(const IniFile& ini) {
    try {
        make_parent_folders(runtime_.ConfigFileName);
        ini.save(runtime_.ConfigFileName);
        return true;
    } catch (...) {
        report_write_failure();
        return false;
    }
}

bool ConfigFile::writeinifile(std::string_view mode, bool ask) {
    const bool normal = mode == "normal";
    if (!normal && mode != "noconfig") return true;
    if (!normal && !file_exists(runtime_.ConfigFileName)) return true;

    std::optional<IniFile> loaded = load_for_update();
    if (!loaded) return false;
    IniFile& ini = *loaded;
    if (normal) {
        write_options(ini, settings_);
        write_password_list(ini, ask);
    } else {
        ini.write_bool(kMisc, "NoConfig", true);
    }
    return save(ini);
}

bool ConfigFile::write_at_exit(bool ask) {
    if (settings_.NoConfig && runtime_.CmdNoConfig) return true;
    return writeinifile(settings_.NoConfig ? "noconfig" : "normal", ask);
}

std::optional<FormPlacement> ConfigFile::read_placement(std::string_view form) const {
    IniFile ini;
    try {
        ini = IniFile::load(runtime_.ConfigFileName);
    } catch (const EIniFileError&) {
        return std::nullopt;
    }
    const std::string section = placement_section(form);
    if (!ini.has_section(section)) return std::nullopt;

    FormPlacement p;
    p.Flags = ini.read_integer(section, "Flags", p.Flags);
    p.ShowCmd = ini.read_integer(section, "ShowCmd", p.ShowCmd);
    p.PixelsPerInch = ini.read_integer(section, "PixelsPerInch", p.PixelsPerInch);
    const std::string minmax = ini.read_string(section, "MinMaxPos", "");
    const std::string norm = ini.read_string(section, "NormPos", "");
    if (std::sscanf(norm.c_str(), "%d,%d,%d,%d", &p.Left, &p.Top, &p.Right, &p.Bottom) != 4) return std::nullopt;
    if (std::sscanf(minmax.c_str(), "%d,%d,%d,%d", &p.MinX, &p.MinY, &p.MaxX, &p.MaxY) != 4) {
        p.MinX = p.MinY = p.MaxX = p.MaxY = -1;
    }
    return p;
}

bool ConfigFile::write_placement(std::string_view form, const FormPlacement& p) {
    std::optional<IniFile> loaded = load_for_update();
    if (!loaded) return false;
    IniFile& ini = *loaded;
    const std::string section = placement_section(form);
    auto four = [](int a, int b, int c, int d) {
        return std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) + "," + std::to_string(d);
    };
    ini.write_integer(section, "Flags", p.Flags);
    ini.write_integer(section, "ShowCmd", p.ShowCmd);
    ini.write_integer(section, "PixelsPerInch", p.PixelsPerInch);
    ini.write_string(section, "MinMaxPos", four(p.MinX, p.MinY, p.MaxX, p.MaxY));
    ini.write_string(section, "NormPos", four(p.Left, p.Top, p.Right, p.Bottom));
    return save(ini);
}

}  // namespace morvantile
