// The cipher class family: TCipher -> TBlockCipher -> TBlockCipher64 /
// TBlockCipher128 -> the nine ciphers. A block cipher object lives for one
// pass over the data: construct, set the chaining mode, key it from the
// password, run one stream operation, burn.
//
// There is no salt and no random initialisation vector: the key and the
// vector follow from the password and the suite alone, so stored texts can
// be decrypted by anyone who knows both. The chaining rules below, including
// the handling of a final partial block, are part of the stored format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <crypto++/cryptlib.h>

#include "errors.h"

namespace morvantile {

class TStream;
struct HashClass;

enum class TCipherMode : std::uint8_t {
    cmCBC = 0,       // cipher block chaining, final partial block in CFB style
    cmCFB8bit = 1,   // 8-bit cipher feedback
    cmCFBblock = 2,  // full-block cipher feedback
    cmOFB = 3,       // full-block output feedback
    cmCTR = 4,       // counter over the whole block
};

class TCipher {
public:
    virtual ~TCipher() = default;
    TCipher(const TCipher&) = delete;
    TCipher& operator=(const TCipher&) = delete;

    virtual int Id() const = 0;
    virtual const char* Algorithm() const = 0;
    virtual std::uint32_t MaxKeySize() const = 0;  // bits

    // Keys the cipher from `bits` bits of `key` (the first bits/8 bytes are
    // used). Without `iv` the vector is E_K(0...0). Throws ECipherError
    // "Invalid key size" for a length the cipher does not take.
    virtual void init_key(std::string_view key, std::uint32_t bits, const std::uint8_t* iv = nullptr) = 0;
    virtual void burn() = 0;
    virtual void reset() = 0;
    virtual void encrypt(const void* in, void* out, std::uint32_t n) = 0;
    virtual void decrypt(const void* in, void* out, std::uint32_t n) = 0;

    // Hashes the password once with the given hash and keys the cipher with
    // the first min(MaxKeySize, HashSize) bits of the digest.
    void init_with_password(std::string_view password, const HashClass& hash);

    // Moves `count` bytes from `in` to `out` in 8192-byte chunks, encrypted
    // in place in one buffer. Returns the bytes actually read.
    std::uint32_t encrypt_stream(TStream& in, TStream& out, std::uint32_t count);
    std::uint32_t decrypt_stream(TStream& in, TStream& out, std::uint32_t count);

    bool initialised() const { return initialised_; }

protected:
    TCipher() = default;
    bool initialised_ = false;
};

class TBlockCipher : public TCipher {
public:
    virtual std::uint32_t BlockSize() const = 0;  // bits

    TCipherMode CipherMode() const { return mode_; }
    void SetCipherMode(TCipherMode mode) { mode_ = mode; }

    void init_key(std::string_view key, std::uint32_t bits, const std::uint8_t* iv = nullptr) final;
    void burn() final;
    void reset() final;
    void encrypt(const void* in, void* out, std::uint32_t n) final;
    void decrypt(const void* in, void* out, std::uint32_t n) final;

    // One block of BlockSize/8 bytes each.
    void set_iv(const std::uint8_t* iv);
    void get_iv(std::uint8_t* out) const;  // the current chaining value
    void encrypt_block(const std::uint8_t* in, std::uint8_t* out) const;
    void decrypt_block(const std::uint8_t* in, std::uint8_t* out) const;

    virtual void encrypt_cbc(const void* in, void* out, std::uint32_t n) = 0;
    virtual void decrypt_cbc(const void* in, void* out, std::uint32_t n) = 0;
    virtual void encrypt_cfb8bit(const void* in, void* out, std::uint32_t n) = 0;
    virtual void decrypt_cfb8bit(const void* in, void* out, std::uint32_t n) = 0;
    virtual void encrypt_cfbblock(const void* in, void* out, std::uint32_t n) = 0;
    virtual void decrypt_cfbblock(const void* in, void* out, std::uint32_t n) = 0;
    virtual void encrypt_ofb(const void* in, void* out, std::uint32_t n) = 0;
    virtual void decrypt_ofb(const void* in, void* out, std::uint32_t n) = 0;
    virtual void encrypt_ctr(const void* in, void* out, std::uint32_t n) = 0;
    virtual void decrypt_ctr(const void* in, void* out, std::uint32_t n) = 0;

protected:
    TBlockCipher() = default;

