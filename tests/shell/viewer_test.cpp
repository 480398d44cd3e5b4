#include "shell/viewer.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFontDialog>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFrame>
#include <QTextLayout>
#include <QTimer>
#include <algorithm>

#include "shell/errormsg.h"
#include "shell/rtf.h"
#include "shell/shell_fixture.h"

namespace morvantile::shell {
namespace {

using test::ShellFixture;

// Closes every message window as it appears and keeps its text.
class MessageCatcher {
public:
    MessageCatcher() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<Tmessagedlg*>(w);
                if (box && box->isVisible()) {
                    texts.push_back(box->text().toStdString());
                    box->accept();
                }
            }
        });
        timer_.start(10);
    }
    std::vector<std::string> texts;

private:
    QTimer timer_;
};

// Shows the viewer and waits until it has filled itself from the clipboard.
void open(Tfrm_decryptview& v) {
    v.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return v.fill_done(); }, 5000));
}

// Rich text with a plain-text form beside it, as a word processor leaves
// the clipboard.
void put_rich_and_plain(test::FakeClipboard& clip, std::string_view rtf, std::string_view plain) {
    clip.content.clear();
    clip.content["text/rtf"] = rtf;
    clip.content["text/plain"] = plain;
}

bool has(const std::vector<std::string>& log, std::string_view entry) {
    return std::find(log.begin(), log.end(), entry) != log.end();
}

TEST(Viewer, FillsFromThePlainTextOnTheClipboard) {
    ShellFixture f;
    f.clip.put("text/plain", "line one\r\nline two\rline three\n");
    Tfrm_decryptview v(f.context);
    open(v);
    EXPECT_EQ(v.memo1->toPlainText(), "line one\nline two\nline three\n");
    EXPECT_EQ(v.memo1->document()->blockCount(), 4);
    EXPECT_TRUE(v.isVisible());
    // The text keeps off the left border, and neither filling nor the
    // border leaves anything for Undo to bring back.
    v.resize(700, 400);
    v.menu_wordwrap->trigger();
    EXPECT_EQ(v.memo1->document()->rootFrame()->frameFormat().leftMargin(), 10);
    EXPECT_FALSE(v.memo1->document()->isUndoAvailable());
}

TEST(Viewer, FillsFromRichTextOnlyWithUseRtf) {
    for (const bool use_rtf : {true, false}) {
        SCOPED_TRACE(use_rtf);
        ShellFixture f;
        f.settings.UseRTF = use_rtf;
        put_rich_and_plain(f.clip, "{\\rtf1\\ansi {\\b bold} caf\\'e9}", "plain form");
        Tfrm_decryptview v(f.context);
        open(v);
        if (use_rtf) {
            EXPECT_EQ(v.memo1->toPlainText(), QString::fromUtf8("bold caf\xC3\xA9"));
            QTextCursor c(v.memo1->document());
            c.setPosition(1);
            EXPECT_EQ(c.charFormat().fontWeight(), QFont::Bold);
        } else {
            EXPECT_EQ(v.memo1->toPlainText(), "plain form");
        }
    }
}

TEST(Viewer, UnreadableClipboardLeavesTheViewerOpenAndEmpty) {
    ShellFixture f;
    f.clip.put("text/plain", "secret");
    f.clip.fail_get = true;
    MessageCatcher messages;
    Tfrm_decryptview v(f.context);
    open(v);
    EXPECT_EQ(messages.texts, std::vector<std::string>{"Failed to read text from clipboard!"});
    EXPECT_TRUE(v.isVisible());
    EXPECT_EQ(v.memo1->toPlainText(), "");
}

TEST(Viewer, QuoteAddsTheQuoteStringToEveryLineUnlessTextIsSelected) {
    ShellFixture f;
    f.clip.put("text/plain", "Hello\r\n\r\nWorld");
    Tfrm_decryptview v(f.context);
    open(v);
    v.b_quoteClick();
    EXPECT_EQ(v.memo1->toPlainText(), "> Hello\n> \n> World");
    EXPECT_TRUE(v.memo1->isVisible());
    EXPECT_FALSE(v.l_wait->isVisible());

    QTextCursor sel(v.memo1->document());
    sel.movePosition(QTextCursor::NextWord, QTextCursor::KeepAnchor);
    v.memo1->setTextCursor(sel);
    v.b_quoteClick();
    EXPECT_EQ(v.memo1->toPlainText(), "> Hello\n> \n> World");

    // A line break inside a paragraph starts a quoted line too.
    f.settings.QuoteString = "|";
    ASSERT_TRUE(read_rtf("{\\rtf1 one\\line two\\par three}", *v.memo1->document()));
    v.b_quoteClick();
    EXPECT_EQ(v.memo1->document()->toRawText(), QString::fromUtf8("| one\xE2\x80\xA8| two\xE2\x80\xA9| three"));
}

