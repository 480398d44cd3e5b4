#include "shell/options_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>
#include <utility>

#include "automation/automation.h"
#include "config/command_line.h"
#include "platform/backend.h"
#include "shell/errormsg.h"
#include "shell/placement.h"
#include "textcrypt/text_encoding.h"

namespace morvantile::shell {

namespace {

constexpr int kThirdItem = 2;  // "Send decrypted text to": the external editor

QString latin(const char* text) { return QString::fromLatin1(text); }

QLabel* note_label(const char* text, QWidget* parent) {
    auto* label = new QLabel(latin(text), parent);
    label->setWordWrap(true);
    label->setFixedWidth(420);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QCheckBox* check_box(const char* caption, QWidget* parent) { return new QCheckBox(latin(caption), parent); }

}  // namespace

std::string clean_extension(std::string_view typed) {
    const std::string fallback = "mvt";
    if (typed.empty() || typed == ".") return fallback;
    std::size_t first = 0;
    while (first < typed.size() && (typed[first] == ' ' || typed[first] == '*' || typed[first] == '.')) ++first;
    if (first == typed.size()) return fallback;
    return std::string(typed.substr(first));
}

std::optional<std::int32_t> parse_whole_number(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) return std::nullopt;
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > kLimit) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

const std::vector<std::string>& trayhint_help_lines() {
    static const std::vector<std::string> lines = {
        "",
        "When you rest the mouse pointer over",
        "the Morvantile tray icon, this is the hint",
        "that will pop up. Options are displayed",
        "in shorthand, with 'y' and 'n' indicating",
        "if they are active or not:",
        "",
        "as - auto select text in source window",
        "ac - auto copy text to clipboard",
        "ap - auto paste from clipboard",
        "hk - if 'enable hotkeys' is active",
        "sep - if 'append separators' is active",
        "comp - if compression is active",
    };
    return lines;
}

const std::vector<std::string>& timing_warning_lines() {
    static const std::vector<std::string> lines = {
        "",
        "Please read this important infomation before altering the values",
        "for 'window check' and 'send keys delay'.  Do not alter these",
        "values unless you are experiencing problems with Morvantile's",
        "automation features.",
        "",
        "'window check' is the interval in milliseconds that Morvantile",
        "looks for the current active window. It does this in order",
        "to know which window to switch back to after encrypting or",
        "decrypting text in the clipboard.  This value is 250 (four times",
        "per second) by default.",
        "",
        "'send keys delay' specifies how long in milliseconds Morvantile",
        "will pause when sending keystrokes to the previously active",
        "window (e.g. the mail message you are composing).  Sending",
        "simulated keystrokes too quickly can cause problems with",
        "selecting, cutting, and pasting and therefore incorrect text",
        "on the clipboard.  If you experience this kind of problem, first",
        "switch off all automation options and perform manual selection",
        "of text and copying to the clipboard.  If all works correctly then",
        "you can try increasing the 'send keys' delay to give your system",
        "more time to process the simulated keystrokes.",
    };
    return lines;
}

// ---------------------------------------------------------------------------

OptionsRadioGroup::OptionsRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this)), grid_(new QGridLayout(this)) {
    const int per_column = (static_cast<int>(items.size()) + columns - 1) / std::max(columns, 1);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        group_->addButton(button, i);
        grid_->addWidget(button, i % std::max(per_column, 1), i / std::max(per_column, 1));
        buttons_.push_back(button);
    }
    connect(group_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) emit itemChosen(id);
    });
}

int OptionsRadioGroup::itemIndex() const { return group_->checkedId(); }

void OptionsRadioGroup::setItemIndex(int index) {
    if (buttons_.empty()) return;
    if (index < 0) {
        // An exclusive group never lets its last checked button go.
        group_->setExclusive(false);
        for (QRadioButton* b : buttons_) b->setChecked(false);
        group_->setExclusive(true);
        return;
    }
    button(std::min(index, count() - 1))->setChecked(true);
}

// ---------------------------------------------------------------------------

