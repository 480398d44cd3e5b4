#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include "cipher/compression.h"
#include "cipher/parallel_deflate.h"
#include "cipher/stream.h"
#include "cli_runner.h"
#include "filecrypt/file_codec.h"
#include "support/test_util.h"

namespace morvantile::test {
namespace {

namespace fs = std::filesystem;

// The file format from the engine's parts: the suite's cipher over the zlib stream.
std::string expected_file(const std::string& plain, const CipherSetup& s, std::string_view password) {
    auto cipher = cipher_class_at(s.algorithm)->create();
    cipher->SetCipherMode(*cipher_mode_at(s.chaining_mode));
    cipher->init_with_password(password, *hash_class_at(s.hash));
    const std::string packed = compress_buffer(plain.data(), plain.size());
    TViewStream in(packed);
    std::string out;
    TStringStream sink(out);
    cipher->encrypt_stream(in, sink, static_cast<std::uint32_t>(packed.size()));
    return out;
}

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FileCommands, RoundTripIsTheCipherOverTheZlibStream) {
    TempFolder dir;
    for (const std::string& plain : {std::string(), std::string("\0", 1), random_bytes(100000, 7)}) {
        write_file(dir / "plain", plain);
        ASSERT_EQ(run_cli({{"encrypt-file", "--suite", "6,3,1", dir / "plain", dir / "enc"}, "", "pw"}).status, 0);
        EXPECT_TRUE(same_bytes(read_file(dir / "enc"), expected_file(plain, {6, 3, 1}, "pw")));
        const Outcome dec = run_cli({{"decrypt-file", "--algorithm", "twofish", "--hash", "sha256", "--mode", "cfb8",
                                      dir / "enc", dir / "back"}, "", "pw"});
        ASSERT_EQ(dec.status, 0) << dec.err;
        EXPECT_TRUE(same_bytes(read_file(dir / "back"), plain));
    }
    EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"back", "enc", "plain"}));
}

// --threads: one thread writes the single zlib stream of before; any other
// number the same blocked stream, which both directions read. Off a
// terminal nothing but messages goes to standard error.
TEST(FileCommands, ThreadsChooseTheCompressorNotTheFormat) {
    TempFolder dir;
    const std::string plain = random_bytes(3 * kDeflateBlock, 8) + std::string(2 * kDeflateBlock + 5, 'r');
    write_file(dir / "plain", plain);
    std::string blocked;
    for (const char* threads : {"1", "2", "3"}) {
        SCOPED_TRACE(threads);
        const Outcome enc = run_cli({{"encrypt-file", "--threads", threads, dir / "plain", dir / "enc"}, "", "pw"});
        ASSERT_EQ(enc.status, 0) << enc.err;
        EXPECT_EQ(enc.err, "");
        const std::string encrypted = read_file(dir / "enc");
        if (std::string(threads) == "1") EXPECT_TRUE(same_bytes(encrypted, expected_file(plain, {}, "pw")));
        else if (blocked.empty()) blocked = encrypted;
        else EXPECT_TRUE(same_bytes(encrypted, blocked));
        const Outcome dec = run_cli({{"decrypt-file", dir / "enc", dir / "back"}, "", "pw"});
        ASSERT_EQ(dec.status, 0) << dec.err;
        EXPECT_EQ(dec.err, "");
        EXPECT_TRUE(same_bytes(read_file(dir / "back"), plain));
    }
    EXPECT_NE(blocked, expected_file(plain, {}, "pw"));
    for (const char* bad : {"0", "-1", "many"})
        EXPECT_EQ(run_cli({{"encrypt-file", "--threads", bad, dir / "plain", dir / "x"}, "", "pw"}).status, 2) << bad;
    EXPECT_EQ(run_cli({{"decrypt-file", "--threads", "2", dir / "enc", dir / "x"}, "", "pw"}).status, 2);
}

