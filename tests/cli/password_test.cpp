#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>

#include "cipher/compression.h"
#include "cli/cli.h"
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

// A password file that is something else (/dev/zero, a log) is read no
// further than any password can be long.
TEST(PasswordSources, AtMost4KiBAreRead) {
    TempFolder dir;
    const std::string longest(cli::kMaxPasswordBytes, 'p');
    write_file(dir / "pass", longest + "\r\nrest");
    EXPECT_TRUE(made_with(run_cli({{"encrypt", "--password-file", dir / "pass"}, "msg"}), longest));
    write_file(dir / "pass", longest + "p\n");
    const Outcome too_long = run_cli({{"encrypt", "--password-file", dir / "pass"}, "msg"});
    EXPECT_EQ(too_long.status, 1);
    EXPECT_EQ(too_long.err, "The password from the password file " + (dir / "pass") +
                                " is longer than 4096 bytes, the most that is read\n");
    const Outcome zero = run_cli({{"encrypt", "--password-file", "/dev/zero"}, "msg"}, 30000);
    EXPECT_EQ(zero.status, 1);
    EXPECT_NE(zero.err.find("longer than 4096 bytes"), std::string::npos);
    const Outcome fd = run_cli({{"encrypt", "--password-fd", "3"}, "msg", {}, std::string(5000, 'x')});
    EXPECT_EQ(fd.err, "The password from descriptor 3 is longer than 4096 bytes, the most that is read\n");
}

// Runs the tool on a terminal of its own, as a person at a shell does:
// standard input and output are files, the terminal is where the password
// is asked and typed. Each line of `typed` answers the next prompt.
Outcome run_on_terminal(const std::vector<std::string>& args, std::string_view input,
                        const std::vector<std::string>& typed) {
    const int in = memory_file(input), out = memory_file(), err = memory_file();
    std::vector<char*> argv{const_cast<char*>(MORVANTILE_CLI)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::unsetenv("MORVANTILE_PASSWORD");
        ::execv(MORVANTILE_CLI, argv.data());
        ::_exit(127);
    }
    Outcome o;
    std::string shown;
    for (const std::string& line : typed) {
        // Typed before the prompt, the line would be flushed when echo goes off.
        // Until the child has opened its side, the terminal reads as hung up.
        const auto prompts = std::count(shown.begin(), shown.end(), ':');
        for (int tries = 0; std::count(shown.begin(), shown.end(), ':') == prompts && tries < 500; ++tries) {
            pollfd p{master, POLLIN, 0};
            char buf[256];
            const ssize_t n = ::poll(&p, 1, 10) > 0 ? ::read(master, buf, sizeof buf) : 0;
            if (n > 0) shown.append(buf, static_cast<std::size_t>(n));
            else ::usleep(10000);
        }
        const std::string entry = line + "\n";
        if (::write(master, entry.data(), entry.size()) < 0) break;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    for (auto [fd, sink] : {std::pair{out, &o.out}, std::pair{err, &o.err}}) {
        char buf[65536];
        ::lseek(fd, 0, SEEK_SET);
        for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) sink->append(buf, std::size_t(n));
        ::close(fd);
    }
    ::close(in);
    ::close(master);
    return o;
}

TEST(PasswordSources, APasswordTypedOnTheTerminalBecomesTheDesktopsBytes) {
    // "Müller" typed on a UTF-8 terminal: hashed as the Windows build and
    // the desktop program hash it, Windows-1252, unless the option says UTF-8.
    const std::string typed = "M\xC3\xBCller";
    const Outcome windows = run_on_terminal({"encrypt"}, "msg", {typed, typed});
    ASSERT_EQ(windows.status, 0) << windows.err;
    EXPECT_EQ(windows.out, encrypt_message("msg", "M\xFCller", {}).text());

    TempFolder dir;
    write_file(dir / "utf8.ini", "[encryption]\r\nTextEncoding=1\r\n");
    const Outcome utf8 = run_on_terminal({"encrypt", "--config", dir / "utf8.ini"}, "msg", {typed, typed});
    ASSERT_EQ(utf8.status, 0) << utf8.err;
    EXPECT_EQ(utf8.out, encrypt_message("msg", typed, {}).text());

    // A password given as bytes is used as it is.
    EXPECT_TRUE(made_with(run_cli({{"encrypt"}, "msg", typed}), typed));
    // Either block opens from either way of giving it.
    EXPECT_EQ(run_cli({{"decrypt"}, windows.out, typed}).out, "msg");
    EXPECT_EQ(run_on_terminal({"decrypt"}, utf8.out, {typed}).out, "msg");
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
