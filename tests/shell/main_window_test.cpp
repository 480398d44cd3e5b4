#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <future>

#include "message_catcher.h"
#include "passwords/password_manager.h"
#include "shell/main_window.h"
#include "shell/options_dialog.h"
#include "shell/password_dialog.h"
#include "shell/termination.h"
#include "shell/tray_icon.h"
#include "shell/trigger_listener.h"
#include "support/desktop_fakes.h"
#include "support/temp_files.h"
#include "textcrypt/text_codec.h"

namespace morvantile::shell {
namespace {

using test::FakeClipboard;
using test::MessageCatcher;
using test::TempFolder;

// A configuration home of its own for each test.
struct ConfigHome {
    TempFolder folder;
    std::string saved;
    bool had = false;
    ConfigHome() {
        if (const char* v = std::getenv("XDG_CONFIG_HOME")) {
            had = true;
            saved = v;
        }
        ::setenv("XDG_CONFIG_HOME", folder.path.c_str(), 1);
    }
    ~ConfigHome() {
        if (had)
            ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }
    std::string ini() const { return folder / "morvantile/morvantile.ini"; }
};

// Types the scripted passwords into the password dialog as it opens and
// presses OK; records each prompt.
struct PasswordTyper {
    std::deque<QString> answers;
    std::vector<QString> prompts;
    QTimer timer;
    PasswordTyper() {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<TPasswordDlg*>(w);
                if (!dialog || !dialog->isVisible()) continue;
                prompts.push_back(dialog->Label1->text());
                if (answers.empty()) {
                    dialog->reject();
                    continue;
                }
                dialog->Password->setText(answers.front());
                answers.pop_front();
                dialog->accept();
            }
        });
        timer.start(20);
    }
};

std::unique_ptr<FakeClipboard> fake_clipboard(FakeClipboard** keep = nullptr) {
    auto clip = std::make_unique<FakeClipboard>();
    if (keep) *keep = clip.get();
    return clip;
}

TEST(MainWindow, KeepsOptionsPlacementsAndThePasswordListFromOneRunToTheNext) {
    ConfigHome home;
    MessageCatcher messages;  // there is no tray on the offscreen platform
    PasswordTyper typer;
    QPoint options_at;
    {
        TfrmMain w(fake_clipboard());
        ASSERT_TRUE(w.start({"nosplash"}));
        EXPECT_EQ(w.runtime().ConfigFileName, home.ini());
        EXPECT_FALSE(w.isVisible());

        w.settings().TrayHint = 1;
        w.settings().QuoteString = "|";
        w.settings().AllowChanges = true;
        w.settings().Algorithm = 6;
        {
            PasswordManager manager(w.lists(), w.settings(), w.runtime());
            manager.pm_nameChange("mail");
            manager.pm_passwordChange("p=w \xc3\xa9");
            manager.b_addClick();
        }
        // The options dialog keeps its place when it closes, even on Cancel.
        QTimer::singleShot(100, [&] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                if (auto* options = qobject_cast<TfrmOptions*>(top); options && options->isVisible()) {
                    options->move(options->pos() + QPoint(31, 17));
                    options_at = options->frameGeometry().topLeft();
                    options->reject();
                }
            }
        });
        w.setoptions();
        typer.answers = {QStringLiteral("list secret")};  // asked at exit to encrypt the list
        w.exit_program();
    }
    ASSERT_EQ(typer.prompts.size(), 1u);
    EXPECT_EQ(typer.prompts[0], QStringLiteral("Enter password to encrypt Password List:"));
    const std::string written = test::read_file(home.ini());
    EXPECT_NE(written.find("[FormPlacement frmoptions]"), std::string::npos);
    EXPECT_EQ(written.find("list secret"), std::string::npos);
    EXPECT_EQ(written.find("p=w"), std::string::npos);

    typer.answers = {QStringLiteral("list secret")};  // asked at start to open it
    TfrmMain again(fake_clipboard());
    ASSERT_TRUE(again.start({"nosplash"}));
    ASSERT_EQ(typer.prompts.size(), 2u);
    EXPECT_EQ(typer.prompts[1], QStringLiteral("Enter password to decrypt Password List:"));
    EXPECT_EQ(again.settings().QuoteString, "|");
    EXPECT_EQ(again.settings().Algorithm, 6);
    ASSERT_EQ(again.lists().size(), 1u);
    EXPECT_EQ(again.lists().passwordlist_name[0], "mail");
    EXPECT_EQ(entry_password(again.lists().passwordlist[0]), "p=w \xc3\xa9");
    const auto placement = again.context().config.read_placement(kPlacementOptions);
    ASSERT_TRUE(placement);
    EXPECT_EQ(QPoint(placement->Left, placement->Top), options_at);
    // TrayHint 1: the configuration file's full path in brackets.
    EXPECT_EQ(again.tray().hint(), QString::fromStdString(again.runtime().VersionText + " [" + home.ini() + "]"));
}

