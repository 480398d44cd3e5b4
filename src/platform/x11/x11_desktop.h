// The X11 desktop under the automation: global key grabs on the root
// window, the active window and its caption through the window manager's
// properties, synthetic keys through XTEST, and the processes behind
// windows. It runs on its own Xlib connection beside Qt's, so its grabs,
// its error handling and its key events stay apart from Qt's; events on
// that connection are read on the GUI thread.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"
#include "automation/hotkeys.h"

namespace morvantile::platform {

// What the X display ($DISPLAY) offers, for the choice of backend and for
// `morvantile diagnose`.
struct X11Probe {
    bool display = false;  // a display answered
    std::string name;      // its name as used
    bool xtest = false;    // synthetic keys
    bool xkb = false;      // keyboard layouts
    bool window_manager = false;  // _NET_ACTIVE_WINDOW is supported
};
// Opens the display, asks, closes it again. Never throws.
X11Probe probe_x11();

class X11Desktop final : public QObject, public HotKeySystem, public WindowSystem {
    Q_OBJECT
public:
    // Connects to the display Qt runs on ($DISPLAY); nullptr when there is
    // none or it lacks the XTEST or XKB extension.
    static std::unique_ptr<X11Desktop> open();
    ~X11Desktop() override;

    // HotKeySystem
    Id add_atom(std::string_view name) override;
    void delete_atom(Id id) override;
    bool register_hotkey(Id id, unsigned modifiers, std::uint8_t vk) override;
    bool unregister_hotkey(Id id) override;
    void set_hotkey_handler(std::function<void(Id, unsigned, std::uint8_t)> handler) override;
    std::string layout_key_name(std::uint8_t vk) override;

    // WindowSystem
    WindowId foreground_window() override;
    std::string window_title(WindowId window) override;
    void set_window_title(WindowId window, std::string_view title) override;
    bool is_window(WindowId window) override;
    bool own_window(WindowId window) override;
    bool desktop_part(WindowId window) override;
    void activate(WindowId window) override;
    void restore(WindowId window) override;
    std::vector<WindowId> client_windows() override;
    std::int64_t window_process(WindowId window) override;
    std::string process_program_file(std::int64_t pid) override;
    std::string find_program(std::string_view name) override;
    std::int64_t start_process(const std::vector<std::string>& argv) override;
    KeyStroke key_for_vk(std::uint8_t vk) override;
    KeyStroke key_for_char(char c) override;
    void key_event(unsigned key, bool down) override;
    bool modifiers_held() override;
    bool clipboard_taken() override;
    std::uint64_t tick_ms() override;
    void wait(int ms) override;

private:
    struct State;
    explicit X11Desktop(std::unique_ptr<State> state);
    void read_events();

    std::unique_ptr<State> state_;
};

}  // namespace morvantile::platform
