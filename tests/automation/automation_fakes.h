// Stand-ins for the desktop's window system, key grabs and timers. The
// window system writes what it is asked to do into one readable log:
//   "activate <w>", "restore <w>", "title <w> <caption>",
//   "start <argv joined by |>", "wait <ms>", "+<key>" / "-<key>" for a key
//   going down / up (keys by name: "Ctrl", "Shift", "a", "F1", "Home"...).
// Time passes only through wait().
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "automation/automation.h"
#include "automation/hotkeys.h"

namespace morvantile::test {

struct FakeWindowSystem : WindowSystem {
    struct Window {
        std::string title;
        std::int64_t pid = 0;
        bool own = false;
        bool desktop_part = false;  // desktop, panel, notification...
    };
    std::map<WindowId, Window> windows;
    std::vector<WindowId> clients;                 // client_windows(), in order
    std::map<std::int64_t, std::string> programs;  // pid -> program file
    std::map<WindowId, std::string> app_ids;       // window_app_id()
    std::map<std::string, std::string, std::less<>> on_path;
    std::deque<std::int64_t> start_pids;  // start_process answers; exhausted: 0
    std::set<WindowId> refuse_activation;
    int activation_delay_ms = 0;
    WindowId fg = 0;
    int modifier_polls = 0;  // modifiers_held() answers true this many more times
    int copy_polls = 0;      // clipboard_taken() answers false this many times; -1: always
    std::uint64_t now = 100000;
    std::vector<std::string> log;
    std::function<void()> on_wait;  // runs inside wait(): "events" arriving meanwhile
    // prepare_keystrokes() answers these in turn, then true.
    std::deque<bool> keystroke_permission;
    int keystroke_preparations = 0;

    static constexpr unsigned kCharBase = 0x200;

    std::vector<std::string> keys() const {
        std::vector<std::string> out;
        for (const std::string& e : log)
            if (e[0] == '+' || e[0] == '-') out.push_back(e);
        return out;
    }

    WindowId foreground_window() override {
        if (pending_ != 0 && now >= due_) {
            fg = pending_;
            pending_ = 0;
        }
        return fg;
    }
    std::string window_title(WindowId w) override {
        auto it = windows.find(w);
        return it == windows.end() ? std::string() : it->second.title;
    }
    void set_window_title(WindowId w, std::string_view title) override {
        log.push_back("title " + std::to_string(w) + " " + std::string(title));
        windows[w].title = title;
    }
    bool is_window(WindowId w) override { return windows.contains(w); }
    bool own_window(WindowId w) override { return windows.contains(w) && windows[w].own; }
    bool desktop_part(WindowId w) override { return windows.contains(w) && windows[w].desktop_part; }
    void activate(WindowId w) override {
        log.push_back("activate " + std::to_string(w));
        if (refuse_activation.contains(w) || !windows.contains(w)) return;
        pending_ = w;
        due_ = now + static_cast<std::uint64_t>(activation_delay_ms);
    }
    void restore(WindowId w) override { log.push_back("restore " + std::to_string(w)); }

    std::vector<WindowId> client_windows() override { return clients; }
    std::int64_t window_process(WindowId w) override {
        auto it = windows.find(w);
        return it == windows.end() ? 0 : it->second.pid;
    }
    std::string window_app_id(WindowId w) override {
        auto it = app_ids.find(w);
        return it == app_ids.end() ? std::string() : it->second;
    }
    std::string process_program_file(std::int64_t pid) override {
        auto it = programs.find(pid);
        return it == programs.end() ? std::string() : it->second;
    }
    std::string find_program(std::string_view name) override {
        auto it = on_path.find(name);
        return it == on_path.end() ? std::string() : it->second;
    }
    std::int64_t start_process(const std::vector<std::string>& argv) override {
        std::string line = "start";
        for (std::size_t i = 0; i < argv.size(); ++i) line += (i ? "|" : " ") + argv[i];
        log.push_back(line);
        if (start_pids.empty()) return 0;
        const std::int64_t pid = start_pids.front();
        start_pids.pop_front();
        return pid;
    }

