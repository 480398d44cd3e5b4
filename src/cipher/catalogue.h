// The three catalogues that a cipher suite (algorithm, hash, chaining mode
// indices) selects from. The indices are stored in configuration files and
// password-list entries, so their order never changes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "block_cipher.h"
#include "hash.h"

namespace morvantile {

struct CipherClass {
    int id;
    const char* algorithm;
    std::uint32_t max_key_size;  // bits
    std::uint32_t block_size;    // bits
    std::unique_ptr<TBlockCipher> (*create)();
};

struct HashClass {
    int id;
    const char* algorithm;
    std::uint32_t hash_size;  // bits
    std::unique_ptr<THash> (*create)();
};

inline constexpr int kCipherCount = 9;
inline constexpr int kHashCount = 6;
inline constexpr int kModeCount = 5;

// nullptr / nullopt: no such entry.
const CipherClass* cipher_class_at(int index);
const HashClass* hash_class_at(int index);
std::optional<TCipherMode> cipher_mode_at(int index);

// The default suite, also the fixed suite of the Hardcore second pass:
// Rijndael, MD5, CBC.
struct CipherSetup {
    int algorithm = 4;
    int hash = 0;
    int chaining_mode = 0;
    friend bool operator==(const CipherSetup&, const CipherSetup&) = default;
};

}  // namespace morvantile
