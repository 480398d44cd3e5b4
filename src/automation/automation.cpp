#include "automation/automation.h"

#include <algorithm>
#include <utility>
#include <array>

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

void DesktopAutomation::Timer_windowcheckTimer() {
    if (runtime_.OperationBusy) return;
    WindowSystem& ws = services_.windows;
    const WindowId fg = ws.foreground_window();
    // A window without caption (a panel, the desktop right after a click on
    // the tray icon) and the program's own dialogs never replace the window
    // the text came from.
    if (fg != 0 && !ws.window_title(fg).empty() && !ws.own_window(fg)) runtime_.SourceWindow = fg;
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

    if (!switchtosource()) {
        services_.errors.show_error(kCouldNotSwitch);
        return;
    }

    if ((code == 'e' && settings_.AutoSelect_e) || (code == 'd' && settings_.AutoSelect_d)) {
        pausefor(settings_.SendKeysDelay);
        sendkeys(SelectAllKeys);
        services_.pump.process_messages();
    }

    if (settings_.AutoCopy && !copy_from_source()) {
        services_.errors.show_error(kCouldNotCopy);
        return;
    }

    // The command sets OperationBusy itself for the rest.
    guard.release();
    if (services_.run_command) services_.run_command(code);
}

bool DesktopAutomation::copy_from_source() {
    // Emptying the clipboard first means a copy that never happens leaves
    // nothing behind, not the previous text; and the clipboard changing
    // hands afterwards tells that the source window did copy.
    try {
        services_.clipboard.write_clipboard_text("", 'e');
    } catch (const EClipboardError&) {
        return false;
    }
    pausefor(settings_.SendKeysDelay);
    sendkeys(CopyKeys);
    services_.pump.process_messages();

    WindowSystem& ws = services_.windows;
    const std::uint64_t start = ws.tick_ms();
    for (;;) {
        if (ws.clipboard_taken()) return true;
        const std::uint64_t elapsed = ws.tick_ms() - start;
        if (elapsed >= static_cast<std::uint64_t>(kCopyTimeoutMs)) return false;
        pausefor(static_cast<int>(std::min<std::uint64_t>(kPollMs, kCopyTimeoutMs - elapsed)));
    }
}

bool DesktopAutomation::switchtosource() {
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
    if (!switchtosource()) return false;
    // Separators are pasted after the text, so the text must stay in place.
    if (auto_select && !settings_.AppendSeparator) {
        pausefor(settings_.SendKeysDelay);
        sendkeys(SelectAllKeys);
        services_.pump.process_messages();
    }
    if (settings_.AutoPaste) {
        pausefor(settings_.SendKeysDelay);
        sendkeys(PasteKeys);
        services_.pump.process_messages();
    }
    return true;
}

bool DesktopAutomation::forceforeground(WindowId window) {
    WindowSystem& ws = services_.windows;
    if (window == 0) return false;
    if (ws.foreground_window() == window) return true;
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

void DesktopAutomation::sendkeys(std::string_view keys) {
    wait_for_modifier_release();
    WindowSystem& ws = services_.windows;
    bool modifier_held = false;
    for (const char ch : keys) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte >= kShiftDown) {
            static constexpr std::array<std::uint8_t, 3> kModifierVk = {kVkShift, kVkControl, kVkMenu};
            const bool down = (byte - kShiftDown) % 2 == 0;
            const KeyStroke modifier = ws.key_for_vk(kModifierVk[(byte - kShiftDown) / 2]);
            if (modifier.key != 0) press(modifier.key, down);
            modifier_held = down;
        } else {
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
}

}  // namespace morvantile
