// Overwriting of key material, passwords and plaintext before release.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

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

// A byte string holding a password or plaintext (or data derived from
// them) that is wiped however its scope is left.
struct WipedString {
    std::string s;
    WipedString() = default;
    explicit WipedString(std::string text) : s(std::move(text)) {}
    WipedString(const WipedString&) = delete;
    WipedString& operator=(const WipedString&) = delete;
    ~WipedString() { wipe_string(s); }
};

}  // namespace morvantile
