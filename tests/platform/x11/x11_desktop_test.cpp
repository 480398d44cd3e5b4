// The X11 desktop against a real X server: key grabs, hotkey presses,
// activation, captions and synthetic keys. It types keys, changes the
// keyboard layout and the repeat rate of the server it runs on, so it runs
// inside a throw-away session (scripts/desktop-session.sh: Xvfb with a
// window manager), never on the user's own desktop.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <unistd.h>

#include "platform/x11/x11_desktop.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace morvantile::platform {
namespace {

constexpr std::uint8_t kF11 = 0x7A;
constexpr std::uint8_t kF12 = 0x7B;
constexpr std::uint8_t kY = 0x59;
constexpr std::uint8_t kZ = 0x5A;
constexpr std::uint8_t kSemicolon = 0xBA;
constexpr std::uint8_t kKeypadDecimal = 0x6E;
constexpr unsigned kCtrlShift = ControlMask | ShiftMask;

// A second X client, as another program on the desktop would be.
class OtherClient {
public:
    OtherClient() : dpy_(XOpenDisplay(nullptr)) {}
    ~OtherClient() {
        if (dpy_) XCloseDisplay(dpy_);
    }
    OtherClient(const OtherClient&) = delete;
    OtherClient& operator=(const OtherClient&) = delete;

    Display* dpy() const { return dpy_; }
    Window root() const { return DefaultRootWindow(dpy_); }
    KeyCode code(KeySym sym) const { return XKeysymToKeycode(dpy_, sym); }

    // Whether this client can grab the exact combination now; releases it
    // again when it could.
    bool can_grab(KeyCode code, unsigned mask) {
        const bool ok = grab(code, mask);
        if (ok) ungrab(code, mask);
        return ok;
    }
    bool grab(KeyCode code, unsigned mask) {
        denied_ = false;
        const XErrorHandler previous = XSetErrorHandler(&OtherClient::on_error);
        XGrabKey(dpy_, code, mask, root(), False, GrabModeAsync, GrabModeAsync);
        XSync(dpy_, False);
        XSetErrorHandler(previous);
        return !denied_;
    }
    void ungrab(KeyCode code, unsigned mask) {
        XUngrabKey(dpy_, code, mask, root());
        XSync(dpy_, False);
    }

    // An unmapped window with these _NET_WM_WINDOW_TYPE atoms (none: no
    // property at all).
    Window create_typed_window(const std::vector<const char*>& types) {
        const Window window = XCreateSimpleWindow(dpy_, root(), 0, 0, 10, 10, 0, 0, 0);
        if (!types.empty()) {
            std::vector<Atom> atoms;
            for (const char* type : types) atoms.push_back(XInternAtom(dpy_, type, False));
            XChangeProperty(dpy_, window, XInternAtom(dpy_, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                            PropModeReplace, reinterpret_cast<const unsigned char*>(atoms.data()),
                            static_cast<int>(atoms.size()));
        }
        XSync(dpy_, False);
        return window;
    }

    Window create_window(const char* latin1_name) {
        const Window window = XCreateSimpleWindow(dpy_, root(), 100, 100, 200, 100, 0, 0, 0);
        XStoreName(dpy_, window, latin1_name);
        XMapWindow(dpy_, window);
        XSync(dpy_, False);
        return window;
    }

private:
    static int on_error(Display*, XErrorEvent* error) {
        if (error->error_code == BadAccess) denied_ = true;
        return 0;
    }
    static inline bool denied_ = false;
    Display* dpy_;
};

class X11DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        desktop_ = X11Desktop::open();
        ASSERT_TRUE(desktop_);
        ASSERT_TRUE(other_.dpy());
    }

    // Lets events run until the condition holds or the time is up.
    template <typename Condition>
    bool wait_until(Condition condition, int timeout_ms = 3000) {
        const std::uint64_t end = desktop_->tick_ms() + static_cast<std::uint64_t>(timeout_ms);
        while (!condition()) {
            if (desktop_->tick_ms() > end) return false;
            desktop_->wait(20);
        }
        return true;
    }

