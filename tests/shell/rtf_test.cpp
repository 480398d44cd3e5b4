#include "shell/rtf.h"

#include <gtest/gtest.h>

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <cstdint>
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

QString utf8(const char* text) { return QString::fromUtf8(text); }

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

TEST(RtfReader, DocumentCodePage) {
    // Western by default; its unassigned bytes keep their C1 code points.
    EXPECT_EQ(read("{\\rtf1\\ansi \\'80\\'e9\\'81\\'9d}"), utf8("€é\u0081\u009D"));
    EXPECT_EQ(read("{\\rtf1\\ansi\\ansicpg1251 \\'e9}"), utf8("й"));
    EXPECT_EQ(read("{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}\r\n"
                   "\\pard\\f0 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2, \\'ec\\'e8\\'f0!\\par}"),
              utf8("Привет, мир!\u2029"));
    // Bytes written as they are, without escapes, are in the code page too.
    EXPECT_EQ(read("{\\rtf1\\ansi\\ansicpg1251 \xcf\xf0}"), utf8("Пр"));
    EXPECT_EQ(read("{\\rtf1\\ansi\\ansicpg1250 Za\\'bf\\'f3\\'b3\\'e6 \\'b9\\'ea\\'9c}"), utf8("Zażółć ąęś"));
    EXPECT_EQ(read("{\\rtf1\\ansi\\ansicpg1253 \\'c5\\'eb\\'eb\\'dc\\'e4\\'e1 \\'a2}"), utf8("Ελλάδα Ά"));

    // Code pages the reader does not know read as Latin-1.
    for (const char* other : {"\\ansicpg99999", "\\ansicpg0", "\\ansicpg-1251", "\\ansicpg437", "\\mac"}) {
        EXPECT_EQ(read(std::string("{\\rtf1\\ansi") + other + " \\'e9\\'80}"), utf8("é\u0080")) << other;
    }
}

TEST(RtfReader, FontCharsetsSelectTheirCodePage) {
    QTextDocument doc;
    ASSERT_TRUE(read_rtf("{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}"
                         "{\\f1\\fswiss\\fcharset204 \\'d8\\'f0\\'e8\\'f4\\'f2;}{\\f2\\fnil\\fcharset2 Symbol;}}\r\n"
                         "caf\\'e9 {\\f1 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2} \\'e9 \\f1\\'e9\\f0\\'e9 \\f1\\plain\\'e9 "
                         "\\f2\\'e9}",
                         doc));
    EXPECT_EQ(doc.toPlainText(), utf8("café Привет é йé é é"));
    // The font's name is in its character set too.
    EXPECT_EQ(family(format_of(doc, utf8("Привет"))), utf8("Шрифт"));

    // \ansi fonts follow the document's code page; \cpg decides over the
    // character set; a font not in the table reads in the document's.
    EXPECT_EQ(read("{\\rtf1\\ansi\\ansicpg1251{\\fonttbl{\\f0\\fcharset0 Arial;}{\\f1\\fcharset238\\cpg1253 X;}"
                   "{\\f2\\fcharset0\\cpg99999 Y;}}\\f0\\'e9\\f1\\'e1\\f2\\'e9\\f7\\'e9}"),
              utf8("йαйй"));
    // The default font's character set holds for text without a font.
    EXPECT_EQ(read("{\\rtf1\\ansi\\deff1{\\fonttbl{\\f0 A;}{\\f1\\fcharset161 G;}}\\'e1{\\f0\\'e1}}"), utf8("αá"));

    const struct {
        int charset;
        const char* bytes;
        const char* text;
    } charsets[] = {
        {128, "\\'82\\'a0", "あ"}, {129, "\\'b0\\'a1", "가"}, {134, "\\'d6\\'d0", "中"}, {136, "\\'a4\\'a4", "中"},
        {161, "\\'e1", "α"},       {162, "\\'f0", "ğ"},       {163, "\\'f0", "đ"},       {177, "\\'e0", "א"},
        {178, "\\'c7", "ا"},       {186, "\\'e0", "ą"},       {204, "\\'e9", "й"},       {222, "\\'a1", "ก"},
        {238, "\\'b9", "ą"},       {77, "\\'e9", "é"},        {255, "\\'e9", "é"},
    };
    for (const auto& c : charsets) {
        const std::string charset = std::to_string(c.charset);
        EXPECT_EQ(read("{\\rtf1\\ansi{\\fonttbl{\\f0 A;}{\\f1\\fcharset" + charset + " B;}}\\'e9\\f1 " + c.bytes +
                       "\\f0\\'e9}"),
                  utf8("é") + utf8(c.text) + utf8("é"))
            << c.charset;
    }
}

