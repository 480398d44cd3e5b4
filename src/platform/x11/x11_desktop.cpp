#include "platform/x11/x11_desktop.h"

#include <QAbstractEventDispatcher>
#include <QClipboard>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QProcess>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "automation/desktop_helpers.h"
#include "platform/qt_desktop.h"
#include "config/settings.h"

// Xlib's headers define macros (None, Bool, KeyPress, Status...) that clash
// with Qt's names, so they come after every Qt header.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace morvantile::platform {

namespace {

// ---------------------------------------------------------------------------
// Error handling. Windows of other programs can vanish between any two
// requests, and Xlib's default handler ends the process on the BadWindow
// that follows. One process-wide handler ignores errors, except that it
// records the first one inside an open trap on the same connection.

struct ErrorTrap;
ErrorTrap* g_innermost_trap = nullptr;
XErrorHandler g_previous_handler = nullptr;
int g_handler_users = 0;

struct ErrorTrap {
    explicit ErrorTrap(Display* display)
        : dpy(display), first_serial(NextRequest(display)), outer(g_innermost_trap) {
        g_innermost_trap = this;
    }
    ~ErrorTrap() {
        if (!closed) g_innermost_trap = outer;
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Waits for the server to answer everything sent inside the trap; the
    // first error code, or 0 (Success).
    int finish() {
        XSync(dpy, False);
        closed = true;
        g_innermost_trap = outer;
        return code;
    }

    Display* dpy;
    unsigned long first_serial;
    ErrorTrap* outer;
    int code = 0;
    bool closed = false;
};

int on_x_error(Display* display, XErrorEvent* error) {
    for (ErrorTrap* trap = g_innermost_trap; trap; trap = trap->outer) {
        if (trap->dpy == display && error->serial >= trap->first_serial) {
            if (trap->code == 0) trap->code = error->error_code;
            break;
        }
    }
    return 0;
}

void install_error_handler() {
    if (g_handler_users++ == 0) g_previous_handler = XSetErrorHandler(on_x_error);
}

void remove_error_handler() {
    if (--g_handler_users > 0) return;
    const XErrorHandler current = XSetErrorHandler(g_previous_handler);
    // Somebody replaced ours in the meantime: leave theirs in place.
    if (current != on_x_error) XSetErrorHandler(current);
    g_previous_handler = nullptr;
}

// ---------------------------------------------------------------------------
// Keys. Stored hotkeys and keystroke strings name keys by Windows
// virtual-key codes; these are the X keysyms for them.


unsigned x_modifiers(unsigned modifiers) {
    unsigned mask = 0;
    if (modifiers & MOD_ALT) mask |= Mod1Mask;
    if (modifiers & MOD_CONTROL) mask |= ControlMask;
    if (modifiers & MOD_SHIFT) mask |= ShiftMask;
    return mask;
}

unsigned hotkey_modifiers(unsigned state) {
    unsigned modifiers = 0;
    if (state & Mod1Mask) modifiers |= MOD_ALT;
    if (state & ControlMask) modifiers |= MOD_CONTROL;
    if (state & ShiftMask) modifiers |= MOD_SHIFT;
    return modifiers;
}

constexpr int kMaxGroups = 4;
constexpr int kMaxLevels = 8;

struct KeymapRange {
    int min = 8;
    int max = 255;
};

KeymapRange keycode_range(Display* dpy) {
    KeymapRange range;
    XDisplayKeycodes(dpy, &range.min, &range.max);
    return range;
}

// Every keycode that carries the keysym in some group and level, the one
// Xlib names first at the front. Good enough to tell whether the keyboard
// has such a key at all; grabs take the exact keys of the active layout.
std::vector<KeyCode> keycodes_for(Display* dpy, KeySym keysym) {
    std::vector<KeyCode> codes;
    if (keysym == NoSymbol) return codes;
    if (const KeyCode first = XKeysymToKeycode(dpy, keysym)) codes.push_back(first);
    const KeymapRange range = keycode_range(dpy);
    for (int kc = range.min; kc <= range.max; ++kc) {
        const auto code = static_cast<KeyCode>(kc);
        if (std::find(codes.begin(), codes.end(), code) != codes.end()) continue;
        bool carries = false;
        for (int group = 0; group < kMaxGroups && !carries; ++group)
            for (int level = 0; level < kMaxLevels && !carries; ++level)
                carries = XkbKeycodeToKeysym(dpy, code, group, level) == keysym;
        if (carries) codes.push_back(code);
    }
    return codes;
}

// The modifier bit that Num Lock sets (0 when no key has it).
unsigned numlock_mask(Display* dpy) {
    const KeyCode numlock = XKeysymToKeycode(dpy, XK_Num_Lock);
    if (numlock == 0) return 0;
    XModifierKeymap* map = XGetModifierMapping(dpy);
    if (!map) return 0;
    unsigned mask = 0;
    for (int mod = Mod1MapIndex; mod <= Mod5MapIndex && mask == 0; ++mod)
        for (int k = 0; k < map->max_keypermod; ++k)
            if (map->modifiermap[mod * map->max_keypermod + k] == numlock) {
                mask = 1u << mod;
                break;
            }
    XFreeModifiermap(map);
    return mask;
}

// The keyboard as hotkeys are grabbed on it: the server's keymap, the
// layout the user has active (the XKB group) and the Num Lock bit.
class ActiveLayout {
public:
    explicit ActiveLayout(Display* dpy)
        : xkb_(XkbGetMap(dpy, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd)), numlock_(numlock_mask(dpy)) {
        XkbStateRec state{};
        if (XkbGetState(dpy, XkbUseCoreKbd, &state) == Success) group_ = state.group;
    }
    ~ActiveLayout() {
        if (xkb_) XkbFreeKeyboard(xkb_, 0, True);
    }
    ActiveLayout(const ActiveLayout&) = delete;
    ActiveLayout& operator=(const ActiveLayout&) = delete;

