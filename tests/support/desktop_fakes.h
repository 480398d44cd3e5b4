// A recording stand-in for the whole desktop: every call the operations make
// on the dialogs, the source window, the viewers, the tray and the event loop
// lands in one ordered log, and the user's answers come from scripts. Tests
// state the calls they expect in order.
#pragma once

#include <algorithm>
#include <deque>
#include <map>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.h"
#include "passwords/password_manager.h"
#include "textcrypt/clipboard.h"
#include "textcrypt/desktop.h"

namespace morvantile::test {

struct FakeDesktop : Dialogs, SourceWindow, Viewers, Tray, EventPump {
    explicit FakeDesktop(RuntimeState& runtime) : runtime(runtime) {}
    RuntimeState& runtime;

    // Log entries, in call order:
    //   "password <caption> | <prompt>", "error <text>", "box <text>",
    //   "ask <caption> | <text>", "notice <mode>", "open <title>",
    //   "save <title>", "pasteback <0|1>", "switchtosource",
    //   "showviewer <pass>/<passes>", "launchviewer <command line>",
    //   "image <n>", "hint <text>", "popup <0|1>", "clear-item <0|1>",
    //   "front". process_messages() is counted, not logged.
    std::vector<std::string> log;
    int pumped = 0;

    // Password dialog answers: the typed text and whether "Retain" is
    // ticked, or nullopt for Cancel. An exhausted script cancels.
    struct Typed {
        std::string text;
        bool retain = false;
    };
    std::deque<std::optional<Typed>> passwords;
    // File dialog answers (nullopt: Cancel); exhausted scripts cancel.
    std::deque<std::optional<std::string>> open_answers, save_answers;
    // Yes/No answers; an exhausted script answers No.
    std::deque<bool> yes_no;
    // Whether the source window still exists when the result is delivered.
    bool source_exists = true;
    // Requests seen by the file dialogs, for their filters.
    std::vector<FileDialogRequest> open_requests, save_requests;

    // Called at each call, after logging; lets a test act in the middle of
    // an operation (change the clipboard, close the source window).
    std::function<void(const std::string&)> on_call;
    // Called whenever the operation lets events run: what happens on the
    // desktop meanwhile (the focus moving to another window).
    std::function<void()> on_pump;

    bool setpassword() override {
        note("password " + runtime.PasswordDialogCaption + " | " + runtime.PromptText);
        std::optional<Typed> answer;
        if (!passwords.empty()) {
            answer = passwords.front();
            passwords.pop_front();
        }
        if (!answer) return false;
        runtime.RetainMaster = answer->retain;
        std::string box = answer->text;
        password_dialog_ok(runtime, box);
        return true;
    }
    void show_error(std::string_view message) override { note("error " + std::string(message)); }
    void message_box(std::string_view text) override { note("box " + std::string(text)); }
    bool ask_yes_no(std::string_view caption, std::string_view text) override {
        note("ask " + std::string(caption) + " | " + std::string(text));
        if (yes_no.empty()) return false;
        const bool yes = yes_no.front();
        yes_no.pop_front();
        return yes;
    }
    void show_notice() override { note("notice " + std::to_string(runtime.NoticeMode)); }
    std::optional<std::string> open_file(const FileDialogRequest& request) override {
        open_requests.push_back(request);
        note("open " + request.title);
        return next(open_answers);
    }
    std::optional<std::string> save_file(const FileDialogRequest& request) override {
        save_requests.push_back(request);
        note("save " + request.title);
        return next(save_answers);
    }

    bool pasteback(bool auto_select) override {
        note(std::string("pasteback ") + (auto_select ? "1" : "0"));
        return source_exists;
    }
    bool switchtosource() override {
        note("switchtosource");
        return source_exists;
    }

    void showviewer(int pass, int passes) override {
        note("showviewer " + std::to_string(pass) + "/" + std::to_string(passes));
    }
    void launchviewer(std::string_view command_line, int show_mode) override {
        note("launchviewer " + std::string(command_line) + " " + std::to_string(show_mode));
    }

    void set_image(TrayImage image) override { note("image " + std::to_string(static_cast<int>(image))); }
    void set_hint(std::string_view text) override { note("hint " + std::string(text)); }
    void set_popup_enabled(bool enabled) override { note(std::string("popup ") + (enabled ? "1" : "0")); }
    void set_clear_password_enabled(bool enabled) override {
        note(std::string("clear-item ") + (enabled ? "1" : "0"));
    }

    void process_messages() override {
        ++pumped;
        if (on_pump) on_pump();
    }
    void bring_to_front() override { note("front"); }

    // The log entries that start with one of `prefixes`, in order.
    std::vector<std::string> only(std::initializer_list<std::string_view> prefixes) const {
        std::vector<std::string> out;
        for (const std::string& e : log)
            if (std::any_of(prefixes.begin(), prefixes.end(),
                            [&](std::string_view p) { return std::string_view(e).substr(0, p.size()) == p; }))
                out.push_back(e);
        return out;
    }

private:
    void note(std::string entry) {
        log.push_back(entry);
        if (on_call) on_call(entry);
    }
    static std::optional<std::string> next(std::deque<std::optional<std::string>>& script) {
        if (script.empty()) return std::nullopt;
        std::optional<std::string> answer = script.front();
        script.pop_front();
        return answer;
    }
};

// The clipboard as a map from format name to bytes. With `log` set, opening,
// closing and writing are logged there ("clip open", "clip close",
// "clip set <format> <bytes>"), so tests see them in order with the desktop's
// calls. The fail_* switches make the next calls of that kind throw.
struct FakeClipboard : ClipboardAccess {
    std::map<std::string, std::string, std::less<>> content;
    std::vector<std::string>* log = nullptr;
    bool fail_open = false, fail_get = false, fail_set = false;
    // Called with "open", "get" or "set" before each of those calls; may
    // throw to fail just that one call.
    std::function<void(const std::string&)> before;
    int opened = 0, closed = 0;
    bool held = false;
    bool secret = false;  // the last write was marked secret

    void put(std::string_view format, std::string_view bytes) {
        content.clear();
        content[std::string(format)] = bytes;
    }
    std::optional<std::string> plain() const { return find(kPlainTextFormat); }
    std::optional<std::string> find(std::string_view format) const {
        auto it = content.find(format);
        if (it == content.end()) return std::nullopt;
        return it->second;
    }

    void open() override {
        if (before) before("open");
        if (fail_open) throw EClipboardError();
        if (held) throw std::logic_error("clipboard opened twice");
        held = true;
        ++opened;
        note("clip open");
    }
    void close() override {
        held = false;
        ++closed;
        note("clip close");
    }
    std::vector<std::string> formats() override {
        std::vector<std::string> out;
        for (const auto& [name, bytes] : content) out.push_back(name);
        return out;
    }
    std::optional<std::string> get(std::string_view format) override {
        if (!held) throw std::logic_error("clipboard read while not open");
        if (before) before("get");
        if (fail_get) throw EClipboardError("read failed");
        return find(format);
    }
    void set(std::string_view format, std::string_view bytes, bool is_secret) override {
        if (!held) throw std::logic_error("clipboard written while not open");
        if (before) before("set");
        if (fail_set) throw EClipboardError("write failed");
        put(format, bytes);
        secret = is_secret;
        note("clip set " + std::string(format) + " " + std::string(bytes));
    }

private:
    void note(std::string entry) {
        if (log) log->push_back(std::move(entry));
    }
};

}  // namespace morvantile::test
