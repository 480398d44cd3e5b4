#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "cipher/compression.h"
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
