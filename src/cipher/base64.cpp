#include "base64.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "wipe.h"

namespace morvantile {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two output characters for every 12-bit value, so a 3-byte group costs two
// lookups instead of four.
struct PairTable {
    std::array<char, 2 * 4096> c{};
    constexpr PairTable() {
        for (int v = 0; v < 4096; ++v) {
            c[2 * v] = kAlphabet[v >> 6];
            c[2 * v + 1] = kAlphabet[v & 63];
        }
    }
};
constexpr PairTable kPairs;

// Characters outside the alphabet carry this bit, so one test after OR-ing
// the four lookups of a group tells whether the group was clean.
constexpr std::uint32_t kSkip = 0x80000000u;

// kDecode[k][c]: the 6-bit value of character c already shifted into place
// for position k of a 4-character group, or kSkip.
struct DecodeTables {
    std::array<std::array<std::uint32_t, 256>, 4> t{};
    constexpr DecodeTables() {
        for (auto& row : t) row.fill(kSkip);
        for (std::uint32_t v = 0; v < 64; ++v) {
            const auto c = static_cast<unsigned char>(kAlphabet[v]);
            t[0][c] = v << 18;
            t[1][c] = v << 12;
            t[2][c] = v << 6;
            t[3][c] = v;
        }
    }
};
constexpr DecodeTables kDecode;

inline void encode_group(const std::uint8_t* in, char* out) {
    const std::uint32_t w = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
    std::memcpy(out, &kPairs.c[2 * (w >> 12)], 2);
    std::memcpy(out + 2, &kPairs.c[2 * (w & 0xFFF)], 2);
}

inline void put3(std::uint8_t* out, std::uint32_t v) {
    out[0] = static_cast<std::uint8_t>(v >> 16);
    out[1] = static_cast<std::uint8_t>(v >> 8);
    out[2] = static_cast<std::uint8_t>(v);
}

// Wipes a fixed buffer when the codec leaves, also by an exception.
template <std::size_t N, typename T>
struct WipedBuffer {
    std::array<T, N> b;
    ~WipedBuffer() { secure_zero(b.data(), sizeof b); }
    T* data() { return b.data(); }
};

}  // namespace

std::uint32_t mime_encoded_size(std::uint32_t n) {
    if (n == 0) return 0;
    const std::uint64_t m = n;
    return static_cast<std::uint32_t>((m + 2) / 3 * 4 + (m - 1) / kMimeLineBytes * 2);
}

void mime_encode_full_lines(const std::uint8_t* in, std::uint32_t n, char* out) {
    for (std::uint32_t lines = n / kMimeLineBytes; lines > 0; --lines) {
        for (int g = 0; g < 17; ++g) {
            encode_group(in, out);
            in += 3;
            out += 4;
        }
        out[0] = '\r';
        out[1] = '\n';
        out += 2;
    }
}

void mime_encode_no_crlf(const std::uint8_t* in, std::uint32_t n, char* out) {
    for (; n >= 3; n -= 3) {
        encode_group(in, out);
        in += 3;
        out += 4;
    }
    if (n == 1) {
        out[0] = kAlphabet[in[0] >> 2];
        out[1] = kAlphabet[(in[0] << 4) & 63];
        out[2] = '=';
        out[3] = '=';
    } else if (n == 2) {
        out[0] = kAlphabet[in[0] >> 2];
        out[1] = kAlphabet[((in[0] << 4) | (in[1] >> 4)) & 63];
        out[2] = kAlphabet[(in[1] << 2) & 63];
        out[3] = '=';
    }
}

void mime_encode_stream(TStream& in, TStream& out) {
    WipedBuffer<kMimeChunkBytes, std::uint8_t> src;
    WipedBuffer<kMimeChunkChars, char> text;

    std::uint32_t k = in.read(src.data(), kMimeChunkBytes);
    while (k == kMimeChunkBytes) {
        // A full chunk keeps the CR LF after its 48th line even when the
        // input ends here; other builds read and write texts that way.
        mime_encode_full_lines(src.data(), k, text.data());
        out.write(text.data(), kMimeChunkChars);
        k = in.read(src.data(), kMimeChunkBytes);
    }
    const std::uint32_t lines = k / kMimeLineBytes;
    mime_encode_full_lines(src.data(), k, text.data());
    mime_encode_no_crlf(src.data() + lines * kMimeLineBytes, k % kMimeLineBytes,
                        text.data() + lines * (kMimeLineChars + 2));
    // The size leaves out the CR LF after the last full line when no
    // partial line follows it.
    const std::uint32_t len = mime_encoded_size(k);
    if (len > 0) out.write(text.data(), len);
}