    // Runs xdotool and lets events run until it has finished.
    void xdotool(const QStringList& arguments) {
        QProcess process;
        process.start("xdotool", arguments);
        ASSERT_TRUE(process.waitForStarted());
        ASSERT_TRUE(wait_until([&] { return process.state() == QProcess::NotRunning; }, 5000));
        ASSERT_EQ(process.exitCode(), 0);
    }

    void type_text(const std::string& text) {
        const unsigned shift = desktop_->key_for_vk(0x10).key;
        for (char c : text) {
            const KeyStroke stroke = desktop_->key_for_char(c);
            ASSERT_NE(stroke.key, 0u) << c;
            if (stroke.shift) desktop_->key_event(shift, true);
            desktop_->key_event(stroke.key, true);
            desktop_->key_event(stroke.key, false);
            if (stroke.shift) desktop_->key_event(shift, false);
        }
    }

    int map_state(Window window) {
        XWindowAttributes attributes{};
        XGetWindowAttributes(other_.dpy(), window, &attributes);
        return attributes.map_state;
    }

    std::unique_ptr<X11Desktop> desktop_;
    OtherClient other_;
};

// Tests that load other keyboard layouts. The layout belongs to the whole
// session, so plain "us" comes back however the test ends.
class X11DesktopLayoutTest : public X11DesktopTest {
protected:
    void TearDown() override {
        if (!desktop_ || !other_.dpy()) return;
        desktop_->set_hotkey_handler({});
        lock_group(0);
        set_layout("us");
    }

    void set_layout(const QString& layouts) {
        QProcess setxkbmap;
        setxkbmap.start("setxkbmap", {"-layout", layouts});
        ASSERT_TRUE(setxkbmap.waitForFinished());
        ASSERT_EQ(setxkbmap.exitCode(), 0);
        desktop_->wait(100);
    }

    // Switches the active layout as a layout indicator would.
    void lock_group(int group) {
        XkbLockGroup(other_.dpy(), XkbUseCoreKbd, static_cast<unsigned>(group));
        XSync(other_.dpy(), False);
    }

    // The key that types the keysym in the layout with no modifier held; 0
    // when none does. Read straight from the server, so it is current
    // right after a new keymap.
    KeyCode key_typing(KeySym keysym, int group) {
        XkbDescPtr xkb = XkbGetMap(other_.dpy(), XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd);
        if (!xkb) return 0;
        KeyCode found = 0;
        for (int kc = xkb->min_key_code; kc <= xkb->max_key_code && found == 0; ++kc)
            if (XkbKeyNumGroups(xkb, kc) > group && XkbKeySymEntry(xkb, kc, 0, group) == keysym)
                found = static_cast<KeyCode>(kc);
        XkbFreeKeyboard(xkb, 0, True);
        return found;
    }

    // Ctrl+Shift and the key, typed through XTEST. Unlike xdotool, which
    // switches to the first layout around every key it types, this leaves
    // the layout alone.
    void press_ctrl_shift(KeyCode code) {
        const unsigned ctrl = desktop_->key_for_vk(0x11).key;
        const unsigned shift = desktop_->key_for_vk(0x10).key;
        desktop_->key_event(ctrl, true);
        desktop_->key_event(shift, true);
        desktop_->key_event(code, true);
        desktop_->key_event(code, false);
        desktop_->key_event(shift, false);
        desktop_->key_event(ctrl, false);
    }

    void record_presses() {
        desktop_->set_hotkey_handler([this](HotKeySystem::Id, unsigned, std::uint8_t vk) { presses_.push_back(vk); });
    }

    std::vector<std::uint8_t> presses_;
};

