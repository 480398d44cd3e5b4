#include "textcrypt/text_codec.h"

#include <gtest/gtest.h>

#include "support/test_util.h"
#include "cipher/base64.h"
#include "cipher/compression.h"
#include "config/settings.h"
#include "textcrypt/keyed_cipher.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

namespace morvantile {
namespace {

using test::random_bytes;
using test::same_bytes;

const std::string kText = "Dear Ann,\r\nthe meeting moves to Thursday.\r\n\r\nBob";
const CipherSetup kTwofishSha1Ofb{6, 2, 3};

std::string encrypt_ok(std::string_view plain, const CipherSetup& setup, bool separators = false,
                       std::string_view password = "pw") {
    CodecResult r = encrypt_text(plain, setup, password, separators);
    EXPECT_TRUE(r.ok()) << r.message();
    return r.text();
}

CodecResult decrypt(std::string_view block, const CipherSetup& setup, std::string_view password = "pw",
                    bool decompress = true) {
    return decrypt_text(block, setup, password, decompress);
}

// The block built step by step from the engine: compress, encrypt the whole
// stream with a fresh cipher, base64.
std::string block_from_engine(std::string_view plain, const CipherSetup& setup, std::string_view password) {
    const std::string z = compress_buffer(plain.data(), plain.size());
    auto cipher = cipher_class_at(setup.algorithm)->create();
    cipher->SetCipherMode(*cipher_mode_at(setup.chaining_mode));
    cipher->init_with_password(password, *hash_class_at(setup.hash));
    std::string c = z;
    cipher->encrypt(z.data(), c.data(), static_cast<std::uint32_t>(z.size()));
    cipher->burn();
    return mime_encode(c);
}

TEST(TextCodec, BlockIsBase64OfTheEncryptedZlibStream) {
    for (const CipherSetup& s : {kHardcoreSuite, kTwofishSha1Ofb, CipherSetup{0, 5, 4}}) {
        const std::string block = encrypt_ok(kText, s);
        EXPECT_EQ(block, block_from_engine(kText, s, "pw"));
        EXPECT_EQ(block, encrypt_ok(kText, s)) << "same password and suite must give the same block";
        CodecResult back = decrypt(block, s);
        ASSERT_TRUE(back.ok()) << back.message();
        EXPECT_EQ(back.text(), kText);
    }
}

TEST(TextCodec, BinaryAndRtfPlaintextsComeBackByteForByte) {
    const std::string rtf = "{\\rtf1\\ansi{\\fonttbl\\f0 Arial;}\\f0 Hello\\par}";
    const std::string binary = std::string("\0\x01\xff\r\n\0", 6) + random_bytes(5000, 7);
    for (const std::string& plain : {rtf, binary}) {
        CodecResult back = decrypt(encrypt_ok(plain, kTwofishSha1Ofb), kTwofishSha1Ofb);
        ASSERT_TRUE(back.ok());
        EXPECT_TRUE(same_bytes(back.text(), plain));
    }
}

TEST(TextCodec, EmptyPlaintextAndEmptyText) {
    const std::string block = encrypt_ok("", kHardcoreSuite);
    EXPECT_FALSE(block.empty());
    EXPECT_LT(block.size(), 20u);
    CodecResult back = decrypt(block, kHardcoreSuite);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.text(), "");

    // Nothing to inflate is an empty plaintext, not a failure.
    for (std::string_view text : {"", "\r\n  > ---- ...\r\n", "===="}) {
        CodecResult r = decrypt(text, kHardcoreSuite);
        EXPECT_TRUE(r.ok()) << text;
        EXPECT_EQ(r.text(), "");
    }
}

TEST(TextCodec, LinesAreSixtyEightCharactersWithCrLfBetween) {
    const std::string block = encrypt_ok(random_bytes(400, 3), kHardcoreSuite);
    std::size_t start = 0;
    std::vector<std::string> lines;
    for (std::size_t at; (at = block.find("\r\n", start)) != std::string::npos; start = at + 2)
        lines.push_back(block.substr(start, at - start));
    lines.push_back(block.substr(start));
    ASSERT_GE(lines.size(), 3u);
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i].size(), 68u);
    EXPECT_FALSE(lines.back().empty()) << "no line end after the last line";
}

