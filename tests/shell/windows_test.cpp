#include <gtest/gtest.h>

#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QScreen>
#include <QTimer>

#include "message_catcher.h"
#include "shell/flash.h"
#include "shell/instance_lock.h"
#include "shell/placement.h"
#include "shell/qt_clipboard.h"
#include "shell/windows.h"
#include "textcrypt/text_codec.h"
#include "support/temp_files.h"

namespace morvantile::shell {
namespace {

TEST(TextConversion, ValidUtf8IsKeptAndAnythingElseIsReadAsWindows1252) {
    EXPECT_EQ(to_qstring("caf\xc3\xa9"), QStringLiteral("caf\u00e9"));
    // The Windows build writes its code page: the euro sign is 0x80 there.
    EXPECT_EQ(to_qstring("\x80 5 caf\xe9"), QStringLiteral("\u20ac 5 caf\u00e9"));
    // Unassigned bytes keep a code point of their own, so nothing is lost.
    EXPECT_EQ(decode_windows1252("\x81\x8d").size(), 2);
    EXPECT_EQ(to_bytes(QStringLiteral("\u00e9\u20ac")), "\xc3\xa9\xe2\x82\xac");

    // Typed passwords: the Windows build's bytes where every character has
    // one, UTF-8 otherwise or when the option says so.
    EXPECT_EQ(typed_bytes(QStringLiteral("M\u00fcller \u20ac"), 0), "M\xfcller \x80");
    EXPECT_EQ(typed_bytes(QStringLiteral("M\u00fcller \u0416"), 0), "M\xc3\xbcller \xd0\x96");
    EXPECT_EQ(typed_bytes(QStringLiteral("M\u00fcller"), 1), "M\xc3\xbcller");
}

TEST(MessageWindow, KeepsTheLinesOfALaidOutMessage) {
    // The hint after a failed decryption is laid out line by line.
    Tmessagedlg dialog(hint_text(kDecompressionHint));
    dialog.show();
    auto* label = dialog.findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    const QFontMetrics metrics(label->font());
    const QStringList lines = label->text().split(QLatin1Char('\n'));
    for (const QString& line : lines)
        EXPECT_LE(metrics.horizontalAdvance(line), label->contentsRect().width()) << line.toStdString();
    EXPECT_LE(label->heightForWidth(label->width()), metrics.lineSpacing() * (lines.size() + 1));

    // A short message keeps the window's usual size; a very long line wraps
    // within the screen instead of widening the window past it.
    Tmessagedlg small(QStringLiteral("Could not switch to source window"));
    small.show();
    EXPECT_LE(small.findChild<QLabel*>()->width(), 460);
    Tmessagedlg huge(QString(5000, QLatin1Char('x')));
    huge.show();
    EXPECT_LE(huge.width(), QGuiApplication::primaryScreen()->availableGeometry().width());
    dialog.accept();
    small.accept();
    huge.accept();
}

TEST(OwnDialogs, AnOpenDialogIsFoundByItsCaptionAndOthersAreNot) {
    QDialog mine;
    mine.setWindowTitle(QStringLiteral("Morvantile: change settings"));
    QDialog foreign;
    foreign.setWindowTitle(QStringLiteral("Morvantile: confirm password"));  // not in the list
    foreign.show();
    EXPECT_FALSE(ownDialogOpen());
    mine.show();
    EXPECT_TRUE(ownDialogOpen());
    // The dialog that asks does not count itself.
    EXPECT_FALSE(ownDialogOpen(&mine));
    mine.hide();
    EXPECT_FALSE(ownDialogOpen());
}

TEST(Hints, SwitchOnAndOffTogetherAndKeepTheirTexts) {
    QWidget a, b;
    HintSet hints;
    hints.add(&a, std::string_view("two\r\nlines"));
    hints.add(&b, QStringLiteral("other"));
    EXPECT_TRUE(a.toolTip().isEmpty());
    hints.set_enabled(true);
    EXPECT_EQ(a.toolTip(), QStringLiteral("two\nlines"));
    EXPECT_EQ(b.toolTip(), QStringLiteral("other"));
    hints.add(&b, QStringLiteral("changed"));  // a changing hint, such as a path
    EXPECT_EQ(b.toolTip(), QStringLiteral("changed"));
    hints.set_enabled(false);
    EXPECT_TRUE(b.toolTip().isEmpty());
}

TEST(Placement, AppliesOnlyAtTheSameResolutionAndOnAScreen) {
    QWidget window;
    window.resize(300, 200);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    FormPlacement p;
    p.PixelsPerInch = pixels_per_inch();
    p.Left = screen.left() + 40;
    p.Top = screen.top() + 30;
    p.Right = p.Left + 500;
    p.Bottom = p.Top + 400;

    ASSERT_TRUE(apply_placement(window, p, /*fixed_border=*/true));
    EXPECT_EQ(window.pos(), QPoint(p.Left, p.Top));
    EXPECT_EQ(window.size(), QSize(300, 200));  // a fixed-border dialog keeps its size

    ASSERT_TRUE(apply_placement(window, p, /*fixed_border=*/false));
    EXPECT_EQ(window.size(), QSize(500, 400));

    FormPlacement other_dpi = p;
    other_dpi.PixelsPerInch += 24;
    other_dpi.Left += 10;
    EXPECT_FALSE(apply_placement(window, other_dpi, true));
    FormPlacement off_screen = p;
    off_screen.Left = screen.right() + 2000;
    EXPECT_FALSE(apply_placement(window, off_screen, true));
    EXPECT_EQ(window.pos(), QPoint(p.Left, p.Top));

    // What is saved is applied again unchanged.
    const FormPlacement saved = placement_of(window);
    QWidget again;
    ASSERT_TRUE(apply_placement(again, saved, false));
    EXPECT_EQ(placement_of(again).Right - placement_of(again).Left, saved.Right - saved.Left);
}

TEST(SingleInstance, TheSecondLockOnTheSameFileIsRefusedUntilTheFirstEnds) {
    test::TempFolder folder;
    const std::string path = folder / "morvantile.lock";
    {
        auto first = InstanceLock::acquire(path);
        ASSERT_TRUE(first);
        EXPECT_FALSE(InstanceLock::acquire(path));
    }
    EXPECT_TRUE(InstanceLock::acquire(path));
}

TEST(Notice, ModesSetColourAndLines) {
    struct Case {
        int mode;
        QString entry;
        QColor colour;
        QString line1, line2;
    };
    const Case cases[] = {
        {1, QString(), QColor(128, 0, 0), QStringLiteral("Using stored password"), QString()},
        {1, QStringLiteral("mail"), QColor(128, 0, 0), QStringLiteral("Using stored password"),
         QStringLiteral("[mail]")},
        {2, QStringLiteral("mail"), QColor(128, 0, 128), QStringLiteral("Using rich text"), QString()},
        {3, QString(), QColor(0, 0, 128), QStringLiteral("Using harcore mode"), QString()},
        {7, QStringLiteral("mail"), QColor(128, 0, 0), QStringLiteral("Using stored password"), QString()},
    };
    for (const Case& c : cases) {
        TfrmFlash notice(c.mode, c.entry);
        EXPECT_EQ(notice.background(), c.colour) << c.mode;
        EXPECT_EQ(notice.line1(), c.line1) << c.mode;
        EXPECT_EQ(notice.line2(), c.line2) << c.mode;
    }
}

TEST(Notice, ClosesItselfAfterASecond) {
    TfrmFlash notice(1, QString());
    QTimer guard;
    bool closed_by_guard = false;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        closed_by_guard = true;
        notice.reject();
    });
    guard.start(5000);
    EXPECT_EQ(notice.exec(), QDialog::Accepted);
    EXPECT_FALSE(closed_by_guard);
}

