#include <gtest/gtest.h>

#include "cipher/compression.h"
#include "cli/cli.h"
#include "cli_runner.h"
#include "config/settings.h"
#include "support/test_util.h"

namespace morvantile::test {
namespace {

// Every hash and mode of one algorithm, each with and without Hardcore and
// separators: the block is the in-process codec's, and decrypts again.
class EverySuite : public ::testing::TestWithParam<int> {};

TEST_P(EverySuite, BlockIsTheCodecsAndDecrypts) {
    const int a = GetParam();
    for (int h = 0; h < kHashCount; ++h) {
        for (int m = 0; m < kModeCount; ++m) {
            // Lengths from 0 up, so that every mode meets partial final blocks.
            const std::string plain = random_bytes(13 * (h * kModeCount + m), a * 100 + h * 10 + m);
            for (int variant = 0; variant < 4; ++variant) {
                const bool hardcore = variant & 1, separators = variant & 2;
                std::vector<std::string> dec{"decrypt", "--suite", std::to_string(a) + "," + std::to_string(h) +
                                                                       "," + std::to_string(m)};
                if (hardcore) dec.push_back("--hardcore");
                std::vector<std::string> enc = dec;
                enc[0] = "encrypt";
                if (separators) enc.push_back("--separators");
                SCOPED_TRACE(::testing::PrintToString(enc));
                const Outcome made = run_cli({enc, plain, "pw"});
                ASSERT_EQ(made.status, 0) << made.err;
                EXPECT_TRUE(same_bytes(made.out,
                                       encrypt_message(plain, "pw", {{a, h, m}, hardcore, separators, true}).text()));
                std::string block = made.out;
                if (separators) {
                    // Left in, the separator lines decode as data and spoil the block.
                    const Outcome spoilt = run_cli({dec, block, "pw"});
                    EXPECT_EQ(spoilt.status, 1);
                    EXPECT_EQ(spoilt.err, as_printed(kDecompressionHint));
                    block = block.substr(start_separator().size(),
                                         block.size() - start_separator().size() - end_separator().size());
                }
                const Outcome back = run_cli({dec, block, "pw"});
                ASSERT_EQ(back.status, 0) << back.err;
                EXPECT_TRUE(same_bytes(back.out, plain));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Algorithms, EverySuite, ::testing::Range(0, kCipherCount),
                         [](const auto& info) { return std::string(cipher_class_at(info.param)->algorithm); });

TEST(TextCommands, BytesPassThroughUnchangedAndQuotedBlocksDecrypt) {
    const std::string plain("\0line\r\nnext\n\r\0end", 17);  // NULs, CR LF, no final line end
    const Outcome enc = run_cli({{"encrypt"}, plain, "pw"});
    EXPECT_EQ(enc.out, encrypt_message(plain, "pw", {}).text());
    std::string quoted = "> ";
    for (char c : enc.out) quoted += c == '\n' ? std::string("\n>   ") : std::string(1, c);
    for (const std::string& block : {enc.out, quoted})
        EXPECT_TRUE(same_bytes(run_cli({{"decrypt"}, block, "pw"}).out, plain));
    EXPECT_TRUE(same_bytes(run_cli({{"decrypt", "--no-decompress"}, enc.out, "pw"}).out,
                           compress_buffer(plain.data(), plain.size())));

    const Outcome wrong = run_cli({{"decrypt"}, enc.out, "wrong"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.out, "");
    EXPECT_EQ(wrong.err, as_printed(kDecompressionHint));
}

TEST(TextCommands, NamesChooseTheSameSuiteAsIndices) {
    using cli::SuitePart;
    EXPECT_EQ(cli::suite_index(SuitePart::Algorithm, "AES"), 4);
    EXPECT_EQ(cli::suite_index(SuitePart::Algorithm, "3des"), 8);
    EXPECT_EQ(cli::suite_index(SuitePart::Algorithm, "des"), std::nullopt);
    EXPECT_EQ(cli::suite_index(SuitePart::Hash, "RipeMD-160"), 1);
    EXPECT_EQ(cli::suite_index(SuitePart::Hash, "ripemd160"), 1);
    EXPECT_EQ(cli::suite_index(SuitePart::Mode, "CFB8"), 1);
    EXPECT_EQ(cli::suite_index(SuitePart::Mode, "cfb"), 2);
    EXPECT_EQ(cli::suite_index(SuitePart::Hash, "cfb"), std::nullopt);
    EXPECT_EQ(run_cli({{"encrypt", "--algorithm", "Twofish", "--hash", "sha-256", "--mode", "ofb"}, "x", "pw"}).out,
              encrypt_message("x", "pw", {{6, 3, 3}}).text());
}

// Texts are held in memory several times over, so input and output are
// bounded; running into the bound is said as such, never as a wrong password.
TEST(TextCommands, InputAndDecryptedTextAreBounded) {
    const std::string plain = std::string(5000, 'a');
    const Outcome block = run_cli({{"encrypt"}, plain, "pw"});
    ASSERT_EQ(block.status, 0);
    // The plaintext at the limit passes both ways; a byte less and it does not.
    EXPECT_EQ(run_cli({{"encrypt", "--max-size", "5000"}, plain, "pw"}).out, block.out);
    EXPECT_EQ(run_cli({{"decrypt", "--max-size", "5000"}, block.out, "pw"}).out, plain);
    const Outcome big = run_cli({{"encrypt", "--max-size", "4999"}, plain, "pw"});
    EXPECT_EQ(big.status, 1);
    EXPECT_EQ(big.err, "Standard input is larger than 4999 bytes, the limit (--max-size)\n");
    const Outcome inflates = run_cli({{"decrypt", "--max-size", "4999"}, block.out, "pw"});
    EXPECT_EQ(inflates.status, 1);
    EXPECT_EQ(inflates.out, "");
    EXPECT_EQ(inflates.err, "The decrypted text would be larger than 4999 bytes, the limit (--max-size)\n");

    // An endless input stops at the limit instead of filling the memory.
    Running zero = start_cli({{"encrypt", "--max-size", "1M"}, "", "pw"}, "/dev/zero");
    const Outcome endless = finish(zero, 30000);
    EXPECT_EQ(endless.status, 1);
    EXPECT_EQ(endless.err, "Standard input is larger than 1 MiB, the limit (--max-size)\n");

    // The limit from a configuration file, and the command line over it.
    TempFolder dir;
    write_file(dir / "m.ini", "[misc]\r\nMaxTextSize=1\r\n");
    const std::string mib(std::size_t{1} << 20, 'b');
    EXPECT_EQ(run_cli({{"encrypt", "--config", dir / "m.ini"}, mib, "pw"}).status, 0);
    EXPECT_EQ(run_cli({{"encrypt", "--config", dir / "m.ini"}, mib + "b", "pw"}).status, 1);
    EXPECT_EQ(run_cli({{"encrypt", "--config", dir / "m.ini", "--max-size", "2M"}, mib + "b", "pw"}).status, 0);
    for (const char* bad : {"0", "12X", "M", "-5", "99999999999999999999"})
        EXPECT_EQ(run_cli({{"encrypt", "--max-size", bad}, "x", "pw"}).status, 2) << bad;
}

// In a mail filter an empty or broken pipe must not pass for a message that
// decrypts to nothing.
TEST(TextCommands, DecryptingAnInputWithoutABlockFails) {
    for (const std::string input : {"", "\r\n", "  >  \r\n> ---- [] ==="}) {
        const Outcome o = run_cli({{"decrypt"}, input, "pw"});
        EXPECT_EQ(o.status, 1) << input;
        EXPECT_EQ(o.err, "no ciphertext block in the input\n");
    }
    // An empty plaintext still has a block, which decrypts to nothing.
    const Outcome empty = run_cli({{"encrypt"}, "", "pw"});
    EXPECT_EQ(run_cli({{"decrypt"}, empty.out, "pw"}).status, 0);
}

TEST(TextCommands, BadUsageEndsWithStatusTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {}, {"scramble"}, {"encrypt", "--suite", "9,0,0"}, {"encrypt", "--suite", "0,6,0"},
        {"decrypt", "--suite", "0,0,5"}, {"encrypt", "--suite", "-1,0,0"}, {"encrypt", "--suite", "1,2"},
        {"encrypt", "--suite", "1,2,3,4"}, {"encrypt", "--algorithm", "enigma"},
        {"encrypt", "--suite", "1,1,1", "--hash", "md5"}, {"encrypt", "--hardcore", "--no-hardcore"},
        {"encrypt", "--config", "/nonexistent/morvantile.ini"}, {"encrypt-file", "only-in"},
        {"encrypt-file", "in", "out", "--hardcore"}, {"passwords"}, {"passwords", "--config"},
    };
    for (const auto& args : cases) {
        const Outcome o = run_cli({args, "", "pw"});
        EXPECT_EQ(o.status, 2) << ::testing::PrintToString(args);
        EXPECT_EQ(o.out, "");
    }
    EXPECT_EQ(run_cli({{"encrypt", "--suite", "9,0,0"}}).err,
              "suite 9,0,0 out of range: algorithm 0-8, hash 0-5, chaining mode 0-4\n");
    EXPECT_EQ(run_cli({{"--version"}}).out, version_text() + "\n");
    for (const char* sub : {"encrypt", "decrypt", "encrypt-file", "decrypt-file", "passwords"})
        EXPECT_EQ(run_cli({{sub, "--help"}}).status, 0);
}

}  // namespace
}  // namespace morvantile::test
