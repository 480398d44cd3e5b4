#include "shell/tray_icon.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>

namespace morvantile::shell {

QIcon state_icon(TrayImage image) {
    static const char* const kFiles[] = {":/morvantile/icons/tray-idle.svg", ":/morvantile/icons/tray-master.svg",
                                         ":/morvantile/icons/tray-waiting.svg", ":/morvantile/icons/tray-running.svg"};
    return QIcon(QString::fromLatin1(kFiles[static_cast<int>(image)]));
}

TrayIcon::TrayIcon(QObject* parent) : QObject(parent) {
    PopupMenu1 = new QMenu;
    Morvantile1 = PopupMenu1->addAction(QStringLiteral("MORVANTILE"));
    PopupMenu1->addSeparator();
    modes_ = new QActionGroup(this);
    modes_->setExclusive(true);
    Textmode1 = PopupMenu1->addAction(QStringLiteral("Text mode"));
    Filemode1 = PopupMenu1->addAction(QStringLiteral("File mode"));
    for (QAction* a : {Textmode1, Filemode1}) {
        a->setCheckable(true);
        modes_->addAction(a);
    }
    Textmode1->setChecked(true);
    PopupMenu1->addSeparator();
    Encrypt1 = PopupMenu1->addAction(QStringLiteral("Encrypt"));
    Decrypt1 = PopupMenu1->addAction(QStringLiteral("Decrypt"));
    Clearpassword1 = PopupMenu1->addAction(QStringLiteral("Clear password"));
    Clearpassword1->setEnabled(false);
    PopupMenu1->addSeparator();
    Options1 = PopupMenu1->addAction(QStringLiteral("Options"));
    Instructions1 = PopupMenu1->addAction(QStringLiteral("Instructions"));
    PopupMenu1->addSeparator();
    Exit1 = PopupMenu1->addAction(QStringLiteral("Exit"));

    route(Morvantile1, &TrayIcon::about);
    route(Encrypt1, &TrayIcon::encrypt);
    route(Decrypt1, &TrayIcon::decrypt);
    route(Clearpassword1, &TrayIcon::clearPassword);
    route(Options1, &TrayIcon::options);
    route(Instructions1, &TrayIcon::showInstructions);
    route(Exit1, &TrayIcon::exit);
    connect(Filemode1, &QAction::toggled, this, [this](bool on) { emit fileModeChanged(on); });

    TrayIcon1 = new QSystemTrayIcon(this);
    TrayIcon1->setContextMenu(PopupMenu1);
    // A left click opens the menu too: most Linux panels expect it.
    connect(TrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && popup_enabled_) PopupMenu1->popup(QCursor::pos());
    });
    set_image(TrayImage::Idle);
}

TrayIcon::~TrayIcon() {
    TrayIcon1->hide();
    delete PopupMenu1;
}

void TrayIcon::route(QAction* action, void (TrayIcon::*signal)()) {
    connect(action, &QAction::triggered, this, [this, signal] {
        if (popup_enabled_) emit(this->*signal)();
    });
}

void TrayIcon::set_image(TrayImage image) {
    image_ = image;
    const QIcon icon = state_icon(image);
    TrayIcon1->setIcon(icon);
    Morvantile1->setIcon(icon);
    QApplication::setWindowIcon(icon);
}

void TrayIcon::set_hint(const QString& text) { TrayIcon1->setToolTip(text); }
QString TrayIcon::hint() const { return TrayIcon1->toolTip(); }

void TrayIcon::set_popup_enabled(bool enabled) {
    popup_enabled_ = enabled;
    // The menu stays reachable but offers nothing while an operation runs.
    for (QAction* a : PopupMenu1->actions()) {
        if (a == Clearpassword1)
            a->setEnabled(enabled && clear_enabled_);
        else
            a->setEnabled(enabled);
    }
}

void TrayIcon::set_clear_password_enabled(bool enabled) {
    clear_enabled_ = enabled;
    Clearpassword1->setEnabled(enabled && popup_enabled_);
}

void TrayIcon::show() { TrayIcon1->show(); }

bool TrayIcon::tray_available() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

}  // namespace morvantile::shell