TEST_F(X11DesktopTest, RegistrationIsRefusedWhenAnybodyHoldsTheCombination) {
    const KeyCode f11 = other_.code(XK_F11);
    const unsigned ctrl_shift = ControlMask | ShiftMask;

    // A free combination is grabbed for real, Caps Lock variant included.
    ASSERT_TRUE(desktop_->register_hotkey(1, MOD_CONTROL | MOD_SHIFT, kF11));
    EXPECT_FALSE(other_.can_grab(f11, ctrl_shift));
    EXPECT_FALSE(other_.can_grab(f11, ctrl_shift | LockMask));

    // The same combination under a second id of ours.
    EXPECT_FALSE(desktop_->register_hotkey(2, MOD_CONTROL | MOD_SHIFT, kF11));
    EXPECT_TRUE(desktop_->unregister_hotkey(1));
    EXPECT_FALSE(desktop_->unregister_hotkey(1));
    EXPECT_TRUE(other_.can_grab(f11, ctrl_shift));
    EXPECT_TRUE(other_.can_grab(f11, ctrl_shift | LockMask));

    // Another program holds the plain combination only: ours is refused,
    // and the variants that did get through are released again.
    ASSERT_TRUE(other_.grab(f11, ctrl_shift));
    EXPECT_FALSE(desktop_->register_hotkey(2, MOD_CONTROL | MOD_SHIFT, kF11));
    EXPECT_TRUE(other_.can_grab(f11, ctrl_shift | LockMask));
    EXPECT_FALSE(desktop_->unregister_hotkey(2));
    other_.ungrab(f11, ctrl_shift);
    EXPECT_TRUE(desktop_->register_hotkey(2, MOD_CONTROL | MOD_SHIFT, kF11));
    EXPECT_TRUE(desktop_->unregister_hotkey(2));

    // The server switches virtual terminals on Ctrl+Alt+F12 itself; with
    // Shift only, F12 is an ordinary key.
    EXPECT_FALSE(desktop_->register_hotkey(3, MOD_CONTROL | MOD_ALT, kF12));
    EXPECT_TRUE(other_.can_grab(other_.code(XK_F12), ControlMask | Mod1Mask));
    EXPECT_TRUE(desktop_->register_hotkey(3, MOD_SHIFT, kF12));
    EXPECT_TRUE(desktop_->unregister_hotkey(3));

    // A code without a key.
    EXPECT_FALSE(desktop_->register_hotkey(4, MOD_CONTROL, 0xFF));
}

TEST_F(X11DesktopTest, AHeldHotkeyArrivesOnceAndTheKeyboardIsFreeAfterwards) {
    // Repeats set in well before the key is released.
    unsigned delay = 0, interval = 0;
    XkbGetAutoRepeatRate(other_.dpy(), XkbUseCoreKbd, &delay, &interval);
    XkbSetAutoRepeatRate(other_.dpy(), XkbUseCoreKbd, 150, 30);
    XSync(other_.dpy(), False);

    const HotKeySystem::Id id = desktop_->add_atom("X11DesktopTestHotKey");
    ASSERT_NE(id, 0u);
    EXPECT_EQ(desktop_->add_atom("X11DesktopTestHotKey"), id);
    ASSERT_TRUE(desktop_->register_hotkey(id, MOD_CONTROL | MOD_SHIFT, kF11));
    struct Press {
        HotKeySystem::Id id;
        unsigned modifiers;
        std::uint8_t vk;
    };
    std::vector<Press> presses;
    desktop_->set_hotkey_handler([&](HotKeySystem::Id i, unsigned m, std::uint8_t vk) { presses.push_back({i, m, vk}); });

    xdotool({"keydown", "ctrl+shift+F11"});
    desktop_->wait(600);
    // Still held, but once the repeats (each of which grabs the keyboard
    // anew) have stopped, the keyboard is not ours any more: keys sent now
    // go to the focused window.
    XAutoRepeatOff(other_.dpy());
    XSync(other_.dpy(), False);
    desktop_->wait(100);
    EXPECT_TRUE(desktop_->modifiers_held());
    // A last repeat may still be on its way when the repeats stop; it grabs
    // the keyboard for the moment until it is read and the grab given back.
    EXPECT_TRUE(wait_until(
        [&] {
            if (XGrabKeyboard(other_.dpy(), other_.root(), False, GrabModeAsync, GrabModeAsync, CurrentTime) !=
                GrabSuccess)
                return false;
            XUngrabKeyboard(other_.dpy(), CurrentTime);
            XSync(other_.dpy(), False);
            return true;
        },
        500));
    xdotool({"keyup", "ctrl+shift+F11"});
    desktop_->wait(300);
    ASSERT_EQ(presses.size(), 1u);
    EXPECT_EQ(presses[0].id, id);
    EXPECT_EQ(presses[0].modifiers, MOD_CONTROL | MOD_SHIFT);
    EXPECT_EQ(presses[0].vk, kF11);
    EXPECT_FALSE(desktop_->modifiers_held());

    // Released and pressed again: a second press. Caps Lock on does not
    // matter.
    xdotool({"key", "Caps_Lock"});
    xdotool({"key", "ctrl+shift+F11"});
    xdotool({"key", "Caps_Lock"});
    EXPECT_TRUE(wait_until([&] { return presses.size() == 2; }));

    // Other modifiers are a different combination.
    xdotool({"key", "ctrl+F11"});
    desktop_->wait(200);
    EXPECT_EQ(presses.size(), 2u);

    desktop_->set_hotkey_handler({});
    EXPECT_TRUE(desktop_->unregister_hotkey(id));
    XAutoRepeatOn(other_.dpy());
    XkbSetAutoRepeatRate(other_.dpy(), XkbUseCoreKbd, delay, interval);
    XSync(other_.dpy(), False);
}

