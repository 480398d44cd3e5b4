// The recording fakes come before any Qt header: one of their members is
// called "slots", which Qt's keyword macro would swallow.
#include "support/desktop_fakes.h"
#include "shell/options_dialog.h"
#include "automation/automation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "config/command_line.h"
#include "shell/errormsg.h"
#include "shell_fixture.h"

namespace morvantile::shell {
namespace {

using test::ShellFixture;

// Closes every message window that opens while it lives, keeping the texts.
struct MessageCloser {
    QStringList texts;
    QTimer timer;
    MessageCloser() {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<Tmessagedlg*>(w);
                if (box && box->isVisible()) {
                    texts << box->text();
                    box->accept();
                }
            }
        });
        timer.start(5);
    }
};

void enter(QWidget* widget) {
    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
    QCoreApplication::sendEvent(widget, &in);
}

// Lets queued work (the timing warning) run, with the closer watching.
void settle() {
    for (int i = 0; i < 10; ++i) QTest::qWait(5);
}

TEST(CleanExtension, StripsLeadingBlanksStarsAndPeriods) {
    EXPECT_EQ(clean_extension("*.txt"), "txt");
    EXPECT_EQ(clean_extension(" .doc"), "doc");
    EXPECT_EQ(clean_extension("a.b"), "a.b");
    EXPECT_EQ(clean_extension("txt. *"), "txt. *");
    EXPECT_EQ(clean_extension("."), "mvt");
    EXPECT_EQ(clean_extension(""), "mvt");
    EXPECT_EQ(clean_extension("***"), "mvt");
    EXPECT_EQ(clean_extension(" . *"), "mvt");
}

TEST(ParseWholeNumber, AcceptsOnlySignedDecimalIn32Bits) {
    EXPECT_EQ(parse_whole_number("250"), 250);
    EXPECT_EQ(parse_whole_number("+7"), 7);
    EXPECT_EQ(parse_whole_number("-5"), -5);
    EXPECT_EQ(parse_whole_number("2147483647"), 2147483647);
    EXPECT_EQ(parse_whole_number("-2147483648"), std::numeric_limits<std::int32_t>::min());
    for (const char* bad : {"", "-", "+", " 250", "250 ", "25x", "0x10", "2147483648", "-2147483649",
                            "99999999999999999999", "1e3"})
        EXPECT_EQ(parse_whole_number(bad), std::nullopt) << bad;
}

