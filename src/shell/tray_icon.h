// The tray icon with its four state images, its hint and its menu.
#pragma once

#include <QIcon>
#include <QObject>
#include <array>

#include "textcrypt/desktop.h"

class QAction;
class QActionGroup;
class QMenu;
class QSystemTrayIcon;

namespace morvantile::shell {

// The state images, crisp at the tray's sizes.
QIcon state_icon(TrayImage image);

class TrayIcon final : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // The image goes to the tray icon, the menu's first item and the
    // application's icon alike.
    void set_image(TrayImage image);
    TrayImage image() const { return image_; }
    void set_hint(const QString& text);
    QString hint() const;
    // While an operation runs the menu's commands do nothing.
    void set_popup_enabled(bool enabled);
    bool popup_enabled() const { return popup_enabled_; }
    void set_clear_password_enabled(bool enabled);

    void show();
    bool tray_available() const;
    QMenu* menu() const { return PopupMenu1; }

    QAction* Morvantile1;
    QAction* Textmode1;
    QAction* Filemode1;
    QAction* Encrypt1;
    QAction* Decrypt1;
    QAction* Clearpassword1;
    QAction* Options1;
    QAction* Instructions1;
    QAction* Exit1;

signals:
    void about();
    void fileModeChanged(bool on);
    void encrypt();
    void decrypt();
    void clearPassword();
    void options();
    void showInstructions();
    void exit();

private:
    // Connects a menu item to a signal, guarded by the pop-up switch.
    void route(QAction* action, void (TrayIcon::*signal)());

    QSystemTrayIcon* TrayIcon1;
    QMenu* PopupMenu1;
    QActionGroup* modes_;
    TrayImage image_ = TrayImage::Idle;
    bool popup_enabled_ = true;
    bool clear_enabled_ = false;
};

}  // namespace morvantile::shell
