#include "shell/qt_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "cipher/wipe.h"
#include "shell/windows.h"

namespace morvantile::shell {
namespace {

// The names under which programs offer RTF, the program's own first.
const char* const kRtfNames[] = {"text/rtf", "application/rtf", "text/richtext"};

bool is_rtf_name(std::string_view format) { return format == kRtfNames[0]; }

std::optional<QByteArray> rtf_data(const QMimeData& mime) {
    for (const char* name : kRtfNames) {
        if (mime.hasFormat(QLatin1String(name))) return mime.data(QLatin1String(name));
    }
    return std::nullopt;
}

}  // namespace

QtClipboard::QtClipboard() : clipboard_(QGuiApplication::clipboard()) {
    if (!clipboard_) throw EClipboardError();
}

void QtClipboard::open() {
    if (held_) throw EClipboardError();
    held_ = true;
}

void QtClipboard::close() { held_ = false; }

std::vector<std::string> QtClipboard::formats() {
    std::vector<std::string> out;
    const QMimeData* mime = clipboard_->mimeData(QClipboard::Clipboard);
    if (!mime) return out;
    if (mime->hasText()) out.emplace_back(kPlainTextFormat);
    if (rtf_data(*mime)) out.emplace_back(kRtfNames[0]);
    return out;
}

std::optional<std::string> QtClipboard::get(std::string_view format) {
    const QMimeData* mime = clipboard_->mimeData(QClipboard::Clipboard);
    if (!mime) return std::nullopt;
    if (format == kPlainTextFormat) {
        if (!mime->hasText()) return std::nullopt;
        std::string text = to_bytes(mime->text());
        std::string crlf = crlf_line_ends(text);
        secure_zero(text.data(), text.size());
        return crlf;
    }
    if (is_rtf_name(format)) {
        if (auto data = rtf_data(*mime)) return std::string(data->constData(), static_cast<std::size_t>(data->size()));
        return std::nullopt;
    }
    if (!mime->hasFormat(QLatin1String(format.data(), static_cast<qsizetype>(format.size())))) return std::nullopt;
    const QByteArray data = mime->data(QLatin1String(format.data(), static_cast<qsizetype>(format.size())));
    return std::string(data.constData(), static_cast<std::size_t>(data.size()));
}

void QtClipboard::set(std::string_view format, std::string_view bytes, bool secret) {
    auto* mime = new QMimeData;
    if (format == kPlainTextFormat) {
        std::string lf = lf_line_ends(bytes);
        QString text = to_qstring(lf);
        secure_zero(lf.data(), lf.size());
        mime->setText(text);
        wipe_qstring(text);
    } else {
        mime->setData(QLatin1String(format.data(), static_cast<qsizetype>(format.size())),
                      QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    }
    if (secret) mime->setData(QLatin1String(kSecretHintFormat), QByteArrayLiteral("secret"));
    // The clipboard takes the data over and replaces everything on it.
    clipboard_->setMimeData(mime, QClipboard::Clipboard);
}

}  // namespace morvantile::shell
