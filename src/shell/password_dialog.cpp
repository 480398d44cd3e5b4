#include "shell/password_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <optional>

#include "cipher/catalogue.h"
#include "cipher/wipe.h"
#include "config/config_file.h"
#include "shell/placement.h"

namespace morvantile::shell {

namespace {

constexpr std::array<const char*, 9> kAlgorithmNames = {
    "Blowfish", "Cast", "MARS", "RC6", "Rijndael AES", "Serpent", "Twofish", "IDEA", "3DES",
};
constexpr std::array<const char*, 6> kHashNames = {"MD5", "RipeMD", "SHA1", "SHA256", "SHA512", "Tiger"};
constexpr std::array<const char*, 5> kChainingNames = {"CBC", "CFB8bit", "CFBblock", "OFB", "CTR"};

template <std::size_t N>
const char* name_at(const std::array<const char*, N>& names, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < N ? names[static_cast<std::size_t>(index)] : nullptr;
}

// One step through a table of `count` entries, back to the first after the
// last. A value no table has (a hand-edited file) also starts again at the
// first, so a click always gives a suite that exists.
std::int32_t next_index(std::int32_t value, int count) { return value >= 0 && value < count - 1 ? value + 1 : 0; }

// Hint texts of the password area and the cipher display.
constexpr std::string_view kHintRetain =
    "Makes the current password\r\nthe default for all cipher functions.\r\nTo clear it, rightclick on "
    "Morvantile's\r\nicon in your task tray.";
constexpr std::string_view kHintReveal = "If ticked, passwords are\r\ndisplayed in plain text";
constexpr std::string_view kHintPanel = "Click on any of these\r\nitems to change them";
constexpr std::string_view kHintDefaults = "Resets the cipher settings\r\nto the defaults of AES, MD5,\r\nand CBC";
constexpr std::string_view kHintLocked =
    "If 'Allow changes' is not ticked,\r\nthe default cipher settings are\r\nalways used. To allow changes,\r\ntick "
    "this option in the Options screen.";
constexpr std::string_view kHintCapsWarning = "The CAPS LOCK key might\r\nbe on by mistake";
constexpr std::string_view kHintHints = "Turns these hints\r\non and off";
// Hint texts of the manager.
constexpr std::string_view kHintPasswords =
    "Select a name here and\r\nthe associated password\r\nwill be entered automatically\r\ninto the password box";
constexpr std::string_view kHintName =
    "Enter a name to appear in your\r\npassword list. The equals sign\r\ncannot be used.";
constexpr std::string_view kHintPmPassword =
    "Enter any combination of characters\r\nfor the password.  This string can be\r\nvery long (not multi-line, "
    "though).";
constexpr std::string_view kHintEdit = "Make changes to your\r\npassword list";
constexpr std::string_view kHintAdd = "Press this after adding a new name\r\nand password in the edit boxes";
constexpr std::string_view kHintUpdate =
    "Press this to update the current\r\nitem with new information you\r\nentered into the edit boxes";
constexpr std::string_view kHintDelete = "Deletes the current item from\r\nyour password list";

// Masked password boxes show every character as "?", and show it at once
// (no moment in plain text after each key).
class PasswordMaskStyle final : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter) return '?';
        if (hint == SH_LineEdit_PasswordMaskDelay) return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// Puts `bytes` into `box` unless it shows that text already (a box whose
// text is rewritten loses its cursor position).
void show_text(QLineEdit* box, std::string_view bytes) {
    QString text = to_qstring(bytes);
    if (box->text() != text) {
        const QSignalBlocker block(box);
        box->setText(text);
    }
    wipe_qstring(text);
}

QLabel* clickable(QLabel* label) {
    label->setCursor(Qt::PointingHandCursor);
    return label;
}

QFrame* dividing_line(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

}  // namespace

const char* algorithm_display_name(int index) { return name_at(kAlgorithmNames, index); }
const char* hash_display_name(int index) { return name_at(kHashNames, index); }
const char* chaining_display_name(int index) { return name_at(kChainingNames, index); }

// ---- creation ----

TPasswordDlg::TPasswordDlg(ShellContext& context, PasswordDialogLayout layout, QWidget* parent,
                           std::function<bool()> caps_lock_on)
    : QDialog(parent),
      context_(context),
      settings_(context.settings),
      runtime_(context.runtime),
      layout_(layout),
      caps_lock_on_(std::move(caps_lock_on)),
      manager_(std::make_unique<PasswordManager>(context.lists, context.settings, context.runtime)) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    build();
    set_tab_order();