TEST(TextCodec, DecorationsOutsideTheAlphabetAreIgnored) {
    const std::string plain = random_bytes(300, 11);
    const std::string block = encrypt_ok(plain, kTwofishSha1Ofb);
    std::string flat;
    for (char c : block)
        if (c != '\r' && c != '\n') flat += c;

    std::string rewrapped, indented, quoted;
    for (std::size_t i = 0; i < flat.size(); i += 40) rewrapped += flat.substr(i, 40) + "\n";
    for (std::size_t i = 0; i < flat.size(); i += 68) indented += "    " + flat.substr(i, 68) + "\r\n\r\n";
    for (std::size_t i = 0; i < flat.size(); i += 68) quoted += "> > " + flat.substr(i, 68) + "\r\n";
    for (const std::string& text : {rewrapped, indented, quoted}) {
        CodecResult back = decrypt(text, kTwofishSha1Ofb);
        ASSERT_TRUE(back.ok()) << text;
        EXPECT_TRUE(same_bytes(back.text(), plain));
    }
}

TEST(TextCodec, SeparatorsFramTheBlockAndMustBeCutBeforeDecrypting) {
    const std::string bare = encrypt_ok(kText, kHardcoreSuite);
    const std::string framed = encrypt_ok(kText, kHardcoreSuite, true);
    EXPECT_EQ(start_separator(), "[-START Morvantile v.1.2.0.26 START-]\r\n");
    EXPECT_EQ(end_separator(), "\r\n[-END Morvantile v.1.2.0.26 END-]\r\n");
    EXPECT_EQ(framed, start_separator() + bare + end_separator());

    CodecResult left_in = decrypt(framed, kHardcoreSuite);
    ASSERT_FALSE(left_in.ok());
    EXPECT_EQ(left_in.failed_step(), CodecStep::Decompression);
    EXPECT_EQ(left_in.message(), kDecompressionHint);

    const std::string cut = framed.substr(start_separator().size(),
                                          framed.size() - start_separator().size() - end_separator().size());
    CodecResult back = decrypt(cut, kHardcoreSuite);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.text(), kText);
}

TEST(TextCodec, SeparatorLinesAreStrippedOnlyWhenBothArePresent) {
    const std::string bare = encrypt_ok(kText, kHardcoreSuite);
    const std::string framed = encrypt_ok(kText, kHardcoreSuite, true);
    EXPECT_EQ(strip_separator_lines(framed), bare);
    const std::string other_version = "[-START Morvantile v.1.0.0.1 START-]\r\n" + bare +
                                      "\r\n[-END Morvantile v.1.0.0.1 END-]";
    EXPECT_EQ(strip_separator_lines(other_version), bare);
    EXPECT_EQ(strip_separator_lines(bare), bare);
    const std::string only_start = start_separator() + bare;
    EXPECT_EQ(strip_separator_lines(only_start), only_start);
    EXPECT_EQ(strip_separator_lines("[-START x START-]\r\n"), "[-START x START-]\r\n");
}

TEST(TextCodec, CiphertextOfWholeChunksLeavesAnEmptyLineBeforeTheEndSeparator) {
    // Random bytes do not compress: search the plaintext length whose zlib
    // stream is exactly one base64 chunk long.
    std::string plain;
    for (std::size_t n = 2380; n < 2448; ++n) {
        std::string candidate = random_bytes(n, 5);
        if (compress_buffer(candidate.data(), candidate.size()).size() == kMimeChunkBytes) {
            plain = candidate;
            break;
        }
    }
    ASSERT_FALSE(plain.empty());
    const std::string framed = encrypt_ok(plain, kHardcoreSuite, true);
    const std::string tail = "\r\n\r\n[-END " + version_text() + " END-]\r\n";
    ASSERT_GT(framed.size(), tail.size());
    EXPECT_EQ(framed.substr(framed.size() - tail.size()), tail);

    const std::string cut = framed.substr(start_separator().size(), framed.size() - start_separator().size() - tail.size());
    CodecResult back = decrypt(cut, kHardcoreSuite);
    ASSERT_TRUE(back.ok());
    EXPECT_TRUE(same_bytes(back.text(), plain));
}

TEST(TextCodec, WrongPasswordOrSuiteIsCaughtByDecompression) {
    const std::string block = encrypt_ok(kText, kTwofishSha1Ofb);
    for (auto [setup, password] : {std::pair{kTwofishSha1Ofb, "PW"}, std::pair{kHardcoreSuite, "pw"},
                                   std::pair{CipherSetup{6, 2, 4}, "pw"}}) {
        CodecResult r = decrypt(block, setup, password);
        EXPECT_EQ(r.failed_step(), CodecStep::Decompression);
        EXPECT_TRUE(r.text().empty()) << "no partial result on failure";
    }
}

