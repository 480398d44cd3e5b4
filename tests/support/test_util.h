// Small helpers shared by the tests.
#pragma once

#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <string_view>

#include "cipher/catalogue.h"

namespace morvantile::test {

// "00 1f ab" or "001fab" to raw bytes.
inline std::string hex(std::string_view text) {
    std::string out;
    int hi = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else continue;
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<char>(hi << 4 | v));
            hi = -1;
        }
    }
    return out;
}

inline std::string to_hex(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

inline std::string random_bytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::string out(n, '\0');
    for (auto& c : out) c = static_cast<char>(rng() & 0xFF);
    return out;
}

inline const std::uint8_t* u8(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }
inline std::uint8_t* u8(std::string& s) { return reinterpret_cast<std::uint8_t*>(s.data()); }

// The digest of `message` with the hash at catalogue index `hash`.
inline std::string digest_of(int hash, std::string_view message) {
    auto h = hash_class_at(hash)->create();
    h->hash_init();
    h->hash_update_string(message);
    std::string d(h->HashSize() / 8, '\0');
    h->hash_final(reinterpret_cast<std::uint8_t*>(d.data()));
    return d;
}

// Compares byte strings and reports the first difference instead of
// printing both strings whole.
inline ::testing::AssertionResult same_bytes(std::string_view actual, std::string_view expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    std::size_t i = 0;
    while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
    auto around = [&](std::string_view s) { return to_hex(s.substr(i, 16)); };
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                         << ", first difference at byte " << i << ": " << around(actual)
                                         << " vs " << around(expected);
}

}  // namespace morvantile::test