    set_hints();
    {
        const QSignalBlocker block(cb_hints);
        cb_hints->setChecked(settings_.Hints);
    }
    hints_.set_enabled(settings_.Hints);

    if (layout_ == PasswordDialogLayout::ListPassword) {
        cb_retain->hide();
        cb_showpasswordmanager->hide();
    }
    apply_cut();

    Label1->setText(to_qstring(runtime_.PromptText));
    QPalette prompt = Label1->palette();
    prompt.setColor(QPalette::Window, stored_colour(runtime_.PromptColour, palette()));
    Label1->setPalette(prompt);
    setWindowTitle(to_qstring(runtime_.PasswordDialogCaption));

    l_locked->setVisible(!settings_.AllowChanges);
    if (!settings_.AllowChanges) {
        for (QLabel* label : {Label2, l_algorithm, Label3, l_hash, Label4, l_chaining, Label7}) label->unsetCursor();
    }
    set_masking();
    // The model filled the drop-down (or left it empty for the prompt that
    // opens the list) with nothing selected.
    refresh_manager();

    // Every key the dialog gets passes the key preview first, whichever
    // control has the focus; the labels of the cipher display take clicks.
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);
}

TPasswordDlg::~TPasswordDlg() {
    for (QWidget* child : findChildren<QWidget*>()) child->removeEventFilter(this);
    removeEventFilter(this);
    Password->clear();
    pm_password->clear();
}

