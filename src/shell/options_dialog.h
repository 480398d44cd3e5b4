// The options dialog: every user option in five tabs, worked on as copies
// in the controls and taken into Settings all at once on OK. Coupling rules
// between the controls keep contradictory combinations from being chosen.
#pragma once

#include <QDialog>
#include <QGroupBox>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shell/shell_context.h"
#include "shell/windows.h"

class QButtonGroup;
class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace morvantile::shell {

inline constexpr char kOptionsCaption[] = "Morvantile: change settings";
inline constexpr char kWindowCheckNotNumber[] = "Window check must be a whole number of milliseconds, 1 or more.";
inline constexpr char kSendKeysDelayNotNumber[] =
    "Sendkeys delay must be a whole number of milliseconds, 0 or more.";

// The encrypted-file extension as typed, made usable: leading blanks, stars
// and periods go ("*.txt" -> "txt"); nothing usable left gives "mvt".
std::string clean_extension(std::string_view typed);

// A decimal integer with an optional sign and nothing else (no blanks, no
// hex), within 32 bits; nullopt otherwise.
std::optional<std::int32_t> parse_whole_number(std::string_view text);

// The help shown as the hint of the tray-hint choice, and the warning shown
// the first time a timing box is entered; lines for strings_to_text.
const std::vector<std::string>& trayhint_help_lines();
const std::vector<std::string>& timing_warning_lines();

// A group box of exclusive choices addressed by position: -1 is no choice.
class OptionsRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    OptionsRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent = nullptr);

    int itemIndex() const;
    // An index above the last item chooses the last one; a negative index
    // clears the choice.
    void setItemIndex(int index);
    int count() const { return static_cast<int>(buttons_.size()); }
    QRadioButton* button(int index) const { return buttons_.at(static_cast<std::size_t>(index)); }
    QButtonGroup* group() const { return group_; }
    // Buttons sit in column 0 (and further columns when there are several);
    // other widgets may be placed beside them.
    QGridLayout* grid() const { return grid_; }

signals:
    // An item became the choice, by the user or by the program.
    void itemChosen(int index);

private:
    QButtonGroup* group_;
    QGridLayout* grid_;
    std::vector<QRadioButton*> buttons_;
};

class TfrmOptions : public QDialog {
    Q_OBJECT
public:
    explicit TfrmOptions(ShellContext& context, QWidget* parent = nullptr);
    ~TfrmOptions() override;

    // exec() returns Accepted only when OK took the values into Settings.

    const HintSet& hints() const { return hints_; }

    QTabWidget* pages;
    QWidget* ts_operation;
    QWidget* ts_hotkeys;
    QWidget* ts_clipkeys;
    QWidget* ts_algorithms;
    QWidget* ts_filemode;

    // Hotkeys
    QLineEdit* eb_autoencrypthotkey;
    QLineEdit* eb_autodecrypthotkey;
    QLineEdit* eb_optionshotkey;
    QLineEdit* eb_exithotkey;
    QLabel* l_hotkeysnote;

    // Operation
    QCheckBox* cb_autoselect_e;
    QCheckBox* cb_autoselect_d;
    QCheckBox* cb_autocopy;
    QCheckBox* cb_autopaste;
    QCheckBox* cb_hotkeysenabled;
    QLineEdit* eb_windowcheck;
    QLineEdit* eb_sendkeysdelay;
    QCheckBox* cb_separators;
    QCheckBox* cb_nosplash;
    QCheckBox* cb_noconfig;
    QCheckBox* cb_confirmpassword;
    QCheckBox* cb_usertf;
    QCheckBox* cb_sendertag;
    QCheckBox* cb_nodecompress;
    QLineEdit* eb_quote;
    OptionsRadioGroup* rg_trayhint;
    OptionsRadioGroup* rg_decryptview;
    QLineEdit* e_decryptviewer;
    QPushButton* b_browse;

    // Clipkeys (informative only)
    OptionsRadioGroup* rg_selectallkeys;
    OptionsRadioGroup* rg_copykeys;
    OptionsRadioGroup* rg_pastekeys;
    QLabel* l_clipkeysnote;

    // Algorithms
    QCheckBox* cb_allowchanges;
    OptionsRadioGroup* rg_chainingmode;
    OptionsRadioGroup* rg_hash;
    OptionsRadioGroup* rg_algorithm;
    OptionsRadioGroup* rg_textencoding;
    QPushButton* b_reset;
    QCheckBox* cb_hardcoremode;

    // File mode
    QCheckBox* cb_overwritefile;
    QCheckBox* cb_securewipe;
    QLineEdit* eb_fileextension;
    QLabel* l_filemodenote;

    // Below the tabs
    QPushButton* OK;
    QPushButton* b_cancel;
    QCheckBox* cb_hints;

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build_operation_tab();
    void build_hotkeys_tab();
    void build_clipkeys_tab();
    void build_algorithms_tab();
    void build_filemode_tab();
    void add_hints();
    void connect_rules();
    void fill();

    void OKClick();
    void b_cancelClick();
    void b_browseClick();
    void b_resetClick();
    void cb_separatorsClick();
    void cb_autoselectClick();
    void cb_autocopyClick();
    void cb_autopasteClick();
    void cb_hardcoremodeClick();
    void rg_decryptviewClick(int index);
    void e_decryptviewerEnter();
    void e_decryptviewerChange();
    void cb_usertfClick();
    void cb_sendertagClick();
    void cb_allowchangesClick();
    void cb_hintsClick();
    void eb_timingEnter();

    ShellContext& context_;
    HintSet hints_;
    // Set while the separators and Hardcore rules change the auto-select
    // boxes, so that those changes are not taken for the user's own.
    bool rule_change_ = false;
};

}  // namespace morvantile::shell
