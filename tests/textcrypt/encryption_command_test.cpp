#include "textcrypt/encryption_command.h"

#include <gtest/gtest.h>

#include "config/settings.h"
#include "filecrypt/file_fakes.h"
#include "filecrypt/file_system.h"
#include "support/desktop_fakes.h"
#include "textcrypt/clipboard.h"
#include "textcrypt/text_codec.h"
#include "textcrypt/text_encoding.h"

namespace morvantile {
namespace {

using test::FakeClipboard;
using test::FakeDesktop;
using Log = std::vector<std::string>;
using Typed = FakeDesktop::Typed;

struct CommandTest : ::testing::Test {
    Settings settings;
    RuntimeState runtime;
    FakeDesktop desktop{runtime};
    FakeClipboard clip;
    ClipboardExchange exchange{clip, settings, runtime, desktop, desktop};
    PosixFileSystem files;
    EncryptionCommand command{settings, runtime, exchange, {desktop, desktop, desktop, desktop, desktop}, files};

    CommandTest() {
        runtime.VersionText = version_text();
        settings.AppendSeparator = false;
    }

    void copy(std::string_view text) { clip.put(kPlainTextFormat, text); }
    std::string clipboard() const { return clip.plain().value_or("<no plain text>"); }
    std::string idle_hint() const { return "hint " + tray_hint_text(settings, runtime); }

