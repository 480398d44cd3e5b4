#include "automation/automation.h"

#include <algorithm>
#include <utility>
#include <array>
#include <optional>

#include "config/ascii.h"
#include "config/settings.h"
#include "textcrypt/clipboard.h"

namespace morvantile {

namespace {

// Codes of the keystroke strings.
constexpr unsigned char kShiftDown = 250;
constexpr unsigned char kNavigationFirst = 240;
constexpr unsigned char kFunctionFirst = 228;
constexpr unsigned char kFirstCharacter = 32;

constexpr std::uint8_t kVkShift = 0x10;
constexpr std::uint8_t kVkControl = 0x11;
constexpr std::uint8_t kVkMenu = 0x12;
constexpr std::uint8_t kVkF1 = 0x70;

// Home End Up Down Left Right PgUp PgDn Insert Delete.
constexpr std::array<std::uint8_t, 10> kNavigationVk = {0x24, 0x23, 0x26, 0x28, 0x25, 0x27, 0x21, 0x22, 0x2D, 0x2E};

// How often the waits for the desktop look again.
constexpr int kPollMs = 20;

// Release Alt, Ctrl and Shift (the user may still hold the hotkey's
// modifiers), Ctrl + the letter, release everything again.
std::string ctrl_chord(char letter) {
    return std::string{'\xFF', '\xFD', '\xFB', '\xFC', letter, '\xFF', '\xFD', '\xFB'};
}

std::string lower_ascii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), ascii_lower);
    return out;
}

// Clears request_running_ however the request ends.
class RequestGuard {
public:
    explicit RequestGuard(bool& flag) : flag_(&flag) { *flag_ = true; }
    ~RequestGuard() { release(); }
    RequestGuard(const RequestGuard&) = delete;
    RequestGuard& operator=(const RequestGuard&) = delete;
    void release() {
        if (flag_) *flag_ = false;
        flag_ = nullptr;
    }

private:
    bool* flag_;
};

}  // namespace

const std::string SelectAllKeys = ctrl_chord('a');
const std::string CopyKeys = ctrl_chord('c');
const std::string PasteKeys = ctrl_chord('v');

std::vector<std::string> split_command_line(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;  // "" and '' make an empty word
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (in_word) words.push_back(std::move(word));
            word.clear();
            in_word = false;
            ++i;
        } else if (c == '\'') {
            in_word = true;
            const std::size_t end = line.find('\'', i + 1);
            const std::size_t stop = end == std::string_view::npos ? n : end;
            word.append(line.substr(i + 1, stop - i - 1));
            i = end == std::string_view::npos ? n : end + 1;
        } else if (c == '"') {
            in_word = true;
            ++i;
            while (i < n && line[i] != '"') {
                if (line[i] == '\\' && i + 1 < n &&
                    (line[i + 1] == '\\' || line[i + 1] == '"' || line[i + 1] == '$' || line[i + 1] == '`')) {
                    word += line[i + 1];
                    i += 2;
                } else {
                    word += line[i++];
                }
            }
            if (i < n) ++i;  // the closing quote
        } else if (c == '\\') {
            in_word = true;
            // A backslash at the very end has nothing to keep and stays itself.
            word += i + 1 < n ? line[i + 1] : '\\';
            i += 2;
        } else {
            in_word = true;
            word += c;
            ++i;
        }
    }
    if (in_word) words.push_back(std::move(word));
    return words;
}

