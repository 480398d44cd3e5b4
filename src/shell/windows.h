// Window helpers shared by every window of the desktop program: finding the
// program's own dialogs by caption, bringing a window to the front, the
// hints (tool tips) that the "Hints" option switches, and text conversion
// between the core's byte strings and Qt.
#pragma once

#include <QColor>
#include <QPalette>
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class QWidget;

namespace morvantile::shell {

// The captions of the program's own dialogs, in the order they are looked
// for. A dialog whose caption changes while it is open (the password dialog
// asking for confirmation) is not found by it.
const std::vector<QString>& dialogtitles();

// The visible top-level window of this program whose caption is exactly
// `caption`, or nullptr.
QWidget* findwindowbytitle(const QString& caption);

// True when one of the program's own dialogs is open; every such dialog has
// then been brought to the front, and the caller drops its request.
// `except` (the dialog that asks, if any) does not count.
bool ownDialogOpen(const QWidget* except = nullptr);

// Shows the window, raises it and gives it the keyboard focus.
void forceforeground(QWidget* window);

// Puts the window in the middle of the screen it is on (the primary one
// before it is shown).
void center_on_screen(QWidget* window);

// Lets pending events run (paint, timers, clipboard requests of others).
void process_messages();

// Hint texts use CR LF between lines, as stored; Qt wants LF.
QString hint_text(std::string_view text);

// The tool tips of one window, switched on and off together.
class HintSet {
public:
    void add(QWidget* widget, std::string_view text);
    void add(QWidget* widget, const QString& text);
    void set_enabled(bool on);
    bool enabled() const { return enabled_; }

private:
    struct Entry {
        QWidget* widget;
        QString text;
    };
    std::vector<Entry> entries_;
    bool enabled_ = false;
};

// A colour as the configuration stores it: 0x00BBGGRR, or, with the top
// bit set, one of the desktop's own colours by its Windows index (button
// face is a dialog's background, window text the text of an edit box),
// taken from `palette`.
QColor stored_colour(std::int32_t value, const QPalette& palette);

// Byte strings from the core become text as UTF-8 when they are valid
// UTF-8, otherwise as Windows-1252 (texts written by the Windows build).
QString to_qstring(std::string_view bytes);
// A QString that held a password or decrypted text: overwritten before it
// is let go. A copy still shared with a widget is left to the widget.
void wipe_qstring(QString& text);

// Names, paths and option texts enter the core as UTF-8 bytes.
std::string to_bytes(const QString& text);

// Typed passwords and Password Manager names enter the core as
// Windows-1252 bytes when every character has one (unless the TextEncoding
// option says UTF-8 always), as the Windows build hashes and stores them.
std::string typed_bytes(const QString& text, int text_encoding);

QString decode_windows1252(std::string_view bytes);

}  // namespace morvantile::shell