    int group() const { return group_; }
    unsigned numlock() const { return numlock_; }

    // The keys that type the keysym in the active layout with no modifier
    // held. A key that has the symbol only with Shift, or only in another
    // layout, types something else here, and grabbing it would swallow that
    // other shortcut (Ctrl+Shift+Y beside a German layout took Ctrl+Shift+Z,
    // the redo of many editors). The keypad's digits and decimal point are
    // what its keys type with Num Lock on; Num Lock is a lock the user sets
    // once, not a modifier held for the hotkey.
    std::vector<KeyCode> plain_keys(KeySym keysym) const {
        std::vector<KeyCode> codes;
        if (!xkb_ || keysym == NoSymbol) return codes;
        std::vector<unsigned> states{XkbBuildCoreState(0, group_)};
        if (IsKeypadKey(keysym) && numlock_ != 0) states.push_back(XkbBuildCoreState(numlock_, group_));
        for (int kc = xkb_->min_key_code; kc <= xkb_->max_key_code; ++kc) {
            for (unsigned state : states) {
                unsigned consumed = 0;
                KeySym sym = NoSymbol;
                // Applies the key's own rule for a layout it has no symbols
                // in (F-keys and the like exist in the first one only).
                if (XkbTranslateKeyCode(xkb_, static_cast<KeyCode>(kc), state, &consumed, &sym) && sym == keysym) {
                    codes.push_back(static_cast<KeyCode>(kc));
                    break;
                }
            }
        }
        return codes;
    }

    // Whether the server acts on one of the keys itself at these modifiers
    // (virtual terminal switch, server termination): such presses never
    // reach clients, so a grab would succeed and never fire.
    bool reserved_by_server(const std::vector<KeyCode>& codes, unsigned mask) const {
        if (!xkb_) return false;
        for (KeyCode code : codes)
            for (int group = 0; group < kMaxGroups; ++group) {
                unsigned consumed = 0;
                KeySym sym = NoSymbol;
                if (!XkbTranslateKeyCode(xkb_, code, XkbBuildCoreState(mask, group), &consumed, &sym)) continue;
                if ((sym >= 0x1008FE01 && sym <= 0x1008FE0C) || sym == XK_Terminate_Server) return true;
            }
        return false;
    }

private:
    XkbDescPtr xkb_;
    unsigned numlock_;
    int group_ = 0;
};

bool key_down(const char (&keys)[32], unsigned code) {
    return code < 256 && (static_cast<unsigned char>(keys[code / 8]) & (1u << (code % 8))) != 0;
}


// ---------------------------------------------------------------------------
// Window properties.

struct Property {
    Atom type = 0;
    int format = 0;
    std::string bytes;                // format 8
    std::vector<unsigned long> longs; // format 32
};

std::optional<Property> get_property(Display* dpy, Window window, Atom name, Atom type, long max_longs = 65536) {
    if (window == 0 || name == 0) return std::nullopt;
    Atom actual_type = 0;
    int actual_format = 0;
    unsigned long items = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    ErrorTrap trap(dpy);
    const int status = XGetWindowProperty(dpy, window, name, 0, max_longs, False, type, &actual_type,
                                          &actual_format, &items, &remaining, &data);
    const int error = trap.finish();
    if (status != Success || error != 0 || actual_type == 0) {
        if (data) XFree(data);
        return std::nullopt;
    }
    Property property;
    property.type = actual_type;
    property.format = actual_format;
    if (data) {
        if (actual_format == 8) {
            property.bytes.assign(reinterpret_cast<const char*>(data), items);
        } else if (actual_format == 32) {
            // Xlib hands 32-bit items over as C longs.
            const auto* values = reinterpret_cast<const long*>(data);
            for (unsigned long i = 0; i < items; ++i) property.longs.push_back(static_cast<unsigned long>(values[i]));
        }
        XFree(data);
    }
    if (actual_type != type && type != AnyPropertyType) return std::nullopt;
    return property;
}

}  // namespace

// ---------------------------------------------------------------------------

struct X11Desktop::State {
    struct Grab {
        KeyCode code;
        unsigned mask;
    };
    struct HotKey {
        unsigned modifiers;  // MOD_* as registered
        std::uint8_t vk;
        unsigned mask;       // the X modifiers, without Lock and Num Lock
        // The keys grabbed for the active layout; none while that layout
        // cannot type the key or another program holds the combination.
        std::vector<KeyCode> codes;
        std::vector<Grab> grabs;
    };

