#include "passwords/password_manager.h"

#include <algorithm>
#include <utility>

#include "cipher/wipe.h"
#include "config/ascii.h"

namespace morvantile {

namespace {

// The drop-down's order: letter case aside, and names that differ only in
// case by their bytes, so the order is the same at every opening.
bool name_before(const std::string& a, const std::string& b) {
    const auto byte_less = [](char x, char y) {
        return static_cast<unsigned char>(ascii_lower(x)) < static_cast<unsigned char>(ascii_lower(y));
    };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), byte_less)) return true;
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), byte_less)) return false;
    return a < b;
}

template <class Names>
std::optional<std::size_t> find_name(const Names& names, std::string_view name) {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return i;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (equal_ignoring_case(names[i], name)) return i;
    return std::nullopt;
}

// A box takes a new text; the old one is wiped first. Safe when `text`
// points into `box`.
void replace_text(std::string& box, std::string_view text) {
    std::string fresh(text);
    wipe_string(box);
    box.swap(fresh);
}

// The entry list holds passwords: when it grows, the entries left behind in
// the old storage are wiped; short entries live inside the vector's storage
// itself, so its release would otherwise leave them readable.
void append_entry(std::vector<std::string>& entries, std::string entry) {
    if (entries.size() == entries.capacity()) {
        std::vector<std::string> grown;
        grown.reserve(std::max<std::size_t>(8, entries.capacity() * 2));
        for (std::string& e : entries) grown.push_back(std::move(e));
        for (std::string& e : entries) wipe_string(e);
        entries.swap(grown);
    }
    entries.push_back(std::move(entry));
}

// Removes entry i, wiping it and the slot the later entries move out of.
void erase_entry(std::vector<std::string>& entries, std::size_t i) {
    wipe_string(entries[i]);
    for (std::size_t j = i; j + 1 < entries.size(); ++j) entries[j] = std::move(entries[j + 1]);
    wipe_string(entries.back());
    entries.pop_back();
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

char digit_or(std::int32_t value, char fallback) {
    return value >= 0 && value <= 9 ? static_cast<char>('0' + value) : fallback;
}

}  // namespace

// ---- entry texts ----

std::string make_entry(std::string_view settings, std::string_view name, std::string_view password) {
    std::string entry;
    entry.reserve(settings.size() + name.size() + 1 + password.size());
    entry.append(settings).append(name).append(1, '=').append(password);
    return entry;
}

std::string_view entry_name(std::string_view entry) {
    const std::size_t end = std::min(entry.find('='), entry.size());
    return end > 3 ? entry.substr(3, end - 3) : std::string_view();
}

std::string_view entry_password(std::string_view entry) {
    const std::size_t eq = entry.find('=');
    return eq == std::string_view::npos ? std::string_view() : entry.substr(eq + 1);
}

std::string_view entry_settings(std::string_view entry) { return entry.substr(0, std::min<std::size_t>(3, entry.size())); }

std::string getcurrentciphersettings(const Settings& s) {
    const CipherSetup d;
    return {digit_or(s.Algorithm, static_cast<char>('0' + d.algorithm)),
            digit_or(s.ChainingMode, static_cast<char>('0' + d.chaining_mode)),
            digit_or(s.Hash, static_cast<char>('0' + d.hash))};
}

bool apply_entry_settings(std::string_view settings, Settings& s) {
    if (!s.AllowChanges) return false;
    if (settings.size() >= 3 && is_digit(settings[0]) && is_digit(settings[1]) && is_digit(settings[2])) {
        s.Algorithm = settings[0] - '0';
        s.ChainingMode = settings[1] - '0';
        s.Hash = settings[2] - '0';
    } else {
        const CipherSetup d;
        s.Algorithm = d.algorithm;
        s.ChainingMode = d.chaining_mode;
        s.Hash = d.hash;
    }
    return true;
}

std::optional<std::size_t> find_entry(const PasswordLists& lists, std::string_view name) {
    return find_name(lists.passwordlist_name, name);
}

// ---- the manager area ----

PasswordManager::PasswordManager(PasswordLists& lists, Settings& settings, RuntimeState& runtime)
    : lists_(lists), settings_(settings), runtime_(runtime) {
    // The names of a list that has not been opened yet are not shown.
    if (runtime_.PasswordListPresent && runtime_.PromptText != kListPromptDecrypt) {
        items_ = lists_.passwordlist_name;
        std::stable_sort(items_.begin(), items_.end(), name_before);
    }
}

PasswordManager::~PasswordManager() {
    wipe_string(pm_password_);
    wipe_string(password_);
}

std::string PasswordManager::selected_name() const { return selected_ ? items_[*selected_] : std::string(); }

void PasswordManager::pm_nameChange(std::string_view text) {
    std::string name(text);
    std::erase(name, '=');
    pm_name_ = std::move(name);
    if (pm_name_.empty()) wipe_string(pm_password_);
}

void PasswordManager::pm_passwordChange(std::string_view text) { replace_text(pm_password_, text); }

void PasswordManager::PasswordChange(std::string_view text) { replace_text(password_, text); }

bool PasswordManager::pm_passwordEnter() {
    if (settings_.RevealPassword) return false;
    settings_.RevealPassword = true;
    return true;
}

std::optional<std::size_t> PasswordManager::find_item(std::string_view name) const { return find_name(items_, name); }

std::size_t PasswordManager::insert_item(const std::string& name) {
    const auto at = std::upper_bound(items_.begin(), items_.end(), name, name_before);
    return static_cast<std::size_t>(items_.insert(at, name) - items_.begin());
}

void PasswordManager::cbox_passwordsChange(std::optional<std::size_t> index) {
    selected_ = index && *index < items_.size() ? index : std::nullopt;
    run_selection();
}