TEST(FileCommands, SourceIsNeverTheDestination) {
    TempFolder dir;
    fs::create_directory(dir / "sub");
    write_file(dir / "a", "original");
    fs::create_symlink(dir / "a", dir / "link");
    for (const std::string& out : {dir / "a", dir / "link", dir / "sub/../a"}) {
        const Outcome o = run_cli({{"encrypt-file", dir / "a", out}, "", "pw"});
        EXPECT_EQ(o.status, 1) << out;
        EXPECT_EQ(o.err, as_printed(kFileOverwriteSource));
    }
    EXPECT_EQ(read_file(dir / "a"), "original");
    const Outcome missing = run_cli({{"decrypt-file", dir / "absent", dir / "out"}, "", "pw"});
    EXPECT_EQ(missing.err, as_printed(kFileNotFound));
    EXPECT_EQ(run_cli({{"encrypt-file", dir / "a", dir / "nofolder/out"}, "", "pw"}).err,
              as_printed(std::string(kFileStreamCreation) + dir / "nofolder/out" + "\r\nNo such file or directory"));
}

TEST(FileCommands, FailureLeavesTheDestinationAsItWas) {
    TempFolder dir;
    write_file(dir / "plain", "attack at dawn");
    ASSERT_EQ(encrypt_file(dir / "plain", dir / "enc", {}, "right"), std::nullopt);
    const Outcome wrong = run_cli({{"decrypt-file", dir / "enc", dir / "new"}, "", "wrong"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.err, as_printed(kFileDecompressFailed));
    EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"enc", "plain"}));  // no OUT, no temporary file

    write_file(dir / "old", "previous contents");
    fs::create_symlink(dir / "old", dir / "to-old");
    EXPECT_EQ(decrypt_file(dir / "enc", dir / "to-old", {}, "wrong"), std::string(kFileDecompressFailed));
    EXPECT_EQ(decrypt_file(dir / "plain", dir / "to-old", {}, "right"), std::string(kFileDecompressFailed));
    EXPECT_EQ(read_file(dir / "old"), "previous contents");
    EXPECT_EQ(decrypt_file(dir / "enc", dir / "to-old", {}, "right"), std::nullopt);
    EXPECT_EQ(read_file(dir / "old"), "attack at dawn");  // the link's target is replaced
    EXPECT_TRUE(fs::is_symlink(dir / "to-old"));
    EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"enc", "old", "plain", "to-old"}));

    // A write that fails half-way (here the file size limit) leaves no
    // partial file, and is reported as the I/O error it is.
    write_file(dir / "big", random_bytes(200000, 3));
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 65536;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const auto failure = encrypt_file(dir / "big", dir / "old", {}, "pw");
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(failure, std::string(kFileEncryptIoError) + "\r\nFile too large");
    EXPECT_EQ(read_file(dir / "old"), "attack at dawn");
    EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"big", "enc", "old", "plain", "to-old"}));
}

// Special files are refused at once, with what they are; nothing waits on
// a FIFO, and nothing replaces one with a plain file.
TEST(FileCommands, SpecialFilesAreRefusedAtOnce) {
    TempFolder dir;
    write_file(dir / "plain", "text");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    fs::create_directory(dir / "folder");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"encrypt-file", dir / "fifo", dir / "out"}, dir / "fifo" + " is a FIFO (named pipe), not a regular file."},
        {{"decrypt-file", "/dev/zero", dir / "out"}, "/dev/zero is a character device, not a regular file."},
        {{"encrypt-file", dir / "folder", dir / "out"}, dir / "folder" + " is a folder, not a regular file."},
        {{"encrypt-file", dir / "plain", dir / "fifo"}, dir / "fifo" + " is a FIFO (named pipe), not a regular file."},
        {{"encrypt-file", dir / "plain", dir / "dangling"},
         dir / "dangling" + " is a link to a missing file, not a regular file."},
        {{"encrypt-file", dir / "plain", dir / "folder"}, dir / "folder" + " is a folder, not a regular file."},
    };
    for (const Case& c : cases) {
        const Outcome o = run_cli({c.args, "", "pw"}, 20000);
        EXPECT_EQ(o.status, 1) << c.message;
        EXPECT_EQ(o.err, c.message + "\n");
    }
    // A FIFO as the configuration file is no reason to wait either.
    const Outcome config = run_cli({{"encrypt", "--config", dir / "fifo"}, "x", "pw"}, 20000);
    EXPECT_EQ(config.status, 1);
    EXPECT_EQ(config.err, dir / "fifo" + " is a FIFO (named pipe), not a regular file.\n");
    EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"dangling", "fifo", "folder", "plain"}));
    EXPECT_EQ(fs::status(dir / "fifo").type(), fs::file_type::fifo);
    EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
}