TEST_F(X11DesktopTest, ActivatedWindowReceivesTheSyntheticKeys) {
    const Window foreign = other_.create_window("Caf\xe9 menu");
    QLineEdit edit;
    edit.setWindowTitle("Editor");
    edit.resize(300, 40);
    edit.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&edit));
    const WindowId own = edit.windowHandle()->winId();

    // Captions: the old Latin-1 property and our UTF-8 one.
    ASSERT_TRUE(wait_until([&] { return desktop_->is_window(foreign); }));
    EXPECT_EQ(desktop_->window_title(foreign), "Caf\xc3\xa9 menu");
    desktop_->set_window_title(own, "Morvantile - \xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82");
    EXPECT_EQ(desktop_->window_title(own), "Morvantile - \xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82");
    // Programs that read only the old property get the same text.
    XDeleteProperty(other_.dpy(), own, XInternAtom(other_.dpy(), "_NET_WM_NAME", False));
    XSync(other_.dpy(), False);
    EXPECT_EQ(desktop_->window_title(own), "Morvantile - \xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82");

    // Whose windows are whose.
    EXPECT_TRUE(desktop_->own_window(own));
    EXPECT_FALSE(desktop_->own_window(foreign));
    EXPECT_EQ(desktop_->window_process(own), static_cast<std::int64_t>(getpid()));
    EXPECT_EQ(desktop_->window_process(foreign), 0);
    EXPECT_TRUE(wait_until([&] {
        const auto list = desktop_->client_windows();
        return std::find(list.begin(), list.end(), own) != list.end() &&
               std::find(list.begin(), list.end(), foreign) != list.end();
    }));

    // Switching between the two windows.
    desktop_->activate(foreign);
    EXPECT_TRUE(wait_until([&] { return desktop_->foreground_window() == foreign; }));
    desktop_->activate(own);
    ASSERT_TRUE(wait_until([&] { return desktop_->foreground_window() == own; }));
    ASSERT_TRUE(wait_until([&] { return edit.hasFocus(); }));

    type_text("Hi there!");
    EXPECT_TRUE(wait_until([&] { return edit.text() == "Hi there!"; })) << edit.text().toStdString();

    // Select all with Ctrl+A, then replace the selection.
    const unsigned ctrl = desktop_->key_for_vk(0x11).key;
    const KeyStroke a = desktop_->key_for_char('a');
    ASSERT_NE(ctrl, 0u);
    EXPECT_FALSE(a.shift);
    desktop_->key_event(ctrl, true);
    EXPECT_TRUE(desktop_->modifiers_held());
    desktop_->key_event(a.key, true);
    desktop_->key_event(a.key, false);
    desktop_->key_event(ctrl, false);
    EXPECT_FALSE(desktop_->modifiers_held());
    type_text("x");
    EXPECT_TRUE(wait_until([&] { return edit.text() == "x"; })) << edit.text().toStdString();

    // Minimised by its program, brought back.
    XIconifyWindow(other_.dpy(), foreign, DefaultScreen(other_.dpy()));
    XSync(other_.dpy(), False);
    ASSERT_TRUE(wait_until([&] { return map_state(foreign) == IsUnmapped; }));
    desktop_->restore(foreign);
    EXPECT_TRUE(wait_until([&] { return map_state(foreign) == IsViewable; }));

    // A window that has gone is no window, and asking about it is harmless.
    XDestroyWindow(other_.dpy(), foreign);
    XSync(other_.dpy(), False);
    EXPECT_FALSE(desktop_->is_window(foreign));
    EXPECT_EQ(desktop_->window_title(foreign), "");
    EXPECT_EQ(desktop_->window_process(foreign), 0);
    desktop_->set_window_title(foreign, "gone");
    desktop_->activate(foreign);
    desktop_->restore(foreign);
    desktop_->wait(50);
}