void TPasswordDlg::build() {
    auto* outer = new QVBoxLayout(this);
    outer->setSizeConstraint(QLayout::SetFixedSize);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    // Password area.
    area_password_ = new QWidget(this);
    auto* top = new QGridLayout(area_password_);
    Label1 = new QLabel(area_password_);
    Label1->setAutoFillBackground(true);
    Label1->setMargin(3);
    Label1->setWordWrap(true);
    Password = new QLineEdit(area_password_);
    Password->setMinimumWidth(240);
    cb_retain = new QCheckBox(QStringLiteral("&Retain as master password"), area_password_);
    cb_reveal = new QCheckBox(QStringLiteral("Re&veal"), area_password_);
    cb_showpasswordmanager = new QCheckBox(QStringLiteral("&Show password manager"), area_password_);
    cb_hints = new QCheckBox(QStringLiteral("&Hints"), area_password_);
    l_capswarning = new QLabel(hint_text("CAUTION!\r\nCAPS LOCK\r\nis ON"), area_password_);
    l_capswarning->setAlignment(Qt::AlignCenter);
    {
        QFont bold = l_capswarning->font();
        bold.setBold(true);
        l_capswarning->setFont(bold);
        QPalette warning = l_capswarning->palette();
        warning.setColor(QPalette::WindowText, Qt::red);
        l_capswarning->setPalette(warning);
        // Its coming and going must not move the other controls.
        QSizePolicy keep = l_capswarning->sizePolicy();
        keep.setRetainSizeWhenHidden(true);
        l_capswarning->setSizePolicy(keep);
        l_capswarning->hide();
    }
    OKBtn = new QPushButton(QStringLiteral("&OK"), area_password_);
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("&Cancel"), area_password_);
    top->addWidget(Label1, 0, 0, 1, 2);
    top->addWidget(OKBtn, 0, 2);
    top->addWidget(Password, 1, 0, 1, 2);
    top->addWidget(CancelBtn, 1, 2);
    top->addWidget(cb_retain, 2, 0);
    top->addWidget(cb_reveal, 2, 1);
    top->addWidget(cb_showpasswordmanager, 3, 0);
    top->addWidget(cb_hints, 3, 1);
    top->addWidget(l_capswarning, 2, 2, 2, 1);
    Bevel_top = dividing_line(this);

    // Manager area.
    area_manager_ = new QWidget(this);
    auto* middle = new QGridLayout(area_manager_);
    Panel1 = new QFrame(area_manager_);
    Panel1->setFrameShape(QFrame::StyledPanel);
    Panel1->setFrameShadow(QFrame::Sunken);
    auto* panel = new QGridLayout(Panel1);
    panel->setContentsMargins(6, 3, 6, 3);
    panel->setVerticalSpacing(1);
    Label2 = clickable(new QLabel(QStringLiteral("Algorithm:"), Panel1));
    l_algorithm = clickable(new QLabel(Panel1));
    Label3 = clickable(new QLabel(QStringLiteral("Hash:"), Panel1));
    l_hash = clickable(new QLabel(Panel1));
    Label4 = clickable(new QLabel(QStringLiteral("Chaining:"), Panel1));
    l_chaining = clickable(new QLabel(Panel1));
    Label7 = clickable(new QLabel(QStringLiteral("[Defaults]"), Panel1));
    // The widest name sets the column, so the panel keeps its size.
    l_algorithm->setMinimumWidth(l_algorithm->fontMetrics().horizontalAdvance(QStringLiteral("Rijndael AES")));
    panel->addWidget(Label2, 0, 0);
    panel->addWidget(l_algorithm, 0, 1);
    panel->addWidget(Label3, 1, 0);
    panel->addWidget(l_hash, 1, 1);
    panel->addWidget(Label4, 2, 0);
    panel->addWidget(l_chaining, 2, 1);
    panel->addWidget(Label7, 3, 0, 1, 2);
    l_locked = new QLabel(hint_text("Locked to AES+MD5+CBC\r\n(use 'Allow changes' option)"), area_manager_);
    {
        QFont bold = l_locked->font();
        bold.setBold(true);
        l_locked->setFont(bold);
        l_locked->setAutoFillBackground(true);
        QPalette red = l_locked->palette();
        red.setColor(QPalette::Window, Qt::red);
        red.setColor(QPalette::WindowText, Qt::black);
        l_locked->setPalette(red);
        l_locked->setMargin(3);
        l_locked->setAlignment(Qt::AlignCenter);
        QSizePolicy keep = l_locked->sizePolicy();
        keep.setRetainSizeWhenHidden(true);
        l_locked->setSizePolicy(keep);
    }
    Label5 = new QLabel(hint_text("Password\r\nManager:"), area_manager_);
    cbox_passwords = new QComboBox(area_manager_);
    cbox_passwords->setMaxVisibleItems(5);
    cbox_passwords->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbox_passwords->setMinimumContentsLength(12);
    cb_edit = new QCheckBox(QStringLiteral("&Edit"), area_manager_);
    middle->addWidget(Panel1, 0, 0, 1, 2);
    middle->addWidget(l_locked, 0, 2, 1, 2, Qt::AlignVCenter);
    middle->addWidget(Label5, 1, 0);
    middle->addWidget(cbox_passwords, 1, 1, 1, 2);
    middle->addWidget(cb_edit, 1, 3, Qt::AlignLeft);
    middle->setColumnStretch(1, 1);
    Bevel_middle = dividing_line(this);

    // Edit area.
    area_edit_ = new QWidget(this);
    auto* bottom = new QGridLayout(area_edit_);
    Label6 = new QLabel(QStringLiteral("Name:"), area_edit_);
    pm_name = new QLineEdit(area_edit_);
    Label8 = new QLabel(QStringLiteral("Password:"), area_edit_);
    pm_password = new QLineEdit(area_edit_);
    b_add = new QPushButton(QStringLiteral("&Add"), area_edit_);
    b_update = new QPushButton(QStringLiteral("&Update"), area_edit_);
    b_delete = new QPushButton(QStringLiteral("&Delete"), area_edit_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(b_add);
    buttons->addWidget(b_update);
    buttons->addWidget(b_delete);
    bottom->addWidget(Label6, 0, 0);
    bottom->addWidget(pm_name, 0, 1);
    bottom->addWidget(Label8, 1, 0);
    bottom->addWidget(pm_password, 1, 1);
    bottom->addLayout(buttons, 2, 0, 1, 2);
    for (QWidget* w : std::initializer_list<QWidget*>{pm_name, pm_password, b_add, b_update, b_delete})
        w->setEnabled(false);
    // The buttons only act on what the model holds; Return in the dialog
    // stays with OK.
    for (QPushButton* b : {b_add, b_update, b_delete}) b->setAutoDefault(false);
    Bevel_bottom = dividing_line(this);

    outer->addWidget(area_password_);
    outer->addWidget(Bevel_top);
    outer->addWidget(area_manager_);
    outer->addWidget(Bevel_middle);
    outer->addWidget(area_edit_);
    outer->addWidget(Bevel_bottom);

    // The three areas share one width, so only the height changes when the
    // dialog is cut.
    const int width = std::max({area_password_->sizeHint().width(), area_manager_->sizeHint().width(),
                                area_edit_->sizeHint().width()});
    for (QWidget* area : {area_password_, area_manager_, area_edit_}) area->setMinimumWidth(width);

    // The masking style is created after the boxes that use it, so it is
    // released after them.
    mask_style_ = new PasswordMaskStyle;
    mask_style_->setParent(this);
    Password->setStyle(mask_style_);
    pm_password->setStyle(mask_style_);

    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    // A switch runs its handler whenever its tick changes, also when the
    // dialog ticks it from the options as it opens.
    connect(cb_reveal, &QCheckBox::toggled, this, [this] { cb_revealClick(); });
    connect(cb_retain, &QCheckBox::toggled, this, [this] { cb_retainClick(); });
    connect(cb_hints, &QCheckBox::toggled, this, [this] { cb_hintsClick(); });
    connect(cb_showpasswordmanager, &QCheckBox::toggled, this, [this] { cb_showpasswordmanagerClick(); });
    connect(cb_edit, &QCheckBox::toggled, this, [this] { cb_editClick(); });
    connect(cbox_passwords, &QComboBox::activated, this, [this](int index) { cbox_passwordsChange(index); });
    connect(b_add, &QPushButton::clicked, this, [this] { b_addClick(); });
    connect(b_update, &QPushButton::clicked, this, [this] { b_updateClick(); });
    connect(b_delete, &QPushButton::clicked, this, [this] { b_deleteClick(); });
    // The model mirrors what the user types; texts the dialog puts into
    // the boxes itself do not come back.
    connect(pm_name, &QLineEdit::textEdited, this, [this](const QString& text) {
        manager_->pm_nameChange(typed_bytes(text, settings_.TextEncoding));
        refresh_manager();
    });
    connect(pm_password, &QLineEdit::textEdited, this, [this](const QString& text) {
        WipedString bytes(typed_bytes(text, settings_.TextEncoding));
        manager_->pm_passwordChange(bytes.s);
    });
    connect(Password, &QLineEdit::textEdited, this, [this](const QString& text) {
        WipedString bytes(typed_bytes(text, settings_.TextEncoding));
        manager_->PasswordChange(bytes.s);
    });
}