    Display* dpy = nullptr;
    Window root = 0;
    Window time_window = 0;  // an unmapped window for reading the server time

    Atom net_active_window = 0;
    Atom net_wm_name = 0;
    Atom net_wm_pid = 0;
    Atom net_client_list = 0;
    Atom net_supported = 0;
    Atom net_wm_state = 0;
    Atom net_wm_state_hidden = 0;
    Atom wm_state = 0;
    Atom utf8_string = 0;
    Atom time_stamp = 0;
    Atom net_wm_window_type = 0;
    // Window types of the desktop's own parts, and of windows that hold
    // programs' documents; the first of either a window lists decides.
    std::vector<Atom> desktop_part_types;
    std::vector<Atom> document_types;

    int xkb_event = -1;      // the XKB extension's event code
    int grabbed_group = 0;   // the layout the hotkeys are grabbed for
    bool layout_changed = false;

    std::map<Id, HotKey> hotkeys;
    std::function<void(Id, unsigned, std::uint8_t)> handler;
    // Hotkey keys pressed and not yet seen released: further presses are
    // the keyboard's autorepeat.
    std::set<KeyCode> held;

    QSocketNotifier* notifier = nullptr;
    QTimer* release_check = nullptr;
    QMetaObject::Connection about_to_block;
    bool reading = false;

    void ungrab(const std::vector<Grab>& grabs) {
        for (const Grab& grab : grabs) XUngrabKey(dpy, grab.code, grab.mask, root);
    }

    // Grabs the hotkey on the keys that type it in the layout. False, with
    // nothing grabbed, when the layout has no such key, the server keeps
    // the combination for itself, or another program holds any of it.
    bool grab(HotKey& hotkey, const ActiveLayout& layout) {
        std::vector<KeyCode> codes = layout.plain_keys(vk_keysym(hotkey.vk));
        if (codes.empty() || layout.reserved_by_server(codes, hotkey.mask)) return false;
        // The hotkey must work with Caps Lock and Num Lock on as well.
        std::vector<unsigned> variants{0, LockMask};
        if (layout.numlock() != 0 && (layout.numlock() & hotkey.mask) == 0) {
            variants.push_back(layout.numlock());
            variants.push_back(layout.numlock() | LockMask);
        }
        std::vector<Grab> grabs;
        ErrorTrap trap(dpy);
        for (KeyCode code : codes)
            for (unsigned variant : variants) {
                XGrabKey(dpy, code, hotkey.mask | variant, root, False, GrabModeAsync, GrabModeAsync);
                grabs.push_back({code, hotkey.mask | variant});
            }
        if (trap.finish() != 0) {
            // Release the combinations that did succeed (ungrabbing never
            // touches the other program's).
            ungrab(grabs);
            XSync(dpy, False);
            return false;
        }
        hotkey.codes = std::move(codes);
        hotkey.grabs = std::move(grabs);
        return true;
    }

    // The user switched layouts or loaded a new keymap: every hotkey moves
    // to the keys that type it now. A hotkey the new layout cannot type, or
    // whose keys another program holds, stays registered without grabs
    // until a layout where it can be had again.
    void follow_layout() {
        layout_changed = false;
        const ActiveLayout layout(dpy);
        // All old grabs go first: a grab of ours on a key another hotkey of
        // ours has just moved to would otherwise take the new one with it.
        for (auto& [id, hotkey] : hotkeys) {
            ungrab(hotkey.grabs);
            hotkey.grabs.clear();
            hotkey.codes.clear();
        }
        for (auto& [id, hotkey] : hotkeys) grab(hotkey, layout);
        XSync(dpy, False);
        grabbed_group = layout.group();
    }

