// A hand check of the Wayland backend inside a wlroots session:
//   wayland_smoke probe            what the compositor offers
//   wayland_smoke windows          the window list, the active one marked
//   wayland_smoke copy             select-all and copy into the focused
//                                  window, then the clipboard's text
//   wayland_smoke paste TEXT       TEXT (marked secret) onto the clipboard,
//                                  select-all and paste into the focused window
//   wayland_smoke set TEXT [S]     TEXT onto the clipboard, served S seconds
//   wayland_smoke activate APP     brings the first window of APP forward
//   wayland_smoke self             a window of this program (on Qt's own
//                                  connection) as the source: copy from it,
//                                  then paste into it
#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/wayland/wayland_desktop.h"

using morvantile::KeyStroke;
using morvantile::WindowId;
using morvantile::platform::WaylandDesktop;

// Read by LeakSanitizer in sanitizer builds. Qt's Wayland plugin (with the
// clipboard data it holds) and the session bus library keep their objects
// until the process ends; the backend's own connection must still free
// everything.
// Full stacks for every allocation: libwayland's frames have no frame
// pointers, and the quick unwinder would stop short of Qt's frames.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libQt6WaylandClient.so\nleak:libxdg-shell.so\nleak:createMimeDataFromSelection\nleak:libdbus-1.so\n";
}

namespace {

void chord(WaylandDesktop& d, char letter) {
    const KeyStroke ctrl = d.key_for_vk(0x11);
    const KeyStroke key = d.key_for_vk(static_cast<std::uint8_t>(letter));
    // As the keystroke strings do: modifiers up, Ctrl down, the letter, up.
    for (std::uint8_t vk : {0x12, 0x11, 0x10}) d.key_event(d.key_for_vk(vk).key, false);
    d.key_event(ctrl.key, true);
    d.key_event(key.key, true);
    d.key_event(key.key, false);
    d.key_event(ctrl.key, false);
    d.wait(100);
}

void print_windows(WaylandDesktop& d) {
    const WindowId active = d.foreground_window();
    for (WindowId w : d.client_windows())
        std::printf("%c %llu app_id=%s title=%s own=%d\n", w == active ? '*' : ' ',
                    static_cast<unsigned long long>(w), d.window_app_id(w).c_str(), d.window_title(w).c_str(),
                    d.own_window(w) ? 1 : 0);
}

}  // namespace

int self_test(int argc, char** argv) {
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName("morvantile");
    QPlainTextEdit edit;
    edit.setPlainText("text of our own window");
    edit.show();
    auto desktop = WaylandDesktop::open();
    if (!desktop) return 1;
    WaylandDesktop& d = *desktop;
    const std::uint64_t start = d.tick_ms();
    while (!edit.hasFocus() && d.tick_ms() - start < 3000) d.wait(50);
    d.wait(300);
    const WindowId fg = d.foreground_window();
    std::printf("focus=%d foreground=%llu own=%d app_id=%s\n", edit.hasFocus(), static_cast<unsigned long long>(fg),
                d.own_window(fg), d.window_app_id(fg).c_str());
    chord(d, 'A');
    chord(d, 'C');
    d.wait(300);
    auto& clipboard = d.clipboard();
    clipboard.open();
    const auto text = clipboard.get(morvantile::kPlainTextFormat);
    std::printf("copied=[%s]\n", text ? text->c_str() : "(none)");
    clipboard.set(morvantile::kPlainTextFormat, "pasted by the backend", false);
    clipboard.close();
    d.wait(200);
    // Qt reads the selection of our other connection from its own.
    std::printf("qt_clipboard=[%s]\n", QGuiApplication::clipboard()->text().toUtf8().constData());
    chord(d, 'A');
    chord(d, 'V');
    d.wait(500);
    std::printf("editor=[%s]\n", edit.toPlainText().toUtf8().constData());
    return 0;
}

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "self") return self_test(argc, argv);
    QCoreApplication app(argc, argv);
    const std::string command = argc > 1 ? argv[1] : "probe";
    if (command == "probe") {
        const auto p = morvantile::platform::probe_wayland();
        std::printf("connected=%d display=%s seat=%d virtual_keyboard=%d wlr_data_control=%d ext_data_control=%d "
                    "foreign_toplevel=%d\n",
                    p.connected, p.display.c_str(), p.seat, p.virtual_keyboard, p.wlr_data_control,
                    p.ext_data_control, p.foreign_toplevel);
        for (const std::string& g : p.globals) std::printf("  %s\n", g.c_str());
        return p.connected ? 0 : 1;
    }
    auto desktop = WaylandDesktop::open();
    if (!desktop) {
        std::fprintf(stderr, "no Wayland display with a virtual keyboard\n");
        return 1;
    }
    WaylandDesktop& d = *desktop;
    std::printf("tracks_windows=%d has_clipboard=%d\n", d.tracks_windows(), d.has_clipboard());
    if (command == "windows") {
        print_windows(d);
    } else if (command == "activate" && argc > 2) {
        for (WindowId w : d.client_windows())
            if (d.window_app_id(w) == argv[2]) {
                d.activate(w);
                break;
            }
        d.wait(300);
        print_windows(d);
    } else if (command == "copy") {
        chord(d, 'A');
        d.wait(200);
        chord(d, 'C');
        d.wait(500);
        auto& clipboard = d.clipboard();
        clipboard.open();
        const auto text = clipboard.get(morvantile::kPlainTextFormat);
        clipboard.close();
        std::printf("clipboard_taken=%d text=[%s]\n", d.clipboard_taken(), text ? text->c_str() : "(none)");
        return text ? 0 : 2;
    } else if ((command == "paste" || command == "set") && argc > 2) {
        auto& clipboard = d.clipboard();
        clipboard.open();
        clipboard.set(morvantile::kPlainTextFormat, argv[2], command == "paste");
        clipboard.close();
        if (command == "paste") {
            chord(d, 'A');
            d.wait(200);
            chord(d, 'V');
        }
        d.wait((argc > 3 ? std::atoi(argv[3]) : 2) * 1000);
        std::printf("clipboard_taken=%d\n", d.clipboard_taken());
    } else {
        std::fprintf(stderr, "unknown command\n");
        return 1;
    }
    return 0;
}