std::uint32_t mime_decode_partial(const char* in, std::uint32_t count, std::uint8_t* out,
                                  MimeDecodeState& st) {
    const auto* p = reinterpret_cast<const unsigned char*>(in);
    const auto* const end = p + count;
    std::uint8_t* o = out;
    std::uint32_t acc = st.accumulator;
    std::uint32_t missing = st.missing;

    while (p < end) {
        if (missing == 4) {
            // Between groups: take clean groups of four in one go. Line
            // breaks fall on group boundaries in our own texts, so this
            // covers nearly everything.
            while (end - p >= 4) {
                const std::uint32_t v =
                    kDecode.t[0][p[0]] | kDecode.t[1][p[1]] | kDecode.t[2][p[2]] | kDecode.t[3][p[3]];
                if (v & kSkip) break;
                put3(o, v);
                o += 3;
                p += 4;
            }
            if (p == end) break;
        }
        const std::uint32_t v = kDecode.t[3][*p++];
        if (v & kSkip) continue;
        acc = acc * 64 + v;
        if (--missing == 0) {
            put3(o, acc);
            o += 3;
            acc = 0;
            missing = 4;
        }
    }
    st.accumulator = acc;
    st.missing = missing;
    return static_cast<std::uint32_t>(o - out);
}

std::uint32_t mime_decode_partial_end(std::uint8_t* out, MimeDecodeState& st) {
    std::uint32_t n = 0;
    if (st.missing == 1) {
        out[0] = static_cast<std::uint8_t>(st.accumulator >> 10);
        out[1] = static_cast<std::uint8_t>(st.accumulator >> 2);
        n = 2;
    } else if (st.missing == 2) {
        out[0] = static_cast<std::uint8_t>(st.accumulator >> 4);
        n = 1;
    }
    return n;
}

void mime_decode_stream(TStream& in, TStream& out) {
    // Up to three characters may be pending from the previous read, so one
    // step yields at most (2448 + 3) div 4 * 3 = 1836 bytes.
    constexpr std::uint32_t kOutMax = (kMimeChunkBytes + 3) / 4 * 3;
    WipedBuffer<kMimeChunkBytes, char> text;
    WipedBuffer<kOutMax, std::uint8_t> bytes;
    MimeDecodeState st;

    std::uint32_t k = in.read(text.data(), kMimeChunkBytes);
    while (k >= 1) {
        const std::uint32_t n = mime_decode_partial(text.data(), k, bytes.data(), st);
        if (n > 0) out.write(bytes.data(), n);
        k = in.read(text.data(), kMimeChunkBytes);
    }
    const std::uint32_t n = mime_decode_partial_end(bytes.data(), st);
    if (n > 0) out.write(bytes.data(), n);
}

std::string mime_encode(std::string_view bytes) {
    std::string text;
    // Reserved up front so the result never moves while being written.
    const std::uint64_t n = bytes.size();
    text.reserve((n + 2) / 3 * 4 + n / kMimeLineBytes * 2 + 2);
    TViewStream in(bytes);
    TStringStream out(text);
    mime_encode_stream(in, out);
    return text;
}

std::string mime_decode(std::string_view text) {
    std::string bytes;
    // The decoded bytes may be plaintext; reserving the most they can be
    // means no reallocation leaves an unwiped copy behind.
    bytes.reserve(text.size() / 4 * 3 + 2);
    TViewStream in(text);
    TStringStream out(bytes);
    try {
        mime_decode_stream(in, out);
    } catch (...) {
        wipe_string(bytes);
        throw;
    }
    return bytes;
}

}  // namespace morvantile
