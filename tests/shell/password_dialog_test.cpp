// The desktop fakes name a member "slots", which Qt's headers turn into a
// keyword; they are read before any Qt header.
#include "support/desktop_fakes.h"

#include "shell/password_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTest>

#include "passwords/password_manager.h"
#include "shell/placement.h"
#include "shell_fixture.h"

namespace morvantile::shell {
namespace {

using morvantile::test::ShellFixture;

struct PasswordDialogTest : ::testing::Test {
    ShellFixture f;
    bool caps = false;

    PasswordDialogTest() { f.runtime.PromptText = "Enter text encryption password:"; }

    std::unique_ptr<TPasswordDlg> open(PasswordDialogLayout layout = PasswordDialogLayout::Operation) {
        auto dlg = std::make_unique<TPasswordDlg>(f.context, layout, nullptr, [this] { return caps; });
        dlg->show();
        return dlg;
    }

    void add_entry(const std::string& settings, const std::string& name, const std::string& password) {
        f.lists.passwordlist.push_back(make_entry(settings, name, password));
        f.lists.passwordlist_name.push_back(name);
        f.lists.passwordlist_setting.push_back(settings);
        f.runtime.PasswordListPresent = true;
    }

    static void select(TPasswordDlg& dlg, const QString& name) {
        const int i = dlg.cbox_passwords->findText(name);
        ASSERT_GE(i, 0) << name.toStdString();
        emit dlg.cbox_passwords->activated(i);
    }

    // Types text as a user does, key by key (any character, not only the
    // ones QTest maps to keys).
    static void type(QWidget* box, const QString& text) {
        for (const QChar ch : text) {
            QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
            QCoreApplication::sendEvent(box, &key);
        }
    }
    static void retype(QLineEdit* box, const QString& text) {
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        type(box, text);
    }
};

TEST_F(PasswordDialogTest, CutRuleShowsAreasByManagerAndEditSwitches) {
    f.settings.ShowPasswordManager = false;
    auto dlg = open();
    EXPECT_EQ(dlg->cut(), TPasswordDlg::Cut::Top);
    EXPECT_TRUE(dlg->Password->isVisible());
    EXPECT_TRUE(dlg->Bevel_top->isVisible());
    EXPECT_FALSE(dlg->cbox_passwords->isVisible());
    EXPECT_FALSE(dlg->pm_name->isVisible());
    const int top_height = dlg->height();

    QTest::mouseClick(dlg->cb_showpasswordmanager, Qt::LeftButton);
    EXPECT_TRUE(f.settings.ShowPasswordManager);
    EXPECT_EQ(dlg->cut(), TPasswordDlg::Cut::Middle);
    EXPECT_TRUE(dlg->cbox_passwords->isVisible());
    EXPECT_FALSE(dlg->pm_name->isVisible());
    EXPECT_FALSE(dlg->pm_name->isEnabled());
    const int middle_height = dlg->height();
    EXPECT_GT(middle_height, top_height);

    QTest::mouseClick(dlg->cb_edit, Qt::LeftButton);
    EXPECT_EQ(dlg->cut(), TPasswordDlg::Cut::Bottom);
    EXPECT_TRUE(dlg->pm_name->isVisible());
    for (QWidget* w : std::initializer_list<QWidget*>{dlg->pm_name, dlg->pm_password, dlg->b_add, dlg->b_update,
                                                      dlg->b_delete})
        EXPECT_TRUE(w->isEnabled());
    EXPECT_GT(dlg->height(), middle_height);

    // Hiding the manager closes both lower areas, whatever Edit says.
    QTest::mouseClick(dlg->cb_showpasswordmanager, Qt::LeftButton);
    EXPECT_FALSE(f.settings.ShowPasswordManager);
    EXPECT_EQ(dlg->cut(), TPasswordDlg::Cut::Top);
    EXPECT_FALSE(dlg->pm_name->isVisible());
    EXPECT_EQ(dlg->height(), top_height);

    // The edit area is closed again at the next opening.
    f.settings.ShowPasswordManager = true;
    auto next = open();
    EXPECT_EQ(next->cut(), TPasswordDlg::Cut::Middle);
    EXPECT_FALSE(next->cb_edit->isChecked());
}

TEST_F(PasswordDialogTest, ListPasswordLayoutHasPasswordAreaOnly) {
    f.settings.ShowPasswordManager = true;
    auto dlg = open(PasswordDialogLayout::ListPassword);
    EXPECT_EQ(dlg->cut(), TPasswordDlg::Cut::Top);
    EXPECT_FALSE(dlg->cbox_passwords->isVisible());
    EXPECT_FALSE(dlg->cb_retain->isVisible());
    EXPECT_FALSE(dlg->cb_showpasswordmanager->isVisible());
    EXPECT_TRUE(dlg->cb_reveal->isVisible());
    EXPECT_TRUE(dlg->cb_hints->isVisible());
}

TEST_F(PasswordDialogTest, OpensWithCaptionPromptAndColourFromRuntimeState) {
    f.runtime.PasswordDialogCaption = "Morvantile: confirm password";
    f.runtime.PromptColour = 0x0080FF;  // blue 00, green 80, red FF
    auto dlg = open();
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Morvantile: confirm password"));
    EXPECT_EQ(dlg->Label1->text(), QStringLiteral("Enter text encryption password:"));
    EXPECT_EQ(dlg->Label1->palette().color(QPalette::Window), QColor(0xFF, 0x80, 0x00));
    EXPECT_TRUE(dlg->windowFlags() & Qt::WindowStaysOnTopHint);

    const QPalette palette = dlg->palette();
    EXPECT_EQ(stored_colour(kColorButtonFace, palette), palette.color(QPalette::Window));
}

TEST_F(PasswordDialogTest, MaskingShowsQuestionMarksUntilRevealed) {
    f.settings.RevealPassword = false;
    auto dlg = open();
    for (QLineEdit* box : {dlg->Password, dlg->pm_password}) {
        EXPECT_EQ(box->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, box), '?');
        EXPECT_EQ(box->echoMode(), QLineEdit::Password);
        box->setText(QStringLiteral("abc"));
        EXPECT_EQ(box->displayText(), QStringLiteral("???"));
    }