TEST(DesktopClipboard, WritesOneFormMarksSecretsAndReadsEveryRtfName) {
    QtClipboard clipboard;
    QClipboard* system = QGuiApplication::clipboard();

    clipboard.set(kPlainTextFormat, "caf\xe9", /*secret=*/true);
    const QMimeData* mime = system->mimeData();
    ASSERT_TRUE(mime);
    EXPECT_EQ(mime->text(), QStringLiteral("caf\u00e9"));
    EXPECT_EQ(mime->data(QLatin1String(kSecretHintFormat)), QByteArray("secret"));
    EXPECT_EQ(clipboard.formats(), (std::vector<std::string>{"text/plain"}));

    clipboard.set("text/rtf", "{\\rtf1 x}", false);
    mime = system->mimeData();
    EXPECT_FALSE(mime->hasText());
    EXPECT_FALSE(mime->hasFormat(QLatin1String(kSecretHintFormat)));
    EXPECT_EQ(clipboard.get("text/rtf"), "{\\rtf1 x}");
    EXPECT_EQ(clipboard.get(kPlainTextFormat), std::nullopt);

    // A word processor that offers RTF under another name, beside plain text.
    auto* foreign = new QMimeData;
    foreign->setData(QStringLiteral("application/rtf"), "{\\rtf1 y}");
    foreign->setText(QStringLiteral("y \u20ac"));
    system->setMimeData(foreign);
    EXPECT_EQ(clipboard.formats(), (std::vector<std::string>{"text/plain", "text/rtf"}));
    EXPECT_EQ(clipboard.get("text/rtf"), "{\\rtf1 y}");
    EXPECT_EQ(clipboard.get(kPlainTextFormat), "y \xe2\x82\xac");
}

TEST(DesktopClipboard, PlainTextHasCrLfInsideAndLfOnTheDesktop) {
    QtClipboard clipboard;
    QClipboard* system = QGuiApplication::clipboard();
    // An editor's LF text, one that has CR LF already, and a lone CR.
    system->setText(QStringLiteral("one\ntwo\r\nthree\rfour\n\n"));
    EXPECT_EQ(clipboard.get(kPlainTextFormat), "one\r\ntwo\r\nthree\rfour\r\n\r\n");
    clipboard.set(kPlainTextFormat, "one\r\ntwo\r\rthree\n\r\n", false);
    EXPECT_EQ(system->text(), QStringLiteral("one\ntwo\r\rthree\n\n"));
    // Round trip of the program's own text.
    clipboard.set(kPlainTextFormat, "a\r\nb", false);
    EXPECT_EQ(clipboard.get(kPlainTextFormat), "a\r\nb");
}

}  // namespace
}  // namespace morvantile::shell