TEST(OptionsDialog, OpensWithCaptionTabsAndHints) {
    ShellFixture f;
    f.settings.DecryptViewer.clear();
    TfrmOptions dlg(f.context);
    EXPECT_EQ(dlg.windowTitle(), "Morvantile: change settings");
    EXPECT_TRUE(dlg.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(dlg.pages->currentWidget(), dlg.ts_operation);
    EXPECT_TRUE(dlg.l_hotkeysnote->text().contains("CTRL+SHIFT+F9 (special keys plus 'F9' key)"));

    // Hints start off (Settings::Hints false) and the switch acts at once.
    EXPECT_TRUE(dlg.cb_autopaste->toolTip().isEmpty());
    dlg.cb_hints->click();
    EXPECT_EQ(dlg.cb_autopaste->toolTip(), "Restores the source window and sends a 'paste' keystroke");
    EXPECT_EQ(dlg.rg_trayhint->toolTip(), hint_text(strings_to_text(trayhint_help_lines(), 100)));
    EXPECT_TRUE(dlg.e_decryptviewer->toolTip().startsWith("The path and filename of an editor to\n"));
    EXPECT_EQ(dlg.b_browse->toolTip(), "Browse for executable file");
    dlg.e_decryptviewer->setText("/usr/bin/mousepad");
    EXPECT_EQ(dlg.b_browse->toolTip(), "/usr/bin/mousepad");
    dlg.cb_hints->click();
    EXPECT_TRUE(dlg.b_browse->toolTip().isEmpty());
}

// Where the desktop owns the keys, the Hotkeys tab says so and gives the
// compositor lines for the hotkeys as they stand.
TEST(OptionsDialog, HotkeysTabGivesTheCompositorLinesWhereTheDesktopOwnsTheKeys) {
    ShellFixture f;
    {
        TfrmOptions dlg(f.context);
        EXPECT_EQ(dlg.findChild<QLabel*>(QStringLiteral("l_compositorbindings")), nullptr);
    }
    f.context.hotkeys_note = "Bind them in the compositor:";
    f.settings.AutoEncryptHotKeyString = "ctrl+shift+f12";
    f.settings.AutoDecryptHotKeyString = "ctrl+alt+y";
    f.settings.OptionsHotKeyString = "";
    f.settings.ExitHotKeyString = "shift+pause";
    TfrmOptions dlg(f.context);
    const auto* lines = dlg.findChild<QLabel*>(QStringLiteral("l_compositorbindings"));
    ASSERT_NE(lines, nullptr);
    EXPECT_EQ(lines->text(), QStringLiteral("Bind them in the compositor:\n"
                                            "bindsym Ctrl+Shift+F12 exec morvantile encrypt\n"
                                            "bindsym Ctrl+Mod1+y exec morvantile decrypt\n"
                                            "bindsym Shift+Pause exec morvantile exit\n"
                                            "Other desktops: see README, \"Triggers\"."));
}

// Where the desktop assigns the keys itself (the global-shortcuts portal),
// the tab shows what it assigned, asked anew each time the dialog opens.
TEST(OptionsDialog, HotkeysTabShowsTheKeysTheDesktopAssigned) {
    ShellFixture f;
    {
        TfrmOptions dlg(f.context);
        EXPECT_EQ(dlg.findChild<QLabel*>(QStringLiteral("l_assignedkeys")), nullptr);
    }
    std::string assigned = "Assigned now:\n  Auto-encrypt: Ctrl+Shift+F12";
    f.context.assigned_keys = [&] { return assigned; };
    {
        TfrmOptions dlg(f.context);
        const auto* keys = dlg.findChild<QLabel*>(QStringLiteral("l_assignedkeys"));
        ASSERT_NE(keys, nullptr);
        EXPECT_EQ(keys->text(), QStringLiteral("Assigned now:\n  Auto-encrypt: Ctrl+Shift+F12"));
        EXPECT_EQ(dlg.findChild<QLabel*>(QStringLiteral("l_compositorbindings")), nullptr);
    }
    assigned = "Assigned now:\n  Auto-encrypt: Meta+E";
    TfrmOptions dlg(f.context);
    EXPECT_EQ(dlg.findChild<QLabel*>(QStringLiteral("l_assignedkeys"))->text(),
              QStringLiteral("Assigned now:\n  Auto-encrypt: Meta+E"));
}

TEST(OptionsDialog, FillingRunsTheRulesSoTheLaterSettingWins) {
    {
        ShellFixture f;
        f.settings.UseRTF = true;
        f.settings.AddSenderTag = true;
        f.settings.AppendSeparator = true;
        f.settings.AutoSelect_d = true;
        TfrmOptions dlg(f.context);
        EXPECT_TRUE(dlg.cb_sendertag->isChecked());
        EXPECT_FALSE(dlg.cb_usertf->isChecked());
        EXPECT_TRUE(dlg.cb_separators->isChecked());
        EXPECT_FALSE(dlg.cb_autoselect_d->isChecked());
    }
    {
        // Hardcore is filled after the separators and the automation boxes.
        ShellFixture f;
        f.settings.AppendSeparator = true;
        f.settings.AutoSelect_e = f.settings.AutoSelect_d = false;
        f.settings.AutoCopy = f.settings.AutoPaste = false;
        f.settings.HardcoreMode = true;
        f.settings.AllowChanges = true;
        TfrmOptions dlg(f.context);
        EXPECT_TRUE(dlg.cb_hardcoremode->isChecked());
        EXPECT_FALSE(dlg.cb_separators->isChecked());
        for (QCheckBox* box : {dlg.cb_autoselect_e, dlg.cb_autoselect_d, dlg.cb_autocopy, dlg.cb_autopaste})
            EXPECT_TRUE(box->isChecked()) << box->text().toStdString();
        EXPECT_TRUE(dlg.rg_algorithm->isEnabled());
    }
}

TEST(OptionsDialog, HardcoreTicksAutomationUnticksSeparatorsAndLeavesTheEditor) {
    ShellFixture f;
    f.settings.AutoSelect_e = f.settings.AutoSelect_d = false;
    f.settings.AutoCopy = f.settings.AutoPaste = false;
    f.settings.AppendSeparator = true;
    f.settings.DecryptView = 2;
    TfrmOptions dlg(f.context);
    dlg.show();
    EXPECT_EQ(dlg.rg_decryptview->itemIndex(), 2);

    dlg.cb_hardcoremode->click();
    // The auto-select boxes changed by the rule must not count as the
    // user's change, which would untick Hardcore again.
    EXPECT_TRUE(dlg.cb_hardcoremode->isChecked());
    for (QCheckBox* box : {dlg.cb_autoselect_e, dlg.cb_autoselect_d, dlg.cb_autocopy, dlg.cb_autopaste})
        EXPECT_TRUE(box->isChecked()) << box->text().toStdString();
    EXPECT_FALSE(dlg.cb_separators->isChecked());
    EXPECT_EQ(dlg.rg_decryptview->itemIndex(), 0);
    EXPECT_FALSE(dlg.e_decryptviewer->isEnabled());

    // Any user change of the automation it relies on drops Hardcore.
    dlg.cb_autoselect_e->click();
    EXPECT_FALSE(dlg.cb_hardcoremode->isChecked());
    dlg.cb_autoselect_e->click();
    dlg.cb_hardcoremode->click();
    dlg.cb_autopaste->click();
    EXPECT_FALSE(dlg.cb_hardcoremode->isChecked());
    dlg.cb_autopaste->click();
    dlg.cb_hardcoremode->click();
    dlg.rg_decryptview->button(2)->click();
    EXPECT_FALSE(dlg.cb_hardcoremode->isChecked());
    EXPECT_TRUE(dlg.e_decryptviewer->isEnabled());
    EXPECT_EQ(dlg.focusWidget(), dlg.e_decryptviewer);
    dlg.cb_hardcoremode->click();
    dlg.cb_separators->click();
    EXPECT_FALSE(dlg.cb_hardcoremode->isChecked());
    EXPECT_FALSE(dlg.cb_autoselect_d->isChecked());
}

TEST(OptionsDialog, UserTickOfDecryptAutoSelectDropsSeparators) {
    ShellFixture f;
    f.settings.AppendSeparator = true;
    f.settings.AutoSelect_e = f.settings.AutoSelect_d = false;
    TfrmOptions dlg(f.context);
    dlg.show();
    dlg.cb_autoselect_e->click();
    EXPECT_TRUE(dlg.cb_separators->isChecked());
    dlg.cb_autoselect_d->click();
    EXPECT_TRUE(dlg.cb_autoselect_d->isChecked());
    EXPECT_FALSE(dlg.cb_separators->isChecked());
}

TEST(OptionsDialog, EditorChoiceActsOnlyOnceVisible) {
    ShellFixture f;
    f.settings.HardcoreMode = true;
    f.settings.DecryptView = 2;
    f.settings.DecryptViewer = "mousepad";
    TfrmOptions dlg(f.context);
    // Filling showed the stored choice without running its rule.
    EXPECT_TRUE(dlg.cb_hardcoremode->isChecked());
    EXPECT_EQ(dlg.rg_decryptview->itemIndex(), 2);
    dlg.show();
    dlg.rg_decryptview->button(1)->click();
    EXPECT_FALSE(dlg.e_decryptviewer->isEnabled());
    EXPECT_TRUE(dlg.cb_hardcoremode->isChecked());

    ShellFixture g;
    TfrmOptions second(g.context);
    second.show();
    ASSERT_EQ(second.rg_decryptview->itemIndex(), 0);
    enter(second.e_decryptviewer);
    EXPECT_EQ(second.rg_decryptview->itemIndex(), 2);
}

TEST(OptionsDialog, AllowChangesKeepsTheSuiteAndResetRestoresIt) {
    ShellFixture f;
    TfrmOptions dlg(f.context);
    dlg.show();
    EXPECT_FALSE(dlg.rg_algorithm->isEnabled());
    dlg.cb_allowchanges->click();
    for (OptionsRadioGroup* g : {dlg.rg_chainingmode, dlg.rg_hash, dlg.rg_algorithm}) EXPECT_TRUE(g->isEnabled());
    dlg.rg_algorithm->button(0)->click();
    dlg.rg_hash->button(3)->click();
    dlg.rg_chainingmode->button(4)->click();
    dlg.cb_allowchanges->click();
    EXPECT_FALSE(dlg.rg_hash->isEnabled());
    EXPECT_EQ(dlg.rg_algorithm->itemIndex(), 0);
    EXPECT_EQ(dlg.rg_hash->itemIndex(), 3);
    EXPECT_EQ(dlg.rg_chainingmode->itemIndex(), 4);

    dlg.cb_allowchanges->click();
    dlg.b_reset->click();
    EXPECT_EQ(dlg.rg_algorithm->itemIndex(), 4);
    EXPECT_EQ(dlg.rg_hash->itemIndex(), 0);
    EXPECT_EQ(dlg.rg_chainingmode->itemIndex(), 0);
    EXPECT_FALSE(dlg.cb_allowchanges->isChecked());
    EXPECT_FALSE(dlg.rg_algorithm->isEnabled());
}

TEST(OptionsDialog, OkTakesEverythingAndCallsBothCallbacks) {
    ShellFixture f;
    TfrmOptions dlg(f.context);
    dlg.show();
    dlg.eb_autoencrypthotkey->setText("ctrl+shift+e");
    dlg.eb_autodecrypthotkey->setText("ctrl+shift+d");
    dlg.eb_optionshotkey->setText("");
    dlg.eb_exithotkey->setText("ctrl+shift+x");
    dlg.eb_windowcheck->setText("500");
    dlg.eb_sendkeysdelay->setText("0");
    for (QCheckBox* box : {dlg.cb_hotkeysenabled, dlg.cb_autoselect_e, dlg.cb_nosplash, dlg.cb_noconfig,
                           dlg.cb_confirmpassword, dlg.cb_usertf, dlg.cb_nodecompress, dlg.cb_overwritefile,
                           dlg.cb_securewipe, dlg.cb_hints, dlg.cb_allowchanges})
        box->click();
    dlg.rg_trayhint->button(2)->click();
    dlg.rg_algorithm->button(8)->click();
    dlg.rg_hash->button(5)->click();
    dlg.rg_chainingmode->button(3)->click();
    dlg.rg_textencoding->button(1)->click();
    dlg.rg_decryptview->button(1)->click();
    dlg.e_decryptviewer->setText("/usr/bin/gedit");
    dlg.eb_quote->setText("| ");
    dlg.eb_fileextension->setText(" *.enc");

    Settings expected = f.settings;
    expected.AutoEncryptHotKeyString = "ctrl+shift+e";
    expected.AutoDecryptHotKeyString = "ctrl+shift+d";
    expected.OptionsHotKeyString = "";
    expected.ExitHotKeyString = "ctrl+shift+x";
    expected.ActiveWindowCheckTime = 500;
    expected.SendKeysDelay = 0;
    expected.TextEncoding = 1;
    expected.HotKeysEnabled = true;
    expected.AutoSelect_e = true;
    expected.NoSplash = true;
    expected.NoConfig = true;
    expected.ConfirmPassword = true;
    expected.UseRTF = true;
    expected.NoDecompress = true;
    expected.OverwriteOriginal = true;
    expected.SecureWipe = false;
    expected.Hints = true;
    expected.AllowChanges = true;
    expected.TrayHint = 2;
    expected.Algorithm = 8;
    expected.Hash = 5;
    expected.ChainingMode = 3;
    expected.DecryptView = 1;
    expected.DecryptViewer = "/usr/bin/gedit";
    expected.QuoteString = "| ";
    expected.FileExtension = "enc";

    dlg.OK->click();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_TRUE(f.settings == expected);
    EXPECT_EQ(f.hotkeys_cleared, 1);
    EXPECT_EQ(f.tray_hints, 1);
    EXPECT_TRUE(f.config.read_placement(kPlacementOptions).has_value());
}

TEST(OptionsDialog, CancelAndEscapeTakeNothing) {
    ShellFixture f;
    const Settings before = f.settings;
    {
        TfrmOptions dlg(f.context);
        dlg.show();
        dlg.cb_hints->click();
        dlg.cb_hardcoremode->click();
        dlg.eb_quote->setText("#");
        dlg.b_cancel->click();
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
        EXPECT_FALSE(dlg.isVisible());
    }
    {
        TfrmOptions dlg(f.context);
        dlg.show();
        dlg.eb_fileextension->setText("zzz");
        QTest::keyClick(dlg.eb_fileextension, Qt::Key_Escape);
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
        EXPECT_FALSE(dlg.isVisible());
    }
    EXPECT_TRUE(f.settings == before);
    EXPECT_EQ(f.hotkeys_cleared, 0);
    EXPECT_EQ(f.tray_hints, 0);
    // The position is kept however the dialog closed.
    EXPECT_TRUE(f.config.read_placement(kPlacementOptions).has_value());
}

TEST(OptionsDialog, TimingTextThatIsNoNumberKeepsTheDialogOpen) {
    ShellFixture f;
    f.runtime.TimingWarningShown = true;
    const Settings before = f.settings;
    TfrmOptions dlg(f.context);
    dlg.show();
    dlg.cb_separators->click();
    const struct {
        QLineEdit* box;
        const char* message;
    } cases[] = {{dlg.eb_windowcheck, kWindowCheckNotNumber}, {dlg.eb_sendkeysdelay, kSendKeysDelayNotNumber}};
    // Besides text that is no number: a window check of 0 would run without
    // pause and a negative one never; a negative delay is no delay.
    const std::map<QLineEdit*, QStringList> refused = {{dlg.eb_windowcheck, {"25O", "0", "-5"}},
                                                       {dlg.eb_sendkeysdelay, {"25O", "-1"}}};
    for (const auto& c : cases) {
        const QString good = c.box->text();
        for (const QString& text : refused.at(c.box)) {
            c.box->setText(text);
            MessageCloser closer;
            dlg.OK->click();
            EXPECT_EQ(closer.texts, QStringList{QString::fromLatin1(c.message)}) << text.toStdString();
            EXPECT_TRUE(dlg.isVisible());
            EXPECT_EQ(dlg.focusWidget(), c.box);
        }
        c.box->setText(good);
    }
    EXPECT_TRUE(f.settings == before);
    EXPECT_EQ(f.hotkeys_cleared, 0);
    EXPECT_EQ(f.tray_hints, 0);
}

TEST(OptionsDialog, TimingWarningAppearsOncePerRun) {
    ShellFixture f;
    MessageCloser closer;
    {
        TfrmOptions dlg(f.context);
        dlg.show();
        enter(dlg.eb_sendkeysdelay);
        settle();
        ASSERT_EQ(closer.texts.size(), 1);
        EXPECT_EQ(closer.texts[0], hint_text(strings_to_text(timing_warning_lines(), 100)));
        EXPECT_TRUE(f.runtime.TimingWarningShown);
        enter(dlg.eb_windowcheck);
        settle();
        dlg.b_cancel->click();
    }
    TfrmOptions again(f.context);
    again.show();
    enter(again.eb_windowcheck);
    settle();
    EXPECT_EQ(closer.texts.size(), 1);
}

TEST(OptionsDialog, RadioIndexAboveTheLastShowsTheLastAndNegativeShowsNone) {
    ShellFixture f;
    f.settings.TrayHint = 7;
    f.settings.Algorithm = -2;
    f.settings.DecryptView = -1;
    TfrmOptions dlg(f.context);
    EXPECT_EQ(dlg.rg_trayhint->itemIndex(), 2);
    EXPECT_TRUE(dlg.rg_trayhint->button(2)->isChecked());
    EXPECT_EQ(dlg.rg_algorithm->itemIndex(), -1);
    for (int i = 0; i < dlg.rg_algorithm->count(); ++i) EXPECT_FALSE(dlg.rg_algorithm->button(i)->isChecked());
    dlg.show();
    dlg.OK->click();
    EXPECT_EQ(f.settings.TrayHint, 2);
    EXPECT_EQ(f.settings.Algorithm, -1);
    EXPECT_EQ(f.settings.DecryptView, -1);
}

TEST(OptionsDialog, BrowseChoosesTheEditorWithoutEndingTheDialog) {
    ShellFixture f;
    // A folder name with a blank, as under /opt or a home folder often is.
    std::filesystem::create_directory(f.folder / "My Editors");
    const std::string editor = f.folder / "My Editors/edit";
    test::write_file(editor, "#!/bin/sh\n");
    f.settings.DecryptViewer = quote_command_word(f.folder / "My Editors/gone");  // the browser starts there
    TfrmOptions dlg(f.context);
    bool options_hidden_meanwhile = false;
    bool file_dialog_seen = false;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* files = qobject_cast<QFileDialog*>(w);
            if (files && files->isVisible()) {
                file_dialog_seen = true;
                options_hidden_meanwhile = !dlg.isVisible();
                // Typed as a user would: selectFile() leaves the name box
                // alone while it has the focus. The view fills in the
                // background, so accept only once the name has been taken.
                if (auto* name = files->findChild<QLineEdit*>("fileNameEdit"))
                    name->setText(QString::fromStdString(editor));
                if (files->selectedFiles() == QStringList{QString::fromStdString(editor)})
                    static_cast<QDialog*>(files)->accept();
                return;
            }
        }
        if (file_dialog_seen && dlg.isVisible()) {
            driver.stop();
            dlg.OK->click();
        }
    });
    // Should a step never come, the test fails instead of waiting forever.
    QTimer::singleShot(5000, &dlg, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) d->reject();
    });
    QTimer::singleShot(0, &dlg, [&] {
        driver.start(10);
        dlg.b_browse->click();
    });
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
    EXPECT_TRUE(file_dialog_seen);
    EXPECT_TRUE(options_hidden_meanwhile);
    // Stored as a command line that starts the chosen program.
    EXPECT_EQ(split_command_line(f.settings.DecryptViewer), std::vector<std::string>{editor});
    EXPECT_EQ(f.settings.DecryptViewer, "'" + editor + "'");
    EXPECT_EQ(f.settings.DecryptView, 2);
}

}  // namespace
}  // namespace morvantile::shell
