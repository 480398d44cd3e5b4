#include "cipher/parallel_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "cipher/compression.h"
#include "cipher/errors.h"
#include "cipher/stream.h"
#include "support/test_util.h"

using namespace morvantile;

namespace {

using test::random_bytes;

constexpr std::size_t B = kDeflateBlock;

// Prose-like text with long repeats, so that matches reach across blocks.
std::string text(std::size_t n, std::uint32_t seed = 1) {
    static const char* words[] = {"cipher ", "block ", "the ", "window ", "and ", "deflate ", "of ", "stream.\n"};
    std::string out;
    for (std::uint32_t i = seed; out.size() < n; i = i * 1103515245u + 12345u) out += words[(i >> 16) % 8];
    out.resize(n);
    return out;
}

// Inflates with zlib alone, as any reader would; the stream must end
// exactly at the end of `z`.
std::string inflate_all(const std::string& z) {
    z_stream zs{};
    EXPECT_EQ(inflateInit(&zs), Z_OK);
    std::string out(4096, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(z.data()));
    zs.avail_in = static_cast<uInt>(z.size());
    int rc = Z_OK;
    std::size_t produced = 0;
    while (rc == Z_OK) {
        if (produced == out.size()) out.resize(out.size() * 2);
        zs.next_out = reinterpret_cast<Bytef*>(out.data()) + produced;
        zs.avail_out = static_cast<uInt>(out.size() - produced);
        rc = inflate(&zs, Z_NO_FLUSH);
        produced = out.size() - zs.avail_out;
        if (rc == Z_BUF_ERROR && zs.avail_out != 0) break;
        if (rc == Z_BUF_ERROR) rc = Z_OK;
    }
    EXPECT_EQ(rc, Z_STREAM_END);
    EXPECT_EQ(zs.avail_in, 0u) << "bytes after the end of the stream";
    inflateEnd(&zs);
    out.resize(produced);
    return out;
}

std::string parallel(const std::string& in, unsigned threads) {
    return compress_buffer_parallel(in.data(), in.size(), {threads, {}});
}

// The same input through a deflater in uneven writes.
std::string in_pieces(const std::string& in, unsigned threads, std::uint32_t seed) {
    std::string out;
    ParallelDeflater d([&](const std::uint8_t* p, std::size_t n) { out.append(reinterpret_cast<const char*>(p), n); },
                       {threads, {}});
    std::uint32_t r = seed;
    for (std::size_t at = 0; at < in.size();) {
        r = r * 1103515245u + 12345u;
        const std::size_t piece = std::min<std::size_t>(in.size() - at, (r >> 8) % (B + B / 2));
        d.write(in.data() + at, piece);
        at += piece;
    }
    d.finish();
    return out;
}

void expect_valid_level9_stream(const std::string& z, const std::string& plain) {
    ASSERT_GE(z.size(), 6u);
    EXPECT_EQ(test::to_hex(z.substr(0, 2)), "78da");
    const uLong adler = adler32(adler32(0, Z_NULL, 0), reinterpret_cast<const Bytef*>(plain.data()),
                                static_cast<uInt>(plain.size()));
    const auto* t = reinterpret_cast<const unsigned char*>(z.data() + z.size() - 4);
    EXPECT_EQ(uLong{t[0]} << 24 | uLong{t[1]} << 16 | uLong{t[2]} << 8 | t[3], adler);
    EXPECT_TRUE(inflate_all(z) == plain);
    EXPECT_TRUE(decompress_buffer(z.data(), z.size()) == plain);
}

}  // namespace

TEST(ParallelDeflate, ValidStreamAroundEveryBlockBoundary) {
    const std::size_t sizes[] = {0, 1, B - 1, B, B + 1, 2 * B - 1, 2 * B, 2 * B + 1, 5 * B + 4321};
    for (std::size_t n : sizes)
        for (const std::string& plain : {text(n, 3), random_bytes(n, 4), std::string(n, 'a')}) {
            SCOPED_TRACE(testing::Message() << n << " bytes");
            const std::string z = parallel(plain, 2);
            expect_valid_level9_stream(z, plain);
            // The bytes do not depend on the threads or on the writes.
            EXPECT_TRUE(parallel(plain, 3) == z);
            EXPECT_TRUE(in_pieces(plain, 2, static_cast<std::uint32_t>(n)) == z);
            // A stream of one block is the plain zlib stream.
            if (n <= B) {
                EXPECT_TRUE(z == compress_buffer(plain.data(), plain.size()));
            }
        }
}

