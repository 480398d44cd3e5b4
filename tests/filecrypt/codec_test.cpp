#include <gtest/gtest.h>
#include <zlib.h>

#include <stdexcept>

#include "cipher/compression.h"
#include "cipher/stream.h"
#include "file_fakes.h"
#include "filecrypt/file_codec.h"
#include "support/temp_files.h"
#include "support/test_util.h"
#include "textcrypt/keyed_cipher.h"

namespace morvantile::test {
namespace {

// One encrypt_stream over all of `bytes`.
std::string encrypted_whole(const std::string& bytes, const CipherSetup& s, std::string_view password) {
    KeyedCipher cipher;
    EXPECT_EQ(cipher.key(s, password), std::nullopt);
    TViewStream in(bytes);
    std::string out;
    TStringStream sink(out);
    cipher->encrypt_stream(in, sink, static_cast<std::uint32_t>(bytes.size()));
    return out;
}

// The file format as the engine's parts make it: the whole file deflated
// (by `threads` threads), then encrypted in one stream.
std::string whole_buffer(const std::string& plain, const CipherSetup& s, std::string_view password,
                         unsigned threads = 0) {
    return encrypted_whole(compress_buffer_parallel(plain.data(), plain.size(), {threads, {}}), s, password);
}

std::string streamed(bool encrypt, const std::string& input, const CipherSetup& s, std::string_view password,
                     unsigned threads = 0) {
    KeyedCipher cipher;
    EXPECT_EQ(cipher.key(s, password), std::nullopt);
    MemoryFile in(input), out;
    if (encrypt) encrypt_file_data(in, out, *cipher, {}, {threads, {}});
    else decrypt_file_data(in, out, *cipher);
    return out.bytes;
}

CodecStage failing_stage(bool encrypt, MemoryFile& in, MemoryFile& out, std::string_view password = "pw") {
    KeyedCipher cipher;
    EXPECT_EQ(cipher.key({}, password), std::nullopt);
    try {
        if (encrypt) encrypt_file_data(in, out, *cipher);
        else decrypt_file_data(in, out, *cipher);
    } catch (const EFileCodecError& e) {
        return e.stage;
    }
    ADD_FAILURE() << "no failure";
    return CodecStage::ReadSource;
}

// Random (incompressible) bytes whose zlib stream is exactly `packed` bytes
// long, so the cipher's input ends just before, at or after a boundary.
std::string plain_packing_to(std::size_t packed) {
    std::size_t n = packed;
    for (int tries = 0; tries < 20; ++tries) {
        const std::string plain = random_bytes(n, 11);
        const std::size_t got = compress_buffer(plain.data(), plain.size()).size();
        if (got == packed) return plain;
        n = got > packed ? n - std::min(n, got - packed) : n + (packed - got);
    }
    ADD_FAILURE() << "no input packs to " << packed << " bytes";
    return {};
}

std::string text(std::size_t n) {
    static const char* words[] = {"the ", "file ", "is ", "encrypted ", "and ", "wiped ", "before ", "it ", "goes.\n"};
    std::string out;
    for (std::uint32_t i = 0; out.size() < n; i = i * 1103515245u + 12345u) out += words[(i >> 16) % 9];
    out.resize(n);
    return out;
}

TEST(FileCodec, SameBytesAsTheWholeFileCompressedThenEncrypted) {
    std::vector<std::string> small = {"", "x"};
    for (std::size_t packed : {8191, 8192, 8193, 3 * 8192 + 5}) small.push_back(plain_packing_to(packed));
    for (int algorithm = 0; algorithm < kCipherCount; ++algorithm)
        for (int mode = 0; mode < kModeCount; ++mode)
            for (const std::string& plain : small) {
                const CipherSetup s{algorithm, 0, mode};
                SCOPED_TRACE(testing::Message() << "suite " << algorithm << ",0," << mode << ", " << plain.size()
                                                << " bytes");
                const std::string encrypted = streamed(true, plain, s, "pw");
                ASSERT_TRUE(same_bytes(encrypted, whole_buffer(plain, s, "pw")));
                ASSERT_TRUE(same_bytes(streamed(false, encrypted, s, "pw"), plain));
            }
    // Around the codec's own read and write pieces, and a file that
    // compresses well, so many reads feed few cipher calls.
    std::vector<std::string> large = {text(3 * kFileIoChunk + 77)};
    for (std::size_t packed : {kFileIoChunk - 1, kFileIoChunk, kFileIoChunk + 1, 2 * kFileIoChunk + 8193})
        large.push_back(plain_packing_to(packed));
    // One stream, and blocks on two threads (text, and the largest of the
    // rest).
    for (unsigned threads : {1u, 2u})
        for (const CipherSetup& s : {CipherSetup{4, 0, 0}, CipherSetup{0, 4, 4}, CipherSetup{8, 2, 2}}) {
            if (threads == 2 && s.algorithm != 4) continue;
            for (const std::string& plain : large) {
                if (threads == 2 && &plain != &large.front() && &plain != &large.back()) continue;
                SCOPED_TRACE(testing::Message() << "suite " << s.algorithm << ", " << plain.size() << " bytes, "
                                                << threads << " threads");
                const std::string encrypted = streamed(true, plain, s, "pw", threads);
                ASSERT_TRUE(same_bytes(encrypted, whole_buffer(plain, s, "pw", threads)));
                ASSERT_TRUE(same_bytes(streamed(false, encrypted, s, "pw"), plain));
            }
        }
}

TEST(FileCodec, EndOfTheZlibStream) {
    const std::string plain = text(20000);
    const std::string packed = compress_buffer(plain.data(), plain.size());
    const std::string encrypted = encrypted_whole(packed, {}, "pw");
    // What follows the stream is ignored, as the whole-buffer decoder does.
    const std::string trailing = encrypted_whole(packed + random_bytes(3 * kFileIoChunk, 2), {}, "pw");
    EXPECT_TRUE(same_bytes(streamed(false, trailing, {}, "pw"), plain));
    MemoryFile cut(encrypted.substr(0, encrypted.size() - 1)), empty, out;
    EXPECT_EQ(failing_stage(false, cut, out), CodecStage::Decompress);
    EXPECT_EQ(failing_stage(false, empty, out), CodecStage::Decompress);
    // An empty file still has a stream: it encrypts to a short file.
    EXPECT_EQ(streamed(true, "", {}, "pw").size(), 8u);
}

TEST(FileCodec, WrongPasswordFailsInTheFirstPiece) {
    const std::string plain = random_bytes(4 * kFileIoChunk, 5);
    MemoryFile in(streamed(true, plain, {}, "right")), out;
    EXPECT_EQ(failing_stage(false, in, out, "wrong"), CodecStage::Decompress);
    EXPECT_EQ(in.read_total, kFileIoChunk);
    EXPECT_LT(out.bytes.size(), kFileIoChunk);
}

TEST(FileCodec, ReadAndWriteFailuresAreReportedAsSuch) {
    const std::string plain = random_bytes(3 * kFileIoChunk, 6);
    const std::string encrypted = streamed(true, plain, {}, "pw");
    for (bool encrypt : {true, false}) {
        MemoryFile reading(encrypt ? plain : encrypted), writing(encrypt ? plain : encrypted), out, full;
        reading.fail_read_after = kFileIoChunk;
        full.fail_write_after = kFileIoChunk + 10;
        EXPECT_EQ(failing_stage(encrypt, reading, out), CodecStage::ReadSource);
        EXPECT_EQ(failing_stage(encrypt, writing, full), CodecStage::WriteDestination);
    }
    // Only a failure of the data itself points at the password.
    EXPECT_EQ(codec_failure_message(true, CodecStage::ReadSource), kFileCompressFailed);
    EXPECT_EQ(codec_failure_message(true, CodecStage::WriteDestination), kFileEncryptIoError);
    EXPECT_EQ(codec_failure_message(false, CodecStage::ReadSource), kFileDecryptIoError);
    EXPECT_EQ(codec_failure_message(false, CodecStage::WriteDestination), kFileDecryptIoError);
    EXPECT_EQ(codec_failure_message(false, CodecStage::Decompress), kFileDecompressFailed);
}

// A file that inflates to 40 times its size: memory stays at the codec's
// pieces, and the event loop gets its turns in both directions.
TEST(FileCodec, BoundedPiecesAndRegularPumping) {
    const std::string plain(24u << 20, 'z');
    for (bool encrypt : {true, false}) {
        KeyedCipher cipher;
        ASSERT_EQ(cipher.key({}, "pw"), std::nullopt);
        MemoryFile in(encrypt ? plain : streamed(true, plain, {}, "pw")), out;
        int pumped = 0, second = 0;
        const CodecEvents events{[&] { ++second; }, [&] { ++pumped; }, {}};
        if (encrypt) encrypt_file_data(in, out, *cipher, events);
        else decrypt_file_data(in, out, *cipher, events);
        EXPECT_EQ(second, 1);
        EXPECT_GE(pumped, 5);
        EXPECT_LE(out.largest_write, kFileIoChunk);
        if (!encrypt) {
            EXPECT_TRUE(out.bytes == plain);
        }
    }
}

// Progress while a file of many blocks goes through on two threads, and
// the result read back by the plain one-stream reader.
TEST(FileCodec, ProgressInBothDirectionsAndTheOneStreamReaderReadsTheBlocks) {
    // Half of it barely compresses, so decryption reads many pieces too.
    const std::string plain = text(12 * kDeflateBlock + 99) + random_bytes(16 * kDeflateBlock, 3);
    std::string encrypted;
    for (bool encrypt : {true, false}) {
        SCOPED_TRACE(encrypt ? "encrypting" : "decrypting");
        KeyedCipher cipher;
        ASSERT_EQ(cipher.key({}, "pw"), std::nullopt);
        MemoryFile in(encrypt ? plain : encrypted), out;
        std::vector<int> shown;
        int second_at = -1;
        const CodecEvents events{[&] { second_at = static_cast<int>(shown.size()); }, {},
                                 [&](int percent) { shown.push_back(percent); }, std::chrono::milliseconds(0)};
        if (encrypt) encrypt_file_data(in, out, *cipher, events, {2, {}});
        else decrypt_file_data(in, out, *cipher, events);
        ASSERT_GE(shown.size(), 3u);
        EXPECT_GE(shown.front(), 1);
        EXPECT_LE(shown.back(), 99);
        EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
        EXPECT_EQ(std::adjacent_find(shown.begin(), shown.end()), shown.end());
        // Encryption's second step starts once the compressor has the whole
        // file, decryption's with the first piece.
        if (encrypt) EXPECT_GE(second_at, 1);
        else EXPECT_EQ(second_at, 0);
        if (encrypt) encrypted = out.bytes;
        else EXPECT_TRUE(out.bytes == plain);
    }
    // Decrypted whole, it is one zlib stream with header 78 DA.
    KeyedCipher cipher;
    ASSERT_EQ(cipher.key({}, "pw"), std::nullopt);
    std::string packed = encrypted;
    cipher->decrypt(u8(packed), u8(packed), static_cast<std::uint32_t>(packed.size()));
    EXPECT_EQ(to_hex(packed.substr(0, 2)), "78da");
    std::string back(plain.size(), '\0');
    uLongf back_size = back.size();
    EXPECT_EQ(uncompress(u8(back), &back_size, u8(packed), packed.size()), Z_OK);
    EXPECT_TRUE(back_size == plain.size() && back == plain);
}

// A compressing thread that fails is "Failed to compress file!", and the
// command-line tool's output is then left as it was, or not made at all.
TEST(FileCodec, AFailingCompressingThreadLeavesNoOutput) {
    const std::string plain = random_bytes(10 * kDeflateBlock, 4);
    for (std::uint64_t bad : {0, 4, 9}) {
        SCOPED_TRACE(bad);
        const DeflateOptions breaks{2, [bad](std::uint64_t index) {
                                        if (index == bad) throw std::runtime_error("broken");
                                    }};
        KeyedCipher cipher;
        ASSERT_EQ(cipher.key({}, "pw"), std::nullopt);
        MemoryFile in(plain), out;
        try {
            encrypt_file_data(in, out, *cipher, {}, breaks);
            ADD_FAILURE() << "no failure";
        } catch (const EFileCodecError& e) {
            EXPECT_EQ(e.stage, CodecStage::Compress);
        }

        TempFolder dir;
        write_file(dir / "in.txt", plain);
        FileCommandOptions options;
        options.deflate = breaks;
        EXPECT_EQ(encrypt_file(dir / "in.txt", dir / "out.mvt", {}, "pw", options), std::string(kFileCompressFailed));
        write_file(dir / "old.mvt", "older");
        EXPECT_EQ(encrypt_file(dir / "in.txt", dir / "old.mvt", {}, "pw", options), std::string(kFileCompressFailed));
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.txt", "old.mvt"}));
        EXPECT_EQ(read_file(dir / "old.mvt"), "older");
    }
}

// The command-line tool's progress: each step's hint, then percentages.
TEST(FileCodec, CommandProgressShowsTheStepsHints) {
    TempFolder dir;
    write_file(dir / "in.txt", text(3 * kDeflateBlock));
    std::vector<std::string> shown;
    FileCommandOptions options;
    options.progress = [&](std::string_view t) { shown.emplace_back(t); };
    ASSERT_EQ(encrypt_file(dir / "in.txt", dir / "out.mvt", {}, "pw", options), std::nullopt);
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown.front(), kHintCompressing);
    EXPECT_TRUE(std::find(shown.begin(), shown.end(), std::string(kHintEncrypting)) != shown.end());
    shown.clear();
    ASSERT_EQ(decrypt_file(dir / "out.mvt", dir / "back.txt", {}, "pw", options), std::nullopt);
    EXPECT_EQ(shown, (std::vector<std::string>{std::string(kHintDecrypting), std::string(kHintDecompressing)}));
    EXPECT_EQ(read_file(dir / "back.txt"), text(3 * kDeflateBlock));
    EXPECT_EQ(progress_text(kHintCompressing, 42), "Encrypting file: compressing... 42%");
}

}  // namespace
}  // namespace morvantile::test
