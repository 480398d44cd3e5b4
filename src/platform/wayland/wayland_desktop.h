// The desktop under the automation on wlroots compositors (sway, Hyprland,
// river, labwc, Wayfire): keystrokes through a virtual keyboard, the
// clipboard through the data-control protocol, and the windows of other
// programs through the foreign-toplevel list. It runs on its own Wayland
// connection beside Qt's, read on the GUI thread, so what it asks of the
// compositor never mixes with Qt's own surfaces and clipboard.
#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"
#include "textcrypt/clipboard.h"

namespace morvantile::platform {

// What a Wayland compositor offers this program.
struct WaylandProtocols {
    bool connected = false;           // a Wayland display answered
    std::string display;              // $WAYLAND_DISPLAY as used
    bool seat = false;
    bool virtual_keyboard = false;    // zwp_virtual_keyboard_manager_v1
    bool wlr_data_control = false;    // zwlr_data_control_manager_v1
    bool ext_data_control = false;    // ext_data_control_manager_v1
    bool foreign_toplevel = false;    // zwlr_foreign_toplevel_manager_v1
    std::vector<std::string> globals; // "name vN" of every global, for diagnostics
};

// Connects, lists the globals, disconnects. Never throws.
WaylandProtocols probe_wayland();

// Without the foreign-toplevel list the program cannot see other programs'
// windows. foreground_window() then answers this id, which stands for
// "whichever window has the keyboard focus now": keystrokes go there anyway,
// activate() and restore() do nothing for it, is_window() holds while the
// connection lives, its title is "(focused window)" (so that the window
// check takes it), and own_window() says whether one of this program's Qt
// windows has the focus. The caller decides whether that is good enough.
inline constexpr WindowId kFocusedWindow = 1;
// While one of this program's own windows has the keyboard (the password
// dialog), foreground_window() answers this instead: keys wait until the
// focus has gone back to the other program, never typing into our dialog.
inline constexpr WindowId kOwnFocusedWindow = 2;

class WaylandDesktop;

// The clipboard (the seat's selection) through the data-control protocol:
// "text/plain" is UTF-8 text with CR LF line ends, as the Qt clipboard gives
// it; "text/rtf" is RTF under any of its names. Decrypted text is offered
// with the mark that asks clipboard managers not to keep it.
class WaylandClipboard final : public ClipboardAccess {
public:
    explicit WaylandClipboard(WaylandDesktop& desktop) : desktop_(desktop) {}
    void open() override;
    void close() override;
    std::vector<std::string> formats() override;
    std::optional<std::string> get(std::string_view format) override;
    void set(std::string_view format, std::string_view bytes, bool secret) override;

private:
    WaylandDesktop& desktop_;
};

class WaylandDesktop final : public QObject, public WindowSystem {
    Q_OBJECT
public:
    // Its own connection to the compositor beside Qt's; nullptr when there
    // is no Wayland display or the compositor offers no virtual keyboard.
    // Open it once the Q(Gui)Application exists: its events are read on the
    // GUI thread; our clipboard selections are served on a thread of their
    // own.
    static std::unique_ptr<WaylandDesktop> open();
    ~WaylandDesktop() override;

    const WaylandProtocols& protocols() const;
    bool tracks_windows() const;  // foreign-toplevel present
    bool has_clipboard() const;   // a data-control manager present
    // The clipboard on this connection; every call throws EClipboardError
    // when the compositor offers no data-control manager.
    ClipboardAccess& clipboard();

    // WindowSystem
    WindowId foreground_window() override;
    std::string window_title(WindowId window) override;
    // Titles belong to their clients on Wayland: this does nothing.
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
    // The compositor's application id of a window ("org.gnome.gedit",
    // "featherpad"...); empty when unknown.
    std::string window_app_id(WindowId window) override;
    KeyStroke key_for_vk(std::uint8_t vk) override;
    KeyStroke key_for_char(char c) override;
    void key_event(unsigned key, bool down) override;
    bool modifiers_held() override;
    bool clipboard_taken() override;
    std::uint64_t tick_ms() override;
    void wait(int ms) override;

    // The connection's inside, for the protocol handlers.
    struct State;

private:
    friend class WaylandClipboard;
    explicit WaylandDesktop(std::unique_ptr<State> state);
    void read_events();

    std::unique_ptr<State> state_;
    WaylandClipboard clipboard_{*this};
};

}  // namespace morvantile::platform
