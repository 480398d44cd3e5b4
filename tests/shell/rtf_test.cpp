#include "shell/rtf.h"

#include <gtest/gtest.h>

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <string>

namespace morvantile::shell {
namespace {

// The format of the character at `pos`.
QTextCharFormat format_at(const QTextDocument& doc, int pos) {
    QTextCursor c(const_cast<QTextDocument*>(&doc));
    c.setPosition(pos + 1);
    return c.charFormat();
}

QTextCharFormat format_of(const QTextDocument& doc, const QString& word) {
    const QTextCursor found = doc.find(word);
    EXPECT_FALSE(found.isNull()) << word.toStdString();
    return format_at(doc, found.selectionStart());
}

QString family(const QTextCharFormat& f) { return f.fontFamilies().toStringList().value(0); }

QString read(std::string_view rtf) {
    QTextDocument doc;
    EXPECT_TRUE(read_rtf(rtf, doc));
    return doc.toRawText();
}

TEST(RtfReader, WordProcessorClipboardSample) {
    const std::string rtf =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\nouicompat\\deflang1033"
        "{\\fonttbl{\\f0\\fswiss\\fprq2\\fcharset0 Calibri;}"
        "{\\f1\\froman\\fprq2\\fcharset0 Times New Roman{\\*\\falt Times};}}\r\n"
        "{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}\r\n"
        "{\\stylesheet{ Normal;}{\\s1 heading 1;}}\r\n"
        "{\\*\\generator Riched20 10.0.19041}{\\info{\\author Someone}{\\title Secret}}"
        "\\viewkind4\\uc1 \r\n"
        "\\pard\\sa200\\sl276\\slmult1\\f0\\fs22\\lang9 Dear {\\b Bob}, caf\\'e9 costs 5 \\u8364?.\\par\r\n"
        "\\pard\\qc {\\i\\f1\\fs28\\cf1 Second} li\\\r\nne\\par\r\n"
        "}";
    QTextDocument doc;
    ASSERT_TRUE(read_rtf(rtf, doc));
    // The last paragraph mark leaves an empty paragraph after it.
    EXPECT_EQ(doc.toPlainText(), QString::fromUtf8("Dear Bob, caf\xC3\xA9 costs 5 \xE2\x82\xAC.\nSecond li\nne\n"));

    const QTextCharFormat dear = format_of(doc, "Dear");
    EXPECT_NE(dear.fontWeight(), QFont::Bold);
    EXPECT_EQ(family(dear), "Calibri");
    EXPECT_DOUBLE_EQ(dear.fontPointSize(), 11.0);

    const QTextCharFormat bob = format_of(doc, "Bob");
    EXPECT_EQ(bob.fontWeight(), QFont::Bold);
    EXPECT_FALSE(bob.fontItalic());
    EXPECT_EQ(family(bob), "Calibri");
    EXPECT_NE(format_of(doc, ", caf").fontWeight(), QFont::Bold);

    const QTextCharFormat second = format_of(doc, "Second");
    EXPECT_TRUE(second.fontItalic());
    EXPECT_EQ(family(second), "Times New Roman");
    EXPECT_DOUBLE_EQ(second.fontPointSize(), 14.0);
    EXPECT_EQ(second.foreground().color(), QColor(255, 0, 0));

    // Outside the group the paragraph's earlier formatting is back.
    const QTextCharFormat line = format_of(doc, "li");
    EXPECT_FALSE(line.fontItalic());
    EXPECT_EQ(line.foreground().style(), Qt::NoBrush);
    EXPECT_DOUBLE_EQ(line.fontPointSize(), 11.0);

    EXPECT_EQ(doc.firstBlock().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    EXPECT_EQ(doc.firstBlock().next().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
}

TEST(RtfReader, SkipsNonTextDestinationsAndUnknownWords) {
    EXPECT_EQ(read("{\\rtf1 a{\\*\\unknowndest secret {\\b nested}}b}"), "ab");
    EXPECT_EQ(read("{\\rtf1 a{\\header Page 1}{\\footer Page 2}{\\pict\\wmetafile8 0a0b0c}b}"), "ab");
    // A field shows its result, not its instruction.
    EXPECT_EQ(read("{\\rtf1 see {\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt {\\ul here}}}.}"),
              "see here.");
    // Binary data may hold braces and backslashes.
    EXPECT_EQ(read("{\\rtf1 a{\\pict\\bin6 }{\\x}y}b}"), "ab");
    EXPECT_EQ(read("{\\rtf1 \\foo123 x\\bar y\\qwertyuiop-5 z}"), "xyz");
    EXPECT_EQ(read("{\\rtf1 a\\tab b\\line c\\~d\\emdash e\\\\\\{\\}}"),
              QString::fromUtf8("a\tb\xE2\x80\xA8" "c\xC2\xA0" "d\xE2\x80\x94" "e\\{}"));
    // \v is hidden text.
    EXPECT_EQ(read("{\\rtf1 a{\\v hidden}b\\v c\\v0 d}"), "abd");
}

TEST(RtfReader, CodePagesAndUnicode) {
    // Windows-1252 by default, Latin-1 for code pages it does not know.
    EXPECT_EQ(read("{\\rtf1\\ansi \\'80\\'e9}"), QString::fromUtf8("\xE2\x82\xAC\xC3\xA9"));
    EXPECT_EQ(read("{\\rtf1\\ansi\\ansicpg1251 \\'e9}"), QString::fromUtf8("\xC3\xA9"));
    // \uc counts the fallback characters; a group end stops skipping.
    EXPECT_EQ(read("{\\rtf1\\uc2 \\u8364\\'80\\'80x}"), QString::fromUtf8("\xE2\x82\xAC" "x"));
    EXPECT_EQ(read("{\\rtf1\\uc0 \\u8364 x}"), QString::fromUtf8("\xE2\x82\xAC" "x"));
    EXPECT_EQ(read("{\\rtf1{\\uc3 \\u8364}x}"), QString::fromUtf8("\xE2\x82\xAC" "x"));
    // Negative values are UTF-16 units beyond 32767; pairs make one character.
    EXPECT_EQ(read("{\\rtf1 \\u-10179?\\u-8704?}"), QString::fromUtf8("\xF0\x9F\x98\x80"));
    EXPECT_EQ(read("{\\rtf1 \\u-3?}"), QString::fromUtf8("\xEF\xBF\xBD"));  // U+FFFD itself
    // Half a pair is no character.
    EXPECT_EQ(read("{\\rtf1 \\u-10179?x}"), QString::fromUtf8("\xEF\xBF\xBDx"));
    EXPECT_EQ(read("{\\rtf1 \\u-8704?x}"), QString::fromUtf8("\xEF\xBF\xBDx"));
}

TEST(RtfReader, HostileInputDoesNotBreakIt) {
    QTextDocument untouched;
    untouched.setPlainText("keep");
    EXPECT_FALSE(read_rtf("plain text", untouched));
    EXPECT_FALSE(read_rtf("{\\rt", untouched));
    EXPECT_EQ(untouched.toPlainText(), "keep");
    EXPECT_TRUE(read_rtf("{\\rtf", untouched));
    EXPECT_EQ(untouched.toPlainText(), "");

    EXPECT_EQ(read("{\\rtf1 {\\b abc"), "abc");
    EXPECT_EQ(read("{\\rtf1 a}}}b{"), "a");
    EXPECT_EQ(read("{\\rtf1 a\\"), "a");
    EXPECT_EQ(read("{\\rtf1 a\\'"), "a");
    EXPECT_EQ(read("{\\rtf1 a\\'4"), "a");
    EXPECT_EQ(read("{\\rtf1 a\\'zzb}"), "azzb");
    EXPECT_EQ(read("{\\rtf1 a\\u"), "a");
    EXPECT_EQ(read("{\\rtf1 a\\u-"), "a-");
    EXPECT_EQ(read("{\\rtf1 a\\u233"), QString::fromUtf8("a\xC3\xA9"));
    EXPECT_EQ(read("{\\rtf1 a\\'00b\\u0?c\\u7?d\\u-65535?e}"), "abcde");
    EXPECT_EQ(read(std::string("{\\rtf1 a\0b}", 11)), "ab");
    EXPECT_EQ(read("{\\rtf1 a\\" + std::string(100, 'x') + " b}"), "ab");

    // Numbers far beyond any range are clamped; none decides an allocation.
    QTextDocument doc;
    ASSERT_TRUE(read_rtf("{\\rtf1{\\colortbl;\\red99999999999999\\green-5\\blue7;}"
                         "\\fs99999999999999999999 a\\cf1 b\\cf-99999999999 c\\f99999999999 d"
                         "\\uc99999999999 e\\u99999999999 \\bin99999999999999}",
                         doc));
    EXPECT_EQ(doc.toPlainText(), "abcde");
    EXPECT_DOUBLE_EQ(format_at(doc, 0).fontPointSize(), 1638.0);
    EXPECT_EQ(format_at(doc, 1).foreground().color(), QColor(255, 0, 7));
    EXPECT_EQ(format_at(doc, 2).foreground().style(), Qt::NoBrush);

    // Deep nesting: braces still pair up, text is kept.
    const std::string deep = "{\\rtf1 " + std::string(100000, '{') + "\\b x" + std::string(100000, '}') + "y}";
    EXPECT_EQ(read(deep), "xy");
    const std::string unclosed = "{\\rtf1 " + std::string(100000, '{') + "x";
    EXPECT_EQ(read(unclosed), "x");
    std::string groups = "{\\rtf1 ";
    for (int i = 0; i < 20000; ++i) groups += "{\\*\\x}{\\b}";
    EXPECT_EQ(read(groups + "z}"), "z");
}

// A document that uses everything the writer writes.
void build_sample(QTextDocument& doc) {
    QTextCursor c(&doc);
    c.insertText("Plain \\{braces} ");
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    c.insertText("bold", bold);
    QTextCharFormat red;
    red.setFontItalic(true);
    red.setForeground(QColor(200, 10, 20));
    red.setFontFamilies(QStringList{"Courier New"});
    c.insertText(QString::fromUtf8(" caf\xC3\xA9 \xE2\x82\xAC" "5 \xCE\xA9 \xF0\x9F\x98\x80"), red);
    c.insertText(QString::fromUtf8("\ttab\xE2\x80\xA8line\xC2\xA0nb;semi"), QTextCharFormat());
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    c.insertBlock(centred);
    QTextCharFormat big;
    big.setFontUnderline(true);
    big.setFontStrikeOut(true);
    big.setFontPointSize(15.5);
    c.insertText("Second", big);
    c.insertBlock(QTextBlockFormat());
    c.insertBlock(QTextBlockFormat());
    QTextBlockFormat right;
    right.setAlignment(Qt::AlignRight);
    c.setBlockFormat(right);
    c.insertText("after an empty one");
}

void expect_same_formatting(const QTextDocument& a, const QTextDocument& b) {
    ASSERT_EQ(a.toPlainText(), b.toPlainText());
    ASSERT_EQ(a.blockCount(), b.blockCount());
    for (QTextBlock x = a.begin(), y = b.begin(); x.isValid(); x = x.next(), y = y.next()) {
        EXPECT_EQ(x.blockFormat().alignment() & Qt::AlignHorizontal_Mask,
                  y.blockFormat().alignment() & Qt::AlignHorizontal_Mask)
            << x.text().toStdString();
    }
    for (int pos = 0; pos + 1 < a.characterCount(); ++pos) {
        if (a.characterAt(pos) == QChar::ParagraphSeparator) continue;
        const QTextCharFormat fa = format_at(a, pos), fb = format_at(b, pos);
        const QFont x = fa.font().resolve(a.defaultFont()), y = fb.font().resolve(b.defaultFont());
        SCOPED_TRACE("at " + std::to_string(pos));
        EXPECT_EQ(x.family(), y.family());
        EXPECT_DOUBLE_EQ(x.pointSizeF(), y.pointSizeF());
        EXPECT_EQ(x.bold(), y.bold());
        EXPECT_EQ(x.italic(), y.italic());
        EXPECT_EQ(x.underline(), y.underline());
        EXPECT_EQ(x.strikeOut(), y.strikeOut());
        EXPECT_EQ(fa.foreground().style() != Qt::NoBrush, fb.foreground().style() != Qt::NoBrush);
        if (fa.foreground().style() != Qt::NoBrush) {
            EXPECT_EQ(fa.foreground().color(), fb.foreground().color());
        }
    }
}

TEST(RtfWriter, RoundTripKeepsTextAndFormatting) {
    QTextDocument doc;
    QFont base("Sans Serif");
    base.setPointSize(9);
    doc.setDefaultFont(base);
    build_sample(doc);

    const std::string rtf = write_rtf(doc);
    ASSERT_TRUE(rtf.starts_with("{\\rtf1\\ansi\\ansicpg1252"));
    for (const char ch : rtf) ASSERT_LT(static_cast<unsigned char>(ch), 0x80) << rtf;
    EXPECT_NE(rtf.find("caf\\'e9 \\'80"), std::string::npos) << rtf;
    EXPECT_NE(rtf.find("\\u937?"), std::string::npos) << rtf;                // Omega: not in 1252
    EXPECT_NE(rtf.find("\\u-10179?\\u-8704?"), std::string::npos) << rtf;  // outside the BMP

    QTextDocument back;
    back.setDefaultFont(QFont("Serif", 20));  // the markup's fonts, not this one, decide
    ASSERT_TRUE(read_rtf(rtf, back));
    expect_same_formatting(doc, back);
    // And again: what is read writes the same markup (its runs carry their
    // fonts, so only the table's default entry depends on the document).
    back.setDefaultFont(base);
    EXPECT_EQ(write_rtf(back), rtf);
}

TEST(RtfWriter, WritesOnlyTheSelection) {
    QTextDocument doc;
    build_sample(doc);
    QTextCursor sel = doc.find("bold");
    sel.setPosition(doc.find("Sec").selectionEnd(), QTextCursor::KeepAnchor);

    QTextDocument back;
    ASSERT_TRUE(read_rtf(write_rtf(sel), back));
    EXPECT_EQ(back.toPlainText(), sel.selection().toPlainText());
    EXPECT_EQ(format_of(back, "bold").fontWeight(), QFont::Bold);
    EXPECT_EQ(back.lastBlock().blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);

    QTextDocument from_fragment;
    ASSERT_TRUE(read_rtf(write_rtf(sel.selection()), from_fragment));
    EXPECT_EQ(from_fragment.toPlainText(), sel.selection().toPlainText());
    EXPECT_TRUE(format_of(from_fragment, "Sec").fontUnderline());

    QTextDocument none;
    ASSERT_TRUE(read_rtf(write_rtf(QTextCursor(&doc)), none));
    EXPECT_EQ(none.toPlainText(), "");
}

}  // namespace
}  // namespace morvantile::shell
