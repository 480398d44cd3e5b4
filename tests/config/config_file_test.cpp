#include "config/config_file.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

#include "support/fakes.h"
#include "textcrypt/password_list_cipher.h"
#include "textcrypt/text_encoding.h"

namespace morvantile {
namespace {

namespace fs = std::filesystem;
using test::RecordingErrors;
using test::ScriptedListPrompt;

const std::string kDecompressFailed =
    "Failed to decompress password list!\r\nPassword Manager unavailable this session.";

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void spit(const fs::path& p, std::string_view text) { std::ofstream(p, std::ios::binary) << text; }

// One run of the program against a configuration file: its settings,
// run-time state, lists, prompt script and recorded messages.
struct ProgramRun {
    explicit ProgramRun(const fs::path& file) : prompt(runtime), config(settings, runtime, lists, prompt, errors) {
        runtime.ConfigFileName = file.string();
    }
    Settings settings;
    RuntimeState runtime;
    PasswordLists lists;
    RecordingErrors errors;
    ScriptedListPrompt prompt;
    ConfigFile config;

    void add(std::string_view entry) {
        const std::string e(entry);
        lists.passwordlist.push_back(e);
        lists.passwordlist_setting.push_back(e.substr(0, 3));
        lists.passwordlist_name.push_back(e.substr(3, e.find('=') - 3));
        runtime.PasswordListChanged = true;
    }
};

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("mvt-config-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        file_ = dir_ / "morvantile.ini";
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Writes a list with the given entries under `password` through a whole
    // program run, as the program does at exit.
    void store_list(std::initializer_list<std::string_view> entries, const std::string& password) {
        ProgramRun run(file_);
        for (auto e : entries) run.add(e);
        run.prompt.answers.push_back(password);
        ASSERT_TRUE(run.config.writeinifile("normal"));
    }

    fs::path dir_;
    fs::path file_;
};

TEST_F(ConfigFileTest, MissingFileGivesTheMissingKeyDefaults) {
    ProgramRun run(file_);
    run.config.readinifile();
    EXPECT_EQ(run.settings, settings_missing_defaults());
    EXPECT_FALSE(run.runtime.PasswordListPresent);
    EXPECT_TRUE(run.prompt.kinds.empty());
    EXPECT_TRUE(run.errors.shown.empty());
}

TEST_F(ConfigFileTest, NoConfigInTheFileKeepsTheStartValues) {
    spit(file_, "[misc]\r\nNoConfig=1\r\n[hotkeys]\r\nHotKeysEnabled=1\r\n");
    ProgramRun run(file_);
    run.config.readinifile();
    Settings expected;
    expected.NoConfig = true;
    EXPECT_EQ(run.settings, expected);
    EXPECT_FALSE(run.settings.HotKeysEnabled);
    EXPECT_TRUE(run.settings.AppendSeparator);

    // At exit only NoConfig is recorded; nothing else in the file changes.
    const std::string before = slurp(file_);
    ASSERT_TRUE(run.config.writeinifile("noconfig"));
    EXPECT_EQ(slurp(file_), before);
}

TEST_F(ConfigFileTest, NoConfigModeTouchesOnlyAnExistingFile) {
    ProgramRun run(file_);
    ASSERT_TRUE(run.config.writeinifile("noconfig"));
    EXPECT_FALSE(fs::exists(file_));
    EXPECT_TRUE(run.config.writeinifile("anything else"));
    EXPECT_FALSE(fs::exists(file_));

    spit(file_, "[misc]\r\nAutoCopy=0\r\nNoConfig=0\r\n");
    ASSERT_TRUE(run.config.writeinifile("noconfig"));
    EXPECT_EQ(slurp(file_), "[misc]\r\nAutoCopy=0\r\nNoConfig=1\r\n");
}

TEST_F(ConfigFileTest, ExitWriteFollowsBothNoConfigFlags) {
    spit(file_, "[misc]\r\nAutoCopy=0\r\n");
    const std::string before = slurp(file_);
    {
        ProgramRun run(file_);  // started with noconfig, left as it was
        run.runtime.CmdNoConfig = run.settings.NoConfig = true;
        ASSERT_TRUE(run.config.write_at_exit());
        EXPECT_EQ(slurp(file_), before);
    }
    {
        ProgramRun run(file_);  // started with noconfig, then "No config file" cleared
        run.runtime.CmdNoConfig = true;
        ASSERT_TRUE(run.config.write_at_exit());
        EXPECT_NE(slurp(file_).find("HotKeysEnabled=0"), std::string::npos) << "start values written";
    }
    {
        ProgramRun run(file_);  // "No config file" ticked during the run
        run.config.readinifile();
        run.settings.NoConfig = true;
        run.settings.AutoPaste = false;
        ASSERT_TRUE(run.config.write_at_exit());
        ProgramRun next(file_);
        next.config.readinifile();
        EXPECT_TRUE(next.settings.NoConfig);
        IniFile ini = IniFile::load(file_.string());
        EXPECT_TRUE(ini.read_bool("misc", "AutoPaste", false)) << "earlier options stay in the file";
    }
}

TEST_F(ConfigFileTest, ValueEncodings) {
    spit(file_,
         "[misc]\nAutoCopy=yes\nAutoPaste=2\nHints = 0 \nTrayHint=$2\nDecryptView=0x1\n"
         "QuoteString=  |  \nDecryptViewer=\n[TIMING]\nsendkeysdelay=-5\nActiveWindowCheckTime=12abc\n"
         "[encryption]\nNODECOMPRESS=1\n[Font]\nColor=$80000008\nBold=7\n");
    ProgramRun run(file_);
    run.settings.ViewerFont.Italic = true;  // a style is never removed by reading
    run.config.readinifile();
    const Settings& s = run.settings;
    EXPECT_TRUE(s.AutoCopy) << "a word reads as the default";
    EXPECT_TRUE(s.AutoPaste) << "any number but 0 is true";
    EXPECT_FALSE(s.Hints);
    EXPECT_EQ(s.TrayHint, 2);
    EXPECT_EQ(s.DecryptView, 1);
    EXPECT_EQ(s.QuoteString, "|");
    EXPECT_EQ(s.DecryptViewer, "") << "an empty key is not a missing key";
    EXPECT_EQ(s.SendKeysDelay, 0) << "a negative delay is no delay";
    EXPECT_EQ(s.ActiveWindowCheckTime, 250);
    EXPECT_TRUE(s.NoDecompress);
    EXPECT_EQ(s.ViewerFont.Color, -2147483640);
    EXPECT_TRUE(s.ViewerFont.Bold);
    EXPECT_TRUE(s.ViewerFont.Italic);
    EXPECT_EQ(s.ViewerFont.Name, "MS Sans Serif");
}

TEST_F(ConfigFileTest, TimingAndTextEncodingAreBroughtIntoRange) {
    // 0 would run the window check without pause, a negative value never.
    for (const char* check : {"0", "-40", "$FFFFFFFF"}) {
        spit(file_, std::string("[timing]\nActiveWindowCheckTime=") + check + "\nSendKeysDelay=-1\n[encryption]\n" +
                        "TextEncoding=1\n");
        ProgramRun run(file_);
        run.config.readinifile();
        EXPECT_EQ(run.settings.ActiveWindowCheckTime, 1) << check;
        EXPECT_EQ(run.settings.SendKeysDelay, 0) << check;
        EXPECT_EQ(run.settings.TextEncoding, kTextEncodingUtf8);
    }
    spit(file_, "[timing]\nActiveWindowCheckTime=1\nSendKeysDelay=0\n[encryption]\nTextEncoding=7\n");
    ProgramRun run(file_);
    run.config.readinifile();
    EXPECT_EQ(run.settings.ActiveWindowCheckTime, 1);
    EXPECT_EQ(run.settings.SendKeysDelay, 0);
    EXPECT_EQ(run.settings.TextEncoding, kTextEncodingWindows1252) << "only 1 means UTF-8 always";
}

TEST_F(ConfigFileTest, TheTextSizeLimitIsAtLeastOneMiB) {
    for (const auto& [stored, read] : std::vector<std::pair<std::string, int>>{
             {"512", 512}, {"1", 1}, {"0", 256}, {"-3", 256}, {"many", 256}}) {
        spit(file_, "[misc]\nMaxTextSize=" + stored + "\n");
        ProgramRun run(file_);
        run.config.readinifile();
        EXPECT_EQ(run.settings.MaxTextSize, read) << stored;
        EXPECT_EQ(run.settings.max_text_size(), std::uint64_t(read) << 20);
    }
    ProgramRun run(file_);
    run.settings.MaxTextSize = 64;
    ASSERT_TRUE(run.config.writeinifile("normal"));
    EXPECT_NE(slurp(file_).find("MaxTextSize=64\r\n"), std::string::npos);
}

TEST_F(ConfigFileTest, NewFileHoldsEveryKeyInTheWritersOrder) {
    ProgramRun run(file_);
    ASSERT_TRUE(run.config.writeinifile("normal"));
    const std::string text = slurp(file_);
    std::vector<std::string> sections;
    for (std::size_t at = 0; (at = text.find('[', at)) != std::string::npos; ++at)
        sections.push_back(text.substr(at, text.find(']', at) - at + 1));
    EXPECT_EQ(sections, (std::vector<std::string>{"[hotkeys]", "[misc]", "[timing]", "[encryption]", "[filemode]",
                                                  "[Font]"}));
    EXPECT_EQ(text.rfind("[hotkeys]\r\nAutoEncryptHotKeyString=ctrl+shift+f12\r\n", 0), 0u);
    EXPECT_NE(text.find("ChainingMode=0\r\nHash=0\r\nAlgorithm=4\r\nAllowChanges=0\r\nNodecompress=0\r\n"
                        "HardcoreMode=0\r\nTextEncoding=0\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("Color=-2147483640\r\n"), std::string::npos);
    EXPECT_EQ(text.find("PasswordList"), std::string::npos);
    EXPECT_EQ(fs::status(file_).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(ConfigFileTest, EveryOptionRoundTrips) {
    ProgramRun first(file_);
    Settings& s = first.settings;
    s.AutoEncryptHotKeyString = "ctrl+alt+e";
    s.HotKeysEnabled = true;
    s.AppendSeparator = false;
    s.ActiveWindowCheckTime = 500;
    s.SendKeysDelay = 75;
    s.ChainingMode = 4;
    s.Hash = 5;
    s.Algorithm = 8;
    s.TrayHint = 2;
    s.NoDecompress = s.HardcoreMode = s.UseRTF = s.AddSenderTag = true;
    s.TextEncoding = kTextEncodingUtf8;
    s.SecureWipe = s.ViewerWrap = false;
    s.DecryptView = 2;
    s.DecryptViewer = "/usr/bin/mousepad --disable-server";
    s.QuoteString = "|";
    s.FileExtension = "enc";
    s.ViewerFont = {"DejaVu Sans Mono", 11, 0x0000FF, true, false, true, true};
    ASSERT_TRUE(first.config.writeinifile("normal"));

    ProgramRun second(file_);
    second.config.readinifile();
    EXPECT_EQ(second.settings, first.settings);
}

TEST_F(ConfigFileTest, WritingKeepsForeignContentAndPlacements) {
    spit(file_, "; written by hand\r\n[misc]\r\nAutoCopy=1\r\nSomethingElse=keep me\r\n"
                "[FormPlacement frmoptions]\r\nFlags=0\r\nShowCmd=1\r\nPixelsPerInch=96\r\n"
                "MinMaxPos=-1,-1,-1,-1\r\nNormPos=10,20,400,300\r\n");
    ProgramRun run(file_);
    ASSERT_TRUE(run.config.writeinifile("normal"));
    const std::string text = slurp(file_);
    EXPECT_EQ(text.rfind("; written by hand\r\n[misc]\r\nAutoCopy=1\r\nSomethingElse=keep me\r\n", 0), 0u);
    EXPECT_NE(text.find("[FormPlacement frmoptions]"), std::string::npos);
    const auto p = run.config.read_placement(kPlacementOptions);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Left, 10);
    EXPECT_EQ(p->Bottom, 300);
}

TEST_F(ConfigFileTest, PlacementsRoundTripBesideTheOptions) {
    ProgramRun run(file_);
    EXPECT_FALSE(run.config.read_placement(kPlacementViewer));
    const FormPlacement p{0, 1, 96, -1, -1, -1, -1, 100, 120, 740, 600};
    ASSERT_TRUE(run.config.write_placement(kPlacementViewer, p));
    ASSERT_TRUE(run.config.writeinifile("normal"));
    EXPECT_NE(slurp(file_).find("[FormPlacement frm_decryptview]\r\nFlags=0\r\nShowCmd=1\r\nPixelsPerInch=96\r\n"
                                "MinMaxPos=-1,-1,-1,-1\r\nNormPos=100,120,740,600\r\n"),
              std::string::npos);
    EXPECT_EQ(run.config.read_placement(kPlacementViewer), p);
    EXPECT_FALSE(run.config.read_placement(kPlacementPasswordDialog));
}

TEST_F(ConfigFileTest, PasswordListRoundTripsUnderTheListPassword) {
    store_list({"400mail=pa=ss", "612bank=", "000x=y"}, "list pw");
    const std::string text = slurp(file_);
    ASSERT_NE(text.find("[PasswordList]\r\n1="), std::string::npos);
    EXPECT_NE(text.find("\r\n3="), std::string::npos);

    ProgramRun run(file_);
    run.prompt.answers = {std::string(""), std::string("list pw")};  // an empty OK asks again
    run.config.readinifile();
    EXPECT_EQ(run.prompt.kinds, (std::vector<int>{1, 1}));
    EXPECT_EQ(run.prompt.prompts.front(), kListPromptDecrypt);
    EXPECT_TRUE(run.runtime.PasswordListPresent);
    EXPECT_EQ(run.lists.passwordlist, (std::vector<std::string>{"400mail=pa=ss", "612bank=", "000x=y"}));
    EXPECT_EQ(run.lists.passwordlist_name, (std::vector<std::string>{"mail", "bank", "x"}));
    EXPECT_EQ(run.lists.passwordlist_setting, (std::vector<std::string>{"400", "612", "000"}));
    EXPECT_TRUE(run.errors.shown.empty());
}

TEST_F(ConfigFileTest, OldEntriesWithoutSettingsGetTheDefaultSuite) {
    RecordingErrors errors;
    spit(file_, "[PasswordList]\r\n1=" + passwordlistencryption("mail=abc", 'e', "k", errors) + "\r\n2=" +
                    passwordlistencryption("2024diary=x", 'e', "k", errors) + "\r\n");
    ProgramRun run(file_);
    run.runtime.ListPassword = "k";  // known: no prompt
    run.config.readinifile();
    EXPECT_TRUE(run.prompt.kinds.empty());
    EXPECT_EQ(run.lists.passwordlist, (std::vector<std::string>{"400mail=abc", "2024diary=x"}));
    EXPECT_EQ(run.lists.passwordlist_name, (std::vector<std::string>{"mail", "4diary"}));
    EXPECT_EQ(run.lists.passwordlist_setting, (std::vector<std::string>{"400", "202"}));
}

TEST_F(ConfigFileTest, ListWithoutKeyOneIsAbsent) {
    RecordingErrors errors;
    spit(file_, "[PasswordList]\r\n2=" + passwordlistencryption("400a=b", 'e', "k", errors) + "\r\n1=\r\n");
    ProgramRun run(file_);
    run.config.readinifile();
    EXPECT_FALSE(run.runtime.PasswordListPresent);
    EXPECT_TRUE(run.prompt.kinds.empty());
    EXPECT_TRUE(run.lists.empty());
}

TEST_F(ConfigFileTest, LongEntriesAreReadWhole) {
    const std::string password(5000, 'p');
    const std::string entry = "400long=" + password;
    store_list({entry, "400short=s"}, "k");
    ProgramRun run(file_);
    run.prompt.answers = {std::string("k")};
    run.config.readinifile();
    ASSERT_EQ(run.lists.size(), 2u);
    EXPECT_EQ(run.lists.passwordlist[0], entry);
}

TEST_F(ConfigFileTest, WrongListPasswordDropsTheListForTheRunButKeepsItStored) {
    store_list({"400mail=abc"}, "right");
    const std::string stored = slurp(file_);

    ProgramRun run(file_);
    run.prompt.answers = {std::string("wrong")};
    run.config.readinifile();
    EXPECT_EQ(run.errors.shown, (std::vector<std::string>{kDecompressFailed}));
    EXPECT_FALSE(run.runtime.PasswordListPresent);
    EXPECT_TRUE(run.lists.empty());

    // Entries added after that are not allowed to replace the stored list.
    run.add("400new=entry");
    ASSERT_TRUE(run.config.writeinifile("normal"));
    EXPECT_EQ(run.errors.shown.size(), 2u);
    ProgramRun next(file_);
    next.prompt.answers = {std::string("right")};
    next.config.readinifile();
    EXPECT_EQ(next.lists.passwordlist, (std::vector<std::string>{"400mail=abc"}));
}

TEST_F(ConfigFileTest, CancelledPromptsNeverDestroyTheStoredList) {
    store_list({"400mail=abc"}, "right");
    {
        // Cancel at start: the manager is unavailable for the run.
        ProgramRun run(file_);
        run.prompt.answers = {std::nullopt};
        run.config.readinifile();
        EXPECT_FALSE(run.runtime.PasswordListPresent);
        run.add("400other=x");
        ASSERT_TRUE(run.config.writeinifile("normal"));
    }
    {
        // Edited, then cancel at exit.
        ProgramRun run(file_);
        run.prompt.answers = {std::string("right")};
        run.config.readinifile();
        run.add("400other=x");
        run.runtime.ListPassword.clear();  // as after a delete that did not match
        run.prompt.answers = {std::nullopt};
        ASSERT_TRUE(run.config.writeinifile("normal"));
        EXPECT_EQ(run.prompt.kinds, (std::vector<int>{1, 2}));
        EXPECT_EQ(run.prompt.prompts.back(), kListPromptEncrypt);
    }
    ProgramRun check(file_);
    check.prompt.answers = {std::string("right")};
    check.config.readinifile();
    EXPECT_EQ(check.lists.passwordlist, (std::vector<std::string>{"400mail=abc"}));
}

TEST_F(ConfigFileTest, AtTheEndOfTheSessionNothingIsAskedAndEverythingElseIsWritten) {
    store_list({"400mail=abc"}, "right");
    {
        // An entry added while the list password is not known (a delete
        // that did not match emptied it): it cannot be saved without asking.
        ProgramRun run(file_);
        run.prompt.answers = {std::string("right")};
        run.config.readinifile();
        run.add("400other=x");
        run.runtime.ListPassword.clear();
        run.settings.SendKeysDelay = 75;
        ASSERT_TRUE(run.config.write_at_exit(/*ask=*/false));
        EXPECT_EQ(run.prompt.kinds, (std::vector<int>{1})) << "only the prompt at start";
        EXPECT_TRUE(run.errors.shown.empty());
    }
    ProgramRun check(file_);
    check.prompt.answers = {std::string("right")};
    check.config.readinifile();
    EXPECT_EQ(check.settings.SendKeysDelay, 75);
    EXPECT_EQ(check.lists.passwordlist, (std::vector<std::string>{"400mail=abc"}));

    // With the list password known, the changed list is written as at Exit.
    check.add("400new=y");
    ASSERT_TRUE(check.config.write_at_exit(false));
    ProgramRun again(file_);
    again.prompt.answers = {std::string("right")};
    again.config.readinifile();
    EXPECT_EQ(again.lists.passwordlist, (std::vector<std::string>{"400mail=abc", "400new=y"}));
}

TEST_F(ConfigFileTest, UnchangedListIsLeftExactlyAndAnEmptiedListIsRemoved) {
    store_list({"400mail=abc", "400bank=def"}, "k");
    const std::string stored = slurp(file_);
    const std::string list = stored.substr(stored.find("[PasswordList]"));
    {
        ProgramRun run(file_);
        run.prompt.answers = {std::string("k")};
        run.config.readinifile();
        run.settings.AutoCopy = false;
        ASSERT_TRUE(run.config.writeinifile("normal"));
        EXPECT_NE(slurp(file_).find(list), std::string::npos);
    }
    {
        ProgramRun run(file_);
        run.prompt.answers = {std::string("k")};
        run.config.readinifile();
        run.lists.clear();
        run.runtime.PasswordListChanged = true;
        run.runtime.ListPassword.clear();
        ASSERT_TRUE(run.config.writeinifile("normal"));
        EXPECT_EQ(run.prompt.kinds, (std::vector<int>{1})) << "no prompt for an empty list";
        EXPECT_EQ(slurp(file_).find("PasswordList"), std::string::npos);
    }
}

TEST_F(ConfigFileTest, FailedWriteKeepsTheOldFileWhole) {
    ProgramRun run(file_);
    run.settings.AutoCopy = false;
    ASSERT_TRUE(run.config.writeinifile("normal"));
    const std::string before = slurp(file_);

    // A file-size limit makes the new file's write fail part way, as a full
    // disk would.
    run.settings.QuoteString = std::string(4000, 'q');
    struct rlimit old_limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old_limit;
    small.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = run.config.writeinifile("normal");
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_FALSE(written);
    EXPECT_EQ(run.errors.shown, (std::vector<std::string>{"Could not write to config file:\r\n" + file_.string()}));
    EXPECT_EQ(slurp(file_), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1) << "no temporary left";
}

TEST_F(ConfigFileTest, UnreadableFileIsReadAsDefaultsAndNeverReplaced) {
    fs::create_directory(file_);  // a folder where the file should be
    ProgramRun run(file_);
    run.config.readinifile();
    EXPECT_EQ(run.settings, settings_missing_defaults());
    EXPECT_FALSE(run.config.writeinifile("normal"));
    // Told once why the options are the defaults, and once that they were not saved.
    EXPECT_EQ(run.errors.shown,
              (std::vector<std::string>{"Could not read the config file:\r\n" + file_.string() +
                                            " is a folder, not a regular file.",
                                        "Could not write to config file:\r\n" + file_.string()}));
    EXPECT_TRUE(fs::is_directory(file_));
}

// A FIFO given as the file must not hang the start waiting for a writer.
TEST_F(ConfigFileTest, AFifoIsRefusedAtOnce) {
    ASSERT_EQ(::mkfifo(file_.c_str(), 0600), 0);
    ProgramRun run(file_);
    run.config.readinifile();
    EXPECT_EQ(run.settings, settings_missing_defaults());
    EXPECT_EQ(run.errors.shown, (std::vector<std::string>{"Could not read the config file:\r\n" + file_.string() +
                                                          " is a FIFO (named pipe), not a regular file."}));
    EXPECT_FALSE(run.config.writeinifile("normal"));
    EXPECT_EQ(fs::status(file_).type(), fs::file_type::fifo);
}

TEST_F(ConfigFileTest, WritingCreatesTheConfigurationFolder) {
    ProgramRun run(dir_ / "new" / "deeper" / "morvantile.ini");
    ASSERT_TRUE(run.config.writeinifile("normal"));
    EXPECT_TRUE(fs::exists(dir_ / "new" / "deeper" / "morvantile.ini"));
    EXPECT_EQ(fs::status(dir_ / "new").permissions() & fs::perms::all, fs::perms::owner_all);
}

}  // namespace
}  // namespace morvantile