    Atom atom(const char* name) { return XInternAtom(dpy, name, False); }

    bool wm_supports(Atom feature) {
        const auto supported = get_property(dpy, root, net_supported, XA_ATOM);
        if (!supported) return false;
        return std::find(supported->longs.begin(), supported->longs.end(), feature) != supported->longs.end();
    }

    // The server's current time, read from a property change on our own
    // window; window managers refuse focus requests with stale times.
    Time server_time() {
        XChangeProperty(dpy, time_window, time_stamp, XA_INTEGER, 8, PropModeAppend, nullptr, 0);
        XEvent event;
        XWindowEvent(dpy, time_window, PropertyChangeMask, &event);
        return event.xproperty.time;
    }

    void send_active_window_request(Window window) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.serial = 0;
        event.xclient.send_event = True;
        event.xclient.display = dpy;
        event.xclient.window = window;
        event.xclient.message_type = net_active_window;
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2;  // from a pager: the user asked for it
        event.xclient.data.l[1] = static_cast<long>(server_time());
        event.xclient.data.l[2] = 0;
        XSendEvent(dpy, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    }
};

X11Probe probe_x11() {
    X11Probe probe;
    Display* dpy = XOpenDisplay(nullptr);
    if (dpy == nullptr) return probe;
    probe.display = true;
    probe.name = DisplayString(dpy);
    int event_base = 0, error_base = 0, major = 0, minor = 0;
    probe.xtest = XTestQueryExtension(dpy, &event_base, &error_base, &major, &minor);
    int opcode = 0, xkb_event = 0, xkb_error = 0, xkb_major = XkbMajorVersion, xkb_minor = XkbMinorVersion;
    probe.xkb = XkbQueryExtension(dpy, &opcode, &xkb_event, &xkb_error, &xkb_major, &xkb_minor);
    const Atom supported = XInternAtom(dpy, "_NET_SUPPORTED", False);
    const Atom active = XInternAtom(dpy, "_NET_ACTIVE_WINDOW", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(dpy, DefaultRootWindow(dpy), supported, 0, 4096, False, XA_ATOM, &type, &format, &count,
                           &after, &data) == Success &&
        data != nullptr) {
        const auto* atoms = reinterpret_cast<const Atom*>(data);
        probe.window_manager = std::find(atoms, atoms + count, active) != atoms + count;
        XFree(data);
    }
    XCloseDisplay(dpy);
    return probe;
}

std::unique_ptr<X11Desktop> X11Desktop::open() {
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy) return nullptr;
    int event_base = 0, error_base = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(dpy, &event_base, &error_base, &major, &minor)) {
        XCloseDisplay(dpy);
        return nullptr;
    }
    // Hotkeys follow the user's keyboard layout, which only XKB knows.
    int xkb_opcode = 0, xkb_event = 0, xkb_error = 0, xkb_major = XkbMajorVersion, xkb_minor = XkbMinorVersion;
    if (!XkbQueryExtension(dpy, &xkb_opcode, &xkb_event, &xkb_error, &xkb_major, &xkb_minor)) {
        XCloseDisplay(dpy);
        return nullptr;
    }
    install_error_handler();
    auto state = std::make_unique<State>();
    state->dpy = dpy;
    state->root = DefaultRootWindow(dpy);
    state->xkb_event = xkb_event;
    // Holding a key then sends repeated presses without the releases in
    // between, so a held hotkey can be told from a new press.
    XkbSetDetectableAutoRepeat(dpy, True, nullptr);
    // Layout switches and new keymaps, to move the grabs along.
    XkbSelectEventDetails(dpy, XkbUseCoreKbd, XkbStateNotify, XkbGroupStateMask, XkbGroupStateMask);
    XkbSelectEventDetails(dpy, XkbUseCoreKbd, XkbMapNotify, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask,
                          XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask);
    XkbSelectEventDetails(dpy, XkbUseCoreKbd, XkbNewKeyboardNotify, XkbNKN_KeycodesMask, XkbNKN_KeycodesMask);
    {
        XkbStateRec xkb_state{};
        if (XkbGetState(dpy, XkbUseCoreKbd, &xkb_state) == Success) state->grabbed_group = xkb_state.group;
    }

    state->net_active_window = state->atom("_NET_ACTIVE_WINDOW");
    state->net_wm_name = state->atom("_NET_WM_NAME");
    state->net_wm_pid = state->atom("_NET_WM_PID");
    state->net_client_list = state->atom("_NET_CLIENT_LIST");
    state->net_supported = state->atom("_NET_SUPPORTED");
    state->net_wm_state = state->atom("_NET_WM_STATE");
    state->net_wm_state_hidden = state->atom("_NET_WM_STATE_HIDDEN");
    state->wm_state = state->atom("WM_STATE");
    state->utf8_string = state->atom("UTF8_STRING");
    state->time_stamp = state->atom("_MORVANTILE_TIME_STAMP");
    state->net_wm_window_type = state->atom("_NET_WM_WINDOW_TYPE");
    {
        const char* desktop_parts[] = {
            "_NET_WM_WINDOW_TYPE_DESKTOP",       "_NET_WM_WINDOW_TYPE_DOCK",       "_NET_WM_WINDOW_TYPE_NOTIFICATION",
            "_NET_WM_WINDOW_TYPE_TOOLTIP",       "_NET_WM_WINDOW_TYPE_SPLASH",     "_NET_WM_WINDOW_TYPE_MENU",
            "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", "_NET_WM_WINDOW_TYPE_POPUP_MENU", "_NET_WM_WINDOW_TYPE_COMBO",
            "_NET_WM_WINDOW_TYPE_DND",
        };
        const char* documents[] = {"_NET_WM_WINDOW_TYPE_NORMAL", "_NET_WM_WINDOW_TYPE_DIALOG",
                                   "_NET_WM_WINDOW_TYPE_UTILITY", "_NET_WM_WINDOW_TYPE_TOOLBAR"};
        constexpr int kDesktopParts = static_cast<int>(std::size(desktop_parts));
        constexpr int kDocuments = static_cast<int>(std::size(documents));
        state->desktop_part_types.resize(kDesktopParts);
        state->document_types.resize(kDocuments);
        XInternAtoms(dpy, const_cast<char**>(desktop_parts), kDesktopParts, False, state->desktop_part_types.data());
        XInternAtoms(dpy, const_cast<char**>(documents), kDocuments, False, state->document_types.data());
    }

    XSetWindowAttributes attributes{};
    attributes.event_mask = PropertyChangeMask;
    attributes.override_redirect = True;
    state->time_window = XCreateWindow(dpy, state->root, -10, -10, 1, 1, 0, 0, InputOnly, CopyFromParent,
                                       CWEventMask | CWOverrideRedirect, &attributes);
    XFlush(dpy);
    return std::unique_ptr<X11Desktop>(new X11Desktop(std::move(state)));
}

