#include "textcrypt/clipboard.h"

#include <algorithm>

#include "cipher/wipe.h"
#include "config/settings.h"
#include "textcrypt/desktop.h"
#include "textcrypt/text_encoding.h"

namespace morvantile {

namespace {

constexpr int kRichTextNotice = 2;

std::string_view up_to_nul(std::string_view text) { return text.substr(0, text.find('\0')); }

}  // namespace

// Opens the clipboard and closes it however the scope is left.
class ClipboardExchange::Held {
public:
    explicit Held(ClipboardAccess& c) : c_(c) { c_.open(); }
    ~Held() {
        try {
            c_.close();
        } catch (...) {
            // Closing is best effort; the read or write has already happened or failed.
        }
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

private:
    ClipboardAccess& c_;
};

bool has_rtf_marker(std::string_view text) { return text.starts_with("{\\rtf"); }

bool ClipboardExchange::rich_text_available() {
    const std::vector<std::string> formats = clipboard_.formats();
    return std::find(formats.begin(), formats.end(), runtime_.RtfFormat) != formats.end();
}

std::string ClipboardExchange::read_clipboard_text(char code) {
    pump_.process_messages();
    std::string result;
    {
        Held held(clipboard_);
        const bool rich = settings_.UseRTF && code == 'e' && rich_text_available();
        std::optional<std::string> bytes = clipboard_.get(rich ? std::string_view(runtime_.RtfFormat) : kPlainTextFormat);
        if (bytes) {
            // RTF markup is bytes already; plain text is the desktop's
            // Unicode text and becomes the bytes the Windows build would
            // take for it.
            result = rich ? std::string(up_to_nul(*bytes)) : typed_text_bytes(up_to_nul(*bytes), settings_.TextEncoding);
            // The copy may be plaintext; only `result` lives on.
            wipe_string(*bytes);
        }
    }
    pump_.process_messages();
    return result;
}

void ClipboardExchange::write_clipboard_text(std::string_view text, char code) {
    pump_.process_messages();
    text = up_to_nul(text);
    {
        Held held(clipboard_);
        if (code == 'd' && settings_.UseRTF && has_rtf_marker(text)) {
            // The clipboard stays held through the notice, so nothing can
            // change it between the notice and the write.
            runtime_.NoticeMode = kRichTextNotice;
            dialogs_.show_notice();
            clipboard_.set(runtime_.RtfFormat, text, /*secret=*/true);
        } else {
            WipedString unicode(bytes_as_text(text));
            clipboard_.set(kPlainTextFormat, unicode.s, /*secret=*/code == 'd');
        }
    }
    pump_.process_messages();
}

std::string crlf_line_ends(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

std::string lf_line_ends(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

}  // namespace morvantile
