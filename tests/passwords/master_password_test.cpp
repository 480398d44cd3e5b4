#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "passwords/password_manager.h"
#include "support/desktop_fakes.h"

namespace morvantile {
namespace {

using Log = std::vector<std::string>;
using test::FakeDesktop;

// The password dialog as the entry points see it. Its log entries go into
// the desktop's log, so the order against switchtosource and the tray shows.
struct FakePasswordWindow : PasswordDialogWindow {
    FakePasswordWindow(Settings& settings, RuntimeState& runtime, FakeDesktop& desktop)
        : settings(settings), runtime(runtime), desktop(desktop) {}
    Settings& settings;
    RuntimeState& runtime;
    FakeDesktop& desktop;

    bool other_dialog_open = false;
    // The typed text and, if the user clicks it, the Retain switch; nullopt
    // is Cancel. An exhausted script cancels.
    struct Answer {
        std::string text;
        std::optional<bool> retain;
    };
    std::deque<std::optional<Answer>> answers;

    struct Seen {
        PasswordDialogLayout layout;
        std::string prompt;
        bool show_manager;
        int pumped;
    };
    std::vector<Seen> seen;

    bool ownDialogOpen() override { return other_dialog_open; }
    bool show_password_dialog(PasswordDialogLayout layout, std::string& typed) override {
        seen.push_back({layout, runtime.PromptText, settings.ShowPasswordManager, desktop.pumped});
        desktop.log.push_back("dialog");
        std::optional<Answer> answer;
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
        if (!answer) return false;
        if (answer->retain) runtime.RetainMaster = *answer->retain;
        typed = answer->text;
        return true;
    }
};

class MasterPassword : public ::testing::Test {
protected:
    Settings settings;
    RuntimeState runtime;
    FakeDesktop desktop{runtime};
    FakePasswordWindow window{settings, runtime, desktop};
    PasswordPrompts prompts{settings, runtime, window, desktop, desktop, desktop};
};

TEST_F(MasterPassword, OkRuleRetainsOrClears) {
    std::string box = "typed";
    runtime.RetainMaster = true;
    password_dialog_ok(runtime, box);
    EXPECT_EQ(runtime.CurrentPassword, "typed");
    EXPECT_EQ(runtime.MasterPassword, "typed");
    EXPECT_EQ(box, "");

    // Without Retain an OK clears the master password set earlier, whatever
    // the dialog was opened for (a confirmation too).
    runtime.RetainMaster = false;
    runtime.PasswordDialogCaption = "Morvantile: confirm password";
    box = "second";
    password_dialog_ok(runtime, box);
    EXPECT_EQ(runtime.CurrentPassword, "second");
    EXPECT_EQ(runtime.MasterPassword, "");

    box.clear();  // an empty password is accepted as such
    password_dialog_ok(runtime, box);
    EXPECT_EQ(runtime.CurrentPassword, "");
}

TEST_F(MasterPassword, SetpasswordShowsARetainedPasswordInTheTray) {
    window.answers.push_back(FakePasswordWindow::Answer{"secret", true});
    EXPECT_TRUE(prompts.setpassword());
    EXPECT_EQ(runtime.CurrentPassword, "secret");
    EXPECT_EQ(runtime.MasterPassword, "secret");
    EXPECT_EQ(desktop.log, (Log{"dialog", "switchtosource", "image 1", "clear-item 1"}));
    ASSERT_EQ(window.seen.size(), 1u);
    EXPECT_EQ(window.seen[0].layout, PasswordDialogLayout::Operation);
    EXPECT_EQ(window.seen[0].pumped, 1) << "pending messages run before the dialog";

    // Unticking Retain clears it; an empty master password leaves the tray.
    desktop.log.clear();
    window.answers.push_back(FakePasswordWindow::Answer{"once", false});
    EXPECT_TRUE(prompts.setpassword());
    EXPECT_EQ(runtime.CurrentPassword, "once");
    EXPECT_EQ(runtime.MasterPassword, "");
    EXPECT_EQ(desktop.log, (Log{"dialog", "switchtosource"}));
}

TEST_F(MasterPassword, SetpasswordCancelAndAnOpenDialog) {
    runtime.MasterPassword = "kept";
    runtime.CurrentPassword = "kept";
    EXPECT_FALSE(prompts.setpassword());  // Cancel
    EXPECT_EQ(runtime.MasterPassword, "kept");
    EXPECT_EQ(desktop.log, (Log{"dialog", "switchtosource", "image 1", "clear-item 1"}));

    desktop.log.clear();
    window.other_dialog_open = true;
    window.answers.push_back(FakePasswordWindow::Answer{"never", true});
    EXPECT_FALSE(prompts.setpassword());
    EXPECT_TRUE(desktop.log.empty());
    EXPECT_EQ(window.answers.size(), 1u);
    EXPECT_EQ(desktop.pumped, 1);
}

TEST_F(MasterPassword, ClearPassword) {
    runtime.MasterPassword = "secret";
    runtime.RetainMaster = true;
    Clearpassword1Click(runtime, desktop);
    EXPECT_EQ(runtime.MasterPassword, "");
    EXPECT_FALSE(runtime.RetainMaster);
    EXPECT_EQ(desktop.log, (Log{"image 0", "clear-item 0"}));
}

TEST_F(MasterPassword, ListPasswordOkShowsThePasswordAreaOnly) {
    settings.ShowPasswordManager = true;
    runtime.CurrentPassword = "stale";
    window.answers.push_back(FakePasswordWindow::Answer{"list=pw", std::nullopt});
    ListPasswordPrompt& prompt = prompts;
    EXPECT_TRUE(prompt.setpasswordpasswordlist(1));

    ASSERT_EQ(window.seen.size(), 1u);
    EXPECT_EQ(window.seen[0].layout, PasswordDialogLayout::ListPassword);
    EXPECT_EQ(window.seen[0].prompt, kListPromptDecrypt);
    EXPECT_FALSE(window.seen[0].show_manager);
    EXPECT_EQ(window.seen[0].pumped, 1);
    EXPECT_TRUE(settings.ShowPasswordManager) << "restored after the dialog";
    EXPECT_EQ(runtime.ListPassword, "list=pw");
    EXPECT_EQ(runtime.CurrentPassword, "");
    EXPECT_EQ(runtime.MasterPassword, "");
    EXPECT_EQ(desktop.log, (Log{"dialog", "switchtosource"})) << "the tray is left alone";
}

TEST_F(MasterPassword, ListPasswordCancel) {
    settings.ShowPasswordManager = false;
    runtime.ListPassword = "unchanged";
    runtime.CurrentPassword = "stale";
    EXPECT_FALSE(prompts.setpasswordpasswordlist(2));
    ASSERT_EQ(window.seen.size(), 1u);
    EXPECT_EQ(window.seen[0].prompt, kListPromptEncrypt);
    EXPECT_FALSE(settings.ShowPasswordManager);
    EXPECT_EQ(runtime.ListPassword, "unchanged");
    EXPECT_EQ(runtime.CurrentPassword, "");
    EXPECT_EQ(desktop.log, (Log{"dialog", "switchtosource"}));

    // Another dialog open: the prompt text is set, nothing is shown.
    window.other_dialog_open = true;
    settings.ShowPasswordManager = true;
    runtime.PromptText.clear();
    EXPECT_FALSE(prompts.setpasswordpasswordlist(1));
    EXPECT_EQ(runtime.PromptText, kListPromptDecrypt);
    EXPECT_EQ(window.seen.size(), 1u);
    EXPECT_TRUE(settings.ShowPasswordManager);
}

TEST_F(MasterPassword, ListPasswordFollowsTheUsualOkRule) {
    runtime.MasterPassword = "old";
    runtime.RetainMaster = true;  // ticked at an earlier opening; the switch is hidden here
    window.answers.push_back(FakePasswordWindow::Answer{"list", std::nullopt});
    EXPECT_TRUE(prompts.setpasswordpasswordlist(2));
    EXPECT_EQ(runtime.ListPassword, "list");
    EXPECT_EQ(runtime.MasterPassword, "list");
    EXPECT_EQ(runtime.CurrentPassword, "");
}

}  // namespace
}  // namespace morvantile
