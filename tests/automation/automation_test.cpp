#include "automation/automation.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "automation/automation_fakes.h"
#include "config/settings.h"
#include "support/desktop_fakes.h"
#include "textcrypt/clipboard.h"

namespace morvantile {
namespace {

using test::FakeClipboard;
using test::FakeDesktop;
using test::FakeTimer;
using test::FakeWindowSystem;
using Log = std::vector<std::string>;

// What the keystroke strings type: release everything, Ctrl + letter,
// release everything.
Log chord(const std::string& key) {
    return {"-Alt", "-Ctrl", "-Shift", "+Ctrl", "+" + key, "-" + key, "-Alt", "-Ctrl", "-Shift"};
}
Log cat(std::initializer_list<Log> parts) {
    Log out;
    for (const Log& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(CommandLine, SplitsLikeAShellWithoutExpanding) {
    const struct {
        const char* line;
        Log words;
    } cases[] = {
        {"", {}},
        {"  /usr/bin/gedit \t --new-window  ", {"/usr/bin/gedit", "--new-window"}},
        {"'/opt/My Editor/edit' -x", {"/opt/My Editor/edit", "-x"}},
        {R"("a \"b\" \$HOME \` \\ \n")", {R"(a "b" $HOME ` \ \n)"}},
        {R"(My\ Editor 'it''s')", {"My Editor", "its"}},
        {"a '' \"\" b", {"a", "", "", "b"}},
        {"pre'mid dle'post", {"premid dlepost"}},
        {"$HOME ~ * `x`", {"$HOME", "~", "*", "`x`"}},
        {"edit 'unterminated rest", {"edit", "unterminated rest"}},
        {"edit \"open to end", {"edit", "open to end"}},
        {"edit trailing\\", {"edit", "trailing\\"}},
    };
    for (const auto& c : cases) EXPECT_EQ(split_command_line(c.line), c.words) << c.line;
    // A path chosen with Browse is stored so that it splits back into itself.
    for (const std::string path : {"/usr/bin/gedit", "/opt/My Editor/edit", "/opt/it's \"here\"/a\\b", ""}) {
        EXPECT_EQ(split_command_line(quote_command_word(path)), Log{path}) << path;
    }
    EXPECT_EQ(quote_command_word("/usr/bin/gedit"), "/usr/bin/gedit");
    EXPECT_EQ(file_name_part("/usr/bin/gedit"), "gedit");
    EXPECT_EQ(file_name_part("gedit --new-window /tmp/x"), "x");
    EXPECT_EQ(file_name_part("/usr/bin/"), "");
}

struct AutomationTest : ::testing::Test {
    static constexpr WindowId kSource = 42;
    static constexpr WindowId kPanel = 7;

    Settings settings;
    RuntimeState runtime;
    FakeDesktop desktop{runtime};
    FakeClipboard clip;
    ClipboardExchange exchange{clip, settings, runtime, desktop, desktop};
    FakeWindowSystem ws;
    FakeTimer windowcheck, viewer;
    bool dialog_open = false;
    std::function<void(char)> on_command;
    DesktopAutomation automation{settings, runtime,
                                 AutomationServices{ws, desktop, desktop, desktop, exchange, windowcheck, viewer,
                                                    [this] { return dialog_open; },
                                                    [this](char c) {
                                                        ws.log.push_back(std::string("run ") + c);
                                                        if (on_command) on_command(c);
                                                    }}};

    AutomationTest() {
        clip.log = &ws.log;
        ws.windows[kSource] = {"Inbox - Mail", 500};
        ws.windows[kPanel] = {"", 1};
        runtime.SourceWindow = kSource;
        ws.fg = kPanel;
    }
    // The log without the clipboard's opening and closing.
    Log calls() const {
        Log out;
        for (const std::string& e : ws.log)
            if (e != "clip open" && e != "clip close") out.push_back(e);
        return out;
    }
    Log only(std::string_view prefix) const {
        Log out;
        for (const std::string& e : ws.log)
            if (e.starts_with(prefix)) out.push_back(e);
        return out;
    }
    int waited() const {
        int total = 0;
        for (const std::string& e : only("wait ")) total += std::stoi(e.substr(5));
        return total;
    }
};

// ---- remembering the source window

TEST_F(AutomationTest, WindowCheckRemembersOnlyCaptionedWindowsOfOtherPrograms) {
    ws.windows[1] = {"Editor", 9};
    ws.windows[3] = {"Morvantile: change settings", 1, /*own=*/true};
    const struct {
        WindowId fg;
        bool busy;
        WindowId remembered;
    } cases[] = {{1, false, 1},      {kPanel, false, kSource}, {3, false, kSource}, {0, false, kSource},
                 {1, true, kSource}, {8, false, kSource},      {9, false, kSource}};
    // The desktop's own captioned windows: a dock and a notification.
    ws.windows[8] = {"Top Panel", 2, false, /*desktop_part=*/true};
    ws.windows[9] = {"New mail from Ann", 2, false, /*desktop_part=*/true};
    for (const auto& c : cases) {
        runtime.SourceWindow = kSource;
        runtime.OperationBusy = c.busy;
        ws.fg = c.fg;
        automation.Timer_windowcheckTimer();
        EXPECT_EQ(runtime.SourceWindow, c.remembered) << c.fg << (c.busy ? " busy" : "");
    }
}

TEST_F(AutomationTest, WindowCheckShowsTheHandleOnlyWhenAskedAndNotBusy) {
    automation.Timer_windowcheckTimer();
    runtime.ShowSourceHandle = true;
    runtime.OperationBusy = true;
    automation.Timer_windowcheckTimer();
    runtime.OperationBusy = false;
    automation.Timer_windowcheckTimer();
    EXPECT_EQ(desktop.log, (Log{"hint 42"}));
    EXPECT_EQ(desktop.pumped, 1);
}

TEST_F(AutomationTest, WindowCheckRunsOnlyWhileAnotherProgramIsActive) {
    settings.ActiveWindowCheckTime = 300;
    EXPECT_EQ(windowcheck.starts, (std::vector<int>{kFirstWindowCheckMs}));
    automation.application_activated();
    EXPECT_FALSE(windowcheck.running);
    automation.application_deactivated();
    automation.application_activated();
    EXPECT_TRUE(automation.switchtosource());
    EXPECT_TRUE(windowcheck.running);
    EXPECT_EQ(windowcheck.starts, (std::vector<int>{kFirstWindowCheckMs, 300, 300}));

    // A dialog closing with no window to go back to (the list password at
    // start) still starts the check, or the first hotkey would find none.
    automation.application_activated();
    runtime.SourceWindow = 0;
    EXPECT_FALSE(automation.switchtosource());
    EXPECT_TRUE(windowcheck.running);
}

// ---- requests

TEST_F(AutomationTest, RequestSelectsCopiesWaitsForTheCopyAndRuns) {
    settings.AutoSelect_e = true;
    ws.copy_polls = 2;
    automation.PopupmenuKey('e');
    EXPECT_EQ(calls(), cat({{"activate 42", "wait 250"}, chord("a"), {"clip set text/plain ", "wait 250"},
                            chord("c"), {"wait 20", "wait 20", "run e"}}));
    EXPECT_FALSE(clip.secret);
    EXPECT_TRUE(desktop.log.empty());

    // Decryption follows its own auto-select switch; without auto-copy
    // nothing waits for the clipboard.
    ws.log.clear();
    settings.AutoCopy = false;
    automation.PopupmenuKey('d');
    EXPECT_EQ(calls(), (Log{"run d"}));  // the source is in front already
}

TEST_F(AutomationTest, RequestWithoutAUsableSourceWindowIsRefused) {
    ws.windows[kSource].title = "Program Manager";
    automation.PopupmenuKey('e');
    EXPECT_EQ(runtime.SourceWindow, 0u);

    runtime.SourceWindow = 99;  // closed meanwhile
    automation.PopupmenuKey('d');

    runtime.SourceWindow = kSource;
    ws.windows[kSource].title = "Inbox";
    ws.refuse_activation.insert(kSource);
    automation.PopupmenuKey('e');
    EXPECT_EQ(waited(), kActivateTimeoutMs);

    EXPECT_EQ(desktop.log, Log(3, "error Could not switch to source window"));
    EXPECT_TRUE(ws.keys().empty());
    EXPECT_TRUE(only("run").empty());
}

TEST_F(AutomationTest, WithoutASourceWindowYetTheWindowOfThePressIsTheSource) {
    // Pressed in the first moments after start, before any window check.
    runtime.SourceWindow = 0;
    ws.windows[1] = {"Draft - Editor", 9};
    ws.fg = 1;
    automation.PopupmenuKey('e');
    EXPECT_EQ(runtime.SourceWindow, 1u);
    EXPECT_EQ(only("run"), (Log{"run e"}));

    // From the tray menu the active window is the panel, which is no source.
    runtime.SourceWindow = 0;
    ws.windows[8] = {"Top Panel", 2, false, /*desktop_part=*/true};
    ws.fg = 8;
    automation.PopupmenuKey('d');
    EXPECT_EQ(runtime.SourceWindow, 0u);
    EXPECT_EQ(desktop.log, (Log{"error Could not switch to source window"}));
    EXPECT_EQ(only("run"), (Log{"run e"}));
}

TEST_F(AutomationTest, KeysAreSentOnlyWhileTheSourceWindowIsActive) {
    settings.AutoSelect_e = true;
    ws.windows[5] = {"Chat", 77};
    // A notification, a click: the focus moves during the pause before
    // select-all, and the window will not come back.
    ws.on_wait = [this] {
        if (ws.fg == kSource) {
            ws.fg = 5;
            ws.refuse_activation.insert(kSource);
        }
    };
    automation.PopupmenuKey('e');
    EXPECT_TRUE(ws.keys().empty());
    EXPECT_EQ(desktop.log, (Log{"error Could not switch to source window"}));
    EXPECT_TRUE(only("run").empty());

    // Taken away once, it is brought back and gets the keys.
    ws.log.clear();
    desktop.log.clear();
    ws.refuse_activation.clear();
    ws.fg = kPanel;
    bool moved = false;
    ws.on_wait = [&] {
        if (ws.fg == kSource && !moved) {
            moved = true;
            ws.fg = 5;
        }
    };
    automation.PopupmenuKey('e');
    EXPECT_EQ(only("activate"), (Log{"activate 42", "activate 42"}));
    EXPECT_EQ(ws.keys(), cat({chord("a"), chord("c")}));
    EXPECT_EQ(only("run"), (Log{"run e"}));
    EXPECT_TRUE(desktop.log.empty());

    // The copy keystroke is refused the same way, after select-all went in.
    ws.log.clear();
    ws.fg = kPanel;
    ws.on_wait = [&] {
        if (ws.fg == kSource && ws.keys().size() == chord("a").size()) {
            ws.fg = 5;
            ws.refuse_activation.insert(kSource);
        }
    };
    automation.PopupmenuKey('e');
    EXPECT_EQ(ws.keys(), chord("a"));
    EXPECT_EQ(desktop.log, (Log{"error Could not switch to source window"}));
}

TEST_F(AutomationTest, OpenDialogDropsTheRequestAndFileModeTouchesNoWindow) {
    dialog_open = true;
    automation.PopupmenuKey('e');
    EXPECT_TRUE(ws.log.empty());
    EXPECT_TRUE(desktop.log.empty());

    dialog_open = false;
    runtime.FileMode = true;
    runtime.SourceWindow = 0;
    automation.PopupmenuKey('e');
    automation.PopupmenuKey('d');
    EXPECT_EQ(ws.log, (Log{"run f", "run g"}));
}

TEST_F(AutomationTest, CopyThatNeverArrivesStopsTheRequest) {
    ws.copy_polls = -1;
    automation.PopupmenuKey('e');
    EXPECT_EQ(waited(), settings.SendKeysDelay + kCopyTimeoutMs);
    EXPECT_EQ(clip.plain(), "");  // not the text that was there before
    // The clipboard cannot even be emptied: no copy is attempted.
    ws.log.clear();
    clip.fail_open = true;
    automation.PopupmenuKey('e');
    EXPECT_TRUE(ws.keys().empty());

    EXPECT_EQ(desktop.log, Log(2, "error Could not copy text from the source window"));
    EXPECT_TRUE(only("run").empty());
}

TEST_F(AutomationTest, SecondRequestDuringTheFirstIsIgnored) {
    ws.copy_polls = 3;
    int waits = 0;
    ws.on_wait = [&] {
        if (waits++ == 0) automation.PopupmenuKey('d');
    };
    automation.PopupmenuKey('e');
    EXPECT_EQ(only("run"), (Log{"run e"}));

    // A request that fails half way does not block the next one.
    ws.on_wait = nullptr;
    clip.before = [](const std::string&) { throw std::runtime_error("display gone"); };
    EXPECT_THROW(automation.PopupmenuKey('e'), std::runtime_error);
    clip.before = nullptr;
    automation.PopupmenuKey('d');
    EXPECT_EQ(only("run"), (Log{"run e", "run d"}));
}

// ---- pasting back and keystrokes

TEST_F(AutomationTest, PastebackSelectsOnlyWithoutSeparators) {
    settings.SendKeysDelay = 0;
    const struct {
        bool separator, auto_select, paste;
        Log keys;
    } cases[] = {{true, true, true, chord("v")},
                 {false, true, true, cat({chord("a"), chord("v")})},
                 {false, false, true, chord("v")},
                 {false, true, false, chord("a")}};
    for (const auto& c : cases) {
        settings.AppendSeparator = c.separator;
        settings.AutoPaste = c.paste;
        ws.log.clear();
        ws.fg = kPanel;
        EXPECT_TRUE(automation.pasteback(c.auto_select));
        EXPECT_EQ(ws.keys(), c.keys);
        EXPECT_TRUE(only("wait").empty());  // a delay of 0 means no pause at all
    }
    ws.log.clear();
    runtime.SourceWindow = 99;
    EXPECT_FALSE(automation.pasteback(true));
    EXPECT_TRUE(ws.log.empty());
}

TEST_F(AutomationTest, WhereTheDesktopRefusesKeystrokesTheRequestWorksOnTheClipboardAlone) {
    bool pasted = false;
    on_command = [&](char) { pasted = automation.pasteback(true); };
    // Refused at the start: one message, the command runs on the clipboard
    // as it is, and nothing is typed or switched to, not even for the paste.
    ws.keystroke_permission = {false};
    automation.PopupmenuKey('e');
    EXPECT_EQ(desktop.log, (Log{"error " + std::string(kKeystrokesRefused)}));
    EXPECT_EQ(calls(), (Log{"run e"}));
    EXPECT_TRUE(pasted);
    EXPECT_EQ(ws.keystroke_preparations, 1);

    // The next request asks again, and with the permission types as ever.
    desktop.log.clear();
    ws.log.clear();
    ws.fg = kSource;
    automation.PopupmenuKey('e');
    EXPECT_TRUE(desktop.log.empty());
    EXPECT_EQ(ws.keys(), cat({chord("c"), chord("v")}));
    EXPECT_EQ(ws.keystroke_preparations, 3);

    // The permission ends while the request waits for its password: the
    // result stays on the clipboard, with the same one message.
    ws.log.clear();
    ws.keystroke_permission = {true, false};
    automation.PopupmenuKey('e');
    EXPECT_TRUE(pasted);
    EXPECT_EQ(ws.keys(), chord("c"));
    EXPECT_EQ(desktop.log, (Log{"error " + std::string(kKeystrokesRefused)}));
}

TEST_F(AutomationTest, PastebackSendsNothingIntoAnotherWindow) {
    settings.AppendSeparator = false;
    ws.windows[5] = {"Terminal", 77};
    // The source closes during the delay before the paste; the focus falls
    // to another program, which must get neither keys nor the text.
    ws.on_wait = [this] {
        if (ws.fg == kSource && ws.keys().size() == chord("a").size()) {
            ws.windows.erase(kSource);
            ws.fg = 5;
        }
    };
    EXPECT_FALSE(automation.pasteback(true));
    EXPECT_EQ(ws.keys(), chord("a"));

    // The focus moves in the middle of a chord: the letter is not sent and
    // the Ctrl this chord pressed is let go.
    ws.windows[kSource] = {"Inbox - Mail", 500};
    ws.refuse_activation.insert(kSource);
    ws.on_wait = nullptr;
    ws.fg = kSource;
    ws.log.clear();
    desktop.on_pump = [this] {
        if (ws.keys() == Log{"-Alt", "-Ctrl", "-Shift", "+Ctrl"}) ws.fg = 5;
    };
    EXPECT_FALSE(automation.sendkeys(PasteKeys, kSource));
    EXPECT_EQ(ws.keys(), (Log{"-Alt", "-Ctrl", "-Shift", "+Ctrl", "-Ctrl"}));
}

TEST_F(AutomationTest, KeystrokeBytes) {
    const struct {
        std::string bytes;
        Log keys;
    } cases[] = {
        {"A", {"+Shift", "+a", "-a", "-Shift"}},
        {"\xFC" "A" "\xFD", {"+Ctrl", "+a", "-a", "-Ctrl"}},
        {"\xFA!\xFB", {"+Shift", "+1", "-1", "-Shift"}},
        {"\xF0\xF9\xF7", {"+Home", "-Home", "+Del", "-Del", "+PgDn", "-PgDn"}},
        {"\xE4\xEF\r", {"+F1", "-F1", "+F12", "-F12", "+Enter", "-Enter"}},
        {"a~b", {"+a", "-a", "+b", "-b"}},  // the layout has no key for "~"
    };
    ws.fg = kSource;
    for (const auto& c : cases) {
        ws.log.clear();
        desktop.pumped = 0;
        EXPECT_TRUE(automation.sendkeys(c.bytes, kSource));
        EXPECT_EQ(ws.keys(), c.keys);
        EXPECT_EQ(desktop.pumped, static_cast<int>(c.bytes.size()));
    }
}

TEST_F(AutomationTest, KeysWaitForTheUserToLetGoOfModifiers) {
    ws.fg = kSource;
    ws.modifier_polls = 2;
    automation.sendkeys("x", kSource);
    EXPECT_EQ(ws.log, (Log{"wait 20", "wait 20", "+x", "-x"}));

    ws.log.clear();
    ws.modifier_polls = 1000;  // stuck: typed anyway after the time limit
    automation.sendkeys("x", kSource);
    EXPECT_EQ(waited(), kModifierReleaseTimeoutMs);
    EXPECT_EQ(ws.keys(), (Log{"+x", "-x"}));
}

TEST_F(AutomationTest, ForceForegroundWaitsForTheWindowToComeUp) {
    ws.fg = kSource;
    EXPECT_TRUE(automation.forceforeground(kSource));
    EXPECT_TRUE(ws.log.empty());
    ws.fg = kPanel;
    ws.activation_delay_ms = 50;
    EXPECT_TRUE(automation.forceforeground(kSource));
    EXPECT_EQ(ws.log, (Log{"activate 42", "wait 20", "wait 20", "wait 20"}));
    EXPECT_FALSE(automation.forceforeground(0));
}

// ---- the external editor

struct ViewerTest : AutomationTest {
    ViewerTest() {
        ws.windows[10] = {"notes.txt - Kate", 3};
        ws.windows[11] = {"todo - gedit", 4};
        ws.windows[12] = {"other - gedit", 5};
        ws.programs = {{3, "/usr/bin/kate"}, {4, "/usr/bin/gedit"}, {5, "/usr/bin/gedit"}};
        ws.clients = {10, 11, 12};
        ws.on_path["gedit"] = "/usr/bin/gedit";
    }
    // A stopped timer does not tick.
    void ticks(int n) {
        for (int i = 0; i < n && viewer.running; ++i) automation.timer_externalviewerTimer();
    }
};

TEST_F(ViewerTest, RunningEditorIsReusedOnlyByItsExactProgramName) {
    automation.launchviewer("/usr/local/bin/gedit", 5);
    EXPECT_EQ(ws.log, (Log{"activate 11"}));
    EXPECT_EQ(runtime.ViewerProcessId, 4);

    ws.log.clear();
    ws.start_pids = {60, 61};
    automation.launchviewer("Gedit", 5);
    EXPECT_EQ(runtime.ViewerProcessId, 60);
    automation.launchviewer("gedit --new-window", 5);
    EXPECT_EQ(runtime.ViewerProcessId, 61);
    EXPECT_EQ(only("start"), (Log{"start Gedit", "start gedit|--new-window"}));
    EXPECT_EQ(viewer.starts, (std::vector<int>{kViewerTickMs, kViewerTickMs, kViewerTickMs}));
}

TEST_F(ViewerTest, AQuotedProgramPathIsKnownByItsFileName) {
    // As Browse stores a path with a blank in it.
    automation.launchviewer("'/opt/My Apps/gedit'", 5);
    EXPECT_EQ(runtime.ViewerExeName, "gedit");
    EXPECT_EQ(ws.log, (Log{"activate 11"}));

    ws.log.clear();
    ws.clients.clear();
    ws.start_pids = {65};
    automation.launchviewer("'/opt/My Apps/gedit'", 5);
    EXPECT_EQ(ws.log, (Log{"start /opt/My Apps/gedit"}));
}

TEST_F(ViewerTest, TheEditorGetsNoKeysOnceItHasLostTheFocus) {
    ws.start_pids = {80};
    automation.launchviewer("featherpad", 5);
    ws.windows[20] = {"Untitled", 80};
    ws.windows[5] = {"Chat", 77};
    ws.fg = 20;
    ws.log.clear();
    ws.refuse_activation.insert(20);
    ws.on_wait = [this] {
        if (ws.keys().size() == chord("a").size()) ws.fg = 5;
    };
    ticks(1);
    EXPECT_EQ(ws.keys(), chord("a"));  // no paste into the chat
    EXPECT_TRUE(only("title").empty());
    EXPECT_FALSE(viewer.running);
}

TEST_F(ViewerTest, NothingForAnEmptyProgramAndNoMessageWhenItWillNotStart) {
    automation.launchviewer("", 5);
    automation.launchviewer("/usr/bin/", 5);
    EXPECT_TRUE(ws.log.empty());
    EXPECT_TRUE(viewer.starts.empty());

    automation.launchviewer("missing-editor", 5);
    EXPECT_EQ(ws.log, (Log{"start missing-editor"}));
    EXPECT_EQ(runtime.ViewerProcessId, 0);
    EXPECT_TRUE(viewer.running);
    EXPECT_TRUE(desktop.log.empty());
}

TEST_F(ViewerTest, WaitGivesUpAfterItsLastTickAndTheNextWaitCountsFromZero) {
    ws.start_pids = {70, 71, 72};
    ws.fg = 10;  // another program stays in front
    automation.launchviewer("mousepad", 5);
    ticks(60);
    automation.launchviewer("mousepad", 5);  // a second pass keeps counting
    ticks(kViewerMaxTicks - 60);
    EXPECT_TRUE(viewer.running);
    ticks(1);
    EXPECT_FALSE(viewer.running);
    EXPECT_EQ(runtime.ViewerWaitTicks, 0);

    automation.launchviewer("mousepad", 5);
    ticks(kViewerMaxTicks);
    EXPECT_TRUE(viewer.running);
    EXPECT_TRUE(ws.keys().empty());
}

TEST_F(ViewerTest, DeliveryPastesIntoTheEditorAndMarksItsCaptionOnce) {
    ws.start_pids = {80};
    automation.launchviewer("featherpad", 5);
    ws.windows[20] = {"Untitled", 80};
    ws.fg = 20;
    ws.log.clear();
    // The editor marks its document changed a while after the paste.
    ws.on_wait = [this] {
        if (ws.keys().size() == 2 * chord("a").size() && ws.now > 600) ws.windows[20].title = "*Untitled";
    };
    ticks(3);
    EXPECT_EQ(only("title"), (Log{"title 20 Morvantile - *Untitled"}));
    ws.on_wait = nullptr;
    EXPECT_FALSE(viewer.running);
    EXPECT_EQ(runtime.ViewerWaitTicks, 0);

    ws.programs[80] = "/usr/bin/featherpad";
    ws.clients.push_back(20);
    automation.launchviewer("featherpad", 5);
    ticks(1);
    EXPECT_EQ(only("title"), (Log{"title 20 Morvantile - *Untitled"}));
    EXPECT_EQ(ws.keys().size(), 4 * chord("a").size());

    // An editor that never retitles still gets the prefix, a second later.
    ws.windows[21] = {"Notes", 80};
    ws.fg = 21;
    ws.log.clear();
    ws.start_pids = {80};
    automation.launchviewer("featherpad --standalone", 5);
    const std::uint64_t before = ws.now;
    ticks(1);
    EXPECT_EQ(only("title"), (Log{"title 21 Morvantile - Notes"}));
    EXPECT_GE(ws.now - before, static_cast<std::uint64_t>(2 * 250 + kViewerRetitleMs));
}

// Wayland: no window tells its process; the application id names the editor.
TEST_F(ViewerTest, WithoutProcessesARunningEditorIsKnownByItsApplicationId) {
    ws.windows[30] = {"todo.txt - Mousepad", 0};
    ws.windows[31] = {"Chat", 0};
    ws.app_ids = {{30, "org.xfce.Mousepad"}, {31, "chat"}};
    ws.clients = {10, 31, 30};
    ws.fg = 31;
    automation.launchviewer("mousepad", 5);
    EXPECT_EQ(only("activate"), (Log{"activate 30"}));
    EXPECT_TRUE(only("start").empty());
    EXPECT_EQ(runtime.ViewerProcessId, 0);

    // Only that window takes the text, not whatever else comes to the front.
    ws.fg = 31;
    ticks(1);
    EXPECT_TRUE(viewer.running);
    EXPECT_TRUE(ws.keys().empty());
    ws.fg = 30;
    ticks(1);
    EXPECT_FALSE(viewer.running);
    EXPECT_EQ(only("restore"), (Log{"restore 30"}));
    EXPECT_EQ(ws.keys().size(), 2 * chord("a").size());
}

TEST_F(ViewerTest, WithoutProcessesAStartedEditorIsItsNewWindowOnly) {
    // A window that mentions the editor in its title was there before the
    // start: it is not the editor, even once it comes to the front.
    ws.windows[34] = {"notes about mousepad", 0};
    ws.app_ids = {{34, "org.gnome.gedit"}};
    ws.clients = {34};
    ws.start_pids = {95};
    automation.launchviewer("mousepad", 5);
    EXPECT_EQ(only("start"), (Log{"start mousepad"}));
    ws.fg = 34;
    ticks(1);
    EXPECT_TRUE(viewer.running);

    // The new window, known by its application id.
    ws.windows[35] = {"Untitled 1", 0};
    ws.app_ids[35] = "org.xfce.mousepad";
    ws.clients.push_back(35);
    ws.fg = 35;
    ticks(1);
    EXPECT_FALSE(viewer.running);
    EXPECT_EQ(only("restore"), (Log{"restore 35"}));

    // A program without an application id, known by its title.
    ws.log.clear();
    ws.clients = {34, 35};
    ws.start_pids = {96};
    automation.launchviewer("featherpad", 5);
    ws.windows[36] = {"Untitled - FeatherPad", 0};
    ws.fg = 36;
    ticks(1);
    EXPECT_FALSE(viewer.running);
    EXPECT_EQ(only("restore"), (Log{"restore 36"}));

    // Started with arguments: known by the program's name, not by the
    // whole command line's.
    ws.log.clear();
    ws.clients = {34, 35, 36};
    ws.start_pids = {97};
    automation.launchviewer("/usr/bin/gedit --new-window -s", 5);
    EXPECT_EQ(only("start"), (Log{"start /usr/bin/gedit|--new-window|-s"}));
    ws.windows[37] = {"Unsaved Document 1 - gedit", 0};
    ws.app_ids[37] = "org.gnome.gedit";
    ws.clients.push_back(37);
    ws.fg = 37;
    ticks(1);
    EXPECT_FALSE(viewer.running);
    EXPECT_EQ(only("restore"), (Log{"restore 37"}));
}

TEST_F(ViewerTest, WindowOfTheSameProgramCountsWhenTheStartedProcessHandedOver) {
    ws.clients.clear();  // the running instance shows no window yet
    ws.start_pids = {90};
    automation.launchviewer("gedit", 5);
    // While the started process runs, the text's own window in another
    // copy of the same editor is not the one to paste into.
    ws.programs[90] = "/usr/bin/gedit";
    ws.fg = 11;
    ticks(1);
    EXPECT_TRUE(viewer.running);
    ws.programs.erase(90);  // it has handed the file over and ended
    ws.fg = 10;
    ticks(1);
    EXPECT_TRUE(viewer.running);
    ws.fg = 12;  // pid 5, the instance that took the text over
    ticks(1);
    EXPECT_FALSE(viewer.running);
    EXPECT_EQ(only("restore"), (Log{"restore 12"}));
}

TEST_F(AutomationTest, CaptionPrefixIsCutToWholeCharacters) {
    ws.windows[5] = {std::string(300, 'x'), 1};
    automation.prefixwindowtitle(5, kViewerCaptionPrefix);
    EXPECT_EQ(ws.windows[5].title, "Morvantile - " + std::string(242, 'x'));

    std::string accents;
    for (int i = 0; i < 200; ++i) accents += "\xC3\xA9";
    ws.windows[6] = {"x" + accents, 1};
    automation.prefixwindowtitle(6, kViewerCaptionPrefix);
    EXPECT_EQ(ws.windows[6].title, "Morvantile - x" + accents.substr(0, 240));
}

}  // namespace
}  // namespace morvantile
