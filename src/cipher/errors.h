// Typed errors of the cipher engine. The texts are fixed: the operations
// above the engine catch these and show their own messages instead.
#pragma once

#include <stdexcept>

namespace morvantile {

// Cipher and key errors ("Invalid key size", ...).
class ECipherError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Use of a block cipher before it has a key.
class EBlockCipherError : public ECipherError {
public:
    using ECipherError::ECipherError;
};

// Use of a hash before hash_init.
class EHashError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// zlib failures; both kinds carry the message "error".
class EZlibError : public std::runtime_error {
public:
    EZlibError() : std::runtime_error("error") {}
};
class ECompressionError : public EZlibError {};
class EDecompressionError : public EZlibError {};
// The stream inflates to more than the caller's limit; it may well be
// valid, so this is no sign of a wrong password.
class EDecompressedTooLarge : public EDecompressionError {};

inline constexpr const char* kInvalidKeySize = "Invalid key size";
inline constexpr const char* kDigestAllocFailed = "Unable to allocate sufficient memory for hash digest";
inline constexpr const char* kCipherNotInitialized = "Cipher not initialized";
inline constexpr const char* kHashNotInitialized = "Hash not initialized";

}  // namespace morvantile