TEST_F(X11DesktopTest, ClipboardTakenByAnotherProgram) {
    QApplication::clipboard()->setText("ours");
    ASSERT_TRUE(wait_until([&] { return !desktop_->clipboard_taken(); }));
    QProcess xclip;
    xclip.start("xclip", {"-selection", "clipboard", "-i"});
    ASSERT_TRUE(xclip.waitForStarted());
    xclip.write("theirs");
    xclip.closeWriteChannel();
    EXPECT_TRUE(wait_until([&] { return desktop_->clipboard_taken(); }));
    // xclip stays to serve the selection.
    xclip.kill();
    xclip.waitForFinished();
}

TEST_F(X11DesktopLayoutTest, KeyboardLayoutNamesAndKeys) {
    EXPECT_EQ(desktop_->layout_key_name(0xBA), ";");
    EXPECT_EQ(desktop_->layout_key_name(0xE2), "<");
    EXPECT_EQ(desktop_->layout_key_name(0x13), "Pause");
    EXPECT_EQ(desktop_->layout_key_name(0x6A), "KP_Multiply");
    EXPECT_EQ(desktop_->layout_key_name(0xA1), "Shift");
    EXPECT_EQ(desktop_->layout_key_name(0x11), "Ctrl");
    EXPECT_EQ(desktop_->layout_key_name(0x12), "Alt");
    EXPECT_EQ(desktop_->layout_key_name(0xFF), "");

    const KeyStroke upper = desktop_->key_for_char('A');
    const KeyStroke lower = desktop_->key_for_char('a');
    EXPECT_EQ(upper.key, lower.key);
    EXPECT_TRUE(upper.shift);
    EXPECT_NE(desktop_->key_for_char('!').key, 0u);
    EXPECT_TRUE(desktop_->key_for_char('!').shift);
    EXPECT_EQ(desktop_->key_for_vk(0x41).key, lower.key);
    EXPECT_EQ(desktop_->key_for_vk(0xFF).key, 0u);

    // With a Cyrillic first layout the letters come from the second one,
    // so Ctrl+A, C and V still reach programs as the Latin shortcuts.
    set_layout("ru,us");
    const KeyStroke cyrillic_a = desktop_->key_for_char('a');
    const KeyStroke cyrillic_upper = desktop_->key_for_char('A');
    EXPECT_EQ(cyrillic_a.key, lower.key);
    EXPECT_FALSE(cyrillic_a.shift);
    EXPECT_EQ(cyrillic_upper.key, lower.key);
    EXPECT_TRUE(cyrillic_upper.shift);
}

