#include "platform/wayland/toplevels.h"

#include <algorithm>

namespace morvantile::platform {

namespace {

std::string lower_ascii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace

WindowId ToplevelTable::add() {
    const WindowId id = next_++;
    entries_.emplace(id, Entry{});
    return id;
}

void ToplevelTable::set_title(WindowId window, std::string_view title) {
    if (const auto it = entries_.find(window); it != entries_.end()) it->second.pending.title = title;
}

void ToplevelTable::set_app_id(WindowId window, std::string_view app_id) {
    if (const auto it = entries_.find(window); it != entries_.end()) it->second.pending.app_id = app_id;
}

void ToplevelTable::set_state(WindowId window, bool activated, bool minimized) {
    const auto it = entries_.find(window);
    if (it == entries_.end()) return;
    it->second.pending.activated = activated;
    it->second.pending.minimized = minimized;
}

void ToplevelTable::done(WindowId window) {
    const auto it = entries_.find(window);
    if (it == entries_.end()) return;
    Entry& entry = it->second;
    const bool newly_active = entry.pending.activated && !entry.current.activated;
    entry.pending.complete = true;
    entry.pending.activation = newly_active ? ++activations_ : entry.current.activation;
    entry.current = entry.pending;
}

void ToplevelTable::closed(WindowId window) { entries_.erase(window); }

WindowId ToplevelTable::active() const {
    WindowId best = 0;
    std::uint64_t latest = 0;
    for (const auto& [id, entry] : entries_) {
        const Toplevel& t = entry.current;
        if (t.complete && t.activated && t.activation >= latest) {
            best = id;
            latest = t.activation;
        }
    }
    return best;
}

const Toplevel* ToplevelTable::find(WindowId window) const {
    const auto it = entries_.find(window);
    if (it == entries_.end() || !it->second.current.complete) return nullptr;
    return &it->second.current;
}

std::vector<WindowId> ToplevelTable::windows() const {
    std::vector<WindowId> out;
    for (const auto& [id, entry] : entries_)
        if (entry.current.complete) out.push_back(id);
    return out;
}

bool own_app(const Toplevel& window) { return lower_ascii(window.app_id) == kOwnAppId; }

}  // namespace morvantile::platform
