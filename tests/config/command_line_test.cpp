#include "config/command_line.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

#include "config/config_file.h"
#include "support/fakes.h"

namespace morvantile {
namespace {

using test::RecordingErrors;

TEST(StringsToText, CutsLinesAtExactlyTheWidth) {
    EXPECT_EQ(strings_to_text({}, 5), "");
    EXPECT_EQ(strings_to_text({"", "abc"}, 5), "\r\nabc\r\n");
    EXPECT_EQ(strings_to_text({"abcde"}, 5), "abcde\r\n");
    EXPECT_EQ(strings_to_text({"abcdef"}, 5), "abcde\r\nf\r\n");
    EXPECT_EQ(strings_to_text({"abcdefghijk", "x"}, 5), "abcde\r\nfghij\r\nk\r\nx\r\n");
    EXPECT_EQ(paramerror_text(),
              "\r\nCommand line error.\r\nAllowed parameters are:\r\n/noconfig - do not write config file\r\n"
              "/nosplash - no splash screen\r\n/config=FILENAME - file to store options\r\n"
              "/encrypt, /decrypt, /options, /exit - do what the hotkey does, in the running copy\r\n");
}

TEST(CommandLine, SwitchesInAnyCaseWithOrWithoutPrefix) {
    for (const char* p : {"nosplash", "/nosplash", "-NoSplash", "NOSPLASH"}) {
        RuntimeState r;
        EXPECT_FALSE(parse_command_line({p}, r)) << p;
        EXPECT_TRUE(r.CmdNoSplash) << p;
    }
    RuntimeState r;
    EXPECT_FALSE(parse_command_line({"-d", "/NOCONFIG", "noconfig"}, r));
    EXPECT_TRUE(r.ShowSourceHandle);
    EXPECT_TRUE(r.CmdNoConfig);
    EXPECT_FALSE(r.CmdNoSplash);
}

TEST(CommandLine, TriggerWordsInAnyCaseWithOrWithoutPrefixAndOnlyOneOfThem) {
    const std::pair<const char*, TriggerWord> words[] = {
        {"encrypt", TriggerWord::Encrypt}, {"-Decrypt", TriggerWord::Decrypt},
        {"/OPTIONS", TriggerWord::Options}, {"eXiT", TriggerWord::Exit}};
    for (const auto& [param, word] : words) {
        RuntimeState r;
        std::optional<TriggerWord> trigger;
        EXPECT_FALSE(parse_command_line({"nosplash", param, "/config=a.ini"}, r, &trigger)) << param;
        EXPECT_EQ(trigger, word) << param;
        EXPECT_TRUE(r.CmdNoSplash);
        EXPECT_EQ(command_line_trigger({param, "-noconfig"}), word) << param;
    }
    RuntimeState r;
    EXPECT_FALSE(parse_command_line({"encrypt"}, r)) << "accepted without anybody asking for it";
    EXPECT_EQ(command_line_trigger({"nosplash", "d"}), std::nullopt);
    // "d" is the diagnostic switch, not short for decrypt.
    for (const auto& params : std::vector<std::vector<std::string>>{
             {"encrypt", "decrypt"}, {"exit", "/EXIT"}, {"--encrypt"}, {"encrypted"}, {"encrypt=1"}, {"decrypt", "x"}}) {
        RuntimeState s;
        EXPECT_EQ(parse_command_line(params, s), paramerror_text()) << params[0];
        EXPECT_EQ(command_line_trigger(params), std::nullopt) << params[0];
    }
}

TEST(CommandLine, ConfigNamesResolveInTheConfigurationFolder) {
    RuntimeState r;
    r.ConfigFolder = "/home/ann/.config/morvantile";
    EXPECT_FALSE(parse_command_line({"/Config=Work.INI"}, r));
    EXPECT_EQ(r.ConfigFileName, "/home/ann/.config/morvantile/Work.INI") << "Linux names keep their case";
    EXPECT_FALSE(parse_command_line({"config=/Data/My.INI", "-CONFIG=/tmp/last.ini"}, r));
    EXPECT_EQ(r.ConfigFileName, "/tmp/last.ini") << "the last one wins";
}

TEST(CommandLine, UnknownOrEmptyParametersAreErrors) {
    for (const char* p : {"/", "-", "", "nosplashx", "x", "/dconfig=a.ini", "config=", "--nosplash"}) {
        RuntimeState r;
        EXPECT_EQ(parse_command_line({p}, r), paramerror_text()) << p;
    }
    RuntimeState r;
    EXPECT_TRUE(parse_command_line({"nosplash", "bogus", "noconfig"}, r));
    EXPECT_TRUE(r.CmdNoSplash) << "what came before the error has taken effect";
    EXPECT_FALSE(r.CmdNoConfig) << "nothing after it";
}

// Sets environment variables for one test and puts them back afterwards.
class ScopedEnv {
public:
    void set(const char* name, const char* value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~ScopedEnv() {
        for (auto& [name, value] : saved_) {
            if (value) ::setenv(name.c_str(), value->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST(ConfigLocation, XdgThenHomeThenNone) {
    ScopedEnv env;
    env.set("XDG_CONFIG_HOME", "/x/cfg");
    env.set("HOME", "/home/ann");
    EXPECT_EQ(user_config_folder(), "/x/cfg/morvantile");
    env.set("XDG_CONFIG_HOME", "relative/ignored");
    EXPECT_EQ(user_config_folder(), "/home/ann/.config/morvantile");
    env.set("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(user_config_folder(), "/home/ann/.config/morvantile");

    RuntimeState r;
    RecordingErrors errors;
    locate_configuration(r, errors);
    EXPECT_EQ(r.ConfigFileName, "/home/ann/.config/morvantile/morvantile.ini");
    EXPECT_TRUE(errors.shown.empty());

    env.set("HOME", nullptr);
    EXPECT_FALSE(user_config_folder());
    locate_configuration(r, errors);
    EXPECT_EQ(errors.shown, (std::vector<std::string>{"Could not locate configuration folder!"}));
    EXPECT_EQ(r.ConfigFileName, "morvantile.ini");
    EXPECT_EQ(resolve_config_name("a.ini", ""), "a.ini");
}

TEST(StartConfiguration, ReadsTheFileUnlessNoconfig) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("mvt-start-" + std::to_string(::getpid()));
    fs::create_directories(dir / "morvantile");
    std::ofstream(dir / "morvantile" / "other.ini") << "[misc]\r\nAutoCopy=0\r\n";
    ScopedEnv env;
    env.set("XDG_CONFIG_HOME", dir.c_str());

    struct Program {
        Settings settings;
        RuntimeState runtime;
        PasswordLists lists;
        RecordingErrors errors;
        test::ScriptedListPrompt prompt{runtime};
        ConfigFile config{settings, runtime, lists, prompt, errors};
        bool start(const std::vector<std::string>& params) {
            return start_configuration(params, settings, runtime, config, errors);
        }
    };
    {
        Program p;
        ASSERT_TRUE(p.start({"config=other.ini"}));
        EXPECT_FALSE(p.settings.AutoCopy);
        EXPECT_TRUE(p.settings.HotKeysEnabled) << "missing keys take their defaults";
        EXPECT_FALSE(p.settings.NoConfig);
    }
    {
        Program p;
        ASSERT_TRUE(p.start({"config=other.ini", "/noconfig"}));
        EXPECT_EQ(p.runtime.ConfigFileName, (dir / "morvantile" / "other.ini").string());
        EXPECT_TRUE(p.settings.AutoCopy) << "start values: the file is not read";
        EXPECT_FALSE(p.settings.HotKeysEnabled);
        EXPECT_TRUE(p.settings.NoConfig);
    }
    {
        Program p;
        EXPECT_FALSE(p.start({"/nosplash", "/bogus"}));
        EXPECT_EQ(p.errors.shown, (std::vector<std::string>{paramerror_text()}));
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace morvantile