void TPasswordDlg::set_tab_order() {
    const std::array<QWidget*, 15> order = {
        Password, OKBtn,    cbox_passwords, CancelBtn, cb_retain, cb_reveal,           cb_edit, pm_name,
        pm_password, b_add, b_update,       b_delete,  Panel1,    cb_showpasswordmanager, cb_hints,
    };
    for (std::size_t i = 0; i + 1 < order.size(); ++i) setTabOrder(order[i], order[i + 1]);
}

void TPasswordDlg::set_hints() {
    hints_.add(cb_retain, kHintRetain);
    hints_.add(cb_reveal, kHintReveal);
    hints_.add(Panel1, kHintPanel);
    hints_.add(Label7, kHintDefaults);
    hints_.add(l_locked, kHintLocked);
    hints_.add(l_capswarning, kHintCapsWarning);
    hints_.add(cb_hints, kHintHints);
    hints_.add(cbox_passwords, kHintPasswords);
    hints_.add(pm_name, kHintName);
    hints_.add(pm_password, kHintPmPassword);
    hints_.add(cb_edit, kHintEdit);
    hints_.add(b_add, kHintAdd);
    hints_.add(b_update, kHintUpdate);
    hints_.add(b_delete, kHintDelete);
}

// ---- layout and display ----

void TPasswordDlg::apply_cut() {
    // The list password is asked for in the password area alone.
    if (layout_ == PasswordDialogLayout::ListPassword || !settings_.ShowPasswordManager) cut_ = Cut::Top;
    else cut_ = cb_edit->isChecked() ? Cut::Bottom : Cut::Middle;
    area_manager_->setVisible(cut_ != Cut::Top);
    Bevel_middle->setVisible(cut_ != Cut::Top);
    area_edit_->setVisible(cut_ == Cut::Bottom);
    Bevel_bottom->setVisible(cut_ == Cut::Bottom);
    layout()->invalidate();
    layout()->activate();
}

