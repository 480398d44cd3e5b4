#include "config/settings.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace morvantile {
namespace {

TEST(Settings, StartValuesDifferFromTheMissingKeyDefaults) {
    const Settings start;
    const Settings missing = settings_missing_defaults();
    // In force whenever the configuration is not read.
    EXPECT_FALSE(start.HotKeysEnabled);
    EXPECT_FALSE(start.AutoSelect_e);
    EXPECT_FALSE(start.AutoSelect_d);
    EXPECT_TRUE(start.AppendSeparator);
    EXPECT_FALSE(start.Hints);
    EXPECT_TRUE(start.DecryptViewer.empty());
    // A first start without a configuration file.
    EXPECT_TRUE(missing.HotKeysEnabled);
    EXPECT_TRUE(missing.AutoSelect_e);
    EXPECT_TRUE(missing.AutoSelect_d);
    EXPECT_FALSE(missing.AppendSeparator);
    EXPECT_TRUE(missing.Hints);
    // Everything else is the same in both columns.
    Settings aligned = missing;
    aligned.HotKeysEnabled = aligned.AutoSelect_e = aligned.AutoSelect_d = aligned.Hints = false;
    aligned.AppendSeparator = true;
    aligned.DecryptViewer.clear();
    EXPECT_EQ(aligned, start);

    EXPECT_EQ(start.AutoEncryptHotKeyString, "ctrl+shift+f12");
    EXPECT_EQ(start.ExitHotKeyString, "ctrl+shift+f5");
    EXPECT_EQ(start.cipher_setup(), (CipherSetup{4, 0, 0}));
    EXPECT_EQ(start.ViewerFont.Color, -2147483640);
}

TEST(Settings, DefaultViewerIsTheFirstEditorFoundOnPath) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("mvt-path-" + std::to_string(::getpid()));
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    auto make_tool = [](const fs::path& p, bool executable) {
        std::ofstream(p) << "#!/bin/sh\n";
        fs::permissions(p, executable ? fs::perms::owner_all : fs::perms::owner_read);
    };
    make_tool(dir / "a" / "gedit", true);
    make_tool(dir / "b" / "mousepad", false);  // not executable: skipped
    make_tool(dir / "b" / "kate", true);
    const char* old = std::getenv("PATH");
    const std::string saved = old ? old : "";
    ::setenv("PATH", (dir / "a").string().append(":").append((dir / "b").string()).c_str(), 1);
    EXPECT_EQ(default_decrypt_viewer(), "gedit");
    ::setenv("PATH", (dir / "b").string().c_str(), 1);
    EXPECT_EQ(default_decrypt_viewer(), "kate");
    ::setenv("PATH", "", 1);
    EXPECT_EQ(default_decrypt_viewer(), "");
    ::setenv("PATH", saved.c_str(), 1);
    fs::remove_all(dir);
}

TEST(Settings, OptionsSummaryAndTrayHint) {
    Settings s = settings_missing_defaults();
    EXPECT_EQ(options_summary(s), "as_e=y as_d=y ac=y ap=y hk=y sep=n rtf=n ");
    s.AppendSeparator = s.UseRTF = true;
    EXPECT_EQ(options_summary(s), "as_e=y as_d=y ac=y ap=y hk=y sep=y rtf=y ");
    s.AutoCopy = false;
    EXPECT_EQ(options_summary(s), "as_e=y as_d=y ac=n ap=y hk=y sep=y rtf=y ");

    RuntimeState r;
    r.ConfigFileName = "/home/ann/.config/morvantile/morvantile.ini";
    EXPECT_EQ(r.VersionText, "Morvantile v.1.2.0.26");
    s.TrayHint = 0;
    EXPECT_EQ(tray_hint_text(s, r), "Morvantile v.1.2.0.26 ");
    s.TrayHint = 1;
    EXPECT_EQ(tray_hint_text(s, r), "Morvantile v.1.2.0.26 [/home/ann/.config/morvantile/morvantile.ini]");
    s.TrayHint = 2;
    EXPECT_EQ(tray_hint_text(s, r), "Morvantile v.1.2.0.26 [as_e=y as_d=y ac=n ap=y hk=y sep=y rtf=y ]");
}

}  // namespace
}  // namespace morvantile