// With a German layout beside the US one, the key that types Y in one
// types Z in the other. A hotkey takes only the key that types its letter
// in the layout the user has active, and moves when the layout does.
TEST_F(X11DesktopLayoutTest, HotkeyTakesTheKeyOfTheActiveLayoutOnly) {
    set_layout("us,de");
    const KeyCode y_us = key_typing(XK_y, 0);
    const KeyCode y_de = key_typing(XK_y, 1);
    ASSERT_NE(y_us, 0);
    ASSERT_NE(y_de, 0);
    ASSERT_NE(y_us, y_de);
    ASSERT_EQ(key_typing(XK_z, 0), y_de);
    ASSERT_EQ(key_typing(XK_z, 1), y_us);
    record_presses();

    ASSERT_TRUE(desktop_->register_hotkey(1, MOD_CONTROL | MOD_SHIFT, kY));
    EXPECT_FALSE(other_.can_grab(y_us, kCtrlShift));
    EXPECT_FALSE(other_.can_grab(y_us, kCtrlShift | LockMask));
    // Ctrl+Shift+Z (redo) stays with the programs.
    EXPECT_TRUE(other_.can_grab(y_de, kCtrlShift));
    EXPECT_TRUE(other_.can_grab(y_de, kCtrlShift | LockMask));
    xdotool({"key", QString("ctrl+shift+%1").arg(y_de)});
    desktop_->wait(200);
    EXPECT_TRUE(presses_.empty());
    xdotool({"key", QString("ctrl+shift+%1").arg(y_us)});
    EXPECT_TRUE(wait_until([&] { return presses_.size() == 1; }));

    // The user switches to German: the hotkey is on the other key now.
    lock_group(1);
    EXPECT_TRUE(wait_until([&] { return other_.can_grab(y_us, kCtrlShift) && !other_.can_grab(y_de, kCtrlShift); }));
    EXPECT_TRUE(other_.can_grab(y_us, kCtrlShift | LockMask));
    EXPECT_FALSE(other_.can_grab(y_de, kCtrlShift | LockMask));
    press_ctrl_shift(y_us);
    desktop_->wait(200);
    EXPECT_EQ(presses_.size(), 1u);
    press_ctrl_shift(y_de);
    ASSERT_TRUE(wait_until([&] { return presses_.size() == 2; }));
    EXPECT_EQ(presses_.back(), kY);
    // Still registered while it moved.
    EXPECT_FALSE(desktop_->register_hotkey(2, MOD_CONTROL | MOD_SHIFT, kY));

    // Back to US.
    lock_group(0);
    EXPECT_TRUE(wait_until([&] { return !other_.can_grab(y_us, kCtrlShift) && other_.can_grab(y_de, kCtrlShift); }));
    press_ctrl_shift(y_us);
    EXPECT_TRUE(wait_until([&] { return presses_.size() == 3; }));

    // A new keymap with German first moves it as well.
    set_layout("de,us");
    ASSERT_EQ(key_typing(XK_y, 0), y_de);
    EXPECT_TRUE(wait_until([&] { return other_.can_grab(y_us, kCtrlShift) && !other_.can_grab(y_de, kCtrlShift); }));
    xdotool({"key", QString("ctrl+shift+%1").arg(y_us)});
    desktop_->wait(200);
    EXPECT_EQ(presses_.size(), 3u);
    xdotool({"key", QString("ctrl+shift+%1").arg(y_de)});
    EXPECT_TRUE(wait_until([&] { return presses_.size() == 4; }));

    EXPECT_TRUE(desktop_->unregister_hotkey(1));
    EXPECT_TRUE(other_.can_grab(y_us, kCtrlShift));
    EXPECT_TRUE(other_.can_grab(y_de, kCtrlShift));
}

// Ctrl+Shift+Y and Ctrl+Shift+Z trade keys when the layout changes; each
// must end up on its new key, not lose it to the other's old grab. F11,
// which only the first layout lists, stays where it is.
TEST_F(X11DesktopLayoutTest, HotkeysFollowALayoutSwitchTogether) {
    set_layout("us,de");
    const KeyCode y_us = key_typing(XK_y, 0);
    const KeyCode z_us = key_typing(XK_z, 0);
    const KeyCode semicolon = key_typing(XK_semicolon, 0);
    const KeyCode f11 = key_typing(XK_F11, 0);
    ASSERT_NE(f11, 0);
    ASSERT_EQ(key_typing(XK_y, 1), z_us);
    ASSERT_EQ(key_typing(XK_z, 1), y_us);
    record_presses();
    ASSERT_TRUE(desktop_->register_hotkey(1, MOD_CONTROL | MOD_SHIFT, kY));
    ASSERT_TRUE(desktop_->register_hotkey(2, MOD_CONTROL | MOD_SHIFT, kZ));
    // Typed in US only: its grab going and coming tells when the hotkeys
    // have moved.
    ASSERT_TRUE(desktop_->register_hotkey(3, MOD_CONTROL, kSemicolon));
    ASSERT_TRUE(desktop_->register_hotkey(4, MOD_CONTROL | MOD_SHIFT, kF11));

    for (const int group : {1, 0}) {
        SCOPED_TRACE(group);
        lock_group(group);
        ASSERT_TRUE(wait_until([&] { return other_.can_grab(semicolon, ControlMask) == (group == 1); }));
        EXPECT_FALSE(other_.can_grab(y_us, kCtrlShift));
        EXPECT_FALSE(other_.can_grab(z_us, kCtrlShift));
        EXPECT_FALSE(other_.can_grab(f11, kCtrlShift));
        presses_.clear();
        press_ctrl_shift(key_typing(XK_y, group));
        press_ctrl_shift(key_typing(XK_z, group));
        ASSERT_TRUE(wait_until([&] { return presses_.size() == 2; }));
        EXPECT_EQ(presses_, (std::vector<std::uint8_t>{kY, kZ}));
        // Until the keys are seen released, pressing them again looks like
        // the keyboard's autorepeat.
        desktop_->wait(150);
    }
    for (const HotKeySystem::Id id : {1u, 2u, 3u, 4u}) EXPECT_TRUE(desktop_->unregister_hotkey(id));
}