TfrmOptions::TfrmOptions(ShellContext& context, QWidget* parent) : QDialog(parent), context_(context) {
    setWindowTitle(latin(kOptionsCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    pages = new QTabWidget(this);
    build_operation_tab();
    build_hotkeys_tab();
    build_clipkeys_tab();
    build_algorithms_tab();
    build_filemode_tab();

    OK = new QPushButton(QStringLiteral("&OK"), this);
    b_cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cb_hints = check_box("Show hints", this);
    OK->setDefault(true);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(cb_hints);
    bottom->addStretch(1);
    bottom->addWidget(OK);
    bottom->addWidget(b_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages);
    layout->addLayout(bottom);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    add_hints();
    connect_rules();

    pages->setCurrentWidget(ts_operation);
    hints_.set_enabled(context_.settings.Hints);
    fill();

    // Whatever comes first in the tab order must not take the focus when
    // the window opens: a timing box would raise its warning at once.
    OK->setFocus();
    restore_placement(*this, context_.config, kPlacementOptions, true);
}

TfrmOptions::~TfrmOptions() = default;

void TfrmOptions::build_operation_tab() {
    ts_operation = new QWidget;
    pages->addTab(ts_operation, QStringLiteral("Operation"));

    auto* automation = new QGroupBox(QStringLiteral(" Automation "), ts_operation);
    cb_autoselect_e = check_box("Auto select all text (encrypt)", automation);
    cb_autoselect_d = check_box("Auto select all text (decrypt)", automation);
    cb_autocopy = check_box("Auto copy selected text", automation);
    cb_autopaste = check_box("Auto paste over selected text", automation);
    cb_hotkeysenabled = check_box("Enable Hotkeys", automation);
    auto* automation_layout = new QVBoxLayout(automation);
    for (QCheckBox* box : {cb_autoselect_e, cb_autoselect_d, cb_autocopy, cb_autopaste, cb_hotkeysenabled})
        automation_layout->addWidget(box);

    auto* timing = new QGroupBox(QStringLiteral(" Timing "), ts_operation);
    eb_windowcheck = new QLineEdit(timing);
    eb_sendkeysdelay = new QLineEdit(timing);
    auto* timing_layout = new QGridLayout(timing);
    timing_layout->addWidget(new QLabel(QStringLiteral("Window check"), timing), 0, 0);
    timing_layout->addWidget(eb_windowcheck, 0, 1);
    timing_layout->addWidget(new QLabel(QStringLiteral("Sendkeys delay"), timing), 1, 0);
    timing_layout->addWidget(eb_sendkeysdelay, 1, 1);
    for (QLineEdit* box : {eb_windowcheck, eb_sendkeysdelay}) {
        box->setMaximumWidth(70);
        box->installEventFilter(this);
    }

    auto* other = new QGroupBox(QStringLiteral(" Other "), ts_operation);
    cb_separators = check_box("Append separators", other);
    cb_nosplash = check_box("No splash screen", other);
    cb_noconfig = check_box("No config file", other);
    cb_confirmpassword = check_box("Confirm password", other);
    cb_usertf = check_box("Rich text if available", other);
    cb_sendertag = check_box("Add sender ID", other);
    cb_nodecompress = check_box("No decompression", other);
    eb_quote = new QLineEdit(other);
    eb_quote->setMaximumWidth(70);
    auto* other_layout = new QVBoxLayout(other);
    for (QCheckBox* box :
         {cb_separators, cb_nosplash, cb_noconfig, cb_confirmpassword, cb_usertf, cb_sendertag, cb_nodecompress})
        other_layout->addWidget(box);
    auto* quote_row = new QHBoxLayout;
    quote_row->addWidget(new QLabel(QStringLiteral("Quote string:"), other));
    quote_row->addWidget(eb_quote);
    quote_row->addStretch(1);
    other_layout->addLayout(quote_row);

    rg_trayhint = new OptionsRadioGroup(
        QStringLiteral(" Tray icon hint "),
        {QStringLiteral("version only"), QStringLiteral("config file name"), QStringLiteral("current options")}, 1,
        ts_operation);

    rg_decryptview = new OptionsRadioGroup(QStringLiteral(" Send decrypted text to "),
                                           {QStringLiteral("Source window"), QStringLiteral("Internal viewer"), QString()},
                                           1, ts_operation);
    e_decryptviewer = new QLineEdit(rg_decryptview);
    e_decryptviewer->setReadOnly(true);
    e_decryptviewer->setMinimumWidth(200);
    e_decryptviewer->installEventFilter(this);
    b_browse = new QPushButton(QStringLiteral("..."), rg_decryptview);
    b_browse->setFixedWidth(30);
    // The third choice has no caption of its own: the editor path stands
    // right beside its button.
    QRadioButton* editor_choice = rg_decryptview->button(kThirdItem);
    rg_decryptview->grid()->removeWidget(editor_choice);
    auto* editor_row = new QHBoxLayout;
    editor_row->addWidget(editor_choice);
    editor_row->addWidget(e_decryptviewer, 1);
    editor_row->addWidget(b_browse);
    rg_decryptview->grid()->addLayout(editor_row, kThirdItem, 0);

    auto* grid = new QGridLayout(ts_operation);
    grid->addWidget(automation, 0, 0);
    grid->addWidget(timing, 1, 0);
    grid->addWidget(other, 0, 1, 2, 1);
    grid->addWidget(rg_trayhint, 2, 0);
    grid->addWidget(rg_decryptview, 2, 1);
}

void TfrmOptions::build_hotkeys_tab() {
    ts_hotkeys = new QWidget;
    pages->addTab(ts_hotkeys, QStringLiteral("Hotkeys"));
    eb_autoencrypthotkey = new QLineEdit(ts_hotkeys);
    eb_autodecrypthotkey = new QLineEdit(ts_hotkeys);
    eb_optionshotkey = new QLineEdit(ts_hotkeys);
    eb_exithotkey = new QLineEdit(ts_hotkeys);
    // Ctrl+Alt with a function key switches the virtual terminal on Linux
    // and never reaches a program, so the example uses Ctrl+Shift.
    l_hotkeysnote = note_label(
        "To include special keys use: CTRL, ALT, SHIFT, and combine them with the plus character, e.g. "
        "CTRL+SHIFT+F9 (special keys plus 'F9' key), SHIFT+ALT+S (special keys plus 'S' key).",
        ts_hotkeys);

    auto* grid = new QGridLayout(ts_hotkeys);
    const std::pair<const char*, QLineEdit*> rows[] = {
        {"Auto Encrypt Hotkey:", eb_autoencrypthotkey},
        {"Auto Decrypt Hotkey:", eb_autodecrypthotkey},
        {"Options Hotkey:", eb_optionshotkey},
        {"Exit Hotkey:", eb_exithotkey},
    };
    int row = 0;
    for (const auto& [caption, box] : rows) {
        grid->addWidget(new QLabel(latin(caption), ts_hotkeys), row, 0);
        grid->addWidget(box, row, 1);
        ++row;
    }
    grid->addWidget(l_hotkeysnote, row, 0, 1, 2);
    if (!context_.hotkeys_note.empty()) {
        // The desktop owns the keys here: the lines to give it, for the
        // hotkeys as they stand.
        auto* bindings = note_label("", ts_hotkeys);
        bindings->setObjectName(QStringLiteral("l_compositorbindings"));
        bindings->setTextInteractionFlags(Qt::TextSelectableByMouse);
        bindings->setText(to_qstring(context_.hotkeys_note + "\n" + platform::sway_bindings(context_.settings) +
                                     "Other desktops: see README, \"Triggers\"."));
        grid->addWidget(bindings, ++row, 0, 1, 2);
    }
    if (const std::string assigned = context_.assigned_keys(); !assigned.empty()) {
        // The desktop owns the keys here; what it assigned may differ from
        // what was asked for.
        auto* keys = note_label("", ts_hotkeys);
        keys->setObjectName(QStringLiteral("l_assignedkeys"));
        keys->setTextInteractionFlags(Qt::TextSelectableByMouse);
        keys->setText(to_qstring(assigned));
        grid->addWidget(keys, ++row, 0, 1, 2);
    }
    grid->setRowStretch(row + 1, 1);
}

void TfrmOptions::build_clipkeys_tab() {
    ts_clipkeys = new QWidget;
    pages->addTab(ts_clipkeys, QStringLiteral("Clipkeys"));
    rg_selectallkeys =
        new OptionsRadioGroup(QStringLiteral(" 'Select all' keystrokes "), {QStringLiteral("CTRL+A")}, 1, ts_clipkeys);
    rg_copykeys = new OptionsRadioGroup(QStringLiteral(" 'Copy' keystrokes "), {QStringLiteral("CTRL+C")}, 1, ts_clipkeys);
    rg_pastekeys =
        new OptionsRadioGroup(QStringLiteral(" 'Paste' keystrokes "), {QStringLiteral("CTRL+V")}, 1, ts_clipkeys);
    l_clipkeysnote = note_label(
        "Contact the author if your system requires keystrokes other than the standard Windows shortcuts.",
        ts_clipkeys);
    auto* layout = new QVBoxLayout(ts_clipkeys);
    auto* groups = new QHBoxLayout;
    for (OptionsRadioGroup* group : {rg_selectallkeys, rg_copykeys, rg_pastekeys}) {
        group->setItemIndex(0);
        group->setEnabled(false);
        groups->addWidget(group);
    }
    layout->addLayout(groups);
    layout->addWidget(l_clipkeysnote);
    layout->addStretch(1);
}

void TfrmOptions::build_algorithms_tab() {
    ts_algorithms = new QWidget;
    pages->addTab(ts_algorithms, QStringLiteral("Algorithms"));
    cb_allowchanges = check_box("Allow changes to cipher setup", ts_algorithms);
    rg_chainingmode = new OptionsRadioGroup(QStringLiteral(" Chaining "),
                                            {QStringLiteral("CBC"), QStringLiteral("CFB8bit"), QStringLiteral("CFBblock"),
                                             QStringLiteral("OFB"), QStringLiteral("CTR")},
                                            1, ts_algorithms);
    rg_hash = new OptionsRadioGroup(QStringLiteral(" Hash "),
                                    {QStringLiteral("MD5 (128)"), QStringLiteral("RipeMD (160)"),
                                     QStringLiteral("SHA1 (160)"), QStringLiteral("SHA256 (256)"),
                                     QStringLiteral("SHA512 (512)"), QStringLiteral("Tiger (192)")},
                                    1, ts_algorithms);
    rg_algorithm = new OptionsRadioGroup(
        QStringLiteral(" Algorithm "),
        {QStringLiteral("Blowfish (448)"), QStringLiteral("Cast 256 (256)"), QStringLiteral("MARS (1248)"),
         QStringLiteral("RC6 (2048)"), QStringLiteral("Rijndael AES (256)"), QStringLiteral("Serpent (256)"),
         QStringLiteral("Twofish (256)"), QStringLiteral("IDEA (128)"), QStringLiteral("3DES (192)")},
        1, ts_algorithms);
    // The suite stays fixed until the user asks to change it.
    for (OptionsRadioGroup* group : {rg_chainingmode, rg_hash, rg_algorithm}) group->setEnabled(false);
    b_reset = new QPushButton(QStringLiteral("Reset to defaults"), ts_algorithms);
    cb_hardcoremode = check_box("Hardcore mode", ts_algorithms);
    rg_textencoding = new OptionsRadioGroup(
        QStringLiteral(" Text and passwords as "),
        {QStringLiteral("Windows-1252 where possible"), QStringLiteral("UTF-8 always")}, 1, ts_algorithms);

    auto* grid = new QGridLayout(ts_algorithms);
    grid->addWidget(cb_allowchanges, 0, 0, 1, 3);
    grid->addWidget(rg_chainingmode, 1, 0);
    grid->addWidget(rg_hash, 1, 1);
    grid->addWidget(rg_algorithm, 1, 2, 2, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(b_reset);
    buttons->addWidget(cb_hardcoremode);
    buttons->addWidget(rg_textencoding);
    buttons->addStretch(1);
    grid->addLayout(buttons, 2, 0, 1, 2);
}

void TfrmOptions::build_filemode_tab() {
    ts_filemode = new QWidget;
    pages->addTab(ts_filemode, QStringLiteral("File mode"));
    cb_overwritefile = check_box("Replace original file", ts_filemode);
    cb_securewipe = check_box("Securely wipe files", ts_filemode);
    eb_fileextension = new QLineEdit(ts_filemode);
    eb_fileextension->setMaximumWidth(70);
    l_filemodenote = note_label(
        "File mode is intended for use with small files (under 10 megs). If you require more powerful file "
        "encryption, consider using one of the many freeware, dedicated file encryption programs available.",
        ts_filemode);
    auto* layout = new QVBoxLayout(ts_filemode);
    layout->addWidget(cb_overwritefile);
    layout->addWidget(cb_securewipe);
    auto* extension_row = new QHBoxLayout;
    extension_row->addWidget(new QLabel(QStringLiteral("Encrypted file extension:"), ts_filemode));
    extension_row->addWidget(eb_fileextension);
    extension_row->addStretch(1);
    layout->addLayout(extension_row);
    layout->addWidget(l_filemodenote);
    layout->addStretch(1);
}

void TfrmOptions::add_hints() {
    // Hint texts keep the stored CR LF line breaks.
    const auto add = [this](QWidget* widget, std::string_view text) { hints_.add(widget, text); };
    add(eb_autoencrypthotkey, "The keyboard shortcut to start encryption");
    add(eb_autodecrypthotkey, "The keyboard shortcut to start decryption");
    add(eb_optionshotkey, "The keyboard shortcut to show the Options dialog");
    add(eb_windowcheck, "Pause in milliseconds for monitoring active window");
    add(eb_sendkeysdelay, "Pause in milliseconds for sending keystrokes to source window");
    add(cb_autoselect_e, "Sends a 'select all' keystroke to the source window\r\nprior to encryption");
    add(cb_autoselect_d, "Sends a 'select all' keystroke to the source window\r\nprior to decryption");
    add(cb_autocopy,
               "Sends a 'copy' keystroke to the source window.\r\nIf you don't prefer manually selecting text for "
               "processing\r\nthen you should also be using the 'select all text'\r\nautomation options");
    add(cb_autopaste, "Restores the source window and sends a 'paste' keystroke");
    add(cb_separators, "Adds markers to the start and end of ciphertext");
    add(cb_nosplash, "Bypasses startup splash screen");
    add(cb_noconfig, "Will not read from or write to a configuration file");
    add(cb_confirmpassword, "Confirm password entry when not revealed");
    add(eb_quote,
               "The character string to append\r\nto the start of each line when\r\nquoting text for a reply email");
    add(cb_usertf,
               "Encrypt and decrypt using\r\nRTF format when available.\r\n\r\nWARNING! If your rich text\r\ncontains "
               "images, this can\r\nresult in extremely large\r\nciphertext!  Please see the\r\nsection on RTF mode "
               "in the\r\nMorvantile readme file.");
    add(cb_sendertag,
               "Appends some basic sender\r\ndetails to the bottom of the\r\ntext prior to encryption.  This\r\noption "
               "is NOT available when\r\nRich Text format is enabled.");
    add(cb_nodecompress,
               "Does not attempt to decompress\r\nciphertext when decrypting.  This\r\nallows you to decrypt "
               "Morvantile v1.1\r\nand earlier ciphertext where\r\nencrypting with compression was\r\noptional.");
    add(rg_decryptview,
               "Source window - decrypted text\r\nis pasted back into original window\r\n\r\nInternal viewer - "
               "decrypted text\r\nis shown in popup viewer, and the\r\noriginal window with the encrypted\r\ntext "
               "is ignored.");
    add(e_decryptviewer,
               "The path and filename of an editor to\r\nuse for viewing the decrypted text, e.g:\r\n   "
               "mousepad\r\n   /usr/bin/gedit");
    add(cb_allowchanges,
               "When unticked, restricts cipher setup\r\nto the default configuration of\r\nAES, CBC, and MD5");
    add(b_reset, "Restores all encryption settings to their default values");
    add(cb_hardcoremode,
               "Enables 2nd-pass encryption/decryption\r\nfor text mode. Text is first encrypted using\r\nthe cipher "
               "settings you specify, then it is\r\nre-encrypted using AES+CBC+MD5.\r\nNote: this option requires "
               "and automatically\r\nenables the 'autoselect','autocopy', and\r\n'autopaste' options, and sends "
               "decrypted\r\ntext to the source window or internal viewer\r\nonly.");
    add(rg_textencoding,
        "The bytes that typed passwords and the text\r\nyou encrypt become. Windows-1252 where\r\npossible: as the "
        "Windows build makes them,\r\nso blocks and passwords with accented\r\nletters work on both; text with "
        "other\r\nletters (Cyrillic, Greek...) is UTF-8 either\r\nway. UTF-8 always: for exchange with\r\nprograms "
        "that expect UTF-8 only.\r\nBlocks made either way open with either.");
    add(cb_overwritefile,
               "Use with care!\r\nAllows you to overwrite the\r\noriginal encrypted file with \r\nthe decrypted "
               "version.");
    add(eb_fileextension,
               "The default file extension for\r\nencrypted files. Enter your\r\nchosen extension in the\r\nformat "
               "'abc' -- do not include\r\nthe period at the beginning.");
    add(cb_securewipe, "Shreds original files and\r\ntemporary files.");
}

void TfrmOptions::connect_rules() {
    connect(OK, &QPushButton::clicked, this, &TfrmOptions::OKClick);
    connect(b_cancel, &QPushButton::clicked, this, &TfrmOptions::b_cancelClick);
    connect(b_browse, &QPushButton::clicked, this, &TfrmOptions::b_browseClick);
    connect(b_reset, &QPushButton::clicked, this, &TfrmOptions::b_resetClick);
    connect(cb_separators, &QCheckBox::toggled, this, &TfrmOptions::cb_separatorsClick);
    connect(cb_autoselect_e, &QCheckBox::toggled, this, &TfrmOptions::cb_autoselectClick);
    connect(cb_autoselect_d, &QCheckBox::toggled, this, &TfrmOptions::cb_autoselectClick);
    connect(cb_autocopy, &QCheckBox::toggled, this, &TfrmOptions::cb_autocopyClick);
    connect(cb_autopaste, &QCheckBox::toggled, this, &TfrmOptions::cb_autopasteClick);
    connect(cb_hardcoremode, &QCheckBox::toggled, this, &TfrmOptions::cb_hardcoremodeClick);
    connect(rg_decryptview, &OptionsRadioGroup::itemChosen, this, &TfrmOptions::rg_decryptviewClick);
    connect(e_decryptviewer, &QLineEdit::textChanged, this, &TfrmOptions::e_decryptviewerChange);
    connect(cb_usertf, &QCheckBox::toggled, this, &TfrmOptions::cb_usertfClick);
    connect(cb_sendertag, &QCheckBox::toggled, this, &TfrmOptions::cb_sendertagClick);
    connect(cb_allowchanges, &QCheckBox::toggled, this, &TfrmOptions::cb_allowchangesClick);
    connect(cb_hints, &QCheckBox::toggled, this, &TfrmOptions::cb_hintsClick);
}

// Every control is set as the user would set it, so the coupling rules run
// on the way: of two options that exclude each other, the later one wins.
void TfrmOptions::fill() {
    const Settings& s = context_.settings;
    eb_autoencrypthotkey->setText(to_qstring(s.AutoEncryptHotKeyString));
    eb_autodecrypthotkey->setText(to_qstring(s.AutoDecryptHotKeyString));
    eb_optionshotkey->setText(to_qstring(s.OptionsHotKeyString));
    eb_exithotkey->setText(to_qstring(s.ExitHotKeyString));
    eb_windowcheck->setText(QString::number(s.ActiveWindowCheckTime));
    eb_sendkeysdelay->setText(QString::number(s.SendKeysDelay));
    cb_hotkeysenabled->setChecked(s.HotKeysEnabled);
    cb_autoselect_e->setChecked(s.AutoSelect_e);
    cb_autoselect_d->setChecked(s.AutoSelect_d);
    cb_autocopy->setChecked(s.AutoCopy);
    cb_autopaste->setChecked(s.AutoPaste);
    cb_separators->setChecked(s.AppendSeparator);
    cb_noconfig->setChecked(s.NoConfig);
    cb_nosplash->setChecked(s.NoSplash);
    cb_hints->setChecked(s.Hints);
    rg_chainingmode->setItemIndex(s.ChainingMode);
    rg_hash->setItemIndex(s.Hash);
    rg_algorithm->setItemIndex(s.Algorithm);
    rg_trayhint->setItemIndex(s.TrayHint);
    cb_allowchanges->setChecked(s.AllowChanges);
    cb_confirmpassword->setChecked(s.ConfirmPassword);
    cb_overwritefile->setChecked(s.OverwriteOriginal);
    cb_usertf->setChecked(s.UseRTF);
    cb_sendertag->setChecked(s.AddSenderTag);
    cb_nodecompress->setChecked(s.NoDecompress);
    cb_hardcoremode->setChecked(s.HardcoreMode);
    rg_textencoding->setItemIndex(s.TextEncoding);
    cb_securewipe->setChecked(s.SecureWipe);
    hints_.add(rg_trayhint, strings_to_text(trayhint_help_lines(), 100));
    e_decryptviewer->setText(to_qstring(s.DecryptViewer));
    rg_decryptview->setItemIndex(s.DecryptView);
    eb_quote->setText(to_qstring(s.QuoteString));
    eb_fileextension->setText(to_qstring(s.FileExtension));
    hints_.add(b_browse, e_decryptviewer->text().isEmpty() ? QStringLiteral("Browse for executable file")
                                                           : e_decryptviewer->text());
}

void TfrmOptions::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    forceforeground(this);
    OK->setFocus();
}

void TfrmOptions::done(int result) {
    save_placement(*this, context_.config, kPlacementOptions);
    QDialog::done(result);
}

bool TfrmOptions::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        if (watched == eb_windowcheck || watched == eb_sendkeysdelay) eb_timingEnter();
        if (watched == e_decryptviewer) e_decryptviewerEnter();
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmOptions::eb_timingEnter() {
    if (context_.runtime.TimingWarningShown) return;
    context_.runtime.TimingWarningShown = true;
    // Shown once the box has settled with the focus, not from inside the
    // focus change itself.
    QMetaObject::invokeMethod(
        this, [this] { show_message_window(strings_to_text(timing_warning_lines(), 100), this); },
        Qt::QueuedConnection);
}

void TfrmOptions::cb_separatorsClick() {
    if (!cb_separators->isChecked()) return;
    const bool was = std::exchange(rule_change_, true);
    cb_autoselect_d->setChecked(false);
    cb_hardcoremode->setChecked(false);
    rule_change_ = was;
}

void TfrmOptions::cb_autoselectClick() {
    if (rule_change_) return;
    if (cb_separators->isChecked() && cb_autoselect_d->isChecked())
        cb_separators->setChecked(false);
    else
        cb_hardcoremode->setChecked(false);
}

void TfrmOptions::cb_autocopyClick() {
    if (!cb_autocopy->isChecked()) cb_hardcoremode->setChecked(false);
}

void TfrmOptions::cb_autopasteClick() {
    if (!cb_autopaste->isChecked()) cb_hardcoremode->setChecked(false);
}

void TfrmOptions::cb_hardcoremodeClick() {
    if (!cb_hardcoremode->isChecked()) return;
    const bool was = std::exchange(rule_change_, true);
    cb_autoselect_e->setChecked(true);
    cb_autoselect_d->setChecked(true);
    cb_autocopy->setChecked(true);
    cb_autopaste->setChecked(true);
    if (rg_decryptview->itemIndex() == kThirdItem) rg_decryptview->setItemIndex(0);
    cb_separators->setChecked(false);
    rule_change_ = was;
}

void TfrmOptions::rg_decryptviewClick(int index) {
    // While the dialog is being filled the choice only shows; the path box
    // keeps its opening state until the user acts.
    if (!isVisible()) return;
    if (index == kThirdItem) {
        e_decryptviewer->setEnabled(true);
        e_decryptviewer->setFocus();
        cb_hardcoremode->setChecked(false);
    } else {
        e_decryptviewer->setEnabled(false);
    }
}

void TfrmOptions::e_decryptviewerEnter() {
    if (rg_decryptview->itemIndex() != kThirdItem) rg_decryptview->setItemIndex(kThirdItem);
}

void TfrmOptions::e_decryptviewerChange() { hints_.add(b_browse, e_decryptviewer->text()); }

void TfrmOptions::cb_usertfClick() {
    if (cb_usertf->isChecked()) cb_sendertag->setChecked(false);
}

void TfrmOptions::cb_sendertagClick() {
    if (cb_sendertag->isChecked()) cb_usertf->setChecked(false);
}

void TfrmOptions::cb_allowchangesClick() {
    const bool on = cb_allowchanges->isChecked();
    for (OptionsRadioGroup* group : {rg_chainingmode, rg_hash, rg_algorithm}) group->setEnabled(on);
}

void TfrmOptions::cb_hintsClick() { hints_.set_enabled(cb_hints->isChecked()); }

void TfrmOptions::b_resetClick() {
    const CipherSetup defaults;
    rg_chainingmode->setItemIndex(defaults.chaining_mode);
    rg_hash->setItemIndex(defaults.hash);
    rg_algorithm->setItemIndex(defaults.algorithm);
    cb_allowchanges->setChecked(false);
}

void TfrmOptions::b_browseClick() {
    const std::vector<std::string> words = split_command_line(to_bytes(e_decryptviewer->text()));
    const QFileInfo current(words.empty() ? QString() : to_qstring(words.front()));
    const QString start = current.isAbsolute() ? current.absolutePath() : QString();
    // Hidden without ending the modal run that the dialog is in.
    QWidget::setVisible(false);
    // The file dialog carries the options caption so that, while it is up,
    // the options hotkey brings it forward instead of opening a second
    // options dialog behind it.
    const QString chosen = QFileDialog::getOpenFileName(this, latin(kOptionsCaption), start, QString(), nullptr,
                                                        QFileDialog::DontUseNativeDialog);
    show();
    if (chosen.isEmpty()) return;
    // The box holds a command line: a path with blanks or quotes is quoted
    // so that it still starts the chosen program.
    e_decryptviewer->setText(to_qstring(quote_command_word(to_bytes(chosen))));
    rg_decryptview->setItemIndex(kThirdItem);
}

void TfrmOptions::OKClick() {
    // Nothing is taken, and the hotkeys stay registered, until both timing
    // values are usable.
    // 0 would run the window check without pause and a negative value
    // never; a negative delay is no delay.
    const auto window_check = parse_whole_number(to_bytes(eb_windowcheck->text()));
    if (!window_check || *window_check < kMinWindowCheckMs) {
        show_message_window(kWindowCheckNotNumber, this);
        eb_windowcheck->setFocus();
        return;
    }
    const auto send_keys_delay = parse_whole_number(to_bytes(eb_sendkeysdelay->text()));
    if (!send_keys_delay || *send_keys_delay < 0) {
        show_message_window(kSendKeysDelayNotNumber, this);
        eb_sendkeysdelay->setFocus();
        return;
    }

    Settings& s = context_.settings;
    s.AutoEncryptHotKeyString = to_bytes(eb_autoencrypthotkey->text());
    s.AutoDecryptHotKeyString = to_bytes(eb_autodecrypthotkey->text());
    s.OptionsHotKeyString = to_bytes(eb_optionshotkey->text());
    s.ExitHotKeyString = to_bytes(eb_exithotkey->text());
    s.ActiveWindowCheckTime = *window_check;
    s.SendKeysDelay = *send_keys_delay;

    // The hotkeys are registered again from the new texts once the dialog
    // has closed; a press in between does nothing.
    context_.clearshortcuts();
    process_messages();
    process_messages();

    s.HotKeysEnabled = cb_hotkeysenabled->isChecked();
    s.AutoSelect_e = cb_autoselect_e->isChecked();
    s.AutoSelect_d = cb_autoselect_d->isChecked();
    s.AutoCopy = cb_autocopy->isChecked();
    s.AutoPaste = cb_autopaste->isChecked();
    s.AppendSeparator = cb_separators->isChecked();
    s.NoSplash = cb_nosplash->isChecked();
    s.NoConfig = cb_noconfig->isChecked();
    s.ConfirmPassword = cb_confirmpassword->isChecked();
    s.UseRTF = cb_usertf->isChecked();
    s.AddSenderTag = cb_sendertag->isChecked();
    s.NoDecompress = cb_nodecompress->isChecked();
    s.TrayHint = rg_trayhint->itemIndex();
    s.AllowChanges = cb_allowchanges->isChecked();
    s.ChainingMode = rg_chainingmode->itemIndex();
    s.Hash = rg_hash->itemIndex();
    s.Algorithm = rg_algorithm->itemIndex();
    s.HardcoreMode = cb_hardcoremode->isChecked();
    s.TextEncoding = rg_textencoding->itemIndex() == kTextEncodingUtf8 ? kTextEncodingUtf8 : kTextEncodingWindows1252;
    s.OverwriteOriginal = cb_overwritefile->isChecked();
    s.SecureWipe = cb_securewipe->isChecked();
    s.Hints = cb_hints->isChecked();
    s.DecryptView = rg_decryptview->itemIndex();
    s.DecryptViewer = to_bytes(e_decryptviewer->text());
    s.QuoteString = to_bytes(eb_quote->text());
    s.FileExtension = clean_extension(to_bytes(eb_fileextension->text()));

    context_.settrayiconhint();
    accept();
}

void TfrmOptions::b_cancelClick() { reject(); }

}  // namespace morvantile::shell
