// The password dialog: the one window through which the user gives a
// password, with the switches that persist as options, the display of the
// cipher suite in force and the Password Manager's list.
#pragma once

#include <QColor>
#include <QDialog>
#include <QPalette>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "passwords/password_manager.h"
#include "platform/x11/caps_lock.h"
#include "shell/shell_context.h"
#include "shell/windows.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QStyle;

namespace morvantile::shell {

// The texts of the cipher display; nullptr for an index outside its table.
const char* algorithm_display_name(int index);
const char* hash_display_name(int index);
const char* chaining_display_name(int index);

class TPasswordDlg : public QDialog {
    Q_OBJECT
public:
    // caps_lock_on: whether Caps Lock is toggled on and not held down.
    TPasswordDlg(ShellContext& context, PasswordDialogLayout layout, QWidget* parent = nullptr,
                 std::function<bool()> caps_lock_on = platform::caps_lock_toggled);
    ~TPasswordDlg() override;

    // After exec() returned Accepted: the text of the `Password` box as the
    // bytes a typed password becomes (Windows-1252 where every character
    // has a byte, as the TextEncoding option says; a password picked from
    // the list and left as it is keeps its stored bytes); the box is
    // emptied.
    std::string take_password();

    // How far down the dialog reaches now.
    enum class Cut { Top, Middle, Bottom };
    Cut cut() const { return cut_; }
    bool hints_enabled() const { return hints_.enabled(); }
    const PasswordManager& manager() const { return *manager_; }

    // Password area.
    QLabel* Label1;  // the prompt
    QLineEdit* Password;
    QCheckBox* cb_retain;
    QCheckBox* cb_reveal;
    QCheckBox* cb_showpasswordmanager;
    QCheckBox* cb_hints;
    QLabel* l_capswarning;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    QFrame* Bevel_top;

    // Manager area.
    QFrame* Panel1;  // the cipher display
    QLabel* Label2;  // "Algorithm:"
    QLabel* l_algorithm;
    QLabel* Label3;  // "Hash:"
    QLabel* l_hash;
    QLabel* Label4;  // "Chaining:"
    QLabel* l_chaining;
    QLabel* Label7;  // "[Defaults]"
    QLabel* Label5;  // "Password Manager:"
    QLabel* l_locked;
    QComboBox* cbox_passwords;
    QCheckBox* cb_edit;
    QFrame* Bevel_middle;

    // Edit area.
    QLabel* Label6;  // "Name:"
    QLineEdit* pm_name;
    QLabel* Label8;  // "Password:"
    QLineEdit* pm_password;
    QPushButton* b_add;
    QPushButton* b_update;
    QPushButton* b_delete;
    QFrame* Bevel_bottom;

    // The handlers, as the controls run them.
    void FormShow();
    void cb_revealClick();
    void cb_retainClick();
    void cb_hintsClick();
    void cb_showpasswordmanagerClick();
    void cb_editClick();
    void l_algorithmClick();
    void l_hashClick();
    void l_chainingClick();
    void Label7Click();
    void cbox_passwordsChange(int index);
    void b_addClick();
    void b_updateClick();
    void b_deleteClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

public slots:
    void done(int result) override;

private:
    void build();
    void set_tab_order();
    void set_hints();
    // Hides the areas below the cut and fits the height to what is left.
    void apply_cut();
    void set_masking();
    void show_cipher_settings();
    // Shows the manager's boxes, drop-down and selection again from the
    // model, without running any handler.
    void refresh_manager();
    // Runs before any control sees a key; true when the key is used up.
    bool key_preview(const QKeyEvent& key);
    void place_on_screen();

    ShellContext& context_;
    Settings& settings_;
    RuntimeState& runtime_;
    const PasswordDialogLayout layout_;
    const std::function<bool()> caps_lock_on_;
    std::unique_ptr<PasswordManager> manager_;
    HintSet hints_;
    Cut cut_ = Cut::Top;
    QWidget* area_password_ = nullptr;
    QWidget* area_manager_ = nullptr;
    QWidget* area_edit_ = nullptr;
    QStyle* mask_style_ = nullptr;
    bool placed_ = false;
};

}  // namespace morvantile::shell
