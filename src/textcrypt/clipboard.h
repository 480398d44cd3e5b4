// Clipboard exchange: all text enters and leaves the program through the
// system clipboard, as plain text or as rich text (RTF markup). Rich text is
// read only when encrypting and written only when decrypting a text that is
// itself RTF, and only with the "Rich text if available" option.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace morvantile {

struct Settings;
struct RuntimeState;
class Dialogs;
class EventPump;

class EClipboardError : public std::runtime_error {
public:
    explicit EClipboardError(const std::string& what = "Cannot open clipboard") : std::runtime_error(what) {}
};

// The plain-text format, by its name on the desktop.
inline constexpr std::string_view kPlainTextFormat = "text/plain";

// The system clipboard as the program uses it: formats by name, each
// holding bytes; plain text is the desktop's text as UTF-8. The X11 layer
// implements it over the CLIPBOARD selection, tests over a map. Every call
// may throw EClipboardError.
class ClipboardAccess {
public:
    virtual ~ClipboardAccess() = default;
    // The clipboard is held from open() to close(); other programs wait.
    virtual void open() = 0;
    virtual void close() = 0;
    // The formats on the clipboard now.
    virtual std::vector<std::string> formats() = 0;
    // The bytes of `format`, or nullopt when it is not on the clipboard.
    virtual std::optional<std::string> get(std::string_view format) = 0;
    // Replaces everything on the clipboard with `bytes` in `format` alone.
    // `secret` marks decrypted text, which clipboard history managers are
    // asked not to keep.
    virtual void set(std::string_view format, std::string_view bytes, bool secret) = 0;
};

// Clipboard history managers skip data that carries this type.
inline constexpr char kSecretHintFormat[] = "x-kde-passwordManagerHint";

// Plain text on the Linux clipboards (X11 and Wayland) has LF line ends;
// the program's texts have CR LF, as the Windows build's have, so that the
// same text gives the same ciphertext on both. Reading turns every bare LF
// into CR LF, writing every CR LF into LF. (GTK programs offer CR LF
// already; Qt programs and terminals LF.)
std::string crlf_line_ends(std::string_view text);
std::string lf_line_ends(std::string_view text);

// A text counts as rich text when it starts with exactly "{\rtf".
bool has_rtf_marker(std::string_view text);

class ClipboardExchange {
public:
    ClipboardExchange(ClipboardAccess& clipboard, const Settings& settings, RuntimeState& runtime,
                      Dialogs& dialogs, EventPump& pump)
        : clipboard_(clipboard), settings_(settings), runtime_(runtime), dialogs_(dialogs), pump_(pump) {}

    // The clipboard's text up to its first NUL byte; empty when it holds no
    // text. Rich text when `code` is 'e', UseRTF is on and rich text is
    // there; otherwise plain text, as Windows-1252 bytes when every
    // character has one (unless TextEncoding says UTF-8 always), else as
    // UTF-8. Throws EClipboardError.
    std::string read_clipboard_text(char code);

    // Replaces the clipboard content with `text` (up to its first NUL, which
    // is all any reader would take) in exactly one format: rich text when
    // `code` is 'd', UseRTF is on and `text` is RTF markup, after the
    // one-second "Using rich text" notice; plain text otherwise, read as
    // UTF-8 when it is valid UTF-8, else as Windows-1252. What is
    // written for 'd' is decrypted text and is marked secret. Throws
    // EClipboardError, leaving the clipboard as it was.
    void write_clipboard_text(std::string_view text, char code);

    bool rich_text_available();

private:
    // Holds the clipboard open for one read or write.
    class Held;

    ClipboardAccess& clipboard_;
    const Settings& settings_;
    RuntimeState& runtime_;
    Dialogs& dialogs_;
    EventPump& pump_;
};

}  // namespace morvantile