    // Every virtual key exists; letters, digits, blank and "!" type
    // characters, "A".."Z" and "!" with Shift; anything else has no key.
    KeyStroke key_for_vk(std::uint8_t vk) override { return {0x100u + vk, false}; }
    KeyStroke key_for_char(char c) override {
        if (c >= 'A' && c <= 'Z') return {kCharBase + static_cast<unsigned>(c - 'A' + 'a'), true};
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ')
            return {kCharBase + static_cast<unsigned char>(c), false};
        if (c == '!') return {kCharBase + '1', true};
        return {};
    }
    void key_event(unsigned key, bool down) override { log.push_back((down ? "+" : "-") + key_name(key)); }
    bool modifiers_held() override {
        if (modifier_polls <= 0) return false;
        --modifier_polls;
        return true;
    }
    bool prepare_keystrokes() override {
        ++keystroke_preparations;
        if (keystroke_permission.empty()) return true;
        const bool allowed = keystroke_permission.front();
        keystroke_permission.pop_front();
        return allowed;
    }
    bool clipboard_taken() override {
        if (copy_polls <= 0) return copy_polls == 0;
        --copy_polls;
        return false;
    }
    std::uint64_t tick_ms() override { return now; }
    void wait(int ms) override {
        log.push_back("wait " + std::to_string(ms));
        now += static_cast<std::uint64_t>(ms);
        if (on_wait) on_wait();
    }

    static std::string key_name(unsigned key) {
        if (key >= kCharBase) return std::string(1, static_cast<char>(key - kCharBase));
        const unsigned vk = key - 0x100;
        static const std::map<unsigned, std::string> names = {
            {0x10, "Shift"}, {0x11, "Ctrl"}, {0x12, "Alt"}, {0x0D, "Enter"}, {0x24, "Home"},
            {0x2E, "Del"},   {0x22, "PgDn"}};
        if (auto it = names.find(vk); it != names.end()) return it->second;
        if (vk >= 0x70 && vk <= 0x87) return "F" + std::to_string(vk - 0x70 + 1);
        return "vk" + std::to_string(vk);
    }

private:
    WindowId pending_ = 0;
    std::uint64_t due_ = 0;
};

struct FakeTimer : Timer {
    std::vector<int> starts;  // intervals, one per start()
    int stops = 0;
    bool running = false;
    void start(int interval_ms) override {
        starts.push_back(interval_ms);
        running = true;
    }
    void stop() override {
        ++stops;
        running = false;
    }
    bool active() const override { return running; }
};

// Grabs by (modifiers, key); atoms by name with reference counts. `foreign`
// holds combinations another client has grabbed.
struct FakeHotKeySystem : HotKeySystem {
    using Combo = std::pair<unsigned, std::uint8_t>;
    std::map<std::string, std::pair<Id, int>, std::less<>> atoms;  // name -> id, references
    std::map<Combo, Id> grabs;
    std::set<Combo> foreign;
    std::map<std::uint8_t, std::string> layout = {
        {0x10, "Shift"}, {0x11, "Ctrl"}, {0x12, "Alt"}, {0x13, "Pause"}, {0xBA, ";"}, {0xDE, "\xC3\x84"}};
    std::vector<std::string> log;  // "register <id> <mods> <vk> ok|no", "unregister <id>"
    std::function<void(Id, unsigned, std::uint8_t)> handler;
    Id next_id = 0xC000;

    // The user presses the combination; true when a grab delivered it.
    bool press(unsigned modifiers, std::uint8_t vk) {
        auto it = grabs.find({modifiers, vk});
        if (it == grabs.end() || !handler) return false;
        handler(it->second, modifiers, vk);
        return true;
    }

    std::string layout_key_name(std::uint8_t vk) override {
        auto it = layout.find(vk);
        return it == layout.end() ? std::string() : it->second;
    }
    Id add_atom(std::string_view name) override {
        auto it = atoms.find(name);
        if (it == atoms.end()) it = atoms.emplace(std::string(name), std::pair<Id, int>{next_id++, 0}).first;
        ++it->second.second;
        return it->second.first;
    }
    void delete_atom(Id id) override {
        for (auto it = atoms.begin(); it != atoms.end(); ++it)
            if (it->second.first == id) {
                if (--it->second.second == 0) atoms.erase(it);
                return;
            }
    }
    bool register_hotkey(Id id, unsigned modifiers, std::uint8_t vk) override {
        const Combo combo{modifiers, vk};
        const bool ok = !foreign.contains(combo) && !grabs.contains(combo);
        if (ok) grabs[combo] = id;
        log.push_back("register " + std::to_string(id) + " " + std::to_string(modifiers) + " " +
                      std::to_string(vk) + (ok ? " ok" : " no"));
        return ok;
    }
    bool unregister_hotkey(Id id) override {
        log.push_back("unregister " + std::to_string(id));
        for (auto it = grabs.begin(); it != grabs.end(); ++it)
            if (it->second == id) {
                grabs.erase(it);
                return true;
            }
        return false;
    }
    void set_hotkey_handler(std::function<void(Id, unsigned, std::uint8_t)> h) override { handler = std::move(h); }
};

}  // namespace morvantile::test