TEST(MainWindow, TheTrayMenuEncryptsAndDecryptsTheClipboard) {
    ConfigHome home;
    MessageCatcher messages;
    PasswordTyper typer;
    FakeClipboard* clip = nullptr;
    TfrmMain w(fake_clipboard(&clip));
    ASSERT_TRUE(w.start({"nosplash", "noconfig"}));
    TrayIcon& tray = w.tray();

    const std::string text = "Dear Ann,\r\nsee you at 8.\r\n";
    clip->put("text/plain", text);
    typer.answers = {QStringLiteral("tiger")};
    tray.Encrypt1->trigger();
    const std::string block = clip->plain().value_or("");
    EXPECT_NE(block, text);
    EXPECT_EQ(block.rfind(start_separator(), 0), 0u) << block;  // separators are on by default
    EXPECT_FALSE(clip->secret);

    // The user selects the lines between the separators to decrypt.
    clip->put("text/plain", std::string(strip_separator_lines(block)));
    typer.answers = {QStringLiteral("tiger")};
    tray.Decrypt1->trigger();
    EXPECT_EQ(clip->plain(), text);
    EXPECT_TRUE(clip->secret);
    for (const std::string& m : messages.texts) EXPECT_NE(m.find("system tray"), std::string::npos) << m;
    EXPECT_EQ(tray.image(), TrayImage::Idle);
    EXPECT_TRUE(tray.popup_enabled());
}

TEST(MainWindow, TrayMenuItemsAndTheClearPasswordSwitch) {
    ConfigHome home;
    MessageCatcher messages;
    TfrmMain w(fake_clipboard());
    ASSERT_TRUE(w.start({"nosplash", "noconfig"}));
    TrayIcon& tray = w.tray();
    QStringList captions;
    for (QAction* a : tray.menu()->actions()) captions << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(captions, (QStringList{"MORVANTILE", "-", "Text mode", "File mode", "-", "Encrypt", "Decrypt",
                                     "Clear password", "-", "Options", "Instructions", "-", "Exit"}));
    EXPECT_TRUE(tray.Textmode1->isChecked());
    EXPECT_FALSE(tray.Clearpassword1->isEnabled());

    tray.Filemode1->trigger();
    EXPECT_TRUE(w.runtime().FileMode);
    EXPECT_FALSE(tray.Textmode1->isChecked());

    w.runtime().MasterPassword = "kept";
    w.runtime().RetainMaster = true;
    show_master_password_state(w.runtime(), w);
    EXPECT_TRUE(tray.Clearpassword1->isEnabled());
    EXPECT_EQ(tray.image(), TrayImage::PasswordSet);
    // While an operation runs the menu offers nothing.
    w.set_popup_enabled(false);
    EXPECT_FALSE(tray.Clearpassword1->isEnabled());
    tray.Clearpassword1->trigger();
    EXPECT_EQ(w.runtime().MasterPassword, "kept");
    w.set_popup_enabled(true);
    tray.Clearpassword1->trigger();
    EXPECT_TRUE(w.runtime().MasterPassword.empty());
    EXPECT_FALSE(tray.Clearpassword1->isEnabled());
    EXPECT_EQ(tray.image(), TrayImage::Idle);
}

TEST(MainWindow, ExitDoesNothingWhileTheSplashIsShown) {
    ConfigHome home;
    MessageCatcher messages;
    TfrmMain w(fake_clipboard());
    int finished = 0;
    QObject::connect(&w, &TfrmMain::finished, [&] { ++finished; });
    ASSERT_TRUE(w.start({}));
    ASSERT_TRUE(w.isVisible());
    w.exit_program();
    EXPECT_EQ(finished, 0);
    EXPECT_FALSE(std::filesystem::exists(home.ini()));
    w.hide();
    w.exit_program();
    EXPECT_EQ(finished, 1);
    EXPECT_TRUE(std::filesystem::exists(home.ini()));
}