TEST(Viewer, QuoteWithWrapQuotesParagraphsNotDisplayLines) {
    ShellFixture f;
    f.settings.ViewerWrap = true;
    std::string text;
    for (int p = 0; p < 3; ++p) {
        if (p > 0) text += "\r\n";
        for (int w = 0; w < 120; ++w) text += "word" + std::to_string(p) + " ";
    }
    f.clip.put("text/plain", text);
    Tfrm_decryptview v(f.context);
    open(v);
    v.b_quoteClick();
    const QTextDocument* doc = v.memo1->document();
    ASSERT_EQ(doc->blockCount(), 3);
    EXPECT_EQ(doc->toPlainText().count("> "), 3);
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        EXPECT_TRUE(b.text().startsWith("> word")) << b.text().toStdString();
        EXPECT_GT(b.layout()->lineCount(), 1);  // the paragraphs do wrap on screen
    }
    EXPECT_TRUE(v.wordwrap());
}

TEST(Viewer, CopyPutsTheSelectionOrAllTextOnTheClipboard) {
    ShellFixture f;
    f.clip.put("text/plain", "first\r\nsecond");
    Tfrm_decryptview v(f.context);
    open(v);
    f.clip.put("text/plain", "something else");

    ASSERT_TRUE(v.copymemotoclipboard());
    EXPECT_EQ(f.clip.plain(), "first\nsecond");
    EXPECT_FALSE(f.clip.find("text/rtf"));
    EXPECT_TRUE(f.clip.secret);
    EXPECT_EQ(v.memo1->textCursor().selectedText().size(), 12);  // all text is now selected

    QTextCursor sel = v.memo1->document()->find("second");
    v.memo1->setTextCursor(sel);
    ASSERT_TRUE(v.copymemotoclipboard());
    EXPECT_EQ(f.clip.plain(), "second");
    EXPECT_FALSE(has(f.desktop.log, "notice 2"));

    // With rich text the clipboard holds only the RTF, after the notice.
    f.settings.UseRTF = true;
    v.memo1->setTextCursor(QTextCursor(v.memo1->document()));
    ASSERT_TRUE(v.copymemotoclipboard());
    EXPECT_TRUE(has(f.desktop.log, "notice 2"));
    EXPECT_FALSE(f.clip.plain());
    const auto rtf = f.clip.find("text/rtf");
    ASSERT_TRUE(rtf);
    QTextDocument back;
    ASSERT_TRUE(read_rtf(*rtf, back));
    EXPECT_EQ(back.toPlainText(), "first\nsecond");
    EXPECT_TRUE(f.clip.secret);
}

TEST(Viewer, FailedCopyIsReportedAndTheViewerStays) {
    ShellFixture f;
    f.clip.put("text/plain", "text");
    Tfrm_decryptview v(f.context);
    open(v);
    f.clip.fail_set = true;
    MessageCatcher messages;
    EXPECT_FALSE(v.copymemotoclipboard());
    EXPECT_EQ(messages.texts, std::vector<std::string>{"Failed to copy text to clipboard!"});
    EXPECT_TRUE(v.isVisible());

    // Paste to window closes the viewer even so, without trying to paste.
    v.b_pasteoriginal->click();
    EXPECT_FALSE(v.isVisible());
    EXPECT_TRUE(f.desktop.only({"pasteback"}).empty());
}

TEST(Viewer, PasteToWindowPastesBackAndCloses) {
    for (const bool source_exists : {true, false}) {
        SCOPED_TRACE(source_exists);
        ShellFixture f;
        f.settings.AutoSelect_d = true;
        f.desktop.source_exists = source_exists;
        f.clip.put("text/plain", "reply");
        Tfrm_decryptview v(f.context);
        open(v);
        MessageCatcher messages;
        v.b_pasteoriginal->click();
        EXPECT_EQ(f.desktop.only({"pasteback"}), std::vector<std::string>{"pasteback 1"});
        EXPECT_EQ(f.clip.plain(), "reply");
        EXPECT_FALSE(v.isVisible());
        EXPECT_EQ(v.result(), QDialog::Accepted);
        if (source_exists) {
            EXPECT_TRUE(messages.texts.empty());
        } else {
            EXPECT_EQ(messages.texts, std::vector<std::string>{"ERROR: Cannot find original window!"});
        }
    }
}

