// Everything a window of the desktop program needs, over the recording
// fakes of the operations core: options, run-time state, password lists, a
// configuration file in a temporary folder (for the window placements) and
// a fake clipboard.
#pragma once

#include <QApplication>
#include <QWidget>

#include "config/config_file.h"
#include "config/settings.h"
#include "passwords/password_lists.h"
#include "shell/shell_context.h"
#include "support/desktop_fakes.h"
#include "support/fakes.h"
#include "support/temp_files.h"
#include "textcrypt/clipboard.h"

namespace morvantile::test {

struct ShellFixture {
    TempFolder folder;
    Settings settings;
    RuntimeState runtime;
    PasswordLists lists;
    RecordingErrors errors;
    ScriptedListPrompt list_prompt{runtime};
    FakeDesktop desktop{runtime};
    FakeClipboard clip;
    ClipboardExchange exchange{clip, settings, runtime, desktop, desktop};
    ConfigFile config{settings, runtime, lists, list_prompt, errors};
    int hotkeys_cleared = 0;
    int tray_hints = 0;
    shell::ShellContext context{settings, runtime, lists,    config, desktop,
                                desktop,  exchange, desktop, [this] { ++hotkeys_cleared; },
                                [this] { ++tray_hints; }, {}};

    ShellFixture() {
        runtime.ConfigFileName = folder / "morvantile.ini";
        clip.log = &desktop.log;
    }
    ~ShellFixture() {
        // No window of one test may stay open into the next.
        for (QWidget* w : QApplication::topLevelWidgets()) w->close();
    }
};

}  // namespace morvantile::test