TEST(MainWindow, ASignalEndsTheProgramAsExitDoesWithoutAskingAnything) {
    ConfigHome home;
    MessageCatcher messages;
    PasswordTyper typer;  // would answer a list-password prompt; none may come
    TfrmMain w(fake_clipboard());
    int finished = 0;
    QObject::connect(&w, &TfrmMain::finished, [&] { ++finished; });
    TerminationSignals from_outside;
    w.follow_session(from_outside);
    ASSERT_TRUE(w.start({"nosplash"}));
    messages.texts.clear();
    w.settings().QuoteString = "|";
    {
        // A new entry whose list password nobody has typed yet.
        PasswordManager manager(w.lists(), w.settings(), w.runtime());
        manager.pm_nameChange("mail");
        manager.pm_passwordChange("secret");
        manager.b_addClick();
    }
    // A password dialog is open when the session ends.
    bool dialog_closed = false;
    QTimer::singleShot(50, [] { std::raise(SIGTERM); });
    typer.timer.stop();
    QTimer::singleShot(0, [&] {
        w.runtime().PromptText = "Enter text encryption password:";
        TPasswordDlg dialog(w.context(), PasswordDialogLayout::Operation);
        dialog.exec();
        dialog_closed = true;
    });
    QTimer::singleShot(3000, [] { QCoreApplication::exit(1); });  // should the signal never arrive
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(dialog_closed);
    EXPECT_EQ(finished, 1);
    EXPECT_TRUE(w.runtime().SessionEnding);
    EXPECT_TRUE(typer.prompts.empty());
    EXPECT_TRUE(messages.texts.empty());
    const std::string written = test::read_file(home.ini());
    EXPECT_NE(written.find("QuoteString=|"), std::string::npos);
    EXPECT_EQ(written.find("[PasswordList]"), std::string::npos) << "kept as stored: there was none";
    EXPECT_EQ(written.find("secret"), std::string::npos);

    // SIGHUP and SIGINT arrive the same way.
    std::vector<int> seen;
    QObject::connect(&from_outside, &TerminationSignals::received, [&](int sig) { seen.push_back(sig); });
    std::raise(SIGHUP);
    std::raise(SIGINT);
    for (int i = 0; i < 50 && seen.size() < 2; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(seen, (std::vector<int>{SIGHUP, SIGINT}));
}

TEST(MainWindow, MessagesAreDroppedWhileAnotherOwnDialogIsOpen) {
    ConfigHome home;
    MessageCatcher messages;
    TfrmMain w(fake_clipboard());
    ASSERT_TRUE(w.start({"nosplash", "noconfig"}));
    messages.texts.clear();
    QDialog options;
    options.setWindowTitle(QStringLiteral("Morvantile: change settings"));
    options.show();
    w.show_error("Could not switch to source window");
    EXPECT_TRUE(messages.texts.empty());
    options.hide();
    w.show_error("Could not switch to source window");
    EXPECT_EQ(messages.texts, (std::vector<std::string>{"Could not switch to source window"}));
}

TEST(MainWindow, ACommandLineErrorEndsTheStart) {
    ConfigHome home;
    MessageCatcher messages;
    TfrmMain w(fake_clipboard());
    EXPECT_FALSE(w.start({"/nosplash", "--bogus"}));
    ASSERT_EQ(messages.texts.size(), 1u);
    EXPECT_NE(messages.texts[0].find("nosplash"), std::string::npos);
}

// Sends a command-line request and keeps the event loop turning (the
// request runs in it) until the answer is in.
TriggerSendStatus trigger(const std::string& path, TriggerWord word, const std::string& token = {}) {
    auto sent = std::async(std::launch::async, [=] { return send_trigger(path, {word, token}).status; });
    while (sent.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::processEvents();
    return sent.get();
}

// The activation token in the environment each time a password dialog
// shows: taken as it shows, so that no timer can miss a dialog that is
// answered at once.
struct TokenWatch : QObject {
    std::vector<std::string> seen;
    TokenWatch() { qApp->installEventFilter(this); }
    ~TokenWatch() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Show && qobject_cast<TPasswordDlg*>(object))
            seen.push_back(qEnvironmentVariable("XDG_ACTIVATION_TOKEN").toStdString());
        return false;
    }
};

