#include "ciphers.h"

#include <cstring>

#include "wipe.h"

namespace morvantile {

namespace {

// A padded copy of a key, wiped when it goes out of scope.
struct PaddedKey {
    std::uint8_t bytes[64] = {};
    std::size_t len = 0;

    PaddedKey(const std::uint8_t* key, std::uint32_t bits, std::size_t padded_len) : len(padded_len) {
        std::memcpy(bytes, key, bits / 8);
    }
    ~PaddedKey() { secure_zero(bytes, sizeof bytes); }
};

// Zero padding up to the next of the given native lengths (in bytes).
std::size_t next_length(std::size_t n, std::size_t a, std::size_t b, std::size_t c) {
    return n <= a ? a : n <= b ? b : c;
}

}  // namespace

void TBlowfish::init_key_schedule(const std::uint8_t* key, std::uint32_t bits) {
    // Blowfish cycles the key bytes over its P-array, so a key repeated a
    // whole number of times is the same key; Crypto++ wants at least 4 bytes.
    const std::size_t n = bits / 8;
    std::size_t len = n;
    while (len < 4) len += n;
    PaddedKey k(key, bits, len);
    for (std::size_t i = n; i < len; ++i) k.bytes[i] = key[i % n];
    install(k.bytes, k.len);
}

void TCast256::init_key_schedule(const std::uint8_t* key, std::uint32_t bits) {
    PaddedKey k(key, bits, 32);
    install(k.bytes, k.len);
}

void TRijndael::init_key_schedule(const std::uint8_t* key, std::uint32_t bits) {
    PaddedKey k(key, bits, next_length(bits / 8, 16, 24, 32));
    install(k.bytes, k.len);
}

void TSerpent::init_key_schedule(const std::uint8_t* key, std::uint32_t bits) {
    // A short key is ended by a single 1 bit at bit position L; handing
    // Crypto++ the full 32 bytes keeps it from adding its own padding.
    PaddedKey k(key, bits, 32);
    if (bits < 256) k.bytes[bits / 8] |= static_cast<std::uint8_t>(1u << (bits % 8));
    install(k.bytes, k.len);
}

void TTwofish::init_key_schedule(const std::uint8_t* key, std::uint32_t bits) {
    // Padding is decided on the bit length: 132 bits become a 192-bit key.
    const std::size_t len = bits <= 128 ? 16 : bits <= 192 ? 24 : 32;
    PaddedKey k(key, bits, len);
    install(k.bytes, k.len);
}

void TIdea::init_key_schedule(const std::uint8_t* key, std::uint32_t bits) {
    PaddedKey k(key, bits, 16);
    install(k.bytes, k.len);
}

void T3DES::init_key_schedule(const std::uint8_t* key, std::uint32_t bits) {
    // Up to 128 bits is two-key triple DES: K3 = K1.
    PaddedKey k(key, bits, 24);
    if (bits <= 128) std::memcpy(k.bytes + 16, k.bytes, 8);
    install(k.bytes, k.len);
}

void TMars::init_key_schedule(const std::uint8_t* key, std::uint32_t bits) {
    std::uint32_t K[40];
    mars_key_schedule(key, bits / 32, K);
    install(static_cast<const std::uint32_t*>(K));
    secure_zero(K, sizeof K);
}

void TRC6::init_key_schedule(const std::uint8_t* key, std::uint32_t bits) {
    std::uint32_t S[44];
    rc6_key_schedule(key, bits / 8, S);
    install(static_cast<const std::uint32_t*>(S));
    secure_zero(S, sizeof S);
}

}  // namespace morvantile
