#include "automation/hotkeys.h"

#include <gtest/gtest.h>

#include <optional>

#include "automation/automation_fakes.h"
#include "config/settings.h"
#include "support/fakes.h"

namespace morvantile {
namespace {

using test::FakeHotKeySystem;
using test::RecordingErrors;
using Log = std::vector<std::string>;

constexpr TShortCut kCtrlAltF12 = 49275;

// ---- the text grammar

TEST(HotKeyText, ModifiersInAnyOrderCaseAndRepetition) {
    FakeHotKeySystem names;
    const struct {
        const char* text;
        TShortCut value;
    } cases[] = {
        {"ctrl+alt+f12", kCtrlAltF12}, {"CTRL+ALT+F12", kCtrlAltF12}, {"Alt+Ctrl+F12", kCtrlAltF12},
        {"^alt+f12", kCtrlAltF12},     {"shift+shift+a", 0x2041},     {"ctrl+shift+f12", 0x607B},
        {"f12", 0x7B},                 {"^^ctrl+x", 0x4058},          {"alt+f24", 0x8087},
        {"ctrl+5", 0x4035},  // the main-row digit, never the keypad's
        {"bksp", 0x08},                {"Space", 0x20},               {"shift+del", 0x202E},
        // The key may itself be a modifier key, named by the layout.
        {"ctrl+alt", 0x4012},          {"Shift", 0x10},
        // Names from the layout match exactly as the layout spells them.
        {"ctrl+;", 0x40BA},            {"pause", 0x13},
        // Invalid texts.
        {"", 0},                       {"ctrl+alt+", 0},              {"ctrl + alt + f12", 0},
        {" f12", 0},                   {"f12 ", 0},                   {"ctrl+f25", 0},
        {"ctrlf12", 0},                {"ctrl+alt+,", 0},             {"win+a", 0},
        // Only ASCII letters fold: the layout's "Ä" is not "ä".
        {"\xC3\x84", 0xDE},            {"\xC3\xA4", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(parsehotkeytext(c.text, names), c.value) << '"' << c.text << '"';
}

TEST(HotKeyText, KeyNamesCarryTheModifiersInFixedOrder) {
    FakeHotKeySystem names;
    EXPECT_EQ(keyname(0xE07B, names), "Shift+Ctrl+Alt+F12");
    EXPECT_EQ(keyname(0x8065, names), "Alt+5");  // keypad 5
    EXPECT_EQ(keyname(0x40BA, names), "Ctrl+;");
    EXPECT_EQ(keyname(0x40BB, names), "");  // no name: no modifiers either
    names.layout.erase(0xBA);
    EXPECT_EQ(parsehotkeytext("ctrl+;", names), 0);
}

TEST(HotKeyText, ConversionToAndFromTheGrabArguments) {
    EXPECT_EQ(shortcut_modifiers(kCtrlAltF12), MOD_CONTROL | MOD_ALT);
    EXPECT_EQ(shortcut_modifiers(0x2041), MOD_SHIFT);
    EXPECT_EQ(shortcut_key(kCtrlAltF12), 0x7B);
    EXPECT_EQ(shortcut_from(MOD_ALT | MOD_CONTROL | MOD_SHIFT, 0x7B), 0xE07B);
    // The grab may report modifiers the program never asks for (Num Lock...).
    EXPECT_EQ(shortcut_from(MOD_CONTROL | 0x10, 0x41), 0x4041);
}

// ---- the manager

struct ManagerTest : ::testing::Test {
    FakeHotKeySystem system;
    std::optional<THotKeyManager> manager{std::in_place, system};
    std::vector<std::pair<TShortCut, HotKeySystem::Id>> pressed;

    ManagerTest() {
        manager->OnHotKeyPressed = [this](TShortCut s, HotKeySystem::Id id) { pressed.emplace_back(s, id); };
    }
};

TEST_F(ManagerTest, RegistersUnderANamedAtomAndReleasesIt) {
    const auto id = manager->addshortcut(kCtrlAltF12);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(system.atoms.at("HotKeyManagerHotKey49275").first, id);
    EXPECT_EQ(system.grabs.at({MOD_CONTROL | MOD_ALT, 0x7B}), id);

    system.foreign.insert({MOD_SHIFT, 0x41});
    EXPECT_EQ(manager->addshortcut(0x2041), 0u);
    EXPECT_FALSE(system.atoms.contains("HotKeyManagerHotKey8257"));  // no atom left behind
    EXPECT_EQ(manager->entries().size(), 1u);

    EXPECT_TRUE(manager->removeshortcut(manager->entries()[0]));
    EXPECT_TRUE(manager->entries().empty());
    EXPECT_TRUE(system.atoms.empty());
    EXPECT_TRUE(system.grabs.empty());
}

TEST_F(ManagerTest, AvailabilityIsATrialThatLeavesNothingBehind) {
    EXPECT_TRUE(manager->shortcutavailable(kCtrlAltF12));
    EXPECT_TRUE(system.grabs.empty());
    EXPECT_TRUE(system.atoms.empty());

    manager->addshortcut(kCtrlAltF12);
    EXPECT_FALSE(manager->shortcutavailable(kCtrlAltF12));  // this program holds it
    system.foreign.insert({MOD_SHIFT, 0x41});
    EXPECT_FALSE(manager->shortcutavailable(0x2041));
    EXPECT_EQ(system.atoms.size(), 1u);
}

TEST_F(ManagerTest, ClearingGoesLastFirstAndDropsEntriesTheDesktopKeeps) {
    const auto a = manager->addshortcut(0x4041);
    const auto b = manager->addshortcut(0x4042);
    const auto c = manager->addshortcut(0x4043);
    system.grabs.erase({MOD_CONTROL, 0x42});  // b's grab is lost: unregistering it fails
    system.log.clear();
    manager->clearshortcuts();
    EXPECT_EQ(system.log, (Log{"unregister " + std::to_string(c), "unregister " + std::to_string(b),
                               "unregister " + std::to_string(a)}));
    EXPECT_TRUE(manager->entries().empty());
    EXPECT_TRUE(system.atoms.empty());
}

TEST_F(ManagerTest, FailedRemovalKeepsTheEntry) {
    manager->addshortcut(0x4041);
    system.grabs.clear();
    EXPECT_FALSE(manager->removeshortcut(manager->entries()[0]));
    EXPECT_EQ(manager->entries().size(), 1u);
}

TEST_F(ManagerTest, PressesOfOwnCombinationsOnlyAndNoneAfterDestruction) {
    const auto id = manager->addshortcut(kCtrlAltF12);
    EXPECT_TRUE(system.press(MOD_CONTROL | MOD_ALT, 0x7B));
    // A delivery that does not match any entry (a stale grab) is dropped.
    system.handler(id, MOD_CONTROL, 0x7B);
    EXPECT_EQ(pressed, (std::vector<std::pair<TShortCut, HotKeySystem::Id>>{{kCtrlAltF12, id}}));

    manager.reset();
    EXPECT_TRUE(system.grabs.empty());
    EXPECT_TRUE(system.atoms.empty());
    EXPECT_FALSE(system.handler);
}

// ---- the registration pass and dispatch

struct RegistrationTest : ::testing::Test {
    Settings settings;
    RuntimeState runtime;
    FakeHotKeySystem system;
    THotKeyManager manager{system};
    RecordingErrors errors;
};

TEST_F(RegistrationTest, DefaultsRegisterSilently) {
    EXPECT_TRUE(registerhotkeys(settings, runtime, manager, errors));
    EXPECT_TRUE(errors.shown.empty());
    EXPECT_EQ(manager.entries().size(), 4u);
    EXPECT_EQ(runtime.EncryptShortCut, 0x607B);  // ctrl+shift+f12
    EXPECT_EQ(runtime.ExitShortCut, 0x6074);
}

TEST_F(RegistrationTest, EachFailureCostsOnlyItsOwnHotKey) {
    settings.AutoEncryptHotKeyString = "ctrl+alt+";
    settings.AutoDecryptHotKeyString = "ctrl+alt+f12";
    settings.OptionsHotKeyString = "";
    settings.ExitHotKeyString = "ctrl+alt+f12";  // same as decrypt
    runtime.OptionsShortCut = 0x4041;             // from an earlier pass
    EXPECT_TRUE(registerhotkeys(settings, runtime, manager, errors));
    EXPECT_EQ(errors.shown, (Log{"Invalid Auto-encrypt hotkey. Please correct.",
                                 "Exit hotkey already taken. Please change."}));
    EXPECT_EQ(runtime.EncryptShortCut, 0);
    EXPECT_EQ(runtime.OptionsShortCut, 0);
    EXPECT_EQ(runtime.DecryptShortCut, kCtrlAltF12);
    EXPECT_EQ(runtime.ExitShortCut, kCtrlAltF12);  // kept although not registered
    ASSERT_EQ(manager.entries().size(), 1u);
    EXPECT_EQ(system.atoms.size(), 1u);

    // Held by another program: both users of the combination are told.
    manager.clearshortcuts();
    system.foreign.insert({MOD_CONTROL | MOD_ALT, 0x7B});
    errors.shown.clear();
    EXPECT_FALSE(registerhotkeys(settings, runtime, manager, errors));
    EXPECT_EQ(errors.shown, (Log{"Invalid Auto-encrypt hotkey. Please correct.",
                                 "Auto-decrypt hotkey already taken. Please change.",
                                 "Exit hotkey already taken. Please change."}));
    EXPECT_TRUE(system.atoms.empty());
}

TEST_F(RegistrationTest, DispatchOrderAndWhenPressesAreIgnored) {
    settings.HotKeysEnabled = true;
    runtime.EncryptShortCut = kCtrlAltF12;
    runtime.DecryptShortCut = 0x4041;
    runtime.OptionsShortCut = 0x4042;
    runtime.ExitShortCut = kCtrlAltF12;
    EXPECT_EQ(hotkey_command(settings, runtime, kCtrlAltF12), HotKeyCommand::Exit);
    EXPECT_EQ(hotkey_command(settings, runtime, 0x4041), HotKeyCommand::Decrypt);
    EXPECT_EQ(hotkey_command(settings, runtime, 0x4042), HotKeyCommand::Options);
    EXPECT_EQ(hotkey_command(settings, runtime, 0x4043), HotKeyCommand::Ignore);
    runtime.ExitShortCut = 0;
    EXPECT_EQ(hotkey_command(settings, runtime, kCtrlAltF12), HotKeyCommand::Encrypt);
    EXPECT_EQ(hotkey_command(settings, runtime, 0), HotKeyCommand::Ignore);  // a switched-off field

    runtime.OperationBusy = true;
    EXPECT_EQ(hotkey_command(settings, runtime, kCtrlAltF12), HotKeyCommand::Ignore);
    // A file operation's long compression does not hold the exit hotkey up;
    // the other hotkeys stay ignored.
    runtime.FileMode = true;
    runtime.ExitShortCut = 0x4044;
    EXPECT_EQ(hotkey_command(settings, runtime, 0x4044), HotKeyCommand::Exit);
    EXPECT_EQ(hotkey_command(settings, runtime, 0x4042), HotKeyCommand::Ignore);
    EXPECT_EQ(hotkey_command(settings, runtime, kCtrlAltF12), HotKeyCommand::Ignore);
    runtime.FileMode = false;
    runtime.ExitShortCut = 0;
    runtime.OperationBusy = false;
    // A request still switching or copying: not even Options or Exit.
    runtime.ExitShortCut = 0x4044;
    for (TShortCut key : {TShortCut{0x4042}, TShortCut{0x4044}, kCtrlAltF12})
        EXPECT_EQ(hotkey_command(settings, runtime, key, /*request_running=*/true), HotKeyCommand::Ignore) << key;
    EXPECT_EQ(hotkey_command(settings, runtime, 0x4044), HotKeyCommand::Exit);
    settings.HotKeysEnabled = false;
    EXPECT_EQ(hotkey_command(settings, runtime, kCtrlAltF12), HotKeyCommand::Ignore);
}

TEST_F(RegistrationTest, ADesktopThatBindsByPurposeIsToldWhatAPressWouldDo) {
    // The purpose follows the dispatch: a combination set for two fields
    // means what a press of it does.
    runtime.EncryptShortCut = kCtrlAltF12;
    runtime.DecryptShortCut = 0x4041;
    runtime.OptionsShortCut = 0x4042;
    runtime.ExitShortCut = kCtrlAltF12;
    EXPECT_EQ(hotkey_purpose(runtime, kCtrlAltF12).id, "exit");
    EXPECT_EQ(hotkey_purpose(runtime, kCtrlAltF12).taken_message, "Exit hotkey already taken. Please change.");
    EXPECT_EQ(hotkey_purpose(runtime, 0x4041).id, "decrypt");
    EXPECT_EQ(hotkey_purpose(runtime, 0x4042).id, "options");
    runtime.ExitShortCut = 0;
    EXPECT_EQ(hotkey_purpose(runtime, kCtrlAltF12).id, "encrypt");
    EXPECT_EQ(hotkey_purpose(runtime, kCtrlAltF12).taken_message, "Auto-encrypt hotkey already taken. Please change.");
    EXPECT_EQ(hotkey_purpose(runtime, 0x4043).id, "");
    EXPECT_EQ(hotkey_purpose(runtime, 0).id, "");
}

}  // namespace
}  // namespace morvantile