TEST(TextCodec, NoDecompressReturnsTheZlibStream) {
    const std::string block = encrypt_ok(kText, kTwofishSha1Ofb);
    CodecResult raw = decrypt(block, kTwofishSha1Ofb, "pw", false);
    ASSERT_TRUE(raw.ok());
    EXPECT_TRUE(same_bytes(raw.text(), compress_buffer(kText.data(), kText.size())));
    EXPECT_EQ(raw.text().substr(0, 2), "\x78\xda");
}

TEST(TextCodec, IndicesOutsideTheCataloguesAreRejectedAtTheirStep) {
    const std::pair<CipherSetup, CodecStep> cases[] = {
        {{9, 0, 0}, CodecStep::CipherCreation}, {{-1, 0, 0}, CodecStep::CipherCreation},
        {{4, 0, 5}, CodecStep::ChainingMode},   {{4, 0, -1}, CodecStep::ChainingMode},
        {{4, 6, 0}, CodecStep::KeySetup},       {{4, -3, 0}, CodecStep::KeySetup},
    };
    for (const auto& [setup, step] : cases) {
        CodecResult e = encrypt_text(kText, setup, "pw", false);
        CodecResult d = decrypt_text("abcd", setup, "pw", true);
        EXPECT_EQ(e.failed_step(), step);
        EXPECT_EQ(d.failed_step(), step);
    }
    EXPECT_EQ(encrypt_text(kText, {4, 0, 5}, "pw", false).message(), "Failed to set ciphermode!");
    EXPECT_EQ(encrypt_text(kText, {9, 0, 0}, "pw", false).message(), "Cipher creation error!");
    EXPECT_EQ(encrypt_text(kText, {4, 6, 0}, "pw", false).message(), "Failed to perform hashing!");
}

TEST(TextCodec, HardcoreWrapsTheFirstBlockInASecondPassOfTheFixedSuite) {
    const CodecOptions hard{kTwofishSha1Ofb, true, true, true};
    CodecResult block = encrypt_message(kText, "pw", hard);
    ASSERT_TRUE(block.ok());
    const std::string inner = encrypt_ok(kText, kTwofishSha1Ofb, true);
    EXPECT_EQ(block.text(), encrypt_ok(inner, kHardcoreSuite, true));

    // The separated outer block decrypts once its own separators are cut.
    const std::string& framed = block.text();
    const std::string cut = framed.substr(start_separator().size(),
                                          framed.size() - start_separator().size() - end_separator().size());
    CodecResult back = decrypt_message(cut, "pw", hard);
    ASSERT_TRUE(back.ok()) << back.message();
    EXPECT_EQ(back.text(), kText);

    CodecOptions soft = hard;
    soft.hardcore = false;
    EXPECT_EQ(decrypt_message(cut, "pw", soft).failed_step(), CodecStep::Decompression);
    const std::string plain_block = encrypt_ok(kText, kTwofishSha1Ofb);
    EXPECT_EQ(decrypt_message(plain_block, "pw", hard).failed_step(), CodecStep::Decompression);
}

TEST(TextCodec, HardcoreBlockOfTheDefaultSuiteOpensOneLayerWithoutHardcore) {
    const CodecOptions hard{kHardcoreSuite, true, false, true};
    CodecResult block = encrypt_message(kText, "pw", hard);
    ASSERT_TRUE(block.ok());
    CodecResult outer = decrypt_message(block.text(), "pw", CodecOptions{kHardcoreSuite, false, false, true});
    ASSERT_TRUE(outer.ok());
    EXPECT_EQ(outer.text(), encrypt_ok(kText, kHardcoreSuite));
}

TEST(TextCodec, OptionsComeFromTheSettings) {
    Settings s;
    s.Algorithm = 7;
    s.Hash = 5;
    s.ChainingMode = 2;
    s.HardcoreMode = true;
    s.AppendSeparator = false;
    s.NoDecompress = true;
    const CodecOptions o = codec_options(s);
    EXPECT_EQ(o.setup, (CipherSetup{7, 5, 2}));
    EXPECT_TRUE(o.hardcore);
    EXPECT_FALSE(o.append_separators);
    EXPECT_FALSE(o.decompress);
}

