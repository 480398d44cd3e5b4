// The choice of backend from what the environment offers. These run with
// no display at all, so only the choices that need none are checked here;
// the X11 and Wayland choices are exercised by the end-to-end suites.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/backend.h"

namespace morvantile::platform {
namespace {

struct Environment {
    Environment() {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "MORVANTILE_BACKEND", "QT_QPA_PLATFORM"})
            ::unsetenv(name);
    }
    ~Environment() { ::unsetenv("QT_QPA_PLATFORM"); }
};

TEST(Backend, WithoutAnyDisplayThereIsNothingToRunOn) {
    Environment env;
    const DesktopReport r = plan_backend();
    EXPECT_EQ(r.kind, BackendKind::NoDisplay);
    const std::string text = diagnose_text(r);
    EXPECT_NE(text.find("X11: no display ($DISPLAY unset)"), std::string::npos) << text;
}

TEST(Backend, AWaylandSessionWithoutKeystrokesFallsBackToTheClipboardAndSaysWhy) {
    Environment env;
    ::setenv("XDG_RUNTIME_DIR", "/nonexistent-morvantile-test", 1);
    ::setenv("WAYLAND_DISPLAY", "no-such-display", 1);
    const DesktopReport r = plan_backend();
    EXPECT_EQ(r.session, "wayland");
    EXPECT_EQ(r.kind, BackendKind::ClipboardOnly);
    EXPECT_FALSE(r.start_message.empty());
    EXPECT_STREQ(std::getenv("QT_QPA_PLATFORM"), "wayland");
    EXPECT_NE(diagnose_text(r).find("Wayland: no display"), std::string::npos);
    EXPECT_NE(about_line(r).find("clipboard only"), std::string::npos);

    // The user's own choice of Qt platform is left alone.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    plan_backend();
    EXPECT_STREQ(std::getenv("QT_QPA_PLATFORM"), "offscreen");

    ::setenv("MORVANTILE_BACKEND", "clipboard", 1);
    EXPECT_EQ(plan_backend().why, "MORVANTILE_BACKEND=clipboard asks for the clipboard alone.");
}

TEST(Backend, HotkeyTextsBecomeCompositorKeyNames) {
    EXPECT_EQ(compositor_key("ctrl+shift+f12"), "Ctrl+Shift+F12");
    EXPECT_EQ(compositor_key("CTRL+ALT+S"), "Ctrl+Mod1+s");
    EXPECT_EQ(compositor_key("shift+pause"), "Shift+Pause");
    EXPECT_EQ(compositor_key(""), "");
    Settings s;
    s.OptionsHotKeyString.clear();
    s.ExitHotKeyString = "ctrl+shift+f9";
    s.AutoEncryptHotKeyString = "ctrl+shift+f12";
    s.AutoDecryptHotKeyString = "ctrl+shift+f11";
    EXPECT_EQ(sway_bindings(s), "bindsym Ctrl+Shift+F12 exec morvantile encrypt\n"
                                "bindsym Ctrl+Shift+F11 exec morvantile decrypt\n"
                                "bindsym Ctrl+Shift+F9 exec morvantile exit\n");
}

}  // namespace
}  // namespace morvantile::platform
