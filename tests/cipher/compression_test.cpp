#include "cipher/compression.h"

#include <gtest/gtest.h>

#include "support/test_util.h"
#include <zlib.h>

#include <random>

#include "cipher/errors.h"

using namespace morvantile;

namespace {

using test::random_bytes;

std::string pack(const std::string& s) { return compress_buffer(s.data(), s.size()); }
std::string unpack(const std::string& s, std::size_t estimate = 0) {
    return decompress_buffer(s.data(), s.size(), estimate);
}

const std::string kEmptyStream("\x78\xDA\x03\x00\x00\x00\x00\x01", 8);

}  // namespace

TEST(Compression, RoundTripsAndAcceptsOtherStreams) {
    EXPECT_EQ(compress_buffer(nullptr, 0), kEmptyStream);
    EXPECT_EQ(unpack(kEmptyStream), "");

    const std::string samples[] = {"a", random_bytes(1000, 1), random_bytes(300000, 2), std::string(100000, 'z')};
    for (const auto& s : samples) {
        const std::string z = pack(s);
        EXPECT_EQ(z.substr(0, 2), "\x78\xDA");
        for (std::size_t estimate : {std::size_t{0}, std::size_t{1}, s.size(), 3 * s.size()})
            EXPECT_EQ(unpack(z, estimate), s) << s.size() << " " << estimate;
        EXPECT_EQ(unpack(z + "trailing junk"), s);
    }

    const std::string text = random_bytes(5000, 3) + std::string(5000, 'q');
    for (int level : {0, 1, 6}) {
        std::string z(compressBound(text.size()), '\0');
        uLongf len = z.size();
        ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(z.data()), &len,
                            reinterpret_cast<const Bytef*>(text.data()), text.size(), level), Z_OK);
        z.resize(len);
        EXPECT_EQ(unpack(z), text) << level;
    }
}

TEST(Compression, RejectsDamagedInputWithoutHanging) {
    const std::string z = pack(random_bytes(2000, 4) + std::string(3000, 'x'));
    for (std::size_t len = 0; len < z.size(); ++len)
        EXPECT_THROW(unpack(z.substr(0, len)), EDecompressionError) << len;
    EXPECT_THROW(unpack(std::string("\x78\xDA\x03\x00", 4)), EDecompressionError);

    std::string bad_sum = z;
    bad_sum.back() ^= 1;
    EXPECT_THROW(unpack(bad_sum), EDecompressionError);
    EXPECT_THROW(unpack("not a zlib stream at all"), EDecompressionError);
    // Header asking for a preset dictionary (FDICT set, check bits valid).
    EXPECT_THROW(unpack(std::string("\x78\xBB\x00\x00\x00\x01\x03\x00", 8)), EDecompressionError);

    // Random damage either decodes to something or throws: never hangs or crashes.
    std::mt19937 rng(5);
    for (int i = 0; i < 500; ++i) {
        std::string d = z;
        d[2 + rng() % (d.size() - 2)] = static_cast<char>(rng());
        try { unpack(d); } catch (const EDecompressionError&) {}
    }
}

TEST(Compression, StreamPositions) {
    // Compression takes the whole source, whatever its position.
    TMemoryStream src(std::string("hello, hello, hello"));
    src.set_position(7);
    TMemoryStream packed(std::string("AB"));
    packed.set_position(2);
    compress_stream(src, packed);
    EXPECT_EQ(packed.data().substr(2), pack("hello, hello, hello"));

    // Decompression reads from the current position and rewinds the target.
    packed.set_position(2);
    TMemoryStream plain(std::string(">"));
    plain.set_position(1);
    decompress_stream(packed, plain);
    EXPECT_EQ(plain.data(), ">hello, hello, hello");
    EXPECT_EQ(plain.position(), 0);

    plain.set_position(5);
    decompress_stream(packed, plain);  // packed is at its end now
    EXPECT_EQ(plain.data(), ">hello, hello, hello");
    EXPECT_EQ(plain.position(), 0);

    TMemoryStream garbage(std::string("\x78\xDA garbage"));
    plain.set_position(3);
    EXPECT_THROW(decompress_stream(garbage, plain), EDecompressionError);
    EXPECT_EQ(plain.data(), ">hello, hello, hello");
    EXPECT_EQ(plain.position(), 3);
}

// A limit on the output is kept exactly, and a stream that passes it is
// told apart from one that is no zlib stream at all.
TEST(DecompressLimited, TheLimitIsExactAndOtherFailuresKeepTheirKind) {
    const std::string plain = random_bytes(70000, 4) + std::string(200000, 'z');
    const std::string packed = pack(plain);
    EXPECT_EQ(decompress_buffer_limited(packed.data(), packed.size(), plain.size()), plain);
    EXPECT_THROW(decompress_buffer_limited(packed.data(), packed.size(), plain.size() - 1), EDecompressedTooLarge);
    const std::string empty = pack("");
    EXPECT_EQ(decompress_buffer_limited(empty.data(), empty.size(), 0), "");
    std::string damaged = packed;
    damaged[packed.size() / 2] ^= 0x40;
    for (const std::string& bad : {damaged, packed.substr(0, packed.size() - 1), std::string("\x78\xDA\x03\x00", 4)}) {
        try {
            decompress_buffer_limited(bad.data(), bad.size(), plain.size());
            ADD_FAILURE() << "accepted";
        } catch (const EDecompressedTooLarge&) {
            ADD_FAILURE() << "a damaged stream reported as too large";
        } catch (const EDecompressionError&) {
        }
    }
}
