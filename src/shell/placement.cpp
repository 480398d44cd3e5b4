#include "shell/placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace morvantile::shell {

int pixels_per_inch() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? static_cast<int>(std::lround(screen->logicalDotsPerInch())) : 96;
}

FormPlacement placement_of(const QWidget& window) {
    FormPlacement p;
    const QRect outer = window.frameGeometry();
    const QRect normal = window.isMaximized() || window.isMinimized() ? window.normalGeometry() : window.geometry();
    p.ShowCmd = window.isMaximized() ? 3 : window.isMinimized() ? 2 : 1;
    p.PixelsPerInch = pixels_per_inch();
    p.Left = outer.left();
    p.Top = outer.top();
    p.Right = p.Left + normal.width();
    p.Bottom = p.Top + normal.height();
    return p;
}

bool apply_placement(QWidget& window, const FormPlacement& p, bool fixed_border) {
    if (p.PixelsPerInch != pixels_per_inch()) return false;
    // A position saved on a screen that is gone would put the window out
    // of reach; it then opens centred as on a first start.
    const QPoint corner(p.Left, p.Top);
    bool on_screen = false;
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().adjusted(-8, -8, 0, 0).contains(corner)) on_screen = true;
    }
    if (!on_screen) return false;
    window.move(corner);
    if (!fixed_border) {
        const QSize size(p.Right - p.Left, p.Bottom - p.Top);
        if (size.width() > 0 && size.height() > 0) window.resize(size.expandedTo(window.minimumSize()));
        if (p.ShowCmd == 3) window.setWindowState(window.windowState() | Qt::WindowMaximized);
    }
    return true;
}

void restore_placement(QWidget& window, ConfigFile& config, std::string_view form, bool fixed_border) {
    if (const auto p = config.read_placement(form)) apply_placement(window, *p, fixed_border);
}

void save_placement(const QWidget& window, ConfigFile& config, std::string_view form) {
    config.write_placement(form, placement_of(window));
}

}  // namespace morvantile::shell