// A hotkey whose key the active layout does not type plainly, or whose key
// another program holds there, goes without keys in that layout and comes
// back in the next one that has it.
TEST_F(X11DesktopLayoutTest, HotkeyWithoutAKeyWaitsForALayoutThatHasIt) {
    set_layout("us,de");
    const KeyCode semicolon = key_typing(XK_semicolon, 0);  // types ö in German
    const KeyCode comma = key_typing(XK_comma, 1);          // German ; is Shift+comma
    const KeyCode y_us = key_typing(XK_y, 0);
    const KeyCode y_de = key_typing(XK_y, 1);
    ASSERT_NE(semicolon, 0);
    ASSERT_NE(comma, 0);
    ASSERT_EQ(key_typing(XK_odiaeresis, 1), semicolon);

    lock_group(1);
    EXPECT_FALSE(desktop_->register_hotkey(1, MOD_CONTROL, kSemicolon));
    EXPECT_TRUE(other_.can_grab(semicolon, ControlMask));
    EXPECT_TRUE(other_.can_grab(comma, ControlMask));
    EXPECT_TRUE(other_.can_grab(comma, ControlMask | ShiftMask));

    lock_group(0);
    ASSERT_TRUE(desktop_->register_hotkey(1, MOD_CONTROL, kSemicolon));
    EXPECT_FALSE(other_.can_grab(semicolon, ControlMask));
    EXPECT_TRUE(other_.can_grab(comma, ControlMask));
    lock_group(1);
    EXPECT_TRUE(wait_until([&] { return other_.can_grab(semicolon, ControlMask); }));
    EXPECT_TRUE(other_.can_grab(semicolon, ControlMask | LockMask));
    EXPECT_TRUE(other_.can_grab(comma, ControlMask | ShiftMask));
    EXPECT_FALSE(desktop_->register_hotkey(2, MOD_CONTROL, kSemicolon));
    lock_group(0);
    EXPECT_TRUE(wait_until([&] { return !other_.can_grab(semicolon, ControlMask); }));
    // Unregistered while away, it stays away.
    lock_group(1);
    EXPECT_TRUE(wait_until([&] { return other_.can_grab(semicolon, ControlMask); }));
    EXPECT_TRUE(desktop_->unregister_hotkey(1));
    EXPECT_FALSE(desktop_->unregister_hotkey(1));
    lock_group(0);
    desktop_->wait(200);
    EXPECT_TRUE(other_.can_grab(semicolon, ControlMask));

    // Another program holds Ctrl+Shift on the German Y key: there ours has
    // no keys, and no Caps Lock variant is left behind.
    ASSERT_TRUE(desktop_->register_hotkey(3, MOD_CONTROL | MOD_SHIFT, kY));
    ASSERT_TRUE(other_.grab(y_de, kCtrlShift));
    lock_group(1);
    EXPECT_TRUE(wait_until([&] { return other_.can_grab(y_us, kCtrlShift); }));
    EXPECT_TRUE(other_.can_grab(y_de, kCtrlShift | LockMask));
    EXPECT_TRUE(other_.can_grab(y_us, kCtrlShift | LockMask));
    other_.ungrab(y_de, kCtrlShift);
    lock_group(0);
    EXPECT_TRUE(wait_until([&] { return !other_.can_grab(y_us, kCtrlShift); }));
    EXPECT_TRUE(other_.can_grab(y_de, kCtrlShift));
    EXPECT_TRUE(desktop_->unregister_hotkey(3));

    // The keypad's decimal point is its Delete key with Num Lock on.
    const KeyCode keypad_delete = key_typing(XK_KP_Delete, 0);
    ASSERT_NE(keypad_delete, 0);
    ASSERT_TRUE(desktop_->register_hotkey(4, MOD_CONTROL, kKeypadDecimal));
    EXPECT_FALSE(other_.can_grab(keypad_delete, ControlMask));
    EXPECT_TRUE(desktop_->unregister_hotkey(4));
}