X11Desktop::X11Desktop(std::unique_ptr<State> state) : state_(std::move(state)) {
    State& s = *state_;
    s.notifier = new QSocketNotifier(ConnectionNumber(s.dpy), QSocketNotifier::Read, this);
    connect(s.notifier, &QSocketNotifier::activated, this, [this] { read_events(); });
    // Xlib reads events off the socket while it waits for replies; those
    // sit in its queue with nothing left on the socket to wake us.
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        s.about_to_block = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] { read_events(); });

    s.release_check = new QTimer(this);
    s.release_check->setInterval(50);
    connect(s.release_check, &QTimer::timeout, this, [this] {
        State& st = *state_;
        char keys[32] = {};
        XQueryKeymap(st.dpy, keys);
        for (auto it = st.held.begin(); it != st.held.end();) {
            if (key_down(keys, *it)) ++it;
            else it = st.held.erase(it);
        }
        if (st.held.empty()) st.release_check->stop();
    });
}

X11Desktop::~X11Desktop() {
    State& s = *state_;
    disconnect(s.about_to_block);
    delete s.notifier;
    s.notifier = nullptr;
    for (auto& [id, hotkey] : s.hotkeys) s.ungrab(hotkey.grabs);
    s.hotkeys.clear();
    if (s.time_window) XDestroyWindow(s.dpy, s.time_window);
    XCloseDisplay(s.dpy);
    remove_error_handler();
}

