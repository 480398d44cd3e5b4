#include "cipher/base64.h"

#include <gtest/gtest.h>

#include "support/test_util.h"

#include <random>

using namespace morvantile;

namespace {

using test::random_bytes;

// Written independently of the codec: bit by bit, then the line rule
// (68 per line, CR LF between lines, and a trailing CR LF only when the
// input is a whole number of 2448-byte chunks).
std::string reference_encode(const std::string& b) {
    const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string flat;
    for (std::size_t i = 0; i < b.size(); i += 3) {
        const std::size_t k = std::min<std::size_t>(3, b.size() - i);
        std::uint32_t w = 0;
        for (std::size_t j = 0; j < 3; ++j) w = w << 8 | (j < k ? static_cast<std::uint8_t>(b[i + j]) : 0);
        for (std::size_t j = 0; j < 4; ++j) flat += j <= k ? abc[(w >> (18 - 6 * j)) & 63] : '=';
    }
    std::string out;
    for (std::size_t i = 0; i < flat.size(); i += 68) out += (i ? "\r\n" : "") + flat.substr(i, 68);
    if (!b.empty() && b.size() % 2448 == 0) out += "\r\n";
    return out;
}

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
    for (std::size_t p = 0; (p = s.find(from, p)) != std::string::npos; p += to.size()) s.replace(p, from.size(), to);
    return s;
}

}  // namespace

TEST(Base64, KnownTextsAndLineLayout) {
    EXPECT_EQ(mime_encode(""), "");
    EXPECT_EQ(mime_encode("A"), "QQ==");
    EXPECT_EQ(mime_encode("fo"), "Zm8=");
    EXPECT_EQ(mime_encode(std::string("\xff\x00\xfe", 3)), "/wD+");

    struct Case { std::uint32_t n, size, text; } cases[] = {
        {0, 0, 0}, {1, 4, 4}, {51, 68, 68}, {52, 74, 74}, {102, 138, 138},
        {2448, 3358, 3360}, {2449, 3364, 3364}, {4896, 6718, 6720},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mime_encoded_size(c.n), c.size) << c.n;
        EXPECT_EQ(mime_encode(random_bytes(c.n, c.n)).size(), c.text) << c.n;
    }
    const std::string t = mime_encode(random_bytes(2449, 1));
    for (std::size_t line = 0; line < 48; ++line) EXPECT_EQ(t.substr(line * 70 + 68, 2), "\r\n");
    EXPECT_EQ(t.find('\r', 3360), std::string::npos);
}

TEST(Base64, MatchesReferenceForEveryLength) {
    for (std::size_t n = 0; n <= 5000; ++n) {
        const std::string b = random_bytes(n, static_cast<unsigned>(n));
        ASSERT_EQ(mime_encode(b), reference_encode(b)) << n;
    }
    for (std::size_t n : {3 * 2448 - 1, 3 * 2448, 3 * 2448 + 1}) {
        const std::string b = random_bytes(n, 7);
        EXPECT_EQ(mime_encode(b), reference_encode(b)) << n;
    }
}

TEST(Base64, RawEncodersWriteOnlyTheirLength) {
    const std::string b = random_bytes(120, 3);
    const auto* in = reinterpret_cast<const std::uint8_t*>(b.data());
    std::string out(200, '#');
    mime_encode_full_lines(in, 50, out.data());
    EXPECT_EQ(out, std::string(200, '#'));
    mime_encode_full_lines(in, 120, out.data());
    EXPECT_EQ(out.substr(0, 140), reference_encode(b.substr(0, 102)) + "\r\n");
    EXPECT_EQ(out.substr(140), std::string(60, '#'));
    out.assign(200, '#');
    mime_encode_no_crlf(in, 5, out.data());
    EXPECT_EQ(out.substr(0, 9), reference_encode(b.substr(0, 5)) + "#");
}

TEST(Base64, DecodeSkipsEverythingOutsideAlphabet) {
    for (const char* t : {"QQ", "QQ=", "QQ==", "Q Q\r\n=="}) EXPECT_EQ(mime_decode(t), "A") << t;
    EXPECT_EQ(mime_decode("Q"), "");
    EXPECT_EQ(mime_decode("QQ==QQ=="), "\x41\x04\x10");

    std::string junk;
    for (int c = 0; c < 256; ++c)
        if (!std::isalnum(c) && c != '+' && c != '/') junk += static_cast<char>(c);
    EXPECT_EQ(mime_decode(junk), "");
    EXPECT_EQ(mime_decode("Zm9v" + junk + "Ym" + junk + "Fy"), "foobar");
}

TEST(Base64, DecodeStateCarriesAcrossPiecesAndReads) {
    const std::string text = "Zm9v\r\nYmFy YmF6";  // "foobarbaz"
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        std::uint8_t out[16];
        MimeDecodeState st;
        std::uint32_t n = mime_decode_partial(text.data(), static_cast<std::uint32_t>(cut), out, st);
        n += mime_decode_partial(text.data() + cut, static_cast<std::uint32_t>(text.size() - cut), out + n, st);
        n += mime_decode_partial_end(out + n, st);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), n), "foobarbaz") << cut;
    }
    // A group straddling the 2448-character read of the stream decoder.
    EXPECT_EQ(mime_decode(std::string(2446, ' ') + "Zm9v"), "foo");
    EXPECT_EQ(mime_decode(std::string(2447, '\n') + "Zm8"), "fo");
}

TEST(Base64, RoundTripsThroughReformattedText) {
    for (std::size_t n = 0; n <= 5000; n += (n < 300 ? 1 : 7)) {
        const std::string b = random_bytes(n, static_cast<unsigned>(n) + 99);
        const std::string t = mime_encode(b);
        ASSERT_EQ(mime_decode(t), b) << n;
        ASSERT_EQ(mime_decode(replace_all(t, "\r\n", "")), b) << n;
        ASSERT_EQ(mime_decode("> \t" + replace_all(t, "\r\n", "\n> \t")), b) << n;
        ASSERT_EQ(mime_decode(replace_all(t, "A", "-\xe9" "A*")), b) << n;
    }
}

TEST(Base64, StreamsUseCurrentPositions) {
    std::string src = "..foo", text = "xx";
    TStringStream in(src), out(text);
    in.set_position(2);
    out.set_position(2);
    mime_encode_stream(in, out);
    EXPECT_EQ(text, "xxZm9v");

    TStringStream tin(text);
    TMemoryStream bytes(std::string("yy"));
    tin.set_position(2);
    bytes.set_position(1);
    mime_decode_stream(tin, bytes);
    EXPECT_EQ(bytes.data(), "yfoo");
}
