#include <gtest/gtest.h>

#include "cipher/compression.h"
#include "cli_runner.h"
#include "textcrypt/text_codec.h"

namespace morvantile::test {
namespace {

// The password a block was made with, as far as the default suite tells.
bool made_with(const Outcome& o, std::string_view password, std::string_view plain = "msg") {
    CodecResult r = decrypt_message(o.out, password, {});
    return o.status == 0 && r.ok() && r.text() == plain;
}

TEST(PasswordSources, FileAndDescriptorGiveTheirFirstLine) {
    TempFolder dir;
    for (const char* content : {"pw\nsecond", "pw\r\nsecond", "pw"}) {
        write_file(dir / "pass", content);
        EXPECT_TRUE(made_with(run_cli({{"encrypt", "--password-file", dir / "pass"}, "msg"}), "pw")) << content;
    }
    EXPECT_TRUE(made_with(run_cli({{"encrypt", "--password-fd", "3"}, "msg", {}, "fd pw\r\nrest"}), "fd pw"));
    // Read a byte at a time: the rest of standard input is the message.
    EXPECT_TRUE(made_with(run_cli({{"encrypt", "--password-fd", "0"}, "in pw\nmsg"}), "in pw"));
}

TEST(PasswordSources, FileBeatsDescriptorBeatsEnvironment) {
    TempFolder dir;
    write_file(dir / "pass", "file\n");
    EXPECT_TRUE(made_with(run_cli({{"encrypt", "--password-fd", "3", "--password-file", dir / "pass"}, "msg", "env",
                                   "fd\n"}),
                          "file"));
    EXPECT_TRUE(made_with(run_cli({{"encrypt", "--password-fd", "3"}, "msg", "env", "fd\n"}), "fd"));
    EXPECT_TRUE(made_with(run_cli({{"encrypt"}, "msg", "env"}), "env"));
}

TEST(PasswordSources, EmptyOrMissingPasswordIsRefused) {
    TempFolder dir;
    write_file(dir / "pass", "\nnot this");
    for (const Outcome& o : {run_cli({{"encrypt"}, "msg", ""}), run_cli({{"decrypt", "--password-file", dir / "pass"}}),
                             run_cli({{"encrypt", "--password-fd", "3"}, "msg", "env", ""})}) {
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err, "The password must not be empty\n");
    }
    // No source, and no terminal to ask on.
    const Outcome none = run_cli({{"encrypt"}, "msg"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("No password"), std::string::npos);
    EXPECT_EQ(run_cli({{"encrypt", "--password-file", dir / "absent"}, "msg", "env"}).status, 1);
}

TEST(ConfigOption, FileSetsTheOptionsAndTheCommandLineWins) {
    TempFolder dir;
    const std::string ini = dir / "morvantile.ini";
    write_file(ini,
               "[encryption]\r\nAlgorithm=1\r\nHash=2\r\nChainingMode=3\r\nHardcoreMode=1\r\nNodecompress=0\r\n"
               "[misc]\r\nAppendSeparator=1\r\n");
    auto encrypted = [&](std::vector<std::string> more) {
        more.insert(more.begin(), {"encrypt", "--config", ini});
        return run_cli({more, "msg", "pw"}).out;
    };
    EXPECT_EQ(encrypted({}), encrypt_message("msg", "pw", {{1, 2, 3}, true, true, true}).text());
    EXPECT_EQ(encrypted({"--suite", "0,5,4", "--no-hardcore", "--no-separators"}),
              encrypt_message("msg", "pw", {{0, 5, 4}, false, false, true}).text());
    EXPECT_EQ(encrypted({"--hash", "md5"}), encrypt_message("msg", "pw", {{1, 0, 3}, true, true, true}).text());

    // NoConfig: the file's options are not in force, so the command line's
    // defaults hold (not the desktop's start values, which add separators).
    write_file(ini, "[misc]\r\nNoConfig=1\r\nAppendSeparator=1\r\n[encryption]\r\nAlgorithm=1\r\nHardcoreMode=1\r\n");
    EXPECT_EQ(encrypted({}), encrypt_message("msg", "pw", {}).text());

    write_file(ini, "[encryption]\r\nNodecompress=1\r\n");
    const std::string block = encrypt_message("msg", "pw", {}).text();
    EXPECT_EQ(run_cli({{"decrypt", "--config", ini}, block, "pw"}).out, compress_buffer("msg", 3));
    EXPECT_EQ(run_cli({{"decrypt", "--config", ini, "--decompress"}, block, "pw"}).out, "msg");

    write_file(ini, "[encryption]\r\nAlgorithm=12\r\n");
    const Outcome bad = run_cli({{"encrypt", "--config", ini}, "msg", "pw"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "suite 12,0,0 out of range: algorithm 0-8, hash 0-5, chaining mode 0-4\n");
}

}  // namespace
}  // namespace morvantile::test