TEST(TextCodec, PlaintextsAreHeldToTheSizeLimit) {
    const std::string plain(3000, 'q');
    CodecOptions o{kTwofishSha1Ofb, false, false, true, plain.size()};
    for (bool hardcore : {false, true}) {
        SCOPED_TRACE(hardcore ? "Hardcore" : "one pass");
        o.hardcore = hardcore;
        o.max_size = plain.size();
        CodecResult block = encrypt_message(plain, "pw", o);
        ASSERT_TRUE(block.ok()) << block.message();
        // The outer Hardcore text is larger than the plaintext and still opens.
        EXPECT_EQ(decrypt_message(block.text(), "pw", o).text(), plain);

        o.max_size = plain.size() - 1;
        CodecResult too_large = encrypt_message(plain, "pw", o);
        EXPECT_EQ(too_large.failed_step(), CodecStep::TooLarge);
        EXPECT_EQ(too_large.message(), "Text too large!\r\nThe text is 3000 bytes; texts may be up to 2999 bytes\r\n"
                                       "(MaxTextSize in the [misc] section of the configuration file).");
        CodecResult inflates = decrypt_message(block.text(), "pw", o);
        EXPECT_EQ(inflates.failed_step(), CodecStep::DecryptedTooLarge);
        EXPECT_EQ(inflates.message(), "Decrypted text too large!\r\nThe decrypted text would be larger; texts may "
                                      "be up to 2999 bytes\r\n(MaxTextSize in the [misc] section of the configuration "
                                      "file).");
        // A wrong password is still a wrong password.
        EXPECT_EQ(decrypt_message(block.text(), "other", o).failed_step(), CodecStep::Decompression);
    }
    EXPECT_EQ(size_text(0), "0 bytes");
    EXPECT_EQ(size_text(1), "1 byte");
    EXPECT_EQ(size_text(1023), "1023 bytes");
    EXPECT_EQ(size_text(1024), "1 KiB");
    EXPECT_EQ(size_text(std::uint64_t{256} << 20), "256 MiB");
    EXPECT_EQ(size_text((std::uint64_t{256} << 20) + 1), "268435457 bytes");
    EXPECT_EQ(size_text(std::uint64_t{3} << 29), "1536 MiB");
}

// A block of about a MiB that inflates to 1 GiB, against the default limit
// of 256 MiB: refused with its own message, and the memory the process
// took stays far below what inflating it would take. Measured in a child,
// whose peak is its own.
TEST(TextCodec, ACompressionBombIsRefusedInLittleMemory) {
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The zlib stream of 1 GiB of zero bytes, made in pieces.
        Deflater deflater;
        z_stream& zs = deflater.zs;
        std::string zeros(std::size_t{1} << 20, '\0'), packed, out(std::size_t{1} << 16, '\0');
        for (int piece = 0; piece < 1024; ++piece) {
            zs.next_in = reinterpret_cast<Bytef*>(zeros.data());
            zs.avail_in = static_cast<uInt>(zeros.size());
            const int flush = piece == 1023 ? Z_FINISH : Z_NO_FLUSH;
            do {
                zs.next_out = reinterpret_cast<Bytef*>(out.data());
                zs.avail_out = static_cast<uInt>(out.size());
                deflate(&zs, flush);
                packed.append(out.data(), out.size() - zs.avail_out);
            } while (zs.avail_out == 0);
        }
        KeyedCipher cipher;
        if (cipher.key(CipherSetup{4, 0, 0}, "pw")) ::_exit(2);
        cipher->encrypt(reinterpret_cast<std::uint8_t*>(packed.data()), reinterpret_cast<std::uint8_t*>(packed.data()),
                        static_cast<std::uint32_t>(packed.size()));
        const std::string block = mime_encode(packed);
        CodecResult r = decrypt_message(block, "pw", CodecOptions{CipherSetup{4, 0, 0}, false, false, true});
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        const long result[3] = {static_cast<long>(block.size()), r.failed_step() == CodecStep::DecryptedTooLarge,
                                usage.ru_maxrss};
        if (::write(report[1], result, sizeof result) != sizeof result) ::_exit(3);
        ::_exit(0);
    }
    long result[3] = {};
    ASSERT_EQ(::read(report[0], result, sizeof result), static_cast<ssize_t>(sizeof result));
    ::waitpid(child, nullptr, 0);
    ::close(report[0]);
    ::close(report[1]);
    EXPECT_LT(result[0], 3 << 20) << "the block is small";
    EXPECT_TRUE(result[1]) << "refused as too large";
    EXPECT_LT(result[2], 200L << 10) << "peak KiB, against 1 GiB to inflate it";
}

}  // namespace
}  // namespace morvantile