bool PasswordManager::select(std::string_view name) {
    selected_ = find_item(name);
    run_selection();
    return selected_.has_value();
}

void PasswordManager::run_selection() {
    if (!selected_) return;
    const std::string name = items_[*selected_];
    pm_name_ = name;
    const std::optional<std::size_t> i = find_entry(lists_, name);
    if (!i) return;
    const std::string_view password = entry_password(lists_.passwordlist[*i]);
    replace_text(pm_password_, password);
    replace_text(password_, password);
    runtime_.SelectedEntryName = name;
    apply_entry_settings(lists_.passwordlist_setting[*i], settings_);
}

void PasswordManager::b_addClick() {
    if (pm_name_.empty()) return;
    runtime_.PasswordListChanged = true;
    // An existing name (letter case aside) is not added again; it is only
    // selected below, so the boxes show what it stores.
    if (!find_entry(lists_, pm_name_)) {
        const std::string settings = getcurrentciphersettings(settings_);
        append_entry(lists_.passwordlist, make_entry(settings, pm_name_, pm_password_));
        lists_.passwordlist_name.push_back(pm_name_);
        lists_.passwordlist_setting.push_back(settings);
        insert_item(pm_name_);
    }
    runtime_.PasswordListPresent = true;
    select(std::string(pm_name_));
}

void PasswordManager::b_updateClick() {
    if (pm_name_.empty()) return;
    runtime_.PasswordListChanged = true;
    if (!selected_) return;
    const std::optional<std::size_t> i = find_entry(lists_, items_[*selected_]);
    if (!i) return;

    // The entry takes the boxes and the suite in force now; a changed name
    // renames it, even onto a name another entry has.
    const std::string settings = getcurrentciphersettings(settings_);
    std::string entry = make_entry(settings, pm_name_, pm_password_);
    wipe_string(lists_.passwordlist[*i]);
    lists_.passwordlist[*i].swap(entry);
    lists_.passwordlist_name[*i] = pm_name_;
    lists_.passwordlist_setting[*i] = settings;

    // The renamed item moves to its place in the sorted drop-down and stays
    // selected there.
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(*selected_));
    selected_ = insert_item(pm_name_);
    run_selection();
}

void PasswordManager::b_deleteClick() {
    if (pm_name_.empty()) return;
    runtime_.PasswordListChanged = true;
    const std::optional<std::size_t> i = selected_ ? find_entry(lists_, items_[*selected_]) : std::nullopt;
    if (!i) {
        // The list password is asked for again before the list is next
        // written.
        wipe_string(runtime_.ListPassword);
        return;
    }
    erase_entry(lists_.passwordlist, *i);
    lists_.passwordlist_name.erase(lists_.passwordlist_name.begin() + static_cast<std::ptrdiff_t>(*i));
    lists_.passwordlist_setting.erase(lists_.passwordlist_setting.begin() + static_cast<std::ptrdiff_t>(*i));
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(*selected_));
    selected_ = items_.empty() ? std::nullopt : std::optional<std::size_t>(0);
    pm_name_.clear();
    wipe_string(pm_password_);
    run_selection();
}

// ---- master password ----

void password_dialog_ok(RuntimeState& runtime, std::string& password_box) {
    replace_text(runtime.CurrentPassword, password_box);
    if (runtime.RetainMaster) replace_text(runtime.MasterPassword, password_box);
    else wipe_string(runtime.MasterPassword);
    wipe_string(password_box);
}

void show_master_password_state(const RuntimeState& runtime, Tray& tray) {
    if (runtime.MasterPassword.empty()) return;
    tray.set_image(TrayImage::PasswordSet);
    tray.set_clear_password_enabled(true);
}

void forget_master_password(RuntimeState& runtime, Tray& tray) {
    wipe_string(runtime.MasterPassword);
    tray.set_image(TrayImage::Idle);
    tray.set_clear_password_enabled(false);
}

void Clearpassword1Click(RuntimeState& runtime, Tray& tray) {
    forget_master_password(runtime, tray);
    runtime.RetainMaster = false;
}

// ---- entry points ----

PasswordPrompts::PasswordPrompts(Settings& settings, RuntimeState& runtime, PasswordDialogWindow& window,
                                 EventPump& pump, SourceWindow& source, Tray& tray)
    : settings_(settings), runtime_(runtime), window_(window), pump_(pump), source_(source), tray_(tray) {}

bool PasswordPrompts::setpassword() {
    if (window_.ownDialogOpen()) return false;
    pump_.process_messages();
    std::string typed;
    const bool ok = window_.show_password_dialog(PasswordDialogLayout::Operation, typed);
    if (ok) password_dialog_ok(runtime_, typed);
    wipe_string(typed);
    source_.switchtosource();
    show_master_password_state(runtime_, tray_);
    return ok;
}

bool PasswordPrompts::setpasswordpasswordlist(int kind) {
    runtime_.PromptText = std::string(kind == 1 ? kListPromptDecrypt : kListPromptEncrypt);
    if (window_.ownDialogOpen()) return false;
    pump_.process_messages();

    // The list password is asked for in the password area alone.
    const bool show_manager = settings_.ShowPasswordManager;
    settings_.ShowPasswordManager = false;
    std::string typed;
    const bool ok = window_.show_password_dialog(PasswordDialogLayout::ListPassword, typed);
    if (ok) password_dialog_ok(runtime_, typed);
    wipe_string(typed);
    source_.switchtosource();
    settings_.ShowPasswordManager = show_manager;

    if (ok) replace_text(runtime_.ListPassword, runtime_.CurrentPassword);
    wipe_string(runtime_.CurrentPassword);
    return ok;
}

}  // namespace morvantile