void TPasswordDlg::set_masking() {
    const QLineEdit::EchoMode mode = settings_.RevealPassword ? QLineEdit::Normal : QLineEdit::Password;
    Password->setEchoMode(mode);
    pm_password->setEchoMode(mode);
}

void TPasswordDlg::show_cipher_settings() {
    // An index no table has leaves its label as it was.
    if (const char* name = algorithm_display_name(settings_.Algorithm)) l_algorithm->setText(QString::fromLatin1(name));
    if (const char* name = hash_display_name(settings_.Hash)) l_hash->setText(QString::fromLatin1(name));
    if (const char* name = chaining_display_name(settings_.ChainingMode)) l_chaining->setText(QString::fromLatin1(name));
}

void TPasswordDlg::refresh_manager() {
    const QSignalBlocker block(cbox_passwords);
    const std::vector<std::string>& items = manager_->items();
    bool same = cbox_passwords->count() == static_cast<int>(items.size());
    for (std::size_t i = 0; same && i < items.size(); ++i)
        same = cbox_passwords->itemText(static_cast<int>(i)) == to_qstring(items[i]);
    if (!same) {
        cbox_passwords->clear();
        for (const std::string& name : items) cbox_passwords->addItem(to_qstring(name));
    }
    const std::optional<std::size_t> selected = manager_->selected_index();
    cbox_passwords->setCurrentIndex(selected ? static_cast<int>(*selected) : -1);

    show_text(pm_name, manager_->pm_name());
    show_text(pm_password, manager_->pm_password());
    show_text(Password, manager_->Password());
    show_cipher_settings();
}

void TPasswordDlg::place_on_screen() {
    if (const auto saved = context_.config.read_placement(kPlacementPasswordDialog)) {
        if (apply_placement(*this, *saved, true)) return;
    }
    center_on_screen(this);
}

// ---- opening and closing ----

void TPasswordDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    if (!placed_) {
        place_on_screen();
        placed_ = true;
    }
    FormShow();
}

void TPasswordDlg::FormShow() {
    forceforeground(this);
    cb_reveal->setChecked(settings_.RevealPassword);
    cb_retain->setChecked(runtime_.RetainMaster);
    cb_showpasswordmanager->setChecked(settings_.ShowPasswordManager);
    Password->setFocus();
}

void TPasswordDlg::done(int result) {
    if (isVisible()) save_placement(*this, context_.config, kPlacementPasswordDialog);
    QDialog::done(result);
}

std::string TPasswordDlg::take_password() {
    QString text = Password->text();
    std::string typed;
    // A password picked from the list and not edited keeps the bytes it
    // was stored with, whichever form they have; text typed here becomes
    // the Windows build's bytes where it can.
    QString stored = to_qstring(manager_->Password());
    typed = stored == text ? manager_->Password() : typed_bytes(text, settings_.TextEncoding);
    wipe_qstring(stored);
    wipe_qstring(text);
    Password->clear();
    manager_->PasswordChange({});
    return typed;
}

// ---- key preview and clicks ----