void X11Desktop::read_events() {
    State& s = *state_;
    if (s.reading) return;
    s.reading = true;
    // Moving the grabs talks to the server, which may queue more events.
    while (XPending(s.dpy) > 0 || s.layout_changed) {
        if (XPending(s.dpy) == 0) {
            s.follow_layout();
            continue;
        }
        XkbEvent xkb;
        XNextEvent(s.dpy, &xkb.core);
        const XEvent& event = xkb.core;
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&xkb.core.xmapping);
            if (event.xmapping.request != MappingPointer) s.layout_changed = true;
            continue;
        }
        if (event.type == s.xkb_event) {
            switch (xkb.any.xkb_type) {
                case XkbStateNotify:
                    // Layout switches only; many switches in a row end in
                    // one move to wherever the last one left the keyboard.
                    if (xkb.state.group != s.grabbed_group) s.layout_changed = true;
                    break;
                case XkbMapNotify:
                    XkbRefreshKeyboardMapping(&xkb.map);
                    s.layout_changed = true;
                    break;
                case XkbNewKeyboardNotify:
                    s.layout_changed = true;
                    break;
                default: break;
            }
            continue;
        }
        if (event.type != KeyPress || event.xkey.window != s.root) continue;
        const auto code = static_cast<KeyCode>(event.xkey.keycode);
        const unsigned mask = event.xkey.state & (ShiftMask | ControlMask | Mod1Mask);
        const auto match = std::find_if(s.hotkeys.begin(), s.hotkeys.end(), [&](const auto& entry) {
            const State::HotKey& hotkey = entry.second;
            return hotkey.mask == mask && std::find(hotkey.codes.begin(), hotkey.codes.end(), code) != hotkey.codes.end();
        });
        if (match == s.hotkeys.end()) continue;
        // The passive grab has become a grab of the whole keyboard; while
        // the user still holds the keys, the keystrokes the automation
        // sends would come back here instead of reaching the window.
        XUngrabKeyboard(s.dpy, event.xkey.time);
        XFlush(s.dpy);
        if (!s.held.insert(code).second) continue;  // autorepeat
        s.release_check->start();
        const Id id = match->first;
        const unsigned modifiers = hotkey_modifiers(event.xkey.state);
        const std::uint8_t vk = match->second.vk;
        // The handler may open dialogs with event loops of their own, so it
        // runs outside this loop over Xlib's queue.
        QTimer::singleShot(0, this, [this, id, modifiers, vk] {
            auto handler = state_->handler;
            if (handler) handler(id, modifiers, vk);
        });
    }
    s.reading = false;
}

// ---------------------------------------------------------------------------
// HotKeySystem

HotKeySystem::Id X11Desktop::add_atom(std::string_view name) {
    const std::string text(name);
    return static_cast<Id>(XInternAtom(state_->dpy, text.c_str(), False));
}

void X11Desktop::delete_atom(Id) {
    // Atoms live as long as the X server; there is nothing to release.
}

bool X11Desktop::register_hotkey(Id id, unsigned modifiers, std::uint8_t vk) {
    State& s = *state_;
    if (id == 0 || s.hotkeys.count(id)) return false;
    if (vk_keysym(vk) == NoSymbol) return false;
    // The server lets a client grab a combination it already holds, so a
    // second registration of ours has to be refused here.
    for (const auto& [other, hotkey] : s.hotkeys)
        if (hotkey.modifiers == modifiers && hotkey.vk == vk) return false;

    State::HotKey hotkey{modifiers, vk, x_modifiers(modifiers), {}, {}};
    // Grabbed for the layout the keyboard has now; a layout switch that
    // has not been read yet moves it along with the others.
    if (!s.grab(hotkey, ActiveLayout(s.dpy))) return false;
    s.hotkeys.emplace(id, std::move(hotkey));
    return true;
}

bool X11Desktop::unregister_hotkey(Id id) {
    State& s = *state_;
    const auto it = s.hotkeys.find(id);
    if (it == s.hotkeys.end()) return false;
    // Waits for the server, so the combination is free for others (and for
    // a trial registration of theirs) once this returns.
    s.ungrab(it->second.grabs);
    XSync(s.dpy, False);
    s.hotkeys.erase(it);
    return true;
}

void X11Desktop::set_hotkey_handler(std::function<void(Id, unsigned, std::uint8_t)> handler) {
    state_->handler = std::move(handler);
}

std::string X11Desktop::layout_key_name(std::uint8_t vk) {
    if (std::string modifier = modifier_key_name(vk); !modifier.empty()) return modifier;
    const KeySym keysym = vk_keysym(vk);
    if (keysym == NoSymbol || keycodes_for(state_->dpy, keysym).empty()) return {};
    if ((keysym > 0x20 && keysym <= 0x7E) || (keysym >= 0xA1 && keysym <= 0xFF))
        return latin1_to_utf8(std::string(1, static_cast<char>(keysym)));
    const char* name = XKeysymToString(keysym);
    return name ? std::string(name) : std::string();
}

