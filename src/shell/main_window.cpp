#include "shell/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSessionManager>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <cstdio>
#include <malloc.h>

#include "config/command_line.h"
#include "shell/errormsg.h"
#include "shell/flash.h"
#include "shell/instructions.h"
#include "shell/options_dialog.h"
#include "shell/password_dialog.h"
#include "shell/termination.h"
#include "shell/tray_icon.h"
#include "shell/trigger_listener.h"
#include "shell/viewer.h"
#include "shell/windows.h"
#include "textcrypt/sender_tag.h"

// The icons are compiled into the shell library; a static library's
// resources are registered by hand.
static void init_resources() { Q_INIT_RESOURCE(morvantile); }

namespace morvantile::shell {

// Without a desktop to drive (no XTEST) there is no source window: results
// stay on the clipboard for the user to paste, and nothing is switched
// after a dialog.
class ClipboardOnlySource final : public SourceWindow {
public:
    bool pasteback(bool) override { return true; }
    bool switchtosource() override { return true; }
};

QtTimer::QtTimer() : timer_(std::make_unique<QTimer>()) {}
QtTimer::~QtTimer() = default;
void QtTimer::start(int interval_ms) { timer_->start(interval_ms); }
void QtTimer::stop() { timer_->stop(); }
bool QtTimer::active() const { return timer_->isActive(); }

// The splash window's picture: the program's name sealed into ciphertext
// and back, once. It runs only while it plays, so an idle program spends
// no time on it.
class SplashAnimation final : public QWidget {
public:
    explicit SplashAnimation(QWidget* parent) : QWidget(parent) {
        setMinimumSize(400, 36);
        setMouseTracking(true);
        animation_.setStartValue(0.0);
        animation_.setEndValue(1.0);
        animation_.setDuration(2200);
        connect(&animation_, &QVariantAnimation::valueChanged, this, [this] { update(); });
    }
    void start() {
        if (animation_.state() != QAbstractAnimation::Running) animation_.start();
    }
    void stop() { animation_.stop(); }
    bool playing() const { return animation_.state() == QAbstractAnimation::Running; }

protected:
    void enterEvent(QEnterEvent*) override { start(); }
    void paintEvent(QPaintEvent*) override {
        static const QString kWord = QStringLiteral("encrypt \u2192 paste \u2192 decrypt");
        static const QString kAlphabet =
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
        const double t = animation_.state() == QAbstractAnimation::Running ? animation_.currentValue().toDouble() : 1.0;
        // First half: the text dissolves into base64; second half: it
        // resolves again, left to right.
        QString shown = kWord;
        for (int i = 0; i < shown.size(); ++i) {
            if (shown[i] == QLatin1Char(' ')) continue;
            const double at = static_cast<double>(i) / shown.size();
            const bool scrambled = t < 0.5 ? at < t * 2.0 : at >= (t - 0.5) * 2.0;
            if (scrambled) shown[i] = kAlphabet[QRandomGenerator::global()->bounded(kAlphabet.size())];
        }
        QPainter p(this);
        QFont f(QStringLiteral("monospace"));
        f.setStyleHint(QFont::Monospace);
        f.setPixelSize(16);
        p.setFont(f);
        p.setPen(t >= 1.0 ? QColor(0x9f, 0xd8, 0xff) : QColor(0x5a, 0xe0, 0x8a));
        p.drawText(rect(), Qt::AlignCenter, shown);
    }

private:
    QVariantAnimation animation_;
};

TfrmMain::TfrmMain(std::unique_ptr<ClipboardAccess> clipboard, DesktopBackend desktop)
    : QWidget(nullptr, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      clipboard_access_(std::move(clipboard)),
      exchange_(*clipboard_access_, settings_, runtime_, *this, *this),
      backend_(desktop),
      automation_(desktop.windows == nullptr
                      ? nullptr
                      : std::make_unique<DesktopAutomation>(
                            settings_, runtime_,
                            AutomationServices{*desktop.windows, *this, *this, static_cast<Dialogs&>(*this),
                                               exchange_, Timer_windowcheck, timer_externalviewer,
                                               [] { return shell::ownDialogOpen(); },
                                               [this](char code) { command_.encryption(code); }})),
      HotKeyManager(desktop.hotkeys == nullptr ? nullptr : std::make_unique<THotKeyManager>(*desktop.hotkeys)),
      clipboard_only_(automation_ ? nullptr : std::make_unique<ClipboardOnlySource>()),
      source_(automation_ ? static_cast<SourceWindow&>(*automation_) : *clipboard_only_),
      prompts_(settings_, runtime_, *this, *this, source_, *this),
      config_(settings_, runtime_, lists_, prompts_, *this),
      command_(settings_, runtime_, exchange_, Desktop{*this, source_, *this, *this, *this}, files_),
      context_{settings_, runtime_, lists_, config_, *this, source_, exchange_, *this,
               [this] {
                   if (HotKeyManager) HotKeyManager->clearshortcuts();
               },
               [this] { settrayiconhint(); },
               desktop.hotkeys_note,
               [hotkeys = desktop.hotkeys] { return hotkeys ? hotkeys->assigned_keys() : std::string(); }} {
    init_resources();

    tray_ = new TrayIcon(this);
    connect(tray_, &TrayIcon::about, this, &TfrmMain::about);
    connect(tray_, &TrayIcon::fileModeChanged, this, [this](bool on) { runtime_.FileMode = on; });
    connect(tray_, &TrayIcon::encrypt, this, [this] { PopupmenuKey('e'); });
    connect(tray_, &TrayIcon::decrypt, this, [this] { PopupmenuKey('d'); });
    connect(tray_, &TrayIcon::clearPassword, this, [this] { Clearpassword1Click(runtime_, *this); });
    connect(tray_, &TrayIcon::options, this, &TfrmMain::setoptions);
    connect(tray_, &TrayIcon::showInstructions, this, &TfrmMain::showinstructions);
    connect(tray_, &TrayIcon::exit, this, &TfrmMain::exit_program);

    if (automation_) {
        connect(&Timer_windowcheck.timer(), &QTimer::timeout, this, [this] { automation_->Timer_windowcheckTimer(); });
        connect(&timer_externalviewer.timer(), &QTimer::timeout, this,
                [this] { automation_->timer_externalviewerTimer(); });
        connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive) {
                automation_->application_activated();
            } else {
                automation_->application_deactivated();
            }
        });

    }
    if (HotKeyManager) {
        HotKeyManager->OnHotKeyPressed = [this](TShortCut HotKey, THotKeyManager::Id) {
            HotKeyManagerHotKeyPressed(HotKey);
        };
        desktop.hotkeys->set_purposes([this](TShortCut shortcut) { return hotkey_purpose(runtime_, shortcut); },
                                      &static_cast<Dialogs&>(*this));
    }

    build_splash();
    timer_splash = new QTimer(this);
    timer_splash->setSingleShot(true);
    timer_splash->setInterval(5000);
    connect(timer_splash, &QTimer::timeout, this, &TfrmMain::timer_splashTimer);
}