std::string quote_command_word(std::string_view word) {
    if (!word.empty() && word.find_first_of(" \t\n'\"\\") == std::string_view::npos) return std::string(word);
    std::string out = "'";
    for (const char c : word) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

std::string file_name_part(std::string_view text) {
    const std::size_t slash = text.rfind('/');
    return std::string(slash == std::string_view::npos ? text : text.substr(slash + 1));
}

DesktopAutomation::DesktopAutomation(const Settings& settings, RuntimeState& runtime, AutomationServices services)
    : settings_(settings), runtime_(runtime), services_(std::move(services)) {
    services_.windowcheck.start(kFirstWindowCheckMs);
}

DesktopAutomation::~DesktopAutomation() {
    // No tick may reach a destroyed automation.
    services_.windowcheck.stop();
    services_.externalviewer.stop();
}

void DesktopAutomation::application_activated() { services_.windowcheck.stop(); }

void DesktopAutomation::application_deactivated() { rearm_windowcheck(); }

void DesktopAutomation::rearm_windowcheck() { services_.windowcheck.start(settings_.ActiveWindowCheckTime); }

void DesktopAutomation::remember_foreground_window() {
    WindowSystem& ws = services_.windows;
    const WindowId fg = ws.foreground_window();
    // A window without caption, the program's own dialogs and the desktop's
    // own windows (the desktop, a panel, a notification that took the focus
    // for a moment) never replace the window the text came from.
    if (fg != 0 && !ws.window_title(fg).empty() && !ws.own_window(fg) && !ws.desktop_part(fg))
        runtime_.SourceWindow = fg;
}

void DesktopAutomation::Timer_windowcheckTimer() {
    if (runtime_.OperationBusy) return;
    remember_foreground_window();
    if (runtime_.ShowSourceHandle) {
        services_.tray.set_hint(std::to_string(runtime_.SourceWindow));
        services_.pump.process_messages();
    }
}

void DesktopAutomation::PopupmenuKey(char code) {
    // The waits below keep the event loop turning, so a second press of the
    // hotkey can arrive while this request is still switching or copying.
    if (request_running_) return;
    RequestGuard guard(request_running_);

    WindowSystem& ws = services_.windows;
    // A hotkey pressed before the window check has seen any window: the
    // window the user pressed it in is the one meant.
    if (runtime_.SourceWindow == 0) remember_foreground_window();
    if (runtime_.SourceWindow != 0 &&
        lower_ascii(ws.window_title(runtime_.SourceWindow)).find("program manager") != std::string::npos)
        runtime_.SourceWindow = 0;

    // That dialog has come to the front; a second one must not open beside it.
    if (services_.own_dialog_open && services_.own_dialog_open()) return;

    if (runtime_.FileMode) {
        guard.release();
        if (services_.run_command) services_.run_command(code == 'e' ? 'f' : 'g');
        return;
    }

    if (!ws.prepare_keystrokes()) {
        services_.errors.show_error(kKeystrokesRefused);
        guard.release();
        clipboard_only_request_ = true;
        if (services_.run_command) services_.run_command(code);
        clipboard_only_request_ = false;
        return;
    }

    if (!switchtosource()) {
        services_.errors.show_error(kCouldNotSwitch);
        return;
    }

    const WindowId source = runtime_.SourceWindow;
    if ((code == 'e' && settings_.AutoSelect_e) || (code == 'd' && settings_.AutoSelect_d)) {
        pausefor(settings_.SendKeysDelay);
        if (!sendkeys(SelectAllKeys, source)) {
            services_.errors.show_error(kCouldNotSwitch);
            return;
        }
        services_.pump.process_messages();
    }

    if (settings_.AutoCopy) {
        if (const std::optional<std::string_view> failure = copy_from_source(source)) {
            services_.errors.show_error(*failure);
            return;
        }
    }

    // The command sets OperationBusy itself for the rest.
    guard.release();
    if (services_.run_command) services_.run_command(code);
}

std::optional<std::string_view> DesktopAutomation::copy_from_source(WindowId source) {
    // Emptying the clipboard first means a copy that never happens leaves
    // nothing behind, not the previous text; and the clipboard changing
    // hands afterwards tells that the source window did copy.
    try {
        services_.clipboard.write_clipboard_text("", 'e');
    } catch (const EClipboardError&) {
        return kCouldNotCopy;
    }
    pausefor(settings_.SendKeysDelay);
    if (!sendkeys(CopyKeys, source)) return kCouldNotSwitch;
    services_.pump.process_messages();

    WindowSystem& ws = services_.windows;
    const std::uint64_t start = ws.tick_ms();
    for (;;) {
        if (ws.clipboard_taken()) return std::nullopt;
        const std::uint64_t elapsed = ws.tick_ms() - start;
        if (elapsed >= static_cast<std::uint64_t>(kCopyTimeoutMs)) return kCouldNotCopy;
        pausefor(static_cast<int>(std::min<std::uint64_t>(kPollMs, kCopyTimeoutMs - elapsed)));
    }
}

bool DesktopAutomation::switchtosource() {
    if (clipboard_only_request_) return true;
    // Every dialog of the program calls this once it has closed. The check
    // starts again even without a window to go back to: a dialog that
    // closes leaves the program without an active window, and X11 does not
    // always tell the program it is no longer the active application.
    rearm_windowcheck();
    const WindowId source = runtime_.SourceWindow;
    if (source == 0 || !services_.windows.is_window(source)) return false;
    const bool active = forceforeground(source);
    services_.pump.process_messages();
    // Keystrokes must not go to whatever other window happens to be active.
    return active;
}

bool DesktopAutomation::pasteback(bool auto_select) {
    if (clipboard_only_request_) return true;
    // The permission may have ended while the request waited for its
    // password (the desktop's indicator closed, say): the result stays on
    // the clipboard then, with a word why.
    if (!services_.windows.prepare_keystrokes()) {
        services_.errors.show_error(kKeystrokesRefused);
        return true;
    }
    if (!switchtosource()) return false;
    const WindowId source = runtime_.SourceWindow;
    // Separators are pasted after the text, so the text must stay in place.
    if (auto_select && !settings_.AppendSeparator) {
        pausefor(settings_.SendKeysDelay);
        if (!sendkeys(SelectAllKeys, source)) return false;
        services_.pump.process_messages();
    }
    if (settings_.AutoPaste) {
        pausefor(settings_.SendKeysDelay);
        if (!sendkeys(PasteKeys, source)) return false;
        services_.pump.process_messages();
    }
    return true;
}

bool DesktopAutomation::forceforeground(WindowId window) {
    WindowSystem& ws = services_.windows;
    if (window == 0) return false;
    if (ws.foreground_window() == window) return true;
    // A window that has closed will not come.
    if (!ws.is_window(window)) return false;
    ws.activate(window);
    const std::uint64_t start = ws.tick_ms();
    for (;;) {
        if (ws.foreground_window() == window) return true;
        const std::uint64_t elapsed = ws.tick_ms() - start;
        if (elapsed >= static_cast<std::uint64_t>(kActivateTimeoutMs)) return false;
        pausefor(static_cast<int>(std::min<std::uint64_t>(kPollMs, kActivateTimeoutMs - elapsed)));
    }
}

void DesktopAutomation::pausefor(int ms) {
    if (ms <= 0) return;
    services_.windows.wait(ms);
}

void DesktopAutomation::wait_for_modifier_release() {
    // A request from a hotkey starts while the user still holds its
    // modifiers; keys typed now would combine with them.
    WindowSystem& ws = services_.windows;
    const std::uint64_t start = ws.tick_ms();
    while (ws.modifiers_held() && ws.tick_ms() - start < static_cast<std::uint64_t>(kModifierReleaseTimeoutMs))
        pausefor(kPollMs);
}

void DesktopAutomation::press(unsigned key, bool down) { services_.windows.key_event(key, down); }

bool DesktopAutomation::sendkeys(std::string_view keys, WindowId target) {
    if (runtime_.SessionEnding) return false;
    wait_for_modifier_release();
    WindowSystem& ws = services_.windows;
    // The pauses before a sequence leave time for the focus to move (a
    // click, a notification, the window closing): select-all and paste must
    // never reach another window. Brought back once, or nothing is sent.
    if (target == 0 || (ws.foreground_window() != target && !forceforeground(target))) return false;

    std::array<bool, 3> down{};  // Shift, Ctrl, Alt as this sequence left them
    static constexpr std::array<std::uint8_t, 3> kModifierVk = {kVkShift, kVkControl, kVkMenu};
    auto release_modifiers = [&] {
        for (std::size_t m = 0; m < down.size(); ++m) {
            const KeyStroke modifier = ws.key_for_vk(kModifierVk[m]);
            if (down[m] && modifier.key != 0) press(modifier.key, false);
            down[m] = false;
        }
    };
    bool modifier_held = false;
    for (const char ch : keys) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte >= kShiftDown) {
            const std::size_t m = static_cast<std::size_t>(byte - kShiftDown) / 2;
            const bool press_down = (byte - kShiftDown) % 2 == 0;
            const KeyStroke modifier = ws.key_for_vk(kModifierVk[m]);
            if (modifier.key != 0) press(modifier.key, press_down);
            down[m] = press_down;
            modifier_held = press_down;
        } else {
            // The focus may still move while the sequence plays: a key that
            // would land elsewhere is not sent, nor anything after it.
            if (ws.foreground_window() != target || runtime_.SessionEnding) {
                release_modifiers();
                return false;
            }
            KeyStroke stroke;
            if (byte >= kNavigationFirst) {
                stroke = ws.key_for_vk(kNavigationVk[byte - kNavigationFirst]);
                stroke.shift = false;
            } else if (byte >= kFunctionFirst) {
                stroke = ws.key_for_vk(static_cast<std::uint8_t>(kVkF1 + (byte - kFunctionFirst)));
                stroke.shift = false;
            } else if (byte < kFirstCharacter) {
                stroke = ws.key_for_vk(byte);
                stroke.shift = false;
            } else {
                stroke = ws.key_for_char(ch);
            }
            if (stroke.key != 0) {
                // With Ctrl or Alt down the letter is a shortcut, where
                // Shift would change its meaning.
                const KeyStroke shift = stroke.shift && !modifier_held ? ws.key_for_vk(kVkShift) : KeyStroke{};
                if (shift.key != 0) press(shift.key, true);
                press(stroke.key, true);
                press(stroke.key, false);
                if (shift.key != 0) press(shift.key, false);
            }
        }
        services_.pump.process_messages();
    }
    return true;
}

}  // namespace morvantile
