// The internal viewer for decrypted text: a resizable rich-text editor that
// takes the decrypted text from the clipboard when it opens, with commands
// to copy the text, paste it back into the source window, quote it for a
// reply, switch word wrap and choose the font.
#pragma once

#include <QColor>
#include <QDialog>
#include <QFont>

#include "config/settings.h"
#include "shell/shell_context.h"
#include "shell/windows.h"

class QAction;
class QLabel;
class QMenuBar;
class QPushButton;
class QTextEdit;

namespace morvantile::shell {

inline constexpr char kViewerCaption[] = "Morvantile: view decrypted text";

class Tfrm_decryptview : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_decryptview(ShellContext& context, QWidget* parent = nullptr);
    ~Tfrm_decryptview() override;

    // Copies the selection, or all text when nothing is selected, to the
    // clipboard: as RTF with "Rich text if available", else as plain text.
    // False after showing "Failed to copy text to clipboard!".
    bool copymemotoclipboard();
    // Keeps the text off the editor's left border.
    void setmemogutter();

    // Fills the editor from the clipboard once the viewer is the active
    // window; runs by itself when the viewer is shown. False when the
    // viewer did not become active or the clipboard could not be read
    // (the message has been shown then).
    bool fillmemo();
    // Whether the filling after the viewer was shown has run (successfully
    // or not).
    bool fill_done() const { return fill_done_; }

    // The command behind each control.
    void b_pasteoriginalClick();
    void b_quoteClick();
    void b_fontClick();
    void menu_wordwrapClick();

    bool wordwrap() const { return wrap_; }
    const HintSet& hints() const { return hints_; }

    QTextEdit* memo1;
    QLabel* l_wait;
    QMenuBar* MainMenu1;
    QAction* menu_wordwrap;
    QWidget* Panel1;
    QPushButton* b_copy;
    QPushButton* b_pasteoriginal;
    QPushButton* b_font;
    QPushButton* b_quote;
    QPushButton* b_close;

    // How long showing waits for the viewer to become the active window.
    static constexpr int kActivateMilliseconds = 1000;

public slots:
    // Every way of closing ends here: the wrap state is kept and the
    // result is OK.
    void done(int result) override;

public:
    void setVisible(bool visible) override;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void set_wrap(bool on);
    void apply_font(const QFont& font);

    ShellContext& context_;
    HintSet hints_;
    bool wrap_ = true;
    bool placed_ = false;
    bool fill_scheduled_ = false;
    bool fill_done_ = false;
    bool busy_ = false;  // quoting
};

// The main window's showviewer: nothing while another of the program's
// dialogs is open; on pass 1 of 2 (the intermediate Hardcore result) the
// viewer is created and freed without being shown; otherwise it is shown
// modally, and afterwards the source window comes back.
void showviewer(ShellContext& context, int pass, int passes);

// The viewer font of the options as a Qt font and colour. Colours are
// Windows colours (0x00BBGGRR); system colours come from the palette.
QFont viewer_font(const ViewerFontSettings& f);
QColor viewer_font_color(const ViewerFontSettings& f);
// Takes a chosen font into the options; the colour stays as it was.
void store_viewer_font(const QFont& font, ViewerFontSettings& f);

}  // namespace morvantile::shell
