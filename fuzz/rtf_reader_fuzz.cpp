// Rich text comes out of decrypted blocks, so the viewer reads markup that
// anyone could have written. Reading must end without a crash or a hang,
// and what the viewer then copies as rich text (the whole text or a part
// of it) must be 7-bit markup that reads back to the same text.
#include <QGuiApplication>
#include <QString>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "shell/rtf.h"

namespace {

bool seven_bit(const std::string& markup) {
    for (const char c : markup) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// Half of a surrogate pair at index i.
bool half_character(const QString& text, qsizetype i) {
    const QChar c = text.at(i);
    if (c.isHighSurrogate()) return i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate();
    if (c.isLowSurrogate()) return i == 0 || !text.at(i - 1).isHighSurrogate();
    return false;
}

bool whole_characters(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (half_character(text, i)) return false;
    }
    return true;
}

// The text as copying keeps it: the writer leaves out half a character at
// the ends of a selection.
QString copied(const QString& text) {
    QString kept;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!half_character(text, i)) kept.append(c);
    }
    return kept;
}

}  // namespace

// QTextDocument lays out text in fonts, which need a QGuiApplication; the
// offscreen platform needs no display.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "rtf_reader_fuzz";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvantile::shell;
    const std::string_view rtf(reinterpret_cast<const char*>(data), size);
    QTextDocument document;
    if (!read_rtf(rtf, document)) return 0;
    // Half of a pair of \u characters reads as U+FFFD, not as half a character.
    if (!whole_characters(document.toRawText())) __builtin_trap();
    const std::string markup = write_rtf(document);
    if (!seven_bit(markup)) __builtin_trap();
    QTextDocument again;
    if (!read_rtf(markup, again)) __builtin_trap();
    if (again.toRawText() != copied(document.toRawText())) __builtin_trap();

    // A selection of the middle third, as the viewer copies it.
    QTextCursor selection(&document);
    const int length = document.characterCount() - 1;
    selection.setPosition(length / 3);
    selection.setPosition(length - length / 3, QTextCursor::KeepAnchor);
    const std::string part = write_rtf(selection);
    if (!seven_bit(part)) __builtin_trap();
    QTextDocument piece;
    if (!read_rtf(part, piece) || piece.toRawText() != copied(selection.selection().toRawText())) __builtin_trap();
    return 0;
}
