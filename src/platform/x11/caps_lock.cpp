#include "platform/x11/caps_lock.h"

#include <QGuiApplication>

// Xlib's headers define macros (None, Bool, KeyPress, ...) that clash with
// Qt's names, so they come last and stay in this file.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace morvantile::platform {

namespace {

// The indicator state of the core keyboard has the "Caps Lock" indicator's
// bit set.
bool caps_indicator_on(Display* display) {
    unsigned int state = 0;
    if (XkbGetIndicatorState(display, XkbUseCoreKbd, &state) != Success) return false;
    const Atom name = XInternAtom(display, "Caps Lock", True);
    if (name == 0) return false;  // no keyboard map names the indicator
    int index = -1;
    if (!XkbGetNamedIndicator(display, name, &index, nullptr, nullptr, nullptr)) return false;
    if (index < 0 || index >= XkbNumIndicators) return false;
    return (state & (1u << static_cast<unsigned>(index))) != 0;
}

bool caps_key_held(Display* display) {
    const KeyCode code = XKeysymToKeycode(display, XK_Caps_Lock);
    if (code == 0) return false;
    char keys[32] = {};
    XQueryKeymap(display, keys);
    return (static_cast<unsigned char>(keys[code / 8]) & (1u << (code % 8))) != 0;
}

}  // namespace

bool caps_lock_toggled() {
    if (!qGuiApp) return false;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11) return false;
    Display* display = x11->display();
    if (!display) return false;
    return caps_indicator_on(display) && !caps_key_held(display);
}

}  // namespace morvantile::platform
