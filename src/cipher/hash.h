// The six hashes that turn a password into a key. Each wraps a Crypto++
// hash; the state lives only between hash_init and hash_final/hash_burn and
// is destroyed (Crypto++ zeroes it) when the hash is burnt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "errors.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <crypto++/md5.h>
#include <crypto++/ripemd.h>
#include <crypto++/sha.h>
#include <crypto++/tiger.h>

namespace morvantile {

class THash {
public:
    virtual ~THash() = default;

    virtual int Id() const = 0;
    virtual const char* Algorithm() const = 0;
    virtual std::uint32_t HashSize() const = 0;  // bits

    // Burns, then loads the initial state.
    virtual void hash_init() = 0;
    virtual void hash_update(const void* data, std::size_t length) = 0;
    // Pads, writes HashSize/8 bytes, then burns.
    virtual void hash_final(std::uint8_t* digest) = 0;
    virtual void hash_burn() = 0;

    // Feeds the string's bytes, no terminator.
    void hash_update_string(std::string_view s) { hash_update(s.data(), s.size()); }

    bool initialised() const { return initialised_; }

protected:
    bool initialised_ = false;
};

template <class Impl>
class CryptoppHash : public THash {
public:
    void hash_init() override {
        hash_burn();
        state_.emplace();
        initialised_ = true;
    }
    void hash_update(const void* data, std::size_t length) override {
        require_init();
        state_->Update(static_cast<const CryptoPP::byte*>(data), length);
    }
    void hash_final(std::uint8_t* digest) override {
        require_init();
        state_->Final(digest);
        hash_burn();
    }
    void hash_burn() override {
        state_.reset();
        initialised_ = false;
    }

private:
    void require_init() const {
        if (!initialised_) throw EHashError(kHashNotInitialized);
    }
    std::optional<Impl> state_;
};

#define MORVANTILE_HASH_CONSTANTS(ID, NAME, BITS)                          \
    static constexpr int kId = ID;                                        \
    static constexpr const char* kAlgorithm = NAME;                       \
    static constexpr std::uint32_t kHashSize = BITS;                      \
    int Id() const override { return kId; }                               \
    const char* Algorithm() const override { return kAlgorithm; }         \
    std::uint32_t HashSize() const override { return kHashSize; }

class TMD5 final : public CryptoppHash<CryptoPP::Weak::MD5> {
public:
    MORVANTILE_HASH_CONSTANTS(16, "MD5", 128)
};

class TRipeMD160 final : public CryptoppHash<CryptoPP::RIPEMD160> {
public:
    MORVANTILE_HASH_CONSTANTS(10, "RipeMD-160", 160)
};

class TSHA1 final : public CryptoppHash<CryptoPP::SHA1> {
public:
    MORVANTILE_HASH_CONSTANTS(2, "SHA1", 160)
};

class TSHA256 final : public CryptoppHash<CryptoPP::SHA256> {
public:
    MORVANTILE_HASH_CONSTANTS(28, "SHA256", 256)
};

// SHA-512's compression function; TSHA512 adds the identity.
class TSHA512Base : public CryptoppHash<CryptoPP::SHA512> {};

class TSHA512 final : public TSHA512Base {
public:
    MORVANTILE_HASH_CONSTANTS(30, "SHA512", 512)
};

// Tiger with three passes and the first Tiger padding (0x01); Crypto++'s
// Tiger is that one, digest words little-endian.
class TTiger final : public CryptoppHash<CryptoPP::Tiger> {
public:
    MORVANTILE_HASH_CONSTANTS(18, "Tiger", 192)
};

#undef MORVANTILE_HASH_CONSTANTS

// Largest digest of the catalogue, in bytes.
inline constexpr std::size_t kMaxDigestBytes = 64;

}  // namespace morvantile