TEST(RtfReader, DoubleByteCharacters) {
    // Japanese: both bytes escaped, or the second one a character of the
    // markup (an escaped backslash among them); single-byte katakana.
    EXPECT_EQ(read("{\\rtf1\\ansi\\ansicpg932 \\'82\\'a0\\'83A\\'95\\\\ \\'b1x}"), utf8("あア表 ｱx"));
    // A line end in the markup may fall between the two bytes.
    EXPECT_EQ(read("{\\rtf1\\ansi\\ansicpg932 \\'82\r\n\\'a0}"), utf8("あ"));
    // A Japanese font in a Western document.
    EXPECT_EQ(read("{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 Arial;}{\\f1\\fcharset128 \\'82\\'6c\\'82\\'72;}}"
                   "\\'e9\\f1\\'82\\'a0\\'82\\'a2\\f0\\'e9}"),
              utf8("éあいé"));

    // A lead byte without its second byte is no character, and takes
    // nothing of what follows with it.
    EXPECT_EQ(read("{\\rtf1\\ansicpg932 a\\'82"), utf8("a\uFFFD"));
    EXPECT_EQ(read("{\\rtf1\\ansicpg932 a\\'82}"), utf8("a\uFFFD"));
    EXPECT_EQ(read("{\\rtf1\\ansicpg932 {a\\'82}b}"), utf8("a\uFFFDb"));
    EXPECT_EQ(read("{\\rtf1\\ansicpg932 a\\'82{\\b b}}"), utf8("a\uFFFDb"));
    EXPECT_EQ(read("{\\rtf1\\ansicpg932 a\\'82 b\\'82\\par c\\'82\\u12354?d}"),
              utf8("a\uFFFD b\uFFFD\u2029c\uFFFDあd"));
    EXPECT_EQ(read("{\\rtf1\\ansicpg932 a\\'82\\'zzb}"), utf8("a\uFFFDzzb"));
    // A lead byte before DEL is no character; DEL itself is not shown.
    EXPECT_EQ(read("{\\rtf1\\ansicpg936 \\'81\\'7f\\'d6\\'d0}"), utf8("\uFFFD中"));
}

TEST(RtfReader, UnicodeCharactersAndTheirFallbacks) {
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

    // The fallback is in the font's code page and is dropped, not shown too.
    EXPECT_EQ(read("{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0 A;}{\\f1\\fcharset204 B;}}"
                   "\\uc1\\f1 \\u1046\\'c6\\u1046\\'c6x\\f0\\u1046?\\'e9}"),
              utf8("ЖЖxЖé"));
    // A double-byte fallback is two bytes; written as one character
    // (\uc1) it is dropped whole all the same.
    EXPECT_EQ(read("{\\rtf1\\ansicpg932\\uc2 \\u12354\\'82\\'a0x\\u12354?yz}"), utf8("あxあz"));
    EXPECT_EQ(read("{\\rtf1\\ansicpg932\\uc1 \\u12354\\'82\\'a0x\\u12354\\'83Ay}"), utf8("あxあy"));
    EXPECT_EQ(read("{\\rtf1\\ansicpg932\\uc1 \\u12354\\'82 x}"), utf8("あ x"));
    EXPECT_EQ(read("{\\rtf1\\ansicpg932\\uc1 \\u12354?\\'82\\'a0}"), utf8("ああ"));
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
    // DEL and the object placeholder would show but not copy.
    EXPECT_EQ(read("{\\rtf1 a\x7F b\\u127?c\\u-4?d\\uc0\\u65532 e}"), "a bcde");
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

    // Code page and character set numbers of every size, and many of them:
    // each \'e9 still makes one character.
    std::string pages = "{\\rtf1\\ansicpg99999999999{\\fonttbl";
    for (int i = 0; i < 5000; ++i) {
        pages += "{\\f" + std::to_string(i) + "\\fcharset" + std::to_string(i * 7919) + "\\cpg" +
                 std::to_string(i * 104729) + " F;}";
    }
    pages += "}";
    for (int i = 0; i < 5000; ++i) pages += "\\f" + std::to_string(i) + "\\ansicpg" + std::to_string(i) + " \\'e9";
    EXPECT_EQ(read(pages + "}").size(), 5000);

    // Bytes, escapes, groups and Unicode characters at random in the
    // double-byte code pages: each byte of text makes a character at most.
    std::uint32_t seed = 12345;
    const auto next = [&seed] { return static_cast<int>((seed = seed * 1103515245u + 12345u) >> 16); };
    for (const char* page : {"932", "936", "949", "950"}) {
        std::string soup = std::string("{\\rtf1\\ansicpg") + page + "{\\fonttbl{\\f1\\fcharset128 J;}}";
        qsizetype bytes = 0;
        int depth = 0;
        for (int i = 0; i < 6000; ++i) {
            const int r = next();
            if (r % 16 == 8 && depth > 0) {
                soup += '}';
                --depth;
            } else if (r % 8 == 0) {
                soup += '{';
                ++depth;
            } else if (r % 8 == 1) {
                soup += "\\uc" + std::to_string(r % 3) + "\\u" + std::to_string(r % 70000 - 35000);
                ++bytes;
            } else if (r % 8 == 2) {
                soup += r % 16 < 8 ? "\\f1 " : "\\f0 ";
            } else if (r % 8 == 3) {
                soup += r % 16 < 8 ? "\\\\" : "A";
                ++bytes;
            } else {
                static constexpr char kHex[] = "0123456789abcdef";
                soup += "\\'";
                soup += kHex[(r >> 4) & 15];
                soup += kHex[(r >> 8) & 15];
                ++bytes;
            }
        }
        const QString text = read(soup);
        EXPECT_LE(text.size(), bytes) << page;
        EXPECT_GT(text.size(), bytes / 4) << page;  // and it reads to the end
    }
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
    c.insertText(utf8(" Жизнь, Ελλάδα, 日本語"), bold);
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
    // Cyrillic, Greek and Japanese as Unicode characters, which read back
    // the same in any code page.
    EXPECT_NE(rtf.find("\\u1046?\\u1080?"), std::string::npos) << rtf;
    EXPECT_NE(rtf.find("\\u26085?\\u26412?"), std::string::npos) << rtf;

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