TEST(MainWindow, CommandLineRequestsDoWhatTheirHotKeysDo) {
    ConfigHome home;
    MessageCatcher messages;
    TokenWatch tokens;
    PasswordTyper typer;
    FakeClipboard* clip = nullptr;
    TfrmMain w(fake_clipboard(&clip));
    int finished = 0;
    QObject::connect(&w, &TfrmMain::finished, [&] { ++finished; });
    const std::string path = home.folder / "trigger";
    ASSERT_TRUE(w.listen_for_triggers(path));
    // Not before the configuration is read: the start's message comes
    // forward instead.
    std::vector<TriggerSendStatus> during_start;
    QTimer::singleShot(0, [&] {
        during_start.push_back(trigger(path, TriggerWord::Options));
        during_start.push_back(trigger(path, TriggerWord::Exit));
    });
    ASSERT_TRUE(w.start({"nosplash", "noconfig"}));
    EXPECT_EQ(during_start, (std::vector<TriggerSendStatus>{TriggerSendStatus::Busy, TriggerSendStatus::Busy}));
    EXPECT_EQ(finished, 0);
    // With hotkeys switched off: the key was bound in the desktop.
    w.settings().HotKeysEnabled = false;

    const std::string text = "Meet at noon.\r\n";
    clip->put("text/plain", text);
    typer.answers = {QStringLiteral("tiger")};
    EXPECT_EQ(trigger(path, TriggerWord::Encrypt, "desk-token-1"), TriggerSendStatus::Accepted);
    ASSERT_EQ(typer.prompts.size(), 1u);
    EXPECT_EQ(typer.prompts[0], QStringLiteral("Enter text encryption password:"));
    const std::string block = clip->plain().value_or("");
    ASSERT_EQ(block.rfind(start_separator(), 0), 0u) << block;
    ASSERT_FALSE(tokens.seen.empty());
    EXPECT_EQ(tokens.seen.front(), "desk-token-1") << "the dialog is activated with the caller's token";
    EXPECT_TRUE(qEnvironmentVariableIsEmpty("XDG_ACTIVATION_TOKEN")) << "and it is gone afterwards";

    clip->put("text/plain", std::string(strip_separator_lines(block)));
    typer.answers = {QStringLiteral("tiger")};
    EXPECT_EQ(trigger(path, TriggerWord::Decrypt), TriggerSendStatus::Accepted);
    EXPECT_EQ(clip->plain(), text);

    // Busy as a hotkey press would be: nothing runs.
    w.runtime().OperationBusy = true;
    EXPECT_EQ(trigger(path, TriggerWord::Encrypt), TriggerSendStatus::Busy);
    EXPECT_EQ(trigger(path, TriggerWord::Exit), TriggerSendStatus::Busy);
    w.runtime().OperationBusy = false;
    EXPECT_EQ(typer.prompts.size(), 2u);

    // The options dialog; while it is open a request only brings it forward.
    bool options_seen = false;
    TriggerSendStatus meanwhile = TriggerSendStatus::Accepted;
    QTimer::singleShot(100, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* options = qobject_cast<TfrmOptions*>(top); options && options->isVisible()) {
                options_seen = true;
                meanwhile = trigger(path, TriggerWord::Encrypt);
                options->reject();
            }
        }
    });
    EXPECT_EQ(trigger(path, TriggerWord::Options), TriggerSendStatus::Accepted);
    EXPECT_TRUE(options_seen);
    EXPECT_EQ(meanwhile, TriggerSendStatus::Busy);
    EXPECT_EQ(typer.prompts.size(), 2u);

    // Exit as the exit hotkey: the program ends without writing anything.
    w.settings().QuoteString = "|";
    const std::string before = test::read_file(home.ini());
    EXPECT_EQ(trigger(path, TriggerWord::Exit), TriggerSendStatus::Accepted);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(test::read_file(home.ini()), before);
    EXPECT_EQ(trigger(path, TriggerWord::Options), TriggerSendStatus::Refused) << "it is ending";
}

TEST(MainWindow, ARequestOnItsOwnCommandLineRunsOnceStartedWithoutTheSplash) {
    ConfigHome home;
    MessageCatcher messages;
    PasswordTyper typer;
    FakeClipboard* clip = nullptr;
    TfrmMain w(fake_clipboard(&clip));
    clip->put("text/plain", "hello");
    typer.answers = {QStringLiteral("tiger")};
    qputenv("XDG_ACTIVATION_TOKEN", "launch-token");
    ASSERT_TRUE(w.start({"noconfig", "/Encrypt"}));
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(qEnvironmentVariableIsEmpty("XDG_ACTIVATION_TOKEN")) << "kept for the request's dialog";
    EXPECT_TRUE(typer.prompts.empty()) << "not before the event loop runs";
    QElapsedTimer waited;
    waited.start();
    while (typer.prompts.empty() && waited.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_EQ(typer.prompts.size(), 1u);
    EXPECT_NE(clip->plain().value_or("hello"), "hello");
}

}  // namespace
}  // namespace morvantile::shell
