// RC6-32/20/b key schedule for any key of 1 to 256 bytes. Crypto++ keys RC6
// only with 16, 24 or 32 bytes, while a password digest gives 20 or 64, so
// the schedule is computed here and loaded into Crypto++'s RC6 objects.
#include <algorithm>
#include <cstring>

#include "ciphers.h"
#include "wipe.h"

namespace morvantile {

namespace {
constexpr std::uint32_t kP32 = 0xB7E15163u;
constexpr std::uint32_t kQ32 = 0x9E3779B9u;
constexpr unsigned kRounds = 20;
constexpr std::size_t kTable = 2 * kRounds + 4;

inline std::uint32_t rotl(std::uint32_t x, unsigned r) {
    r &= 31;
    return r == 0 ? x : (x << r) | (x >> (32 - r));
}
}  // namespace

void rc6_key_schedule(const std::uint8_t* key, std::size_t b, std::uint32_t S[44]) {
    const std::size_t c = std::max<std::size_t>(1, (b + 3) / 4);
    std::uint32_t L[64] = {};
    for (std::size_t i = 0; i < b; ++i) L[i / 4] |= static_cast<std::uint32_t>(key[i]) << (8 * (i % 4));

    S[0] = kP32;
    for (std::size_t i = 1; i < kTable; ++i) S[i] = S[i - 1] + kQ32;

    std::uint32_t A = 0, Bw = 0;
    std::size_t i = 0, j = 0;
    const std::size_t v = 3 * std::max(c, kTable);
    for (std::size_t s = 0; s < v; ++s) {
        A = S[i] = rotl(S[i] + A + Bw, 3);
        Bw = L[j] = rotl(L[j] + A + Bw, A + Bw);
        i = (i + 1) % kTable;
        j = (j + 1) % c;
    }
    secure_zero(L, sizeof L);
    A = Bw = 0;
}

template <class Final>
void detail::RC6WithSchedule<Final>::load_schedule(const std::uint32_t* S) {
    // Let Crypto++ size its table for 20 rounds, then replace the schedule.
    static const CryptoPP::byte kSizing[16] = {};
    this->SetKey(kSizing, sizeof kSizing);
    std::memcpy(this->sTable.data(), S, kTable * sizeof(std::uint32_t));
}

template class detail::RC6WithSchedule<CryptoPP::RC6::Encryption>;
template class detail::RC6WithSchedule<CryptoPP::RC6::Decryption>;

}  // namespace morvantile
