// What the desktop program's windows share: the options, the run-time
// state, the password lists, the configuration file (for window
// placements) and the desktop services of the operations core. The main
// window owns all of them and hands this out to every dialog it creates.
#pragma once

#include <functional>
#include <string>

#include "config/config_file.h"
#include "config/settings.h"
#include "passwords/password_lists.h"
#include "textcrypt/clipboard.h"
#include "textcrypt/desktop.h"

namespace morvantile::shell {

struct ShellContext {
    Settings& settings;
    RuntimeState& runtime;
    PasswordLists& lists;
    ConfigFile& config;
    EventPump& pump;
    SourceWindow& source;
    ClipboardExchange& clipboard;
    Dialogs& dialogs;
    // Unregisters every global hotkey (the options dialog's OK, before it
    // takes the new values).
    std::function<void()> clearshortcuts = [] {};
    // Rebuilds the tray icon's hint from the options.
    std::function<void()> settrayiconhint = [] {};
    // Where the hotkeys are bound when the desktop lets no program take
    // keys itself; empty when it does.
    std::string hotkeys_note;
    // The keys the desktop really assigned, where the desktop owns them
    // (the global-shortcuts portal); empty elsewhere.
    std::function<std::string()> assigned_keys = [] { return std::string(); };
};

}  // namespace morvantile::shell