bool TPasswordDlg::key_preview(const QKeyEvent& key) {
    if (key.key() == Qt::Key_Escape) {
        reject();
        return true;
    }
    if (settings_.RevealPassword) l_capswarning->hide();
    else l_capswarning->setVisible(caps_lock_on_ && caps_lock_on_());
    return false;
}

bool TPasswordDlg::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress: {
            // A key that a control passes on reaches the preview again on
            // its way up; the preview gives the same result each time.
            const auto& key = static_cast<const QKeyEvent&>(*event);
            if (key_preview(key)) return true;
            // "=" separates name and password in an entry.
            if (watched == pm_name && key.text() == QStringLiteral("=")) return true;
            break;
        }
        case QEvent::FocusIn:
            if (watched == pm_password && manager_->pm_passwordEnter()) {
                // The password being entered is shown in plain text, in
                // both boxes; the focus stays here.
                const QSignalBlocker block(cb_reveal);
                cb_reveal->setChecked(true);
                set_masking();
            }
            break;
        case QEvent::MouseButtonPress: {
            if (static_cast<const QMouseEvent&>(*event).button() != Qt::LeftButton) break;
            if (watched == Label2 || watched == l_algorithm) l_algorithmClick();
            else if (watched == Label3 || watched == l_hash) l_hashClick();
            else if (watched == Label4 || watched == l_chaining) l_chainingClick();
            else if (watched == Label7) Label7Click();
            break;
        }
        default:
            break;
    }
    return QDialog::eventFilter(watched, event);
}

// ---- switches ----

void TPasswordDlg::cb_revealClick() {
    settings_.RevealPassword = cb_reveal->isChecked();
    set_masking();
    Password->setFocus();
}

void TPasswordDlg::cb_retainClick() {
    runtime_.RetainMaster = cb_retain->isChecked();
    Password->setFocus();
}

void TPasswordDlg::cb_hintsClick() {
    settings_.Hints = cb_hints->isChecked();
    hints_.set_enabled(settings_.Hints);
}

void TPasswordDlg::cb_showpasswordmanagerClick() {
    settings_.ShowPasswordManager = cb_showpasswordmanager->isChecked();
    apply_cut();
    Password->setFocus();
}

void TPasswordDlg::cb_editClick() {
    apply_cut();
    const bool on = cb_edit->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{pm_name, pm_password, b_add, b_update, b_delete})
        w->setEnabled(on);
    // Ticking Edit is the start of typing an entry.
    if (on && isVisible()) pm_name->setFocus();
}

// ---- cipher display ----
// The suite goes straight into the options: it holds for the operation
// that opened the dialog and later ones, whether it ends with OK or not.

void TPasswordDlg::l_algorithmClick() {
    if (!settings_.AllowChanges) return;
    settings_.Algorithm = next_index(settings_.Algorithm, kCipherCount);
    show_cipher_settings();
}

void TPasswordDlg::l_hashClick() {
    if (!settings_.AllowChanges) return;
    settings_.Hash = next_index(settings_.Hash, kHashCount);
    show_cipher_settings();
}

void TPasswordDlg::l_chainingClick() {
    if (!settings_.AllowChanges) return;
    settings_.ChainingMode = next_index(settings_.ChainingMode, kModeCount);
    show_cipher_settings();
}

void TPasswordDlg::Label7Click() {
    if (!settings_.AllowChanges) return;
    const CipherSetup defaults;
    settings_.Algorithm = defaults.algorithm;
    settings_.ChainingMode = defaults.chaining_mode;
    settings_.Hash = defaults.hash;
    show_cipher_settings();
}

// ---- manager ----

void TPasswordDlg::cbox_passwordsChange(int index) {
    manager_->cbox_passwordsChange(index < 0 ? std::nullopt : std::optional<std::size_t>(index));
    refresh_manager();
}

void TPasswordDlg::b_addClick() {
    manager_->b_addClick();
    refresh_manager();
}

void TPasswordDlg::b_updateClick() {
    manager_->b_updateClick();
    refresh_manager();
}

void TPasswordDlg::b_deleteClick() {
    manager_->b_deleteClick();
    refresh_manager();
}

}  // namespace morvantile::shell
