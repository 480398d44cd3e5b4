// Feeding decrypted text to the user's own editor: the text is already on
// the clipboard; the editor is found or started, and once one of its windows
// is in front it gets select-all and paste.
#include <algorithm>
#include <string>

#include "automation/automation.h"
#include "config/settings.h"

namespace morvantile {

namespace {

// A caption that starts with it has been marked already.
constexpr std::string_view kProductName = "Morvantile";
constexpr std::size_t kMaxCaptionBytes = 255;

// Cuts to at most `max` bytes without splitting a UTF-8 character.
void cut_utf8(std::string& text, std::size_t max) {
    if (text.size() <= max) return;
    std::size_t n = max;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    text.resize(n);
}

std::string lower_ascii_copy(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Whether a name the desktop gives a window ("org.gnome.gedit") contains
// the editor's program name ("gedit"), letter case aside: application ids
// are written in any case, program files mostly in lower case.
bool names_program(std::string_view name, std::string_view exe_name) {
    return !exe_name.empty() && lower_ascii_copy(name).find(lower_ascii_copy(exe_name)) != std::string::npos;
}

}  // namespace

std::string DesktopAutomation::windowexename(WindowId window) {
    const std::int64_t pid = services_.windows.window_process(window);
    if (pid == 0) return {};
    return services_.windows.process_program_file(pid);
}

void DesktopAutomation::launchviewer(std::string_view command_line, [[maybe_unused]] int show_mode) {
    const std::vector<std::string> argv = split_command_line(command_line);
    // A program named alone is known by its file name, also when its path
    // is quoted (blanks in a folder name); with arguments the whole text's
    // file-name part stands, which no running editor matches.
    runtime_.ViewerExeName = file_name_part(argv.size() == 1 ? std::string_view(argv[0]) : command_line);
    if (runtime_.ViewerExeName.empty()) return;
    runtime_.ViewerProcessId = 0;
    // Left from an earlier start, it could accept a window of another editor.
    viewer_program_file_.clear();
    viewer_started_name_.clear();
    viewer_window_ = 0;
    windows_before_viewer_.clear();

    WindowSystem& ws = services_.windows;
    bool found = false;
    // Letter case counts: program files on Linux are case-sensitive names.
    for (const WindowId window : ws.client_windows()) {
        const std::string program_file = windowexename(window);
        if (program_file.empty() && names_program(ws.window_app_id(window), runtime_.ViewerExeName)) {
            viewer_window_ = window;
        } else if (file_name_part(program_file) != runtime_.ViewerExeName) {
            continue;
        }
        forceforeground(window);
        runtime_.ViewerProcessId = static_cast<int>(ws.window_process(window));
        found = true;
        break;
    }
    if (!found) {
        windows_before_viewer_ = ws.client_windows();
        if (!argv.empty()) {
            viewer_program_file_ = ws.find_program(argv[0]);
            viewer_started_name_ = file_name_part(argv[0]);
            // A start that fails says nothing: the text stays on the
            // clipboard and the wait simply runs out.
            runtime_.ViewerProcessId = static_cast<int>(ws.start_process(argv));
        }
    }
    // A wait already running (the second pass of Hardcore mode) keeps its
    // count, so the whole delivery still gives up in time.
    services_.externalviewer.start(kViewerTickMs);
}

void DesktopAutomation::timer_externalviewerTimer() {
    if (++runtime_.ViewerWaitTicks > kViewerMaxTicks) {
        services_.externalviewer.stop();
        runtime_.ViewerWaitTicks = 0;
        return;
    }
    WindowSystem& ws = services_.windows;
    const WindowId fg = ws.foreground_window();
    const std::int64_t pid = fg != 0 ? ws.window_process(fg) : 0;
    // Many editors run one instance per user: the process started here
    // passes the file to the running one and exits, and the window that
    // comes up belongs to a process of the same program. While the started
    // process still runs, only its own windows count: the window the text
    // came from may well be another copy of the same editor.
    const bool handed_over = runtime_.ViewerProcessId != 0 && !viewer_program_file_.empty() &&
                             ws.process_program_file(runtime_.ViewerProcessId).empty();
    bool ours = (runtime_.ViewerProcessId != 0 && pid == runtime_.ViewerProcessId) ||
                (pid != 0 && handed_over && ws.process_program_file(pid) == viewer_program_file_);
    // A window whose process the desktop does not tell: the running editor
    // window chosen above, or a new window named after the editor.
    if (!ours && fg != 0 && pid == 0) {
        const bool is_new = std::find(windows_before_viewer_.begin(), windows_before_viewer_.end(), fg) ==
                            windows_before_viewer_.end();
        ours = viewer_window_ != 0 ? fg == viewer_window_
                                   : is_new && (names_program(ws.window_app_id(fg), viewer_started_name_) ||
                                                names_program(ws.window_title(fg), viewer_started_name_));
    }
    if (!ours) return;

    services_.externalviewer.stop();
    runtime_.ViewerWaitTicks = 0;
    ws.restore(fg);
    // The editor's window takes the keys, or none are sent: the text stays
    // on the clipboard for the user.
    const WindowId editor = fg;
    pausefor(settings_.SendKeysDelay);
    if (!sendkeys(SelectAllKeys, editor)) return;
    services_.pump.process_messages();
    pausefor(settings_.SendKeysDelay);
    const std::string before = ws.window_title(editor);
    if (!sendkeys(PasteKeys, editor)) return;
    // An editor retitles its window once the paste marks the document
    // changed ("*Untitled"); a prefix set before that would be gone at once.
    const std::uint64_t start = ws.tick_ms();
    while (ws.window_title(editor) == before && ws.tick_ms() - start < static_cast<std::uint64_t>(kViewerRetitleMs))
        pausefor(kViewerRetitlePollMs);
    prefixwindowtitle(editor, kViewerCaptionPrefix);
    services_.pump.process_messages();
}

void DesktopAutomation::prefixwindowtitle(WindowId window, std::string_view prefix) {
    if (window == 0) return;
    WindowSystem& ws = services_.windows;
    const std::string title = ws.window_title(window);
    // Repeated deliveries to the same editor window must not stack prefixes.
    if (title.starts_with(kProductName)) return;
    std::string caption = std::string(prefix) + title;
    cut_utf8(caption, kMaxCaptionBytes);
    ws.set_window_title(window, caption);
}

}  // namespace morvantile