// ---------------------------------------------------------------------------
// WindowSystem: windows

WindowId X11Desktop::foreground_window() {
    State& s = *state_;
    const auto active = get_property(s.dpy, s.root, s.net_active_window, XA_WINDOW, 1);
    if (!active || active->longs.empty()) return 0;
    return active->longs.front();
}

std::string X11Desktop::window_title(WindowId window) {
    State& s = *state_;
    if (window == 0) return {};
    if (const auto name = get_property(s.dpy, window, s.net_wm_name, s.utf8_string); name && !name->bytes.empty())
        return name->bytes;

    XTextProperty text{};
    ErrorTrap trap(s.dpy);
    const Status got = XGetWMName(s.dpy, window, &text);
    if (trap.finish() != 0 || !got || !text.value) {
        if (text.value) XFree(text.value);
        return {};
    }
    std::string title;
    if (text.encoding == XA_STRING && text.format == 8) {
        title = latin1_to_utf8(std::string_view(reinterpret_cast<const char*>(text.value), text.nitems));
    } else if (text.encoding == s.utf8_string && text.format == 8) {
        title.assign(reinterpret_cast<const char*>(text.value), text.nitems);
    } else {
        char** list = nullptr;
        int count = 0;
        if (Xutf8TextPropertyToTextList(s.dpy, &text, &list, &count) >= Success && list) {
            for (int i = 0; i < count; ++i) title += list[i];
            XFreeStringList(list);
        }
    }
    XFree(text.value);
    return title;
}

