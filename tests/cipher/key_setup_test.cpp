// Key derivation from a password, the key-length rule of every
// algorithm/hash pair, the padding each cipher applies to a short key, and
// the life of a cipher object.
#include <gtest/gtest.h>

#include <crypto++/aes.h>
#include <crypto++/blowfish.h>
#include <crypto++/cast.h>
#include <crypto++/des.h>
#include <crypto++/rc6.h>
#include <crypto++/serpent.h>
#include <crypto++/twofish.h>

#include "cipher/catalogue.h"
#include "cipher/ciphers.h"
#include "cipher/stream.h"
#include "support/test_util.h"

namespace morvantile {
namespace {

using test::digest_of;
using test::hex;
using test::random_bytes;
using test::to_hex;
using test::u8;


std::string encrypt_block(TBlockCipher& c, const std::string& block) {
    std::string out(block.size(), '\0');
    c.encrypt_block(u8(block), u8(out));
    return out;
}

std::string iv_of(const TBlockCipher& c) {
    std::string iv(c.BlockSize() / 8, '\0');
    c.get_iv(u8(iv));
    return iv;
}

// Key lengths in bits that a password gives, by algorithm (rows) and hash
// (columns MD5, RipeMD-160, SHA1, SHA256, SHA512, Tiger).
constexpr std::uint32_t kKeyBits[kCipherCount][kHashCount] = {
    {128, 160, 160, 256, 448, 192},  // Blowfish
    {128, 160, 160, 256, 256, 192},  // Cast256
    {128, 160, 160, 256, 512, 192},  // Mars
    {128, 160, 160, 256, 512, 192},  // RC6
    {128, 160, 160, 256, 256, 192},  // Rijndael
    {128, 160, 160, 256, 256, 192},  // Serpent
    {128, 160, 160, 256, 256, 192},  // Twofish
    {128, 128, 128, 128, 128, 128},  // IDEA
    {128, 160, 160, 192, 192, 192},  // 3DES
};

TEST(KeySetup, PasswordKeyIsTheDigestPrefixOfTheTabledLength) {
    const std::string password = "correct horse";
    const std::string block = random_bytes(16, 1);
    for (int a = 0; a < kCipherCount; ++a) {
        for (int h = 0; h < kHashCount; ++h) {
            const std::uint32_t bits = kKeyBits[a][h];
            auto derived = cipher_class_at(a)->create();
            derived->init_with_password(password, *hash_class_at(h));
            auto direct = cipher_class_at(a)->create();
            direct->init_key(digest_of(h, password), bits);
            const std::string b = block.substr(0, direct->BlockSize() / 8);
            EXPECT_EQ(to_hex(encrypt_block(*derived, b)), to_hex(encrypt_block(*direct, b)))
                << derived->Algorithm() << "/" << hash_class_at(h)->algorithm;
            EXPECT_EQ(to_hex(iv_of(*derived)), to_hex(iv_of(*direct)));
            // A key one word shorter is a different key: the length really is
            // the tabled one.
            auto shorter = cipher_class_at(a)->create();
            shorter->init_key(digest_of(h, password), bits - 32);
            EXPECT_NE(to_hex(encrypt_block(*shorter, b)), to_hex(encrypt_block(*direct, b)))
                << derived->Algorithm() << "/" << hash_class_at(h)->algorithm;
        }
    }
}

TEST(KeySetup, DefaultSuiteIsAes128WithMd5AndEncryptedZeroIv) {
    auto c = cipher_class_at(4)->create();
    c->init_with_password("abc", *hash_class_at(0));
    const std::string key = hex("900150983cd24fb0d6963f7d28e17f72");  // MD5("abc")
    CryptoPP::AES::Encryption aes(u8(key), 16);
    std::string iv(16, '\0');
    aes.ProcessBlock(u8(iv));
    EXPECT_EQ(to_hex(iv_of(*c)), to_hex(iv));
    // An empty password hashes zero bytes and still keys the cipher.
    auto empty = cipher_class_at(4)->create();
    empty->init_with_password("", *hash_class_at(0));
    CryptoPP::AES::Encryption aes_empty(u8(hex("d41d8cd98f00b204e9800998ecf8427e")), 16);
    std::string iv_empty(16, '\0');
    aes_empty.ProcessBlock(u8(iv_empty));
    EXPECT_EQ(to_hex(iv_of(*empty)), to_hex(iv_empty));
}

// Each cipher's rule for a key that is not one of its native lengths, shown
// against Crypto++ keyed with the padded key directly.
template <class Raw>
std::string raw_encrypt(const std::string& key, const std::string& block) {
    typename Raw::Encryption e(u8(key), key.size());
    std::string out(block.size(), '\0');
    e.ProcessBlock(u8(block), u8(out));
    return out;
}

std::string engine_encrypt(int algorithm, const std::string& key, std::uint32_t bits, const std::string& block) {
    auto c = cipher_class_at(algorithm)->create();
    c->init_key(key, bits);
    return encrypt_block(*c, block);
}

TEST(KeySetup, ShortKeysArePaddedAsEachCipherRequires) {
    const std::string k20 = random_bytes(20, 2), b16 = random_bytes(16, 3), b8 = random_bytes(8, 4);
    const std::string zero4(4, '\0');
    // Rijndael and Twofish with 160 bits: the 192-bit algorithm, 4 zero bytes.
    EXPECT_EQ(engine_encrypt(4, k20, 160, b16), raw_encrypt<CryptoPP::AES>(k20 + zero4, b16));
    EXPECT_EQ(engine_encrypt(6, k20, 160, b16), raw_encrypt<CryptoPP::Twofish>(k20 + zero4, b16));
    // Twofish pads by bit length: 132 bits (16 key bytes) become 192 bits,
    // whereas Rijndael keys AES-128 from those 16 bytes.
    EXPECT_EQ(engine_encrypt(6, k20, 132, b16), raw_encrypt<CryptoPP::Twofish>(k20.substr(0, 16) + std::string(8, '\0'), b16));
    EXPECT_EQ(engine_encrypt(4, k20, 132, b16), raw_encrypt<CryptoPP::AES>(k20.substr(0, 16), b16));
    // CAST-256 zero-pads to 256 bits.
    EXPECT_EQ(engine_encrypt(1, k20, 160, b16), raw_encrypt<CryptoPP::CAST256>(k20 + std::string(12, '\0'), b16));
    // Serpent ends a short key with a single 1 bit, as Crypto++ does for
    // its 16- and 24-byte keys; at 132 bits the bit sits at bit 4 of byte 16.
    const std::string k24 = random_bytes(24, 14);
    EXPECT_EQ(engine_encrypt(5, k24, 128, b16), raw_encrypt<CryptoPP::Serpent>(k24.substr(0, 16), b16));
    EXPECT_EQ(engine_encrypt(5, k24, 192, b16), raw_encrypt<CryptoPP::Serpent>(k24, b16));
    EXPECT_EQ(engine_encrypt(5, k20, 160, b16),
              raw_encrypt<CryptoPP::Serpent>(k20 + std::string("\x01", 1) + std::string(11, '\0'), b16));
    EXPECT_EQ(engine_encrypt(5, k20, 132, b16),
              raw_encrypt<CryptoPP::Serpent>(k20.substr(0, 16) + std::string("\x10", 1) + std::string(15, '\0'), b16));
    // Triple DES: up to 128 bits is two-key (K3 = K1); 160 bits pads K3.
    const std::string k16 = k20.substr(0, 16);
    EXPECT_EQ(engine_encrypt(8, k16, 128, b8), raw_encrypt<CryptoPP::DES_EDE3>(k16 + k16.substr(0, 8), b8));
    EXPECT_EQ(engine_encrypt(8, k20, 160, b8), raw_encrypt<CryptoPP::DES_EDE3>(k20 + zero4, b8));
    // Blowfish cycles its key, so a 1- to 3-byte key equals it repeated.
    EXPECT_EQ(engine_encrypt(0, "\x5a", 8, b8), raw_encrypt<CryptoPP::Blowfish>("\x5a\x5a\x5a\x5a", b8));
    EXPECT_EQ(engine_encrypt(0, "\x01\x02\x03", 24, b8), raw_encrypt<CryptoPP::Blowfish>("\x01\x02\x03\x01\x02\x03", b8));
    EXPECT_EQ(engine_encrypt(0, random_bytes(56, 5), 448, b8), raw_encrypt<CryptoPP::Blowfish>(random_bytes(56, 5), b8));
    // IDEA zero-pads to 128 bits.
    EXPECT_EQ(engine_encrypt(7, k20, 64, b8), raw_encrypt<CryptoPP::IDEA>(k20.substr(0, 8) + std::string(8, '\0'), b8));
}

TEST(KeySetup, Rc6ScheduleMatchesStandardForEveryLengthCryptoppTakes) {
    const std::string b16 = random_bytes(16, 6);
    for (std::size_t n : {16u, 24u, 32u}) {
        const std::string key = random_bytes(n, static_cast<std::uint32_t>(n));
        EXPECT_EQ(engine_encrypt(3, key, static_cast<std::uint32_t>(n * 8), b16), raw_encrypt<CryptoPP::RC6>(key, b16));
    }
    // The longest RC6 key (2048 bits) is accepted and round-trips.
    auto c = cipher_class_at(3)->create();
    c->init_key(random_bytes(256, 7), 2048);
    std::string out(16, '\0'), back(16, '\0');
    c->encrypt_block(u8(b16), u8(out));
    c->decrypt_block(u8(out), u8(back));
    EXPECT_EQ(back, b16);
    EXPECT_NE(out, b16);
}

TEST(KeySetup, InitKeyRejectsLengthsTheCipherDoesNotTake) {
    const std::string key = random_bytes(300, 8);
    auto expect_invalid = [&](int algorithm, std::uint32_t bits, std::string_view k) {
        auto c = cipher_class_at(algorithm)->create();
        try {
            c->init_key(k, bits);
            ADD_FAILURE() << c->Algorithm() << " accepted " << bits << " bits";
        } catch (const ECipherError& e) {
            EXPECT_STREQ(e.what(), "Invalid key size");
        }
        EXPECT_FALSE(c->initialised());
    };
    expect_invalid(4, 0, key);
    expect_invalid(4, 130, key);  // not a multiple of 4
    expect_invalid(4, 264, key);  // above MaxKeySize
    expect_invalid(0, 4, key);    // below Blowfish's 8
    expect_invalid(2, 28, key);   // below MARS's 32
    expect_invalid(2, 1252, key);
    expect_invalid(3, 2052, key);
    expect_invalid(7, 132, key);
    expect_invalid(4, 128, std::string_view(key).substr(0, 15));  // fewer bytes than the length needs

    // 132 bits is accepted and uses 132 div 8 = 16 bytes.
    const std::string b16 = random_bytes(16, 9);
    EXPECT_EQ(engine_encrypt(4, key, 132, b16), engine_encrypt(4, key, 128, b16));
    // The shortest lengths each cipher takes.
    for (auto [algorithm, bits] : {std::pair{0, 8u}, {2, 32u}, {3, 8u}, {4, 4u}, {5, 4u}, {8, 4u}}) {
        auto c = cipher_class_at(algorithm)->create();
        EXPECT_NO_THROW(c->init_key(key, bits)) << c->Algorithm();
    }
    // A rejected key leaves a previously keyed object not initialised.
    auto c = cipher_class_at(4)->create();
    c->init_key(key, 128);
    EXPECT_THROW(c->init_key(key, 130), ECipherError);
    EXPECT_FALSE(c->initialised());
}

TEST(KeySetup, AnyFailureInsidePasswordSetupHasOneMessage) {
    // A hash too short for MARS makes init_key refuse the key; the caller
    // sees only the password-setup message.
    const HashClass short_hash{99, "short", 8, hash_class_at(0)->create};
    auto c = cipher_class_at(2)->create();
    try {
        c->init_with_password("pw", short_hash);
        ADD_FAILURE() << "no error";
    } catch (const ECipherError& e) {
        EXPECT_STREQ(e.what(), "Unable to allocate sufficient memory for hash digest");
    }
    EXPECT_FALSE(c->initialised());
}

TEST(KeySetup, ObjectLifecycle) {
    auto c = cipher_class_at(4)->create();
    EXPECT_FALSE(c->initialised());
    EXPECT_EQ(c->CipherMode(), TCipherMode::cmCBC);
    std::uint8_t buf[16] = {};
    EXPECT_THROW(c->reset(), EBlockCipherError);
    EXPECT_THROW(c->get_iv(buf), EBlockCipherError);
    EXPECT_THROW(c->set_iv(buf), EBlockCipherError);
    EXPECT_THROW(c->encrypt_block(buf, buf), EBlockCipherError);
    EXPECT_NO_THROW(c->burn());  // burning a fresh object is harmless

    c->init_with_password("pw", *hash_class_at(0));
    const std::string iv = iv_of(*c);
    // get_iv reports the advanced chaining value, reset restores the vector.
    std::string data = random_bytes(32, 10);
    c->encrypt(data.data(), data.data(), 32);
    EXPECT_EQ(to_hex(iv_of(*c)), to_hex(data.substr(16)));
    c->reset();
    EXPECT_EQ(iv_of(*c), iv);
    // set_iv replaces the vector and resets to it.
    const std::string other = random_bytes(16, 11);
    c->set_iv(u8(other));
    EXPECT_EQ(iv_of(*c), other);
    c->encrypt(data.data(), data.data(), 16);
    c->reset();
    EXPECT_EQ(iv_of(*c), other);
    // An explicit vector in init_key is used as given.
    c->init_key(random_bytes(16, 12), 128, u8(other));
    EXPECT_EQ(iv_of(*c), other);

    c->burn();
    EXPECT_FALSE(c->initialised());
    EXPECT_THROW(c->get_iv(buf), EBlockCipherError);

    auto h = hash_class_at(0)->create();
    try {
        h->hash_update("x", 1);
        ADD_FAILURE();
    } catch (const EHashError& e) {
        EXPECT_STREQ(e.what(), "Hash not initialized");
    }
    h->hash_init();
    h->hash_final(buf);
    EXPECT_THROW(h->hash_final(buf), EHashError);  // final burns the hash
}

// A source stream that records each read it is asked for.
class RecordingStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    std::vector<std::uint32_t> reads;
    std::uint32_t read(void* buffer, std::uint32_t count) override {
        reads.push_back(count);
        return TMemoryStream::read(buffer, count);
    }
};

TEST(KeySetup, StreamsMoveDataIn8192ByteChunks) {
    auto c = cipher_class_at(4)->create();
    c->init_with_password("pw", *hash_class_at(0));
    for (auto [count, expected_reads] : {std::pair{0u, std::vector<std::uint32_t>{}},
                                         {8192u, {8192}},
                                         {8193u, {8192, 1}},
                                         {3u * 8192 + 5, {8192, 8192, 8192, 5}}}) {
        RecordingStream in(random_bytes(count, count));
        TMemoryStream out;
        c->reset();
        EXPECT_EQ(c->encrypt_stream(in, out, count), count);
        EXPECT_EQ(in.reads, expected_reads);
        ASSERT_EQ(out.size(), count);
        // Chunked output equals one whole-buffer call.
        std::string whole = in.data();
        c->reset();
        c->encrypt(whole.data(), whole.data(), count);
        EXPECT_TRUE(test::same_bytes(out.data(), whole));
    }
    // Reading and writing start at the streams' current positions; a short
    // source is reported through the returned total.
    RecordingStream in(std::string("xxxx") + random_bytes(100, 13));
    in.set_position(4);
    TMemoryStream out(std::string("head"));
    out.set_position(4);
    c->reset();
    EXPECT_EQ(c->encrypt_stream(in, out, 500), 100u);
    EXPECT_EQ(out.size(), 104);
    EXPECT_EQ(out.data().substr(0, 4), "head");
    // And back.
    TMemoryStream cipher(out.data().substr(4)), plain;
    c->reset();
    EXPECT_EQ(c->decrypt_stream(cipher, plain, 100), 100u);
    EXPECT_EQ(plain.data(), in.data().substr(4));
}

TEST(KeySetup, CatalogueOrderIsStable) {
    // The indices are stored in configuration files and password lists.
    const char* ciphers[] = {"Blowfish", "Cast256", "Mars", "RC6", "Rijndael", "Serpent", "Twofish", "IDEA", "3DES"};
    for (int i = 0; i < kCipherCount; ++i) EXPECT_STREQ(cipher_class_at(i)->algorithm, ciphers[i]);
    const char* hashes[] = {"MD5", "RipeMD-160", "SHA1", "SHA256", "SHA512", "Tiger"};
    for (int i = 0; i < kHashCount; ++i) EXPECT_STREQ(hash_class_at(i)->algorithm, hashes[i]);
    EXPECT_EQ(cipher_mode_at(4), TCipherMode::cmCTR);
    for (int bad : {-1, 9, 100}) EXPECT_EQ(cipher_class_at(bad), nullptr);
    for (int bad : {-1, 6}) EXPECT_EQ(hash_class_at(bad), nullptr);
    for (int bad : {-1, 5}) EXPECT_FALSE(cipher_mode_at(bad).has_value());
    // Objects report what their catalogue entry says.
    for (int i = 0; i < kCipherCount; ++i) {
        auto c = cipher_class_at(i)->create();
        EXPECT_EQ(c->Id(), cipher_class_at(i)->id);
        EXPECT_EQ(c->MaxKeySize(), cipher_class_at(i)->max_key_size);
        EXPECT_EQ(c->BlockSize(), cipher_class_at(i)->block_size);
    }
}

}  // namespace
}  // namespace morvantile

namespace morvantile {
namespace {

TEST(KeySetup, BurnWipesTheKeyScheduleInPlace) {
    // Blowfish keeps its key-dependent P-array and S-boxes (over 4 KiB)
    // inside the cipher object, so its bytes show whether burning wiped them.
    TBlowfish c;
    c.init_key(random_bytes(16, 15), 128);
    const std::string keyed(reinterpret_cast<const char*>(&c), sizeof c);
    c.burn();
    const std::string burnt(reinterpret_cast<const char*>(&c), sizeof c);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < sizeof c; ++i) kept += keyed[i] != 0 && keyed[i] == burnt[i];
    // What may survive: pointers, flags and sizes, nothing like a schedule.
    EXPECT_LT(kept, 128u) << "of " << sizeof c << " bytes";
    EXPECT_GT(sizeof c, 4096u);
    // IV and CV (8 bytes each) are left as 0xFF bytes.
    const std::string ff(8, '\xff');
    const auto first = burnt.find(ff);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(burnt.find(ff, first + 8), std::string::npos);
}

}  // namespace
}  // namespace morvantile
