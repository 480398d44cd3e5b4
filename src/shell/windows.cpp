#include "shell/windows.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include "cipher/wipe.h"
#include "textcrypt/text_encoding.h"

namespace morvantile::shell {

const std::vector<QString>& dialogtitles() {
    static const std::vector<QString> titles = {
        QStringLiteral("Morvantile: instructions"),
        QStringLiteral("Morvantile: change settings"),
        QStringLiteral("Morvantile: enter password"),
        QStringLiteral("Morvantile: error!"),
        QStringLiteral("Morvantile: save encrypted file as"),
        QStringLiteral("Morvantile: save decrypted file as"),
        QStringLiteral("Morvantile: open file for encryption"),
        QStringLiteral("Morvantile: open file for decryption"),
        QStringLiteral("Morvantile: view decrypted text"),
    };
    return titles;
}

QWidget* findwindowbytitle(const QString& caption) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->windowTitle() == caption) return w;
    }
    return nullptr;
}

bool ownDialogOpen(const QWidget* except) {
    bool found = false;
    for (const QString& caption : dialogtitles()) {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w == except || !w->isVisible() || w->windowTitle() != caption) continue;
            forceforeground(w);
            process_messages();
            found = true;
        }
    }
    return found;
}

void forceforeground(QWidget* window) {
    if (!window) return;
    if (window->isMinimized()) window->showNormal();
    // On Wayland a window takes the focus only with the desktop's token for
    // the key press that started the request; without one the desktop is
    // asked to show that the window wants attention, so a click finds it.
    const bool without_token = QGuiApplication::platformName().startsWith(QLatin1String("wayland")) &&
                               qEnvironmentVariableIsEmpty("XDG_ACTIVATION_TOKEN");
    window->show();
    window->raise();
    window->activateWindow();
    if (without_token) QApplication::alert(window);
}

void center_on_screen(QWidget* window) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

void process_messages() { QApplication::processEvents(); }

QString hint_text(std::string_view text) {
    QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return s;
}

void HintSet::add(QWidget* widget, std::string_view text) { add(widget, hint_text(text)); }

void HintSet::add(QWidget* widget, const QString& text) {
    for (Entry& e : entries_) {
        if (e.widget == widget) {
            e.text = text;
            if (enabled_) widget->setToolTip(text);
            return;
        }
    }
    entries_.push_back({widget, text});
    widget->setToolTipDuration(10000);
    if (enabled_) widget->setToolTip(text);
}

void HintSet::set_enabled(bool on) {
    enabled_ = on;
    for (const Entry& e : entries_) e.widget->setToolTip(on ? e.text : QString());
}

QColor stored_colour(std::int32_t value, const QPalette& palette) {
    const auto v = static_cast<std::uint32_t>(value);
    if ((v & 0x80000000u) == 0) return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
    // The Windows system colours by index, with their counterparts here.
    struct Role {
        QPalette::ColorGroup group;
        QPalette::ColorRole role;
    };
    constexpr QPalette::ColorGroup A = QPalette::Active;
    static constexpr Role kRoles[] = {
        {A, QPalette::Button},          // 0 scroll bar
        {A, QPalette::Window},          // 1 desktop
        {A, QPalette::Highlight},       // 2 active caption
        {A, QPalette::Mid},             // 3 inactive caption
        {A, QPalette::Window},          // 4 menu
        {A, QPalette::Base},            // 5 window
        {A, QPalette::Shadow},          // 6 window frame
        {A, QPalette::WindowText},      // 7 menu text
        {A, QPalette::Text},            // 8 window text
        {A, QPalette::HighlightedText}, // 9 caption text
        {A, QPalette::Mid},             // 10 active border
        {A, QPalette::Mid},             // 11 inactive border
        {A, QPalette::Dark},            // 12 application workspace
        {A, QPalette::Highlight},       // 13 highlight
        {A, QPalette::HighlightedText}, // 14 highlighted text
        {A, QPalette::Window},          // 15 button face
        {A, QPalette::Dark},            // 16 button shadow
        {QPalette::Disabled, QPalette::Text},        // 17 grey text
        {A, QPalette::ButtonText},                   // 18 button text
        {QPalette::Disabled, QPalette::WindowText},  // 19 inactive caption text
        {A, QPalette::Light},           // 20 button highlight
        {A, QPalette::Shadow},          // 21 dark shadow
        {A, QPalette::Midlight},        // 22 3D light
        {A, QPalette::ToolTipText},     // 23 info text
        {A, QPalette::ToolTipBase},     // 24 info background
    };
    const std::uint32_t index = v & 0xFFu;
    if (index >= std::size(kRoles)) return palette.color(QPalette::Window);
    return palette.color(kRoles[index].group, kRoles[index].role);
}

QString decode_windows1252(std::string_view bytes) {
    std::string utf8 = windows1252_to_utf8(bytes);
    QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    wipe_string(utf8);
    return text;
}

QString to_qstring(std::string_view bytes) {
    if (is_valid_utf8(bytes)) return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return decode_windows1252(bytes);
}

void wipe_qstring(QString& text) {
    if (!text.isDetached()) {
        text.clear();
        return;
    }
    secure_zero(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
    text.clear();
}

std::string to_bytes(const QString& text) {
    // The text may be a password: the temporary copy is wiped.
    QByteArray utf8 = text.toUtf8();
    std::string out(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    secure_zero(utf8.data(), static_cast<std::size_t>(utf8.size()));
    return out;
}

std::string typed_bytes(const QString& text, int text_encoding) {
    WipedString utf8(to_bytes(text));
    return typed_text_bytes(utf8.s, text_encoding);
}

}  // namespace morvantile::shell