TEST(Viewer, WordWrapIsKeptOnlyWhenTheViewerCloses) {
    ShellFixture f;
    f.settings.ViewerWrap = true;
    {
        Tfrm_decryptview v(f.context);
        open(v);
        EXPECT_EQ(v.menu_wordwrap->text(), "Wordwrap [on]");
        EXPECT_EQ(v.memo1->lineWrapMode(), QTextEdit::WidgetWidth);
        EXPECT_EQ(v.memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        v.menu_wordwrap->trigger();
        EXPECT_EQ(v.menu_wordwrap->text(), "Wordwrap [off]");
        EXPECT_EQ(v.memo1->lineWrapMode(), QTextEdit::NoWrap);
        EXPECT_EQ(v.memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
        EXPECT_TRUE(f.settings.ViewerWrap);
        v.b_close->click();
        EXPECT_FALSE(v.isVisible());
        EXPECT_FALSE(f.settings.ViewerWrap);
        EXPECT_TRUE(f.config.read_placement(kPlacementViewer));
    }
    Tfrm_decryptview again(f.context);
    EXPECT_EQ(again.menu_wordwrap->text(), "Wordwrap [off]");
    EXPECT_EQ(again.memo1->lineWrapMode(), QTextEdit::NoWrap);
}

TEST(Viewer, EscapeClosesFromAnyControl) {
    ShellFixture f;
    f.clip.put("text/plain", "text");
    Tfrm_decryptview v(f.context);
    for (QWidget* target : std::initializer_list<QWidget*>{v.memo1, v.b_copy, v.b_close}) {
        open(v);
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Escape);
        EXPECT_FALSE(v.isVisible()) << target->objectName().toStdString();
        EXPECT_EQ(v.result(), QDialog::Accepted);
    }
}

TEST(Viewer, FontChoiceGoesToTheEditorAndTheOptions) {
    ShellFixture f;
    f.settings.ViewerFont.Color = 0x0000FF;  // red, as 0x00BBGGRR
    Tfrm_decryptview v(f.context);
    EXPECT_EQ(v.memo1->palette().color(QPalette::Text), QColor(255, 0, 0));
    EXPECT_EQ(v.memo1->font().pointSize(), 8);

    QFont chosen("Serif");
    chosen.setPointSize(14);
    chosen.setItalic(true);
    QTimer::singleShot(50, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<QFontDialog*>(w); dialog && dialog->isVisible()) {
                dialog->setCurrentFont(chosen);
                dialog->accept();
            }
        }
    });
    v.b_fontClick();
    EXPECT_EQ(f.settings.ViewerFont.Size, 14);
    EXPECT_TRUE(f.settings.ViewerFont.Italic);
    EXPECT_FALSE(f.settings.ViewerFont.Bold);
    EXPECT_EQ(f.settings.ViewerFont.Color, 0x0000FF);
    EXPECT_EQ(v.memo1->font().pointSize(), 14);
    EXPECT_TRUE(v.memo1->font().italic());
    EXPECT_EQ(viewer_font(f.settings.ViewerFont).family(), v.memo1->font().family());

    // A size out of range (a hand-edited file) is clamped; the system's
    // text colour comes from the palette.
    ViewerFontSettings s;
    s.Size = 0;
    EXPECT_EQ(viewer_font(s).pointSize(), 1);
    EXPECT_EQ(viewer_font_color(s), QApplication::palette().color(QPalette::Text));
    s.Color = 0x00336699;
    EXPECT_EQ(viewer_font_color(s), QColor(0x99, 0x66, 0x33));
}

TEST(ShowViewer, IntermediateHardcorePassShowsNothing) {
    ShellFixture f;
    f.clip.put("text/plain", "ciphertext of the second pass");
    bool seen = false;
    QTimer::singleShot(0, [&] { seen = findwindowbytitle(QString::fromLatin1(kViewerCaption)) != nullptr; });
    showviewer(f.context, 1, 2);
    QTest::qWait(20);
    EXPECT_FALSE(seen);
    EXPECT_TRUE(f.desktop.only({"switchtosource"}).empty());
}

TEST(ShowViewer, ShowsModallyThenSwitchesToTheSource) {
    ShellFixture f;
    f.clip.put("text/plain", "the text");
    QString shown;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* v = qobject_cast<Tfrm_decryptview*>(findwindowbytitle(QString::fromLatin1(kViewerCaption)));
        if (v && v->fill_done()) {
            shown = v->memo1->toPlainText();
            v->close();
        }
    });
    timer.start(10);
    showviewer(f.context, 2, 2);
    EXPECT_EQ(shown, "the text");
    EXPECT_EQ(f.desktop.only({"switchtosource"}).size(), 1u);
    EXPECT_EQ(findwindowbytitle(QString::fromLatin1(kViewerCaption)), nullptr);
}

TEST(ShowViewer, DoesNothingWhileAnotherOwnDialogIsOpen) {
    ShellFixture f;
    QDialog options;
    options.setWindowTitle("Morvantile: change settings");
    options.show();
    // Should the viewer open after all, it must not hold the test up.
    QTimer::singleShot(3000, [] {
        if (QWidget* v = findwindowbytitle(QString::fromLatin1(kViewerCaption))) v->close();
    });
    showviewer(f.context, 1, 1);
    EXPECT_EQ(findwindowbytitle(QString::fromLatin1(kViewerCaption)), nullptr);
    EXPECT_TRUE(f.desktop.only({"switchtosource"}).empty());
}

}  // namespace
}  // namespace morvantile::shell
