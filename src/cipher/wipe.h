// Overwriting of key material, passwords and plaintext before release.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace morvantile {

// Fills n bytes with `value` in a way the optimiser may not drop, even when
// the buffer is freed right afterwards.
inline void secure_fill(void* p, std::size_t n, std::uint8_t value) {
    if (n == 0) return;
    std::memset(p, value, n);
    asm volatile("" : : "r"(p) : "memory");
}

inline void secure_zero(void* p, std::size_t n) { secure_fill(p, n, 0); }

// Zeroes the whole capacity of a byte string, then empties it.
inline void wipe_string(std::string& s) {
    s.resize(s.capacity());
    secure_zero(s.data(), s.size());
    s.clear();
}

}  // namespace morvantile