    // The algorithm's key schedule from the first bits/8 key bytes; must set
    // enc_ and dec_ to the keyed block transformations.
    virtual void init_key_schedule(const std::uint8_t* key, std::uint32_t bits) = 0;
    // Destroys the key schedule and clears enc_ and dec_.
    virtual void wipe_key_schedule() = 0;
    // Shortest key length in bits the algorithm takes.
    virtual std::uint32_t MinKeySize() const { return 4; }

    void require_init() const {
        if (!initialised_) throw EBlockCipherError(kCipherNotInitialized);
    }
    std::size_t block_bytes() const { return BlockSize() / 8; }
    virtual std::uint8_t* iv_bytes() = 0;
    virtual std::uint8_t* cv_bytes() = 0;
    const std::uint8_t* cv_bytes() const { return const_cast<TBlockCipher*>(this)->cv_bytes(); }

    const CryptoPP::BlockTransformation* enc_ = nullptr;
    const CryptoPP::BlockTransformation* dec_ = nullptr;

private:
    TCipherMode mode_ = TCipherMode::cmCBC;
};

// The chaining modes for a block of B bytes. Every mode works in place (the
// input and the output may be the same buffer) and allocates nothing. Full
// blocks go through Crypto++'s multi-block calls where the chaining allows,
// so a whole buffer costs what Crypto++'s own modes cost.
template <std::size_t B>
class TBlockCipherN : public TBlockCipher {
public:
    static constexpr std::uint32_t kBlockSize = B * 8;
    std::uint32_t BlockSize() const final { return kBlockSize; }

    ~TBlockCipherN() override;

    void encrypt_cbc(const void* in, void* out, std::uint32_t n) final;
    void decrypt_cbc(const void* in, void* out, std::uint32_t n) final;
    void encrypt_cfb8bit(const void* in, void* out, std::uint32_t n) final;
    void decrypt_cfb8bit(const void* in, void* out, std::uint32_t n) final;
    void encrypt_cfbblock(const void* in, void* out, std::uint32_t n) final;
    void decrypt_cfbblock(const void* in, void* out, std::uint32_t n) final;
    void encrypt_ofb(const void* in, void* out, std::uint32_t n) final;
    void decrypt_ofb(const void* in, void* out, std::uint32_t n) final;
    void encrypt_ctr(const void* in, void* out, std::uint32_t n) final;
    void decrypt_ctr(const void* in, void* out, std::uint32_t n) final;

protected:
    TBlockCipherN();
    std::uint8_t* iv_bytes() final { return IV_; }
    std::uint8_t* cv_bytes() final { return CV_; }

private:
    // CV := E(CV); out := the r tail bytes xor the first r bytes of CV.
    void masked_tail(const std::uint8_t* in, std::uint8_t* out, std::size_t r);
    // The shape shared by CBC, CFBblock and OFB: the q full blocks through
    // `full(in, out, q)`, then a final partial block masked with E(CV).
    template <class FullBlocks>
    void blocks_then_tail(const void* in, void* out, std::uint32_t n, FullBlocks full);
    // CFB with 8-bit feedback: one block operation per byte, the ciphertext
    // byte shifted into CV, in either direction.
    void cfb8bit(const void* in, void* out, std::uint32_t n, bool decrypting);

    alignas(16) std::uint8_t IV_[B];
    alignas(16) std::uint8_t CV_[B];
};

using TBlockCipher64 = TBlockCipherN<8>;
using TBlockCipher128 = TBlockCipherN<16>;

// Adds one to a big-endian counter of `len` bytes, dropping a carry out of
// the first byte.
void increment_counter(std::uint8_t* counter, std::size_t len);

}  // namespace morvantile
