#include "platform/portal/portal_names.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

namespace morvantile::platform {
namespace {

// The layout's names for keys outside the fixed table, as a desktop gives
// them (only what these cases need).
struct Names : KeyNames {
    std::string layout_key_name(std::uint8_t vk) override { return vk == 0xBC ? "," : ""; }
};

TEST(PreferredTrigger, HotkeyTextsBecomeTheTriggersTheDesktopIsAskedFor) {
    Names names;
    const struct {
        const char* text;
        const char* trigger;
    } cases[] = {
        {"ctrl+shift+f12", "CTRL+SHIFT+F12"},
        {"Shift+Ctrl+F11", "CTRL+SHIFT+F11"},  // modifiers in the desktop's order
        {"alt+e", "ALT+E"},
        {"ctrl+alt+shift+x", "CTRL+ALT+SHIFT+X"},
        {"ctrl+pgup", "CTRL+Prior"},
        {"ctrl+5", "CTRL+5"},
        {"ctrl+,", "CTRL+comma"},
        {"f9", "F9"},
        {"", ""},
        {"ctrl+", ""},
        {"ctrl+nosuchkey", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(preferred_trigger(c.text, names), c.trigger) << c.text;
    EXPECT_EQ(preferred_trigger(TShortCut{0}), "");
}

TEST(PortalPaths, RequestsAndSessionsAnswerWhereThePortalPutsThem) {
    EXPECT_EQ(sender_path_part(":1.42"), "1_42");
    EXPECT_EQ(request_path(":1.42", "morvantile_x_1"), "/org/freedesktop/portal/desktop/request/1_42/morvantile_x_1");
    EXPECT_EQ(session_path(":1.7", "t"), "/org/freedesktop/portal/desktop/session/1_7/t");

    // Tokens are object path elements, and never repeat.
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const std::string token = new_portal_token(i % 2 ? "Bind-Shortcuts" : "remote desktop");
        EXPECT_TRUE(seen.insert(token).second) << token;
        for (const char c : token) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '_') << token;
    }
}

struct TokenFile : ::testing::Test {
    std::string folder;
    std::string path;
    void SetUp() override {
        char pattern[] = "/tmp/morvantile-token-XXXXXX";
        folder = ::mkdtemp(pattern);
        path = folder + "/config/" + std::string(kRestoreTokenFileName);
    }
    void TearDown() override { std::system(("rm -rf '" + folder + "'").c_str()); }
    mode_t mode() const {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
};

TEST_F(TokenFile, KeptForTheUserAloneAndReadBack) {
    EXPECT_EQ(read_restore_token(path), std::nullopt);
    ASSERT_TRUE(write_restore_token(path, "d7c2-41aa-token"));
    EXPECT_EQ(mode(), 0600u);
    EXPECT_EQ(read_restore_token(path), "d7c2-41aa-token");
    // The next start's token replaces it; an empty one removes it.
    ASSERT_TRUE(write_restore_token(path, "second"));
    EXPECT_EQ(read_restore_token(path), "second");
    EXPECT_TRUE(write_restore_token(path, ""));
    EXPECT_EQ(read_restore_token(path), std::nullopt);
    EXPECT_TRUE(write_restore_token(path, ""));  // already gone
    // Nothing that could smuggle a line or a control byte into the request.
    EXPECT_FALSE(write_restore_token(path, "two\nlines"));
    EXPECT_FALSE(write_restore_token(path, std::string(5000, 'a')));
}

TEST_F(TokenFile, AFileOthersCouldReadOrPlantIsNotTrusted) {
    ASSERT_TRUE(write_restore_token(path, "secret-token"));
    ::chmod(path.c_str(), 0644);
    EXPECT_EQ(read_restore_token(path), std::nullopt);
    ::chmod(path.c_str(), 0600);
    EXPECT_EQ(read_restore_token(path), "secret-token");

    // A link at the name is neither followed when reading nor written through.
    const std::string target = folder + "/elsewhere";
    std::ofstream(target) << "planted";
    ::chmod(target.c_str(), 0600);
    ::unlink(path.c_str());
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
    EXPECT_EQ(read_restore_token(path), std::nullopt);
    ASSERT_TRUE(write_restore_token(path, "fresh"));
    EXPECT_EQ(read_restore_token(path), "fresh");
    std::ifstream planted(target);
    std::string content;
    planted >> content;
    EXPECT_EQ(content, "planted");

    // A token file with a line end (written by hand) still reads.
    std::ofstream(path, std::ios::trunc) << "by-hand\n";
    EXPECT_EQ(read_restore_token(path), "by-hand");
}

TEST(PortalVersionsVerdict, BothShortcutsAndAKeyboardThatKeepsItsPermissionAreNeeded) {
    PortalVersions v{true, true, 1, 2, 7, 1};
    EXPECT_TRUE(portals_usable(v));
    EXPECT_EQ(portals_line(v), "Portals: GlobalShortcuts v1, RemoteDesktop v2 (keyboard yes), Clipboard v1");

    PortalVersions old = v;
    old.remote_desktop = 1;
    EXPECT_FALSE(portals_usable(old));
    EXPECT_NE(portals_unusable_reason(old).find("too old"), std::string::npos);
    EXPECT_EQ(portals_line(old),
              "Portals: GlobalShortcuts v1, RemoteDesktop v1 (too old) (keyboard yes), Clipboard v1");

    PortalVersions no_shortcuts = v;
    no_shortcuts.global_shortcuts = 0;
    EXPECT_FALSE(portals_usable(no_shortcuts));
    EXPECT_NE(portals_line(no_shortcuts).find("GlobalShortcuts missing"), std::string::npos);

    PortalVersions no_keyboard = v;
    no_keyboard.remote_desktop_devices = 2;
    EXPECT_FALSE(portals_usable(no_keyboard));

    // The clipboard is welcome but not needed.
    PortalVersions no_clipboard = v;
    no_clipboard.clipboard = 0;
    EXPECT_TRUE(portals_usable(no_clipboard));

    EXPECT_EQ(portals_line(PortalVersions{}), "Portals: no session bus");
    EXPECT_EQ(portals_line(PortalVersions{true}), "Portals: no portal service on the session bus");
    EXPECT_FALSE(portals_usable(PortalVersions{true}));
}

}  // namespace
}  // namespace morvantile::platform
