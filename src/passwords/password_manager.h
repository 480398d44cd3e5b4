// The Password Manager and the master password, without widgets: the entry
// texts of the password list, the manager area of the password dialog as a
// model the dialog binds to, the dialog's OK rule, "Clear password", and the
// two entry points that show the password dialog.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_file.h"
#include "config/settings.h"
#include "passwords/password_lists.h"
#include "textcrypt/desktop.h"

namespace morvantile {

// ---- entry texts ----
// An entry is three digits of cipher settings (algorithm, chaining mode,
// hash), the name, "=", the password. The views below point into `entry`.

// settings + name + "=" + password, built in one allocation (it holds a
// password, so no stray copies are left behind).
std::string make_entry(std::string_view settings, std::string_view name, std::string_view password);
// The characters from the fourth up to the one before the first "=".
std::string_view entry_name(std::string_view entry);
// Everything after the first "=" (may hold "=" itself); empty without one.
std::string_view entry_password(std::string_view entry);
// The first three characters.
std::string_view entry_settings(std::string_view entry);

// The settings text of the suite in force: Algorithm, ChainingMode, Hash as
// one digit each, e.g. "400". A value that is not a single digit (only a
// hand-edited file gives one) is written as the default suite's digit, so
// the entry's name still starts at the fourth character.
std::string getcurrentciphersettings(const Settings& s);

// Puts an entry's settings text in force, only when AllowChanges is on:
// its three digits become Algorithm, ChainingMode and Hash; a text that is
// not three digits gives the default suite 4, 0, 0. Returns whether the
// suite was set.
bool apply_entry_settings(std::string_view settings, Settings& s);

// ---- the manager area of the password dialog ----

// One instance per opening of the password dialog. It holds what the
// manager's controls show — the drop-down `cbox_passwords` (sorted without
// regard to letter case), its selection, the edit boxes `pm_name` and
// `pm_password` and the dialog's `Password` box — and runs the handlers on
// the password lists, the settings and the run-time state. After each
// handler the dialog shows the boxes, the drop-down and the cipher display
// again from here and from Settings.
class PasswordManager {
public:
    // Fills the drop-down with every name while a list is present, except
    // when the dialog asks for the password that opens the list. Nothing is
    // selected at first.
    PasswordManager(PasswordLists& lists, Settings& settings, RuntimeState& runtime);
    ~PasswordManager();
    PasswordManager(const PasswordManager&) = delete;
    PasswordManager& operator=(const PasswordManager&) = delete;

    const std::vector<std::string>& items() const { return items_; }
    std::optional<std::size_t> selected_index() const { return selected_; }
    // The name shown in the drop-down; empty with no selection.
    std::string selected_name() const;

    const std::string& pm_name() const { return pm_name_; }
    const std::string& pm_password() const { return pm_password_; }
    const std::string& Password() const { return password_; }

    // The user edits a box. `pm_name` loses any "=" (a pasted one too);
    // emptying it empties `pm_password`.
    void pm_nameChange(std::string_view text);
    void pm_passwordChange(std::string_view text);
    void PasswordChange(std::string_view text);

    // The key filter of `pm_name`: false drops the key ("=" separates name
    // and password, so it cannot be part of a name).
    static bool pm_nameKeyPress(char key) { return key != '='; }

    // `pm_password` receives the focus: without Reveal it switches Reveal
    // on (RevealPassword := true) and returns true, and the dialog then
    // ticks Reveal, unmasks both boxes and keeps the focus in `pm_password`.
    bool pm_passwordEnter();

    // The user picks drop-down item `index` (out of range: no selection),
    // and the selection runs: the boxes show the entry, SelectedEntryName is
    // set, and with AllowChanges the entry's suite is put in force.
    void cbox_passwordsChange(std::optional<std::size_t> index);
    // Selects the item of that name (letter case aside) and runs the
    // selection; false when no item has that name.
    bool select(std::string_view name);

    void b_addClick();
    void b_updateClick();
    void b_deleteClick();

private:
    void run_selection();
    std::optional<std::size_t> find_item(std::string_view name) const;
    std::size_t insert_item(const std::string& name);

    PasswordLists& lists_;
    Settings& settings_;
    RuntimeState& runtime_;
    std::vector<std::string> items_;
    std::optional<std::size_t> selected_;
    std::string pm_name_, pm_password_, password_;
};

// The index of `name` in the name list: the same spelling first, otherwise
// the first name that differs only in letter case.
std::optional<std::size_t> find_entry(const PasswordLists& lists, std::string_view name);

// ---- master password ----

// The password dialog's OK: CurrentPassword := the typed text;
// MasterPassword := the same when RetainMaster, empty otherwise; the
// dialog's box is emptied. Replaced passwords are wiped.
void password_dialog_ok(RuntimeState& runtime, std::string& password_box);

// After the password dialog: a retained master password shows in the tray
// (image PasswordSet, "Clear password" enabled). Without one nothing
// changes.
void show_master_password_state(const RuntimeState& runtime, Tray& tray);

// Drops the master password (wiped) and shows that in the tray; the
// Retain switch stays as the user left it.
void forget_master_password(RuntimeState& runtime, Tray& tray);

// The tray menu's "Clear password": forgets the master password and
// unticks Retain.
void Clearpassword1Click(RuntimeState& runtime, Tray& tray);

// ---- the entry points that show the password dialog ----

enum class PasswordDialogLayout {
    // For an operation: the password area, and the manager areas as
    // ShowPasswordManager and the Edit switch ask.
    Operation,
    // For the list password: the password area only, with the Retain and
    // Show-password-manager switches hidden.
    ListPassword,
};

// The window parts the entry points need.
class PasswordDialogWindow {
public:
    virtual ~PasswordDialogWindow() = default;
    // True when one of the program's own dialogs is open; it has then been
    // brought to the front.
    virtual bool ownDialogOpen() = 0;
    // Creates the password dialog (prompt, caption and colour from
    // RuntimeState), shows it modally and destroys it. On OK returns true
    // with the text of its `Password` box in `typed`; the OK rule is applied
    // by the caller.
    virtual bool show_password_dialog(PasswordDialogLayout layout, std::string& typed) = 0;
};

class PasswordPrompts final : public ListPasswordPrompt {
public:
    PasswordPrompts(Settings& settings, RuntimeState& runtime, PasswordDialogWindow& window, EventPump& pump,
                    SourceWindow& source, Tray& tray);

    // The password of an operation: false when another dialog of the
    // program is open or on Cancel. On OK the OK rule has set
    // CurrentPassword and MasterPassword; a master password then shows in
    // the tray.
    bool setpassword();

    // kind 1: the password that opens the list, any other kind: the one
    // that encrypts it. On OK ListPassword holds the typed text. The
    // dialog's OK rule applies as for any opening, so with Retain in force
    // the typed text also becomes the master password. CurrentPassword is
    // emptied either way.
    bool setpasswordpasswordlist(int kind) override;

private:
    Settings& settings_;
    RuntimeState& runtime_;
    PasswordDialogWindow& window_;
    EventPump& pump_;
    SourceWindow& source_;
    Tray& tray_;
};

}  // namespace morvantile