    // The block the command must produce, made by the codec directly.
    std::string block(std::string_view plain, std::string_view pw) const {
        CodecResult r = encrypt_message(plain, pw, codec_options(settings));
        EXPECT_TRUE(r.ok()) << r.message();
        return r.text();
    }
    // The desktop's calls without the clipboard's.
    Log calls() const {
        Log out;
        for (const std::string& e : desktop.log)
            if (!e.starts_with("clip ")) out.push_back(e);
        return out;
    }
};

// ---- password acquisition

TEST_F(CommandTest, RetainedMasterPasswordIsUsedWithoutDialogAndAnnounced) {
    runtime.MasterPassword = "master";
    settings.ConfirmPassword = true;  // never applies to a retained password
    copy("hello");
    command.encryption('e');
    EXPECT_EQ(calls(), (Log{"front", "popup 0", "image 2", "image 3", "notice 1", "hint Encrypting text...",
                            "pasteback 0", "image 1", idle_hint(), "popup 1"}));
    EXPECT_EQ(clipboard(), block("hello", "master"));
    EXPECT_FALSE(runtime.OperationBusy);
    EXPECT_TRUE(runtime.CurrentPassword.empty());  // not kept past the operation
    EXPECT_EQ(runtime.MasterPassword, "master");
}

TEST_F(CommandTest, PromptAndColourFollowTheOperation) {
    const struct {
        char code;
        const char* prompt;
        std::int32_t colour;
    } cases[] = {{'e', "Enter text encryption password:", kColorYellow},
                 {'d', "Enter text decryption password:", kColorLime},
                 {'f', "Enter file encryption password:", kColorYellow},
                 {'g', "Enter file decryption password:", kColorLime}};
    for (const auto& c : cases) {
        desktop.log.clear();
        command.encryption(c.code);  // the dialog is cancelled
        EXPECT_EQ(desktop.only({"password"}), (Log{std::string("password Morvantile: enter password | ") + c.prompt}));
        EXPECT_EQ(runtime.PromptColour, c.colour);
    }
}

TEST_F(CommandTest, ConfirmationOnlyForFreshlyTypedHiddenEncryptionPasswords) {
    const struct {
        char code;
        bool confirm, reveal;
        int dialogs;
    } cases[] = {
        {'e', true, false, 2}, {'f', true, false, 2}, {'e', false, false, 1},
        {'e', true, true, 1},  {'d', true, false, 1}, {'g', true, false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(1, c.code) + (c.confirm ? " confirm" : "") + (c.reveal ? " reveal" : ""));
        settings.ConfirmPassword = c.confirm;
        settings.RevealPassword = c.reveal;
        desktop.log.clear();
        desktop.passwords = {Typed{"pw"}, Typed{"pw"}};
        command.encryption(c.code);
        const Log asked = desktop.only({"password"});
        ASSERT_EQ(asked.size(), static_cast<std::size_t>(c.dialogs));
        if (c.dialogs == 2) {
            EXPECT_TRUE(asked[1].starts_with("password Morvantile: confirm password | "));
        }
        EXPECT_TRUE(desktop.only({"error"}).empty());
    }
}

TEST_F(CommandTest, MismatchedConfirmationEndsTheOperationAndDropsTheRetainedPassword) {
    settings.ConfirmPassword = true;
    copy("secret text");
    desktop.passwords = {Typed{"first", true}, Typed{"Second", true}};
    command.encryption('e');
    EXPECT_EQ(desktop.only({"error"}), (Log{"error Passwords do not match!"}));
    EXPECT_EQ(clipboard(), "secret text");
    EXPECT_TRUE(runtime.MasterPassword.empty());
    EXPECT_FALSE(runtime.RetainMaster);
    EXPECT_EQ(calls().back(), "popup 1");
    EXPECT_EQ(desktop.only({"image", "clear-item"}), (Log{"image 2", "image 0", "clear-item 0", "image 0"}));
    EXPECT_TRUE(desktop.only({"pasteback"}).empty());
}

TEST_F(CommandTest, CancelledConfirmationRetainsNoUnconfirmedPassword) {
    settings.ConfirmPassword = true;
    copy("secret text");
    desktop.passwords = {Typed{"typo", true}, std::nullopt};
    command.encryption('e');
    EXPECT_TRUE(runtime.MasterPassword.empty());
    EXPECT_TRUE(runtime.RetainMaster) << "the switch stays as the user left it";
    EXPECT_EQ(desktop.only({"image", "clear-item"}), (Log{"image 2", "image 0", "clear-item 0", "image 0"}));
    EXPECT_EQ(clipboard(), "secret text");
    EXPECT_TRUE(desktop.only({"error"}).empty());

    // Confirmed, it is kept.
    desktop.passwords = {Typed{"right", true}, Typed{"right", true}};
    command.encryption('e');
    EXPECT_EQ(runtime.MasterPassword, "right");
    EXPECT_EQ(clipboard(), block("secret text", "right"));
}

TEST_F(CommandTest, EmptyPasswordAsksAgainAndCancelEndsQuietly) {
    copy("unchanged");
    bool busy_in_dialog = false;
    desktop.on_call = [&](const std::string& e) {
        if (e.starts_with("password")) busy_in_dialog = runtime.OperationBusy;
    };
    desktop.passwords = {Typed{""}, std::nullopt};
    command.encryption('e');
    EXPECT_EQ(calls(), (Log{"front", "popup 0", "image 2", "password Morvantile: enter password | Enter text "
                            "encryption password:", "password Morvantile: enter password | Enter text encryption "
                            "password:", "image 0", idle_hint(), "popup 1"}));
    EXPECT_TRUE(busy_in_dialog);
    EXPECT_FALSE(runtime.OperationBusy);
    EXPECT_EQ(clipboard(), "unchanged");
    EXPECT_EQ(clip.opened, 0);
}

TEST_F(CommandTest, UnknownCodeRunsOnlyTheStartAndEndSteps) {
    command.encryption('x');
    EXPECT_EQ(calls(), (Log{"front", "popup 0", "image 0", idle_hint(), "popup 1"}));
}

// ---- passes and delivery

TEST_F(CommandTest, EncryptionPastesTheBlockWithTheSelectAllChoice) {
    settings.AutoSelect_e = true;
    settings.AppendSeparator = true;
    copy("hello");
    desktop.passwords = {Typed{"pw"}};
    command.encryption('e');
    EXPECT_EQ(desktop.only({"pasteback"}), (Log{"pasteback 1"}));
    EXPECT_EQ(clipboard(), block("hello", "pw"));
    EXPECT_TRUE(clipboard().starts_with("[-START Morvantile v."));
}

TEST_F(CommandTest, DecryptionGoesWhereDecryptViewSays) {
    settings.AutoSelect_d = true;
    settings.DecryptViewer = "mousepad --disable-server";
    const std::string ciphertext = block("plain words", "pw");
    const struct {
        int view;
        const char* delivery;
    } cases[] = {{0, "pasteback 1"}, {1, "showviewer 1/1"}, {2, "launchviewer mousepad --disable-server 5"}};
    for (const auto& c : cases) {
        settings.DecryptView = c.view;
        copy(ciphertext);
        desktop.log.clear();
        desktop.passwords = {Typed{"pw"}};
        command.encryption('d');
        EXPECT_EQ(desktop.only({"pasteback", "showviewer", "launchviewer"}), (Log{c.delivery}));
        EXPECT_EQ(clipboard(), "plain words");
        EXPECT_TRUE(desktop.only({"error"}).empty());
    }
}

TEST_F(CommandTest, HardcoreEncryptionDeliversEachPassThroughTheClipboard) {
    settings.HardcoreMode = true;
    copy("two layers");
    Log pasted;
    desktop.on_call = [&](const std::string& e) {
        if (e.starts_with("pasteback")) pasted.push_back(clipboard());
    };
    desktop.passwords = {Typed{"pw"}};
    command.encryption('e');
    const std::string inner = encrypt_text("two layers", settings.cipher_setup(), "pw", false).text();
    EXPECT_EQ(pasted, (Log{inner, encrypt_text(inner, kHardcoreSuite, "pw", false).text()}));
    EXPECT_EQ(desktop.only({"notice"}), (Log{"notice 3"}));
    EXPECT_EQ(desktop.only({"hint Encrypting"}).size(), 2u);
}

TEST_F(CommandTest, HardcoreDecryptionShowsTheViewerOnceAfterTheSecondPass) {
    settings.Algorithm = 6;  // the inner layer in another suite than the outer one
    settings.HardcoreMode = true;
    const std::string ciphertext = block("deep", "pw");
    copy(ciphertext);
    settings.DecryptView = 1;
    desktop.passwords = {Typed{"pw"}};
    command.encryption('d');
    EXPECT_EQ(desktop.only({"showviewer"}), (Log{"showviewer 1/2", "showviewer 2/2"}));
    EXPECT_EQ(clipboard(), "deep");

    // Into the source window the intermediate text is pasted, then replaced.
    settings.DecryptView = 0;
    copy(ciphertext);
    Log pasted;
    desktop.on_call = [&](const std::string& e) {
        if (e.starts_with("pasteback")) pasted.push_back(clipboard());
    };
    desktop.passwords = {Typed{"pw"}};
    command.encryption('d');
    EXPECT_EQ(pasted, (Log{encrypt_text("deep", settings.cipher_setup(), "pw", false).text(), "deep"}));
}

TEST_F(CommandTest, HardcoreDecryptionCutsSeparatorsOfTheInnerBlock) {
    settings.HardcoreMode = true;
    settings.AppendSeparator = true;  // both on: only by editing the configuration file
    const std::string ciphertext = block("framed", "pw");
    copy(strip_separator_lines(ciphertext));
    desktop.passwords = {Typed{"pw"}};
    command.encryption('d');
    EXPECT_TRUE(desktop.only({"error"}).empty());
    EXPECT_EQ(clipboard(), "framed");
}

TEST_F(CommandTest, SourceWindowGoneLeavesTheResultOnTheClipboard) {
    settings.HardcoreMode = true;
    copy("text");
    desktop.source_exists = false;
    desktop.passwords = {Typed{"pw"}};
    command.encryption('e');
    EXPECT_EQ(desktop.only({"error"}), (Log{"error ERROR: Cannot find original window!"}));
    // The second pass does not run after the failed delivery.
    EXPECT_EQ(clipboard(), encrypt_text("text", settings.cipher_setup(), "pw", false).text());
    EXPECT_EQ(desktop.only({"pasteback"}).size(), 1u);
}

// ---- failures, and the clipboard after them

TEST_F(CommandTest, EachFailingStepShowsItsMessageAndLeavesTheClipboard) {
    const std::string ciphertext = block("msg", "pw");
    struct Case {
        const char* name;
        char code;
        std::function<void()> arrange;
        std::string message;
    };
    const Case cases[] = {
        {"unknown cipher", 'e', [&] { settings.Algorithm = 99; }, "Cipher creation error!"},
        {"unknown mode", 'd', [&] { settings.ChainingMode = 5; }, "Failed to set ciphermode!"},
        {"unknown hash", 'e', [&] { settings.Hash = -1; }, "Failed to perform hashing!"},
        {"clipboard unreadable", 'e', [&] { clip.fail_get = true; }, "Failed to import stream from clipboard!"},
        {"clipboard unwritable, e", 'e', [&] { clip.fail_set = true; }, "Encrypt (with compression) error!"},
        {"clipboard unwritable, d", 'd', [&] { clip.fail_set = true; }, "Failed to send to clipboard!"},
        {"wrong password", 'd', [&] { desktop.passwords = {Typed{"PW"}}; }, std::string(kDecompressionHint)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        settings = Settings{};
        settings.AppendSeparator = false;
        clip.fail_get = clip.fail_set = false;
        const std::string before = c.code == 'e' ? "plain" : ciphertext;
        copy(before);
        desktop.log.clear();
        desktop.passwords = {Typed{"pw"}};
        c.arrange();
        command.encryption(c.code);
        EXPECT_EQ(desktop.only({"error"}), (Log{"error " + c.message}));
        clip.fail_get = false;
        EXPECT_EQ(clipboard(), before);
        EXPECT_TRUE(desktop.only({"pasteback"}).empty());
        EXPECT_EQ(calls().back(), "popup 1");
        EXPECT_FALSE(runtime.OperationBusy);
    }
}

TEST_F(CommandTest, HardcoreFailureInTheSecondPassKeepsTheFirstPassResult) {
    settings.HardcoreMode = true;
    copy("layered");
    int writes = 0;
    clip.before = [&](const std::string& op) {
        if (op == "set" && ++writes == 2) throw EClipboardError("taken by another program");
    };
    desktop.passwords = {Typed{"pw"}};
    command.encryption('e');
    EXPECT_EQ(desktop.only({"error"}), (Log{"error Encrypt (with compression) error!"}));
    EXPECT_EQ(clipboard(), encrypt_text("layered", settings.cipher_setup(), "pw", false).text());
}

// ---- the bytes text and passwords become

// "Grüße, Müller" as the desktop has it (UTF-8) and as the Windows build
// encrypts it (Windows-1252).
const std::string kGreetingUtf8 = "Gr\xC3\xBC\xC3\x9F" "e, M\xC3\xBCller";
const std::string kGreeting1252 = "Gr\xFC\xDF" "e, M\xFCller";
const std::string kPassword1252 = "M\xFCller";   // what the dialog makes of "Müller"
const std::string kPasswordUtf8 = "M\xC3\xBCller";

TEST_F(CommandTest, WesternTextIsEncryptedAsTheWindowsBuildsBytes) {
    copy(kGreetingUtf8);
    desktop.passwords = {Typed{kPassword1252}};
    command.encryption('e');
    EXPECT_EQ(clipboard(), block(kGreeting1252, kPassword1252));

    // Text with a character Windows-1252 lacks is encrypted as UTF-8.
    const std::string cyrillic = "\xD0\x96 and M\xC3\xBCller";  // "Ж and Müller"
    copy(cyrillic);
    desktop.passwords = {Typed{kPassword1252}};
    command.encryption('e');
    EXPECT_EQ(clipboard(), block(cyrillic, kPassword1252));

    // Always UTF-8 when the option says so.
    settings.TextEncoding = kTextEncodingUtf8;
    copy(kGreetingUtf8);
    desktop.passwords = {Typed{kPassword1252}};
    command.encryption('e');
    EXPECT_EQ(clipboard(), block(kGreetingUtf8, kPassword1252));
}

TEST_F(CommandTest, ABlockOfTheWindowsBuildOpensAndItsTextReachesTheDesktopAsUnicode) {
    copy(block(kGreeting1252, kPassword1252));
    desktop.passwords = {Typed{kPassword1252}};
    command.encryption('d');
    EXPECT_EQ(clipboard(), kGreetingUtf8);
    EXPECT_TRUE(clip.secret);
}

TEST_F(CommandTest, TheOtherFormOfThePasswordOpensOlderBlocksOnlyAfterADecompressionFailure) {
    // Made by an earlier Linux build, which hashed the UTF-8 bytes; the
    // dialog now gives the Windows-1252 ones.
    settings.HardcoreMode = true;
    copy(block(kGreetingUtf8, kPasswordUtf8));
    desktop.passwords = {Typed{kPassword1252}};
    command.encryption('d');
    EXPECT_TRUE(desktop.only({"error"}).empty());
    EXPECT_EQ(clipboard(), kGreetingUtf8);

    // A wrong password still says so, once.
    settings.HardcoreMode = false;
    copy(block("text", kPasswordUtf8));
    desktop.passwords = {Typed{"M\xFCllers"}};
    command.encryption('d');
    EXPECT_EQ(desktop.only({"error"}), (Log{"error " + std::string(kDecompressionHint)}));

    // Without decompression there is no failure to notice: the wrong key's
    // bytes come out, as with any wrong password.
    settings.NoDecompress = true;
    const std::string raw = block("text", kPasswordUtf8);
    copy(raw);
    desktop.log.clear();
    desktop.passwords = {Typed{kPassword1252}};
    command.encryption('d');
    EXPECT_TRUE(desktop.only({"error"}).empty());
    CodecResult expected = decrypt_text(raw, settings.cipher_setup(), kPassword1252, false);
    const std::string& wrong = expected.text();
    EXPECT_EQ(clipboard(), bytes_as_text(wrong.substr(0, wrong.find('\0'))));
}

TEST_F(CommandTest, SenderTagJoinsWesternTextAsText) {
    settings.AddSenderTag = true;
    runtime.SenderTag = "\r\nSent 8 d\xC3\xA9" "cembre";  // a French locale's date, UTF-8
    copy(kGreetingUtf8);
    desktop.passwords = {Typed{"pw"}};
    command.encryption('e');
    CodecResult back = decrypt_message(clipboard(), "pw", codec_options(settings));
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.text(), kGreeting1252 + "\r\nSent 8 d\xE9" "cembre");
}

// ---- sender tag

TEST_F(CommandTest, SenderTagIsAppendedInsideTheInnerLayerAsPlainText) {
    settings.AddSenderTag = true;
    settings.HardcoreMode = true;
    settings.UseRTF = true;  // together only by editing the file: the rich text is lost
    runtime.SenderTag = "\r\n*** Morvantile Info ***";
    clip.content = {{runtime.RtfFormat, "{\\rtf1 styled}"}, {std::string(kPlainTextFormat), "styled"}};
    desktop.passwords = {Typed{"pw"}};
    command.encryption('e');
    CodecResult back = decrypt_message(clipboard(), "pw", codec_options(settings));
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.text(), "styled\r\n*** Morvantile Info ***");
}

TEST_F(CommandTest, SenderTagFailureIsReportedInAPlainBoxAndEncryptionGoesOn) {
    settings.AddSenderTag = true;
    runtime.SenderTag = "\r\nTAG";
    copy("untagged");
    int writes = 0;
    clip.before = [&](const std::string& op) {
        if (op == "set" && ++writes == 1) throw EClipboardError("write failed");
    };
    desktop.passwords = {Typed{"pw"}};
    command.encryption('e');
    EXPECT_EQ(desktop.only({"box", "error"}), (Log{"box Failed to add Sender tag info."}));
    EXPECT_EQ(clipboard(), block("untagged", "pw"));
}

// ---- file operations in the same frame

TEST_F(CommandTest, FileOperationsRunOnePassInTheFrameAndRoundTrip) {
    test::TempFolder dir;
    const std::string source = dir / "report.txt";
    test::write_file(source, "figures\r\n");
    settings.HardcoreMode = true;  // applies to text only
    desktop.passwords = {Typed{"pw"}};
    desktop.open_answers = {source};
    desktop.save_answers = {dir / "secret.txt"};
    command.encryption('f');
    EXPECT_EQ(calls(), (Log{"front", "popup 0", "image 2",
                            "password Morvantile: enter password | Enter file encryption password:", "image 3",
                            "front", "open Morvantile: open file for encryption",
                            "front", "save Morvantile: save encrypted file as",
                            "hint Encrypting file: compressing...", "hint Encrypting file: encrypting...",
                            "image 0", idle_hint(), "popup 1"}));
    EXPECT_EQ(test::read_file(source), "figures\r\n");

    desktop.log.clear();
    desktop.passwords = {Typed{"pw"}};
    desktop.open_answers = {dir / "secret.mvt"};
    desktop.save_answers = {dir / "back.txt"};
    command.encryption('g');
    EXPECT_TRUE(desktop.only({"error", "notice"}).empty());
    EXPECT_EQ(test::read_file(dir / "back.txt"), "figures\r\n");
}

TEST_F(CommandTest, FailedFileOperationIsCleanedUpInTheEndSteps) {
    test::TempFolder dir;
    const std::string source = dir / "report.txt";
    test::write_file(source, "figures");
    desktop.passwords = {Typed{"pw"}};
    desktop.open_answers = {source};
    desktop.save_answers = {dir / "secret.mvt"};
    command.encryption('f');

    desktop.log.clear();
    desktop.passwords = {Typed{"not the password"}};
    desktop.open_answers = {dir / "secret.mvt"};
    desktop.save_answers = {dir / "back.txt"};
    command.encryption('g');
    ASSERT_EQ(desktop.only({"error"}).size(), 1u);
    EXPECT_TRUE(desktop.only({"error"})[0].starts_with("error Failed to decompress file!"));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"report.txt", "secret.mvt"}));  // the partial output is gone
    EXPECT_EQ(calls().back(), "popup 1");
}

}  // namespace
}  // namespace morvantile