// Text is never taken from the desktop's own windows: panels, menus,
// notifications. The first type a window lists that is known decides.
TEST_F(X11DesktopTest, DesktopPartsByWindowType) {
    const auto part = [&](const std::vector<const char*>& types) {
        const Window window = other_.create_typed_window(types);
        const bool result = desktop_->desktop_part(window);
        XDestroyWindow(other_.dpy(), window);
        XSync(other_.dpy(), False);
        return result;
    };
    EXPECT_TRUE(part({"_NET_WM_WINDOW_TYPE_DOCK"}));
    EXPECT_TRUE(part({"_NET_WM_WINDOW_TYPE_DESKTOP"}));
    EXPECT_TRUE(part({"_NET_WM_WINDOW_TYPE_NOTIFICATION"}));
    EXPECT_TRUE(part({"_NET_WM_WINDOW_TYPE_POPUP_MENU"}));
    EXPECT_FALSE(part({"_NET_WM_WINDOW_TYPE_NORMAL"}));
    EXPECT_FALSE(part({"_NET_WM_WINDOW_TYPE_DIALOG"}));
    EXPECT_FALSE(part({}));
    EXPECT_TRUE(part({"_MORVANTILE_TEST_UNKNOWN_TYPE", "_NET_WM_WINDOW_TYPE_TOOLTIP"}));
    EXPECT_FALSE(part({"_NET_WM_WINDOW_TYPE_UTILITY", "_NET_WM_WINDOW_TYPE_MENU"}));

    // The session's tray panel declares itself a dock.
    for (const WindowId window : desktop_->client_windows()) {
        if (desktop_->window_title(window) == "panel") {
            EXPECT_TRUE(desktop_->desktop_part(window));
        }
    }

    const Window gone = other_.create_typed_window({"_NET_WM_WINDOW_TYPE_DOCK"});
    XDestroyWindow(other_.dpy(), gone);
    XSync(other_.dpy(), False);
    EXPECT_FALSE(desktop_->desktop_part(gone));
    EXPECT_FALSE(desktop_->desktop_part(0));
}

TEST_F(X11DesktopTest, ProgramsAndProcesses) {
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    EXPECT_EQ(desktop_->process_program_file(getpid()), self);
    EXPECT_EQ(desktop_->process_program_file(0), "");

    const std::string sleep = desktop_->find_program("sleep");
    ASSERT_FALSE(sleep.empty());
    EXPECT_EQ(sleep.front(), '/');
    EXPECT_EQ(desktop_->find_program(sleep), sleep);
    EXPECT_EQ(desktop_->find_program("no-such-program-here"), "");
    EXPECT_EQ(desktop_->find_program("/etc/passwd"), "");

    const std::int64_t pid = desktop_->start_process({"sleep", "5"});
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(wait_until([&] { return desktop_->process_program_file(pid) == sleep; }));
    kill(static_cast<pid_t>(pid), SIGTERM);
    EXPECT_EQ(desktop_->start_process({"no-such-program-here"}), 0);
}

}  // namespace
}  // namespace morvantile::platform

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "x11_desktop_tests needs an X server (scripts/desktop-session.sh)\n");
        return 77;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