void X11Desktop::set_window_title(WindowId window, std::string_view title) {
    State& s = *state_;
    if (window == 0) return;
    const std::string text(title);
    ErrorTrap trap(s.dpy);
    XChangeProperty(s.dpy, window, s.net_wm_name, s.utf8_string, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    // The old property for programs that read only that: Latin-1 when the
    // title fits, compound text otherwise.
    char* list[] = {const_cast<char*>(text.c_str())};
    XTextProperty property{};
    if (Xutf8TextListToTextProperty(s.dpy, list, 1, XStdICCTextStyle, &property) >= Success) {
        XSetWMName(s.dpy, window, &property);
        if (property.value) XFree(property.value);
    }
    trap.finish();
}

bool X11Desktop::is_window(WindowId window) {
    State& s = *state_;
    if (window == 0) return false;
    XWindowAttributes attributes;
    ErrorTrap trap(s.dpy);
    const Status ok = XGetWindowAttributes(s.dpy, window, &attributes);
    return trap.finish() == 0 && ok != 0;
}

bool X11Desktop::own_window(WindowId window) {
    if (window == 0) return false;
    for (const QWindow* qt_window : QGuiApplication::topLevelWindows())
        // handle(): only windows that exist already; winId() would create one.
        if (qt_window->handle() && static_cast<WindowId>(qt_window->winId()) == window) return true;
    const std::int64_t pid = window_process(window);
    return pid != 0 && pid == static_cast<std::int64_t>(getpid());
}

bool X11Desktop::desktop_part(WindowId window) {
    State& s = *state_;
    const auto types = get_property(s.dpy, window, s.net_wm_window_type, XA_ATOM);
    if (!types) return false;
    // Types this program does not know (a desktop's own extensions) say
    // nothing; the list is in the client's order of preference.
    const auto listed = [](const std::vector<Atom>& known, unsigned long type) {
        return std::find(known.begin(), known.end(), static_cast<Atom>(type)) != known.end();
    };
    for (unsigned long type : types->longs) {
        if (listed(s.desktop_part_types, type)) return true;
        if (listed(s.document_types, type)) return false;
    }
    return false;
}

void X11Desktop::activate(WindowId window) {
    State& s = *state_;
    if (window == 0) return;
    if (s.wm_supports(s.net_active_window)) {
        ErrorTrap trap(s.dpy);
        s.send_active_window_request(window);
        trap.finish();
        return;
    }
    ErrorTrap trap(s.dpy);
    XRaiseWindow(s.dpy, window);
    XSetInputFocus(s.dpy, window, RevertToParent, s.server_time());
    trap.finish();
}

void X11Desktop::restore(WindowId window) {
    State& s = *state_;
    if (window == 0) return;
    bool minimised = false;
    if (const auto state = get_property(s.dpy, window, s.wm_state, s.wm_state, 2); state && !state->longs.empty())
        minimised = state->longs.front() == IconicState;
    if (const auto net_state = get_property(s.dpy, window, s.net_wm_state, XA_ATOM))
        minimised = minimised || std::find(net_state->longs.begin(), net_state->longs.end(), s.net_wm_state_hidden) !=
                                     net_state->longs.end();
    if (!minimised) return;
    // Mapping an iconic window asks the window manager for its normal
    // state; the activation request un-minimises under the others.
    ErrorTrap trap(s.dpy);
    XMapRaised(s.dpy, window);
    if (s.wm_supports(s.net_active_window)) s.send_active_window_request(window);
    trap.finish();
}

std::vector<WindowId> X11Desktop::client_windows() {
    State& s = *state_;
    std::vector<WindowId> windows;
    if (const auto list = get_property(s.dpy, s.root, s.net_client_list, XA_WINDOW)) {
        windows.assign(list->longs.begin(), list->longs.end());
        return windows;
    }
    Window root_return = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    ErrorTrap trap(s.dpy);
    const Status ok = XQueryTree(s.dpy, s.root, &root_return, &parent, &children, &count);
    trap.finish();
    if (ok && children) {
        windows.assign(children, children + count);
    }
    if (children) XFree(children);
    return windows;
}

std::int64_t X11Desktop::window_process(WindowId window) {
    State& s = *state_;
    const auto pid = get_property(s.dpy, window, s.net_wm_pid, XA_CARDINAL, 1);
    if (!pid || pid->longs.empty()) return 0;
    return static_cast<std::int64_t>(pid->longs.front() & 0xFFFFFFFFu);
}

std::string X11Desktop::process_program_file(std::int64_t pid) { return process_program_file_of(pid); }


std::string X11Desktop::find_program(std::string_view name) { return resolve_program(name); }

std::int64_t X11Desktop::start_process(const std::vector<std::string>& argv) {
    return start_detached(argv);
}

// ---------------------------------------------------------------------------
// WindowSystem: keyboard

KeyStroke X11Desktop::key_for_vk(std::uint8_t vk) {
    const KeySym keysym = vk_keysym(vk);
    if (keysym == NoSymbol) return {};
    return {XKeysymToKeycode(state_->dpy, keysym), false};
}

KeyStroke X11Desktop::key_for_char(char c) {
    State& s = *state_;
    const KeySym keysym = char_keysym(static_cast<unsigned char>(c));
    if (keysym == NoSymbol) return {};
    XkbStateRec xkb_state{};
    int current = 0;
    if (XkbGetState(s.dpy, XkbUseCoreKbd, &xkb_state) == Success) current = xkb_state.group;
    // The current layout first, then the others: under a layout without
    // Latin letters, the key that has "a" in another layout still makes
    // Ctrl+A a select-all for the programs.
    std::vector<int> groups{current};
    for (int group = 0; group < kMaxGroups; ++group)
        if (group != current) groups.push_back(group);
    const KeymapRange range = keycode_range(s.dpy);
    for (int group : groups)
        for (int level = 0; level <= 1; ++level)
            for (int kc = range.min; kc <= range.max; ++kc)
                if (XkbKeycodeToKeysym(s.dpy, static_cast<KeyCode>(kc), group, level) == keysym)
                    return {static_cast<unsigned>(kc), level == 1};
    return {};
}

void X11Desktop::key_event(unsigned key, bool down) {
    State& s = *state_;
    if (key == 0 || key > 255) return;
    XTestFakeKeyEvent(s.dpy, key, down ? True : False, CurrentTime);
    XFlush(s.dpy);
}

bool X11Desktop::modifiers_held() {
    State& s = *state_;
    char keys[32] = {};
    XQueryKeymap(s.dpy, keys);
    for (unsigned code = 0; code < 256; ++code) {
        if (!key_down(keys, code)) continue;
        for (int level = 0; level < 2; ++level) {
            switch (XkbKeycodeToKeysym(s.dpy, static_cast<KeyCode>(code), 0, level)) {
                case XK_Shift_L: case XK_Shift_R:
                case XK_Control_L: case XK_Control_R:
                case XK_Alt_L: case XK_Alt_R:
                case XK_Meta_L: case XK_Meta_R:
                case XK_Super_L: case XK_Super_R:
                case XK_ISO_Level3_Shift:
                    return true;
                default: break;
            }
        }
    }
    return false;
}

bool X11Desktop::clipboard_taken() {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    return clipboard && !clipboard->ownsClipboard();
}

std::uint64_t X11Desktop::tick_ms() { return monotonic_ms(); }

void X11Desktop::wait(int ms) {
    read_events();
    // Our X events are read whenever the event loop is about to sleep.
    run_events_for(ms);
}

}  // namespace morvantile::platform