// Bytes written so far by a running process (its /proc io counter).
std::uint64_t bytes_written(pid_t pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value)
        if (key == "wchar:") return value;
    return 0;
}

// A file command ended by Ctrl+C, SIGTERM or SIGKILL at any point of its
// writing leaves nothing in the output folder: no part of the plaintext,
// no part of the ciphertext, no hidden temporary file.
TEST(FileCommands, AKilledCommandLeavesNothingBehind) {
    TempFolder dir;
    fs::create_directory(dir / "in");
    fs::create_directory(dir / "out");
    // 60 MB of text-like bytes, compressible enough to be a real case and
    // slow enough at level 9 to be caught mid-way.
    std::string plain(60u << 20, '\0');
    std::uint64_t x = 88172645463325252ull;
    for (char& c : plain) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        c = "etaoin shrdlu\r\n0123456789"[x % 26];
    }
    write_file(dir / "in/plain", plain);
    plain.clear();
    ASSERT_EQ(encrypt_file(dir / "in/plain", dir / "in/enc", {}, "pw"), std::nullopt);

    for (const bool encrypting : {true, false})
        for (const int signal : {SIGINT, SIGTERM, SIGKILL})
            for (const std::uint64_t after : {std::uint64_t{0}, std::uint64_t{1} << 20, std::uint64_t{24} << 20}) {
                SCOPED_TRACE(testing::Message() << (encrypting ? "encrypt-file" : "decrypt-file") << ", signal "
                                                << signal << " after " << after << " bytes written");
                Running r = start_cli({{encrypting ? "encrypt-file" : "decrypt-file",
                                        dir / (encrypting ? "in/plain" : "in/enc"), dir / "out/result"},
                                       "",
                                       "pw"});
                ASSERT_GT(r.pid, 0);
                while (bytes_written(r.pid) < after && ::waitpid(r.pid, nullptr, WNOHANG) == 0) ::usleep(500);
                ::kill(r.pid, signal);
                const Outcome o = finish(r);
                EXPECT_EQ(o.status, 128 + signal) << "ended before the signal: " << o.err;
                EXPECT_EQ(names_in(dir / "out"), std::vector<std::string>{});
                for (const auto& e : fs::directory_iterator(dir / "out")) fs::remove(e.path());
            }
    EXPECT_EQ(names_in(dir / "in"), (std::vector<std::string>{"enc", "plain"}));
}

TEST(FileCommands, AFileMadeUnderTheOtherFormOfThePasswordOpens) {
    TempFolder dir;
    write_file(dir / "plain", "Gr\xFC\xDF" "e");
    ASSERT_EQ(encrypt_file(dir / "plain", dir / "enc", {}, "M\xFCller"), std::nullopt);
    const Outcome utf8 = run_cli({{"decrypt-file", dir / "enc", dir / "back"}, "", "M\xC3\xBCller"});
    ASSERT_EQ(utf8.status, 0) << utf8.err;
    EXPECT_EQ(read_file(dir / "back"), "Gr\xFC\xDF" "e");
    const Outcome wrong = run_cli({{"decrypt-file", dir / "enc", dir / "none"}, "", "M\xC3\xBCllers"});
    EXPECT_EQ(wrong.err, as_printed(kFileDecompressFailed));
    EXPECT_EQ(names_in(dir.path), (std::vector<std::string>{"back", "enc", "plain"}));
}

}  // namespace
}  // namespace morvantile::test
