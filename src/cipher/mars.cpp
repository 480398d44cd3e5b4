// MARS key schedule in its first-round form: keys of 1 to 39 words, a
// 40-word expansion stirred seven times. Crypto++ implements only the later
// schedule (4 to 14 words), so the schedule is computed here and loaded
// into Crypto++'s MARS objects, whose rounds are the same.
#include <cstring>

#include "ciphers.h"
#include "wipe.h"

namespace morvantile {

namespace {

inline std::uint32_t rotl(std::uint32_t x, unsigned r) {
    r &= 31;
    return r == 0 ? x : (x << r) | (x >> (32 - r));
}

// Bits of w that lie inside a run of ten or more equal bits and equal both
// neighbours (a bit beyond either end counts as 0); never bits 0 and 1.
std::uint32_t mars_mask(std::uint32_t w) {
    auto runs_of_ten = [](std::uint32_t v) {
        std::uint32_t a = v & (v >> 1);
        a &= a >> 2;
        a &= a >> 4;
        return (a >> 1) & a & (a >> 2);
    };
    const std::uint32_t s = runs_of_ten(w) | runs_of_ten(~w);
    std::uint32_t m = 0;
    for (unsigned i = 0; i < 10; ++i) m |= s << i;
    return m & (~w ^ (w << 1)) & (~w ^ (w >> 1)) & 0xFFFFFFFCu;
}

}  // namespace

const std::uint32_t* mars_sbox() { return detail::MarsEnc::sbox(); }

void mars_key_schedule(const std::uint8_t* key, std::uint32_t n, std::uint32_t K[40]) {
    const std::uint32_t* S = mars_sbox();
    std::uint32_t k[39];
    for (std::uint32_t i = 0; i < n; ++i) {
        k[i] = static_cast<std::uint32_t>(key[4 * i]) | static_cast<std::uint32_t>(key[4 * i + 1]) << 8 |
               static_cast<std::uint32_t>(key[4 * i + 2]) << 16 | static_cast<std::uint32_t>(key[4 * i + 3]) << 24;
    }

    // T[-7..39] is stored as T[0..46].
    std::uint32_t store[47];
    std::uint32_t* T = store + 7;
    for (int i = -7; i < 0; ++i) T[i] = S[i + 7];
    for (std::uint32_t i = 0; i < 39; ++i) T[i] = rotl(T[static_cast<int>(i) - 7] ^ T[static_cast<int>(i) - 2], 3) ^ k[i % n] ^ i;
    T[39] = n;

    for (int pass = 0; pass < 7; ++pass) {
        for (int i = 1; i < 40; ++i) T[i] = rotl(T[i] + S[T[i - 1] % 512], 9);
        T[0] = rotl(T[0] + S[T[39] % 512], 9);
    }

    for (std::uint32_t i = 0; i < 40; ++i) K[(7 * i) % 40] = T[i];

    // Fix the multiplication keys so they have no long runs of equal bits.
    for (int i = 5; i <= 35; i += 2) {
        const std::uint32_t j = K[i] & 3;
        const std::uint32_t w = K[i] | 3;
        const std::uint32_t M = mars_mask(w);
        const std::uint32_t r = K[i + 3] & 31;
        const std::uint32_t p = rotl(S[265 + j], r);
        K[i] = w ^ (p & M);
    }

    secure_zero(k, sizeof k);
    secure_zero(store, sizeof store);
}

template <class Final>
void detail::MarsWithSchedule<Final>::load_schedule(const std::uint32_t* K) {
    std::memcpy(this->m_k.data(), K, 40 * sizeof(std::uint32_t));
}

template class detail::MarsWithSchedule<CryptoPP::MARS::Encryption>;
template class detail::MarsWithSchedule<CryptoPP::MARS::Decryption>;

}  // namespace morvantile