    QTest::mouseClick(dlg->cb_reveal, Qt::LeftButton);
    EXPECT_TRUE(f.settings.RevealPassword);
    for (QLineEdit* box : {dlg->Password, dlg->pm_password}) EXPECT_EQ(box->displayText(), QStringLiteral("abc"));

    // Showing ticks Reveal from the option.
    auto next = open();
    EXPECT_TRUE(next->cb_reveal->isChecked());
    EXPECT_EQ(next->Password->echoMode(), QLineEdit::Normal);

    // Entering the manager's password box reveals both boxes.
    f.settings.RevealPassword = false;
    auto masked = open();
    ASSERT_EQ(masked->Password->echoMode(), QLineEdit::Password);
    QTest::mouseClick(masked->cb_edit, Qt::LeftButton);
    QFocusEvent focus_in(QEvent::FocusIn, Qt::TabFocusReason);
    QCoreApplication::sendEvent(masked->pm_password, &focus_in);
    EXPECT_TRUE(f.settings.RevealPassword);
    EXPECT_TRUE(masked->cb_reveal->isChecked());
    EXPECT_EQ(masked->Password->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(masked->pm_password->echoMode(), QLineEdit::Normal);
}

TEST_F(PasswordDialogTest, KeyPreviewWarnsOfCapsLockAndEscapeCancels) {
    f.settings.RevealPassword = false;
    caps = true;
    auto dlg = open();
    EXPECT_FALSE(dlg->l_capswarning->isVisible());
    QTest::keyClick(dlg->Password, Qt::Key_A);
    EXPECT_TRUE(dlg->l_capswarning->isVisible());
    caps = false;
    QTest::keyClick(dlg->cb_hints, Qt::Key_B);  // any control: the preview runs first
    EXPECT_FALSE(dlg->l_capswarning->isVisible());

    caps = true;
    QTest::keyClick(dlg->Password, Qt::Key_A);
    QTest::mouseClick(dlg->cb_reveal, Qt::LeftButton);
    EXPECT_TRUE(dlg->l_capswarning->isVisible()) << "only a key press changes the warning";
    QTest::keyClick(dlg->Password, Qt::Key_A);
    EXPECT_FALSE(dlg->l_capswarning->isVisible());
    QTest::keyClick(dlg->Password, Qt::Key_A);
    EXPECT_FALSE(dlg->l_capswarning->isVisible());

    QTest::keyClick(dlg->Password, Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
}

TEST_F(PasswordDialogTest, SwitchesWriteOptionsAndShowingTicksThem) {
    f.settings.Hints = true;
    f.runtime.RetainMaster = true;
    auto dlg = open();
    EXPECT_TRUE(dlg->cb_hints->isChecked());
    EXPECT_TRUE(dlg->cb_retain->isChecked());
    EXPECT_FALSE(dlg->cb_reveal->toolTip().isEmpty());

    QTest::mouseClick(dlg->cb_hints, Qt::LeftButton);
    EXPECT_FALSE(f.settings.Hints);
    EXPECT_TRUE(dlg->cb_reveal->toolTip().isEmpty());
    QTest::mouseClick(dlg->cb_retain, Qt::LeftButton);
    EXPECT_FALSE(f.runtime.RetainMaster);
}

TEST_F(PasswordDialogTest, CipherDisplayClicksWrapAroundAndSurviveCancel) {
    f.settings.AllowChanges = true;
    f.settings.Algorithm = 8;
    f.settings.Hash = 5;
    f.settings.ChainingMode = 4;
    auto dlg = open();
    EXPECT_FALSE(dlg->l_locked->isVisible());
    EXPECT_EQ(dlg->l_algorithm->text(), QStringLiteral("3DES"));

    QTest::mouseClick(dlg->l_algorithm, Qt::LeftButton);
    EXPECT_EQ(f.settings.Algorithm, 0);
    EXPECT_EQ(dlg->l_algorithm->text(), QStringLiteral("Blowfish"));
    QTest::mouseClick(dlg->Label2, Qt::LeftButton);  // the "Algorithm:" caption too
    EXPECT_EQ(dlg->l_algorithm->text(), QStringLiteral("Cast"));
    QTest::mouseClick(dlg->l_hash, Qt::LeftButton);
    EXPECT_EQ(f.settings.Hash, 0);
    EXPECT_EQ(dlg->l_hash->text(), QStringLiteral("MD5"));
    QTest::mouseClick(dlg->Label4, Qt::LeftButton);
    EXPECT_EQ(f.settings.ChainingMode, 0);
    EXPECT_EQ(dlg->l_chaining->text(), QStringLiteral("CBC"));
    QTest::mouseClick(dlg->l_chaining, Qt::LeftButton);
    EXPECT_EQ(dlg->l_chaining->text(), QStringLiteral("CFB8bit"));

    QTest::mouseClick(dlg->CancelBtn, Qt::LeftButton);
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    EXPECT_EQ(f.settings.cipher_setup(), (CipherSetup{1, 0, 1}));

    auto next = open();
    QTest::mouseClick(next->Label7, Qt::LeftButton);
    EXPECT_EQ(f.settings.cipher_setup(), CipherSetup{});
    EXPECT_EQ(next->l_algorithm->text(), QStringLiteral("Rijndael AES"));
}

TEST_F(PasswordDialogTest, CipherDisplayIsLockedWithoutAllowChanges) {
    f.settings.AllowChanges = false;
    f.settings.Algorithm = 2;
    auto dlg = open();
    EXPECT_TRUE(dlg->l_locked->isVisible());
    for (QLabel* label : {dlg->l_algorithm, dlg->Label2, dlg->l_hash, dlg->l_chaining, dlg->Label7})
        QTest::mouseClick(label, Qt::LeftButton);
    EXPECT_EQ(f.settings.cipher_setup(), (CipherSetup{2, 0, 0}));
    EXPECT_EQ(dlg->l_algorithm->text(), QStringLiteral("MARS"));
}

TEST_F(PasswordDialogTest, ManagerEditsThroughTheControls) {
    add_entry("400", "Mail", "pw=1=2");
    f.settings.ShowPasswordManager = true;
    auto dlg = open();
    EXPECT_EQ(dlg->cbox_passwords->count(), 1);
    EXPECT_EQ(dlg->cbox_passwords->currentIndex(), -1);
    EXPECT_EQ(dlg->cbox_passwords->maxVisibleItems(), 5);
    QTest::mouseClick(dlg->cb_edit, Qt::LeftButton);

    // "=" cannot be typed into a name; a password may hold it.
    type(dlg->pm_name, QStringLiteral("Bank=X"));
    EXPECT_EQ(dlg->pm_name->text(), QStringLiteral("BankX"));
    type(dlg->pm_password, QStringLiteral("a=b"));
    QTest::mouseClick(dlg->b_add, Qt::LeftButton);
    ASSERT_EQ(f.lists.size(), 2u);
    EXPECT_EQ(f.lists.passwordlist[1], "400BankX=a=b");
    EXPECT_EQ(dlg->cbox_passwords->currentText(), QStringLiteral("BankX"));
    EXPECT_EQ(dlg->Password->text(), QStringLiteral("a=b"));

    // The drop-down is sorted; a password with "=" comes back whole.
    EXPECT_EQ(dlg->cbox_passwords->itemText(0), QStringLiteral("BankX"));
    select(*dlg, QStringLiteral("Mail"));
    EXPECT_EQ(dlg->pm_name->text(), QStringLiteral("Mail"));
    EXPECT_EQ(dlg->pm_password->text(), QStringLiteral("pw=1=2"));
    EXPECT_EQ(dlg->Password->text(), QStringLiteral("pw=1=2"));
    EXPECT_EQ(f.runtime.SelectedEntryName, "Mail");

    // A name in other letter case is the same name: Add selects it.
    select(*dlg, QStringLiteral("BankX"));
    retype(dlg->pm_name, QStringLiteral("MAIL"));
    QTest::mouseClick(dlg->b_add, Qt::LeftButton);
    EXPECT_EQ(f.lists.size(), 2u);
    EXPECT_EQ(dlg->cbox_passwords->count(), 2);
    EXPECT_EQ(dlg->cbox_passwords->currentText(), QStringLiteral("Mail"));
    EXPECT_EQ(dlg->pm_name->text(), QStringLiteral("Mail"));
    EXPECT_EQ(dlg->pm_password->text(), QStringLiteral("pw=1=2"));

    // Emptying the name empties the password beside it.
    retype(dlg->pm_name, QString());
    EXPECT_TRUE(dlg->pm_password->text().isEmpty());
    EXPECT_TRUE(dlg->manager().pm_password().empty());

    EXPECT_EQ(dlg->take_password(), "pw=1=2");
}

TEST_F(PasswordDialogTest, DeletingTheLastEntryLeavesAnEmptyDropDown) {
    add_entry("400", "one", "1");
    add_entry("400", "two", "2");
    f.settings.ShowPasswordManager = true;
    auto dlg = open();
    QTest::mouseClick(dlg->cb_edit, Qt::LeftButton);
    select(*dlg, QStringLiteral("two"));
    QTest::mouseClick(dlg->b_delete, Qt::LeftButton);
    EXPECT_EQ(dlg->cbox_passwords->count(), 1);
    EXPECT_EQ(dlg->cbox_passwords->currentText(), QStringLiteral("one"));
    EXPECT_EQ(dlg->pm_name->text(), QStringLiteral("one"));

    QTest::mouseClick(dlg->b_delete, Qt::LeftButton);
    EXPECT_TRUE(f.lists.empty());
    EXPECT_EQ(dlg->cbox_passwords->count(), 0);
    EXPECT_EQ(dlg->cbox_passwords->currentIndex(), -1);
    EXPECT_TRUE(dlg->pm_name->text().isEmpty());
    EXPECT_TRUE(dlg->pm_password->text().isEmpty());
    EXPECT_TRUE(f.runtime.PasswordListChanged);
}

TEST_F(PasswordDialogTest, DropDownStaysEmptyWhileAskingForTheListPassword) {
    add_entry("400", "Mail", "secret");
    f.runtime.PromptText = std::string(kListPromptDecrypt);
    EXPECT_EQ(open(PasswordDialogLayout::ListPassword)->cbox_passwords->count(), 0);
    f.runtime.PromptText = "Enter file encryption password:";
    EXPECT_EQ(open()->cbox_passwords->count(), 1);
}

TEST_F(PasswordDialogTest, TakePasswordGivesTheWindowsBuildsBytesAndEmptiesTheBox) {
    auto dlg = open();
    type(dlg->Password, QString::fromUtf8("päss€"));
    QTest::keyClick(dlg->Password, Qt::Key_Return);  // OK is the default button
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(dlg->take_password(), "p\xE4ss\x80");
    EXPECT_TRUE(dlg->Password->text().isEmpty());
    EXPECT_TRUE(dlg->manager().Password().empty());

    // A character Windows-1252 lacks: the whole password is UTF-8.
    auto cyrillic = open();
    type(cyrillic->Password, QString::fromUtf8("päss Ж"));
    EXPECT_EQ(cyrillic->take_password(), "p\xC3\xA4ss \xD0\x96");
    // And always, with the option.
    f.settings.TextEncoding = 1;
    auto utf8 = open();
    type(utf8->Password, QString::fromUtf8("päss"));
    EXPECT_EQ(utf8->take_password(), "p\xC3\xA4ss");
    f.settings.TextEncoding = 0;

    // OK with an empty box is accepted too.
    auto empty = open();
    QTest::mouseClick(empty->OKBtn, Qt::LeftButton);
    EXPECT_EQ(empty->result(), QDialog::Accepted);
    EXPECT_EQ(empty->take_password(), "");
}

TEST_F(PasswordDialogTest, PickedPasswordKeepsItsStoredBytesAndNewEntriesAreStoredAsTyped) {
    // A list written by an earlier Linux build holds UTF-8 bytes.
    add_entry("400", "old", "caf\xC3\xA9");
    auto dlg = open();
    select(*dlg, QStringLiteral("old"));
    EXPECT_EQ(dlg->Password->text(), QString::fromUtf8("café"));
    EXPECT_EQ(dlg->take_password(), "caf\xC3\xA9");

    // Edited, it is what the user typed.
    auto edited = open();
    select(*edited, QStringLiteral("old"));
    QTest::keyClick(edited->Password, Qt::Key_Backspace);
    type(edited->Password, QString::fromUtf8("é"));
    EXPECT_EQ(edited->take_password(), "caf\xE9");

    // A new entry's name and password are kept as the Windows build keeps them.
    f.settings.ShowPasswordManager = true;
    auto adding = open();
    adding->cb_edit->setChecked(true);
    type(adding->pm_name, QString::fromUtf8("Bücher"));
    type(adding->pm_password, QString::fromUtf8("Käse"));
    QTest::mouseClick(adding->b_add, Qt::LeftButton);
    const std::vector<std::string>& entries = f.lists.passwordlist;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1], "400B\xFC" "cher=K\xE4se");
    EXPECT_EQ(adding->take_password(), "K\xE4se");
}

TEST_F(PasswordDialogTest, PlacementIsSavedOnCloseAndRestoredAtNextOpening) {
    auto first = open();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    // Without a saved position it opens centred on the screen.
    EXPECT_LE((first->frameGeometry().center() - screen.center()).manhattanLength(), 2);

    first->move(screen.topLeft() + QPoint(40, 30));
    QTest::mouseClick(first->CancelBtn, Qt::LeftButton);
    const auto saved = f.config.read_placement(kPlacementPasswordDialog);
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(QPoint(saved->Left, saved->Top), first->frameGeometry().topLeft());

    auto second = open();
    EXPECT_EQ(second->frameGeometry().topLeft(), first->frameGeometry().topLeft());
    EXPECT_EQ(second->size(), first->size());
}

}  // namespace
}  // namespace morvantile::shell
