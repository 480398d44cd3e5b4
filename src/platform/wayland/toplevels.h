// The compositor's list of application windows (foreign toplevels) as the
// automation sees them: a stable id per window, its title and application
// id, which one is active, and which are gone. The protocol's events are fed
// in by hand, so the table is tested without a compositor.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"

namespace morvantile::platform {

// The application id this program's own windows carry (Qt's desktop file
// name).
inline constexpr std::string_view kOwnAppId = "morvantile";

struct Toplevel {
    std::string title;
    std::string app_id;
    bool activated = false;
    bool minimized = false;
    // Set with the first "done": until then the window is being introduced.
    bool complete = false;
    // Bumped each time the window becomes activated, to tell the latest of
    // several that claim it (one per seat).
    std::uint64_t activation = 0;
};

class ToplevelTable {
public:
    // A new window; ids start above the stand-in for "the focused window"
    // and are never reused.
    WindowId add();
    // Changes arrive one by one and take effect together at "done".
    void set_title(WindowId window, std::string_view title);
    void set_app_id(WindowId window, std::string_view app_id);
    void set_state(WindowId window, bool activated, bool minimized);
    void done(WindowId window);
    void closed(WindowId window);

    // The window that has the input now: the one activated last; 0 when none.
    WindowId active() const;
    // A complete, open window, or nullptr.
    const Toplevel* find(WindowId window) const;
    // The complete, open windows in the order they appeared.
    std::vector<WindowId> windows() const;

private:
    struct Entry {
        Toplevel current;
        Toplevel pending;
    };
    std::map<WindowId, Entry> entries_;
    WindowId next_ = 2;
    std::uint64_t activations_ = 0;
};

// Whether a window belongs to this program.
bool own_app(const Toplevel& window);

}  // namespace morvantile::platform