TEST(ParallelDeflate, OneThreadIsTheSingleStreamAndBlocksCostLittle) {
    const std::string plain = text(6 * B + 77, 5);
    const std::string single = compress_buffer(plain.data(), plain.size());
    EXPECT_TRUE(parallel(plain, 1) == single);
    EXPECT_TRUE(in_pieces(plain, 1, 9) == single);
    const std::string blocks = parallel(plain, 4);
    EXPECT_FALSE(blocks == single);
    expect_valid_level9_stream(blocks, plain);
    // Each block keeps the window before it, so the loss is a few bytes a block.
    EXPECT_LT(double(blocks.size()), double(single.size()) * 1.01);
    EXPECT_EQ(deflate_threads(1), 1u);
    EXPECT_EQ(deflate_threads(1000), kMaxDeflateThreads);
    EXPECT_GE(deflate_threads(0), 1u);
}

TEST(ParallelDeflate, AWorkerFailureIsTheCompressionErrorWithNothingWritten) {
    const std::string plain = random_bytes(9 * B + 5, 6);
    for (std::uint64_t bad : {0, 1, 5, 9}) {
        SCOPED_TRACE(bad);
        DeflateOptions options{2, [bad](std::uint64_t index) {
                                   if (index == bad) throw std::runtime_error("worker broke");
                               }};
        EXPECT_THROW(compress_buffer_parallel(plain.data(), plain.size(), options), ECompressionError);
        // A stream that would have had its trailer is never finished.
        std::string out;
        bool ended = false;
        try {
            ParallelDeflater d([&](const std::uint8_t* p, std::size_t n) { out.append(reinterpret_cast<const char*>(p), n); },
                               options);
            d.write(plain.data(), plain.size());
            d.finish();
            ended = true;
        } catch (const ECompressionError&) {
        }
        EXPECT_FALSE(ended);
        EXPECT_LE(out.size(), bad * (B + B / 8) + 2);
    }
    // A single block fails the same way.
    const DeflateOptions first_fails{2, [](std::uint64_t) { throw std::bad_alloc(); }};
    EXPECT_THROW(compress_buffer_parallel("x", 1, first_fails), ECompressionError);
}

TEST(ParallelDeflate, SinkErrorsPassThroughAndWaitingTurnsTheLoop) {
    const std::string plain = text(6 * B, 7);
    struct WriteFailed {};
    ParallelDeflater broken([](const std::uint8_t*, std::size_t) { throw WriteFailed{}; }, {2, {}});
    EXPECT_THROW(
        {
            broken.write(plain.data(), plain.size());
            broken.finish();
        },
        WriteFailed);

    // Slow workers: the owner waits, and says so every turn.
    std::atomic<int> turns = 0;
    std::string out;
    const DeflateOptions slow{2, [](std::uint64_t) { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }};
    ParallelDeflater d([&](const std::uint8_t* p, std::size_t n) { out.append(reinterpret_cast<const char*>(p), n); },
                       slow, [&] { ++turns; }, std::chrono::milliseconds(1));
    d.write(plain.data(), plain.size());
    EXPECT_LT(d.delivered(), plain.size());
    d.finish();
    EXPECT_EQ(d.delivered(), plain.size());
    EXPECT_GT(turns.load(), 0);
    EXPECT_TRUE(out == parallel(plain, 2));
}

TEST(ParallelDeflate, LongTextsAreCompressedOnAllCores) {
    // The text codec's stream: long inputs in blocks, short ones as before.
    for (std::size_t n : {kParallelCompressionThreshold - 1, kParallelCompressionThreshold}) {
        const std::string plain = text(n, 8);
        TViewStream src(plain);
        std::string packed;
        TStringStream dst(packed);
        compress_stream(src, dst);
        const bool long_text = n >= kParallelCompressionThreshold && deflate_threads(0) > 1;
        EXPECT_TRUE(packed == (long_text ? parallel(plain, 0) : compress_buffer(plain.data(), plain.size())));
        EXPECT_TRUE(decompress_buffer(packed.data(), packed.size()) == plain);
    }
}
