// Rich text on the clipboard is RTF markup. The viewer reads it into its
// editor and writes the editor's text back as RTF when it copies with the
// "Rich text if available" option.
//
// The reader takes the subset word processors put on the clipboard:
// paragraphs and line breaks, tabs, bold, italic, underline, strike-out,
// font size, the font table and the colour table, paragraph alignment,
// and Unicode characters. Bytes of text are read in the code page of their
// font's character set, or else in the document's (\ansicpg, Western by
// default): the Windows code pages 1250 to 1258 and 874, and the
// double-byte ones 932 (Japanese), 936 (Simplified Chinese), 949 (Korean)
// and 950 (Traditional Chinese), read with Qt's converters; other code
// pages and symbol fonts read as Latin-1. Layout, pictures, objects, style
// sheets and document information are skipped.
// The markup comes from decrypted text, so it is not trusted: nesting depth
// is bounded and no number in it decides an allocation.
#pragma once

#include <QColor>
#include <QFont>
#include <string>
#include <string_view>

class QTextCursor;
class QTextDocument;
class QTextDocumentFragment;

namespace morvantile::shell {

// Reads RTF markup (bytes) into the document, replacing its content; the
// document's undo history is cleared. False, leaving the document alone,
// if the markup does not begin with "{\rtf".
bool read_rtf(std::string_view rtf, QTextDocument& document);

// Writes the document, or the fragment, as RTF markup (7-bit bytes) in the
// Western code page, with characters it lacks as Unicode characters. Text
// without a font, size or style of its own is written in the document's
// default font (for a fragment: `default_font`), so a word processor shows
// it as it was seen; text without a colour of its own gets
// `default_color` when that is valid, else the reader's automatic colour.
std::string write_rtf(const QTextDocument& document);
std::string write_rtf(const QTextDocumentFragment& fragment);
std::string write_rtf(const QTextDocumentFragment& fragment, const QFont& default_font,
                      const QColor& default_color = QColor());
// The cursor's selection, straight from its document (no copy of the text
// is made); markup without text when nothing is selected.
std::string write_rtf(const QTextCursor& selection, const QColor& default_color = QColor());

}  // namespace morvantile::shell