TfrmMain::~TfrmMain() { runtime_.wipe_passwords(); }

void TfrmMain::build_splash() {
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, QColor(0xdd, 0xdd, 0xdd));
    setPalette(pal);

    // A thin light edge keeps the black window apart from a dark desktop.
    setObjectName(QStringLiteral("TfrmMain"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("#TfrmMain { background: black; border: 1px solid #5a5a5a; }"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    Image1 = new QLabel(this);
    Image1->setPixmap(QIcon(QStringLiteral(":/morvantile/icons/logo.svg")).pixmap(QSize(400, 110)));
    Image1->setAlignment(Qt::AlignCenter);
    layout->addWidget(Image1);

    btn_close = new QPushButton(QStringLiteral("\u2715"), this);
    btn_close->setFlat(true);
    btn_close->setFixedSize(22, 22);
    btn_close->setToolTip(QStringLiteral("Close"));
    btn_close->setStyleSheet(QStringLiteral("color: #dddddd; border: none;"));
    btn_close->hide();
    connect(btn_close, &QPushButton::clicked, this, [this] {
        hide();
        gif->stop();
    });

    gif = new SplashAnimation(this);
    layout->addWidget(gif);

    auto* Shape1 = new QFrame(this);
    Shape1->setFrameShape(QFrame::Box);
    Shape1->setLineWidth(3);
    Shape1->setStyleSheet(QStringLiteral("QFrame { border: 3px solid #3a6ea5; }"));
    auto* lower = new QVBoxLayout(Shape1);
    Label1 = new QLabel(Shape1);
    Label1->setAlignment(Qt::AlignRight | Qt::AlignTop);
    Label1->setStyleSheet(QStringLiteral("border: none; color: #dddddd;"));
    l_username = new QLabel(Shape1);
    l_username->setAlignment(Qt::AlignRight);
    QFont small = l_username->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    l_username->setFont(small);
    l_username->setStyleSheet(QStringLiteral("border: none; color: #9fd8ff;"));
    l_desktop = new QLabel(to_qstring(backend_.description), Shape1);
    l_desktop->setAlignment(Qt::AlignRight);
    l_desktop->setFont(small);
    l_desktop->setStyleSheet(QStringLiteral("border: none; color: #9fd8ff;"));
    l_desktop->setVisible(!backend_.description.empty());
    lower->addWidget(Label1);
    lower->addWidget(l_username);
    lower->addWidget(l_desktop);
    layout->addWidget(Shape1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool TfrmMain::start(const std::vector<std::string>& params) {
    // The window in front before anything of ours shows is where a request
    // on the program's own command line comes from (a key bound in the
    // desktop); the start's messages take the focus next.
    if (automation_) automation_->remember_foreground_window();
    gif->start();
    {
        LinuxSystemFacts facts;
        l_username->setText(QStringLiteral("G'day, ") + to_qstring(facts.user_name()));
        runtime_.VersionText = version_text();
        setWindowTitle(to_qstring(runtime_.VersionText));
        runtime_.SenderTag = compose_sender_tag(runtime_.VersionText, facts);
    }
    set_image(TrayImage::Idle);
    process_messages();
    Label1->setText(about_text());

    if (!start_configuration(params, settings_, runtime_, config_, *this)) return false;
    // Started for a request ("morvantile encrypt" with no copy running):
    // the splash would take the focus from the window the request is for.
    const std::optional<TriggerWord> request = command_line_trigger(params);
    if (request) runtime_.CmdNoSplash = true;

    tray_->show();
    settrayiconhint();

    if (runtime_.CmdNoSplash || settings_.NoSplash) {
        timer_splash->start(10);
    } else {
        center_on_screen(this);
        show();
        timer_splash->start();
    }
    if (!tray_->tray_available()) {
        // The tray may come later (a panel that starts after the program);
        // the icon then appears by itself.
        show_error("No system tray was found. Morvantile keeps running, and its icon appears when a tray "
                   "starts.");
    }
    registerhotkeys();
    started_ = true;
    if (request) {
        TriggerRequest start_request{*request, {}};
        // The token the desktop gave this launch belongs to the request's
        // dialog, not to whichever window shows first.
        if (const QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN"); valid_activation_token(token.toStdString())) {
            start_request.activation_token = token.toStdString();
            qunsetenv("XDG_ACTIVATION_TOKEN");
        }
        // Once the event loop runs; a message of the start still open is
        // waited for (up to half a minute).
        QTimer::singleShot(0, this, [this, start_request] { run_start_request(start_request, 120); });
    }
    return true;
}

QString TfrmMain::about_text() const {
    const std::vector<std::string> lines = {
        version_text(),
        "Encrypts the text of any window, and small files, with a password.",
        "Ciphers: Blowfish, Cast 256, MARS, RC6, Rijndael AES, Serpent, Twofish, IDEA, 3DES.",
        "Built on Crypto++, zlib and Qt. Distributed without any warranty.",
    };
    return hint_text(strings_to_text(lines, 100)).trimmed();
}

QString TfrmMain::user_greeting() const { return l_username->text(); }

void TfrmMain::timer_splashTimer() {
    if (isVisible()) hide();
    timer_splash->stop();
    btn_close->show();
    btn_close->move(width() - btn_close->width() - 4, 4);
    btn_close->raise();
    gif->stop();
}

void TfrmMain::about() {
    if (isMinimized()) showNormal();
    center_on_screen(this);
    show();
    raise();
    activateWindow();
    if (btn_close->isVisible()) btn_close->move(width() - btn_close->width() - 4, 4);
    if (!isVisible()) show_error("Failed to show window!");
}

void TfrmMain::hideEvent(QHideEvent* event) {
    gif->stop();
    QWidget::hideEvent(event);
    // Hidden, the window spends the rest of the run unseen: its native
    // window and picture buffer are given back, and so is the heap the
    // splash used. Showing it again creates them anew.
    QTimer::singleShot(0, this, [this] {
        if (isVisible() || !testAttribute(Qt::WA_WState_Created)) return;
        destroy();
        ::malloc_trim(0);
    });
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    // The window manager's close only hides the about window; the program
    // ends through Exit.
    if (!exiting_) {
        event->ignore();
        hide();
        return;
    }
    event->accept();
}

void TfrmMain::PopupmenuKey(char code) {
    if (automation_) {
        automation_->PopupmenuKey(code);
        return;
    }
    if (shell::ownDialogOpen()) return;
    if (runtime_.FileMode) {
        command_.encryption(code == kEncryptText ? kEncryptFile : kDecryptFile);
        return;
    }
    command_.encryption(code);
}

void TfrmMain::setoptions() {
    if (shell::ownDialogOpen()) return;
    bool accepted = false;
    {
        TfrmOptions dialog(context_);
        accepted = dialog.exec() == QDialog::Accepted;
    }
    source_.switchtosource();
    if (accepted) registerhotkeys();
}

bool TfrmMain::registerhotkeys() {
    if (!HotKeyManager) return false;
    return morvantile::registerhotkeys(settings_, runtime_, *HotKeyManager, *this);
}

void TfrmMain::HotKeyManagerHotKeyPressed(TShortCut HotKey) {
    // A desktop that delivers shortcuts itself may hand over the right to
    // take the focus with the press, for the request's dialog.
    const std::string given = backend_.hotkeys ? backend_.hotkeys->press_activation_token() : std::string();
    ActivationToken token(valid_activation_token(given) ? given : std::string());
    run_command(hotkey_command(settings_, runtime_, HotKey, automation_ && automation_->request_running()));
}

void TfrmMain::run_command(HotKeyCommand command) {
    switch (command) {
    case HotKeyCommand::Exit:
        quit_without_saving();
        break;
    case HotKeyCommand::Options:
        setoptions();
        break;
    case HotKeyCommand::Encrypt:
        PopupmenuKey(kEncryptText);
        break;
    case HotKeyCommand::Decrypt:
        PopupmenuKey(kDecryptText);
        break;
    case HotKeyCommand::Ignore:
        break;
    }
}

bool TfrmMain::listen_for_triggers(const std::string& path) {
    std::string error;
    std::string where = path;
    if (where.empty()) {
        if (const auto user_path = trigger_socket_path(error)) where = *user_path;
    }
    if (!where.empty()) {
        triggers_.reset();
        triggers_ = TriggerListener::listen(where, *this, error);
    }
    if (!triggers_) {
        std::fprintf(stderr, "morvantile: command-line requests are off: %s\n", error.c_str());
        return false;
    }
    return true;
}

TriggerReply TfrmMain::accept(const TriggerRequest& request) {
    if (exiting_) return {TriggerAnswer::Error, "Morvantile is ending"};
    const HotKeyCommand command =
        trigger_command(runtime_, request.word, automation_ && automation_->request_running());
    if (command == HotKeyCommand::Ignore) return {TriggerAnswer::Busy, {}};
    if (command != HotKeyCommand::Exit || !started_) {
        // As with a hotkey, an open dialog of the program comes forward
        // instead (a message of the start, the list password); the caller
        // hears that nothing else was done.
        ActivationToken token(request.activation_token);
        if (shell::ownDialogOpen()) return {TriggerAnswer::Busy, {}};
    }
    // Before the configuration is read nothing may run.
    if (!started_) return {TriggerAnswer::Busy, {}};
    return {TriggerAnswer::Ok, {}};
}

void TfrmMain::run(const TriggerRequest& request) {
    ActivationToken token(request.activation_token);
    run_command(trigger_command(runtime_, request.word, automation_ && automation_->request_running()));
}

void TfrmMain::run_start_request(const TriggerRequest& request, int tries_left) {
    const TriggerReply reply = accept(request);
    if (reply.answer == TriggerAnswer::Ok) {
        run(request);
    } else if (reply.answer == TriggerAnswer::Busy && tries_left > 0) {
        QTimer::singleShot(250, this, [this, request, tries_left] { run_start_request(request, tries_left - 1); });
    }
}

void TfrmMain::showinstructions() {
    if (shell::ownDialogOpen()) return;
    process_messages();
    {
        TfrmInstructions dialog;
        dialog.exec();
    }
    source_.switchtosource();
}

void TfrmMain::settrayiconhint() { tray_->set_hint(to_qstring(tray_hint_text(settings_, runtime_))); }

void TfrmMain::exit_program() {
    if (isVisible()) return;
    config_.write_at_exit();
    exiting_ = true;
    emit finished();
}

void TfrmMain::quit_without_saving() {
    exiting_ = true;
    emit finished();
}

void TfrmMain::save_for_session_end() {
    const bool ending = runtime_.SessionEnding;
    runtime_.SessionEnding = true;  // no dialog may hold the session up
    config_.write_at_exit(/*ask=*/false);
    runtime_.SessionEnding = ending;
}

void TfrmMain::follow_session(TerminationSignals& from_outside) {
    // Every event loop ends, the dialogs' too, so that the program also
    // ends when a signal arrives while one is open.
    connect(this, &TfrmMain::finished, qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    // Logging out, a service manager, Ctrl+C: written as at Exit, then ended.
    connect(&from_outside, &TerminationSignals::received, this, &TfrmMain::end_session);
    // A session manager asks for the program's data first, and may still
    // cancel the logout.
    connect(
        qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { save_for_session_end(); },
        Qt::DirectConnection);
}

void TfrmMain::end_session() {
    if (exiting_) return;
    save_for_session_end();
    runtime_.SessionEnding = true;
    exiting_ = true;
    emit finished();
}

bool TfrmMain::setpassword() { return prompts_.setpassword(); }

void TfrmMain::show_error(std::string_view message) {
    if (runtime_.SessionEnding) {
        // Nobody is left to click a message away.
        std::string text(message);
        for (std::size_t at; (at = text.find('\r')) != std::string::npos;) text.erase(at, 1);
        std::fprintf(stderr, "morvantile: %s\n", text.c_str());
        return;
    }
    if (shell::ownDialogOpen()) return;
    process_messages();
    show_message_window(message);
    source_.switchtosource();
}

void TfrmMain::message_box(std::string_view text) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Morvantile"), to_qstring(text), QMessageBox::Ok);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
}

bool TfrmMain::ask_yes_no(std::string_view caption, std::string_view text) {
    QMessageBox box(QMessageBox::Question, to_qstring(caption), to_qstring(text), QMessageBox::Yes | QMessageBox::No);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void TfrmMain::show_notice() {
    TfrmFlash notice(runtime_.NoticeMode, to_qstring(runtime_.SelectedEntryName));
    notice.exec();
}

// A file type entry as the file dialog wants it: the shown name with its
// pattern in brackets. "*.*" means every file here, so the pattern in the
// brackets is the one that is applied.
static QString qt_filter(const FileFilter& filter) {
    QString name = to_qstring(filter.name);
    if (const qsizetype open = name.lastIndexOf(QLatin1Char('(')); open > 0) name.truncate(open);
    return name.trimmed() + QStringLiteral(" (") + to_qstring(filter.pattern) + QLatin1Char(')');
}

std::optional<std::string> TfrmMain::file_dialog(const FileDialogRequest& request, bool save) {
    if (shell::ownDialogOpen()) return std::nullopt;
    QFileDialog dialog(nullptr, to_qstring(request.title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!request.confirm_overwrite) dialog.setOption(QFileDialog::DontConfirmOverwrite);
    QStringList filters;
    for (const FileFilter& f : request.filters) filters << qt_filter(f);
    dialog.setNameFilters(filters);
    if (request.filter_index >= 1 && request.filter_index <= filters.size())
        dialog.selectNameFilter(filters[request.filter_index - 1]);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return to_bytes(dialog.selectedFiles().constFirst());
}

std::optional<std::string> TfrmMain::open_file(const FileDialogRequest& request) { return file_dialog(request, false); }
std::optional<std::string> TfrmMain::save_file(const FileDialogRequest& request) { return file_dialog(request, true); }

void TfrmMain::showviewer(int pass, int passes) { shell::showviewer(context_, pass, passes); }

void TfrmMain::launchviewer(std::string_view command_line, int show_mode) {
    if (automation_) {
        automation_->launchviewer(command_line, show_mode);
        return;
    }
    // Without keystrokes the editor is only started, with the decrypted
    // text on the clipboard for the user to paste.
    const std::vector<std::string> argv = split_command_line(command_line);
    if (argv.empty()) return;
    QStringList args;
    for (std::size_t i = 1; i < argv.size(); ++i) args << to_qstring(argv[i]);
    QProcess::startDetached(to_qstring(argv.front()), args);
}

void TfrmMain::set_image(TrayImage image) { tray_->set_image(image); }
void TfrmMain::set_hint(std::string_view text) { tray_->set_hint(to_qstring(text)); }
void TfrmMain::set_popup_enabled(bool enabled) { tray_->set_popup_enabled(enabled); }
void TfrmMain::set_clear_password_enabled(bool enabled) { tray_->set_clear_password_enabled(enabled); }

void TfrmMain::process_messages() { shell::process_messages(); }
void TfrmMain::bring_to_front() {}

bool TfrmMain::ownDialogOpen() { return shell::ownDialogOpen(); }

bool TfrmMain::show_password_dialog(PasswordDialogLayout layout, std::string& typed) {
    TPasswordDlg dialog(context_, layout);
    if (dialog.exec() != QDialog::Accepted) return false;
    typed = dialog.take_password();
    return true;
}

}  // namespace morvantile::shell
