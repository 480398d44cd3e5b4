// The nine block ciphers of the catalogue. Each applies its own key-length
// rule to turn the key handed to init_key (128 to 512 bits from a password
// digest, or any length init_key accepts) into a key for the algorithm.
// The block transformations are Crypto++'s; MARS and RC6 use Crypto++'s
// rounds with key schedules computed here, because their stored texts need
// schedules (MARS) or key lengths (RC6) that Crypto++ does not offer.
#pragma once

#include <cstdint>
#include <optional>

#include <crypto++/aes.h>
#include <crypto++/blowfish.h>
#include <crypto++/cast.h>
#include <crypto++/des.h>
#include <crypto++/idea.h>
#include <crypto++/mars.h>
#include <crypto++/rc6.h>
#include <crypto++/serpent.h>
#include <crypto++/twofish.h>

#include "block_cipher.h"

namespace morvantile {

// Holds a keyed Crypto++ encryption and decryption object. Burning destroys
// them; Crypto++ zeroes their key schedules on destruction.
template <class Base, class Enc, class Dec>
class CryptoppCipher : public Base {
protected:
    template <class... Init>
    void install(Init&&... init) {
        enc_obj_.emplace();
        dec_obj_.emplace();
        load(*enc_obj_, init...);
        load(*dec_obj_, init...);
        this->enc_ = &*enc_obj_;
        this->dec_ = &*dec_obj_;
    }
    void wipe_key_schedule() override {
        enc_obj_.reset();
        dec_obj_.reset();
    }

private:
    template <class T>
    static void load(T& t, const std::uint8_t* key, std::size_t len) { t.SetKey(key, len); }
    template <class T>
    static void load(T& t, const std::uint32_t* schedule) { t.load_schedule(schedule); }

    std::optional<Enc> enc_obj_;
    std::optional<Dec> dec_obj_;
};

#define MORVANTILE_CIPHER_CONSTANTS(ID, NAME, MAXKEY)                        \
public:                                                                     \
    static constexpr int kId = ID;                                          \
    static constexpr const char* kAlgorithm = NAME;                         \
    static constexpr std::uint32_t kMaxKeySize = MAXKEY;                    \
    int Id() const override { return kId; }                                 \
    const char* Algorithm() const override { return kAlgorithm; }           \
    std::uint32_t MaxKeySize() const override { return kMaxKeySize; }

// ---- key schedules computed here (exposed for the tests)

// MARS with the first-round key schedule: n = 1..39 little-endian key
// words, 40-word expansion, seven stirring passes.
void mars_key_schedule(const std::uint8_t* key, std::uint32_t words, std::uint32_t K[40]);
const std::uint32_t* mars_sbox();

// RC6-32/20/b for b = 1..256 key bytes.
void rc6_key_schedule(const std::uint8_t* key, std::size_t bytes, std::uint32_t S[44]);

namespace detail {
template <class Final>
class MarsWithSchedule : public Final {
public:
    void load_schedule(const std::uint32_t* K);
    static const std::uint32_t* sbox() { return Final::Sbox; }
};
template <class Final>
class RC6WithSchedule : public Final {
public:
    void load_schedule(const std::uint32_t* S);
};
using MarsEnc = MarsWithSchedule<CryptoPP::MARS::Encryption>;
using MarsDec = MarsWithSchedule<CryptoPP::MARS::Decryption>;
using RC6Enc = RC6WithSchedule<CryptoPP::RC6::Encryption>;
using RC6Dec = RC6WithSchedule<CryptoPP::RC6::Decryption>;
}  // namespace detail

// ---- the catalogue's ciphers

class TBlowfish final
    : public CryptoppCipher<TBlockCipher64, CryptoPP::Blowfish::Encryption, CryptoPP::Blowfish::Decryption> {
    MORVANTILE_CIPHER_CONSTANTS(5, "Blowfish", 448)
protected:
    std::uint32_t MinKeySize() const override { return 8; }
    void init_key_schedule(const std::uint8_t* key, std::uint32_t bits) override;
};

class TCast256 final
    : public CryptoppCipher<TBlockCipher128, CryptoPP::CAST256::Encryption, CryptoPP::CAST256::Decryption> {
    MORVANTILE_CIPHER_CONSTANTS(15, "Cast256", 256)
protected:
    void init_key_schedule(const std::uint8_t* key, std::uint32_t bits) override;
};

class TMars final : public CryptoppCipher<TBlockCipher128, detail::MarsEnc, detail::MarsDec> {
    MORVANTILE_CIPHER_CONSTANTS(13, "Mars", 1248)
protected:
    std::uint32_t MinKeySize() const override { return 32; }
    void init_key_schedule(const std::uint8_t* key, std::uint32_t bits) override;
};

class TRC6 final : public CryptoppCipher<TBlockCipher128, detail::RC6Enc, detail::RC6Dec> {
    MORVANTILE_CIPHER_CONSTANTS(4, "RC6", 2048)
protected:
    std::uint32_t MinKeySize() const override { return 8; }
    void init_key_schedule(const std::uint8_t* key, std::uint32_t bits) override;
};

class TRijndael final
    : public CryptoppCipher<TBlockCipher128, CryptoPP::AES::Encryption, CryptoPP::AES::Decryption> {
    MORVANTILE_CIPHER_CONSTANTS(9, "Rijndael", 256)
protected:
    void init_key_schedule(const std::uint8_t* key, std::uint32_t bits) override;
};

class TSerpent final
    : public CryptoppCipher<TBlockCipher128, CryptoPP::Serpent::Encryption, CryptoPP::Serpent::Decryption> {
    MORVANTILE_CIPHER_CONSTANTS(26, "Serpent", 256)
protected:
    void init_key_schedule(const std::uint8_t* key, std::uint32_t bits) override;
};

class TTwofish final
    : public CryptoppCipher<TBlockCipher128, CryptoPP::Twofish::Encryption, CryptoPP::Twofish::Decryption> {
    MORVANTILE_CIPHER_CONSTANTS(6, "Twofish", 256)
protected:
    void init_key_schedule(const std::uint8_t* key, std::uint32_t bits) override;
};

class TIdea final
    : public CryptoppCipher<TBlockCipher64, CryptoPP::IDEA::Encryption, CryptoPP::IDEA::Decryption> {
    MORVANTILE_CIPHER_CONSTANTS(12, "IDEA", 128)
protected:
    void init_key_schedule(const std::uint8_t* key, std::uint32_t bits) override;
};

// DES family base; triple DES (encrypt-decrypt-encrypt) is its one member
// in the catalogue.
class TCustomDES
    : public CryptoppCipher<TBlockCipher64, CryptoPP::DES_EDE3::Encryption, CryptoPP::DES_EDE3::Decryption> {};

class T3DES final : public TCustomDES {
    MORVANTILE_CIPHER_CONSTANTS(24, "3DES", 192)
protected:
    void init_key_schedule(const std::uint8_t* key, std::uint32_t bits) override;
};

#undef MORVANTILE_CIPHER_CONSTANTS

}  // namespace morvantile
