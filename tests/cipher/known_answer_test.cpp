// Published known-answer vectors for every algorithm behind the catalogue,
// through the engine's own key handling (init_key with the vector's length).
#include <gtest/gtest.h>

#include "cipher/catalogue.h"
#include "cipher/ciphers.h"
#include "support/test_util.h"

namespace morvantile {
namespace {

using test::hex;
using test::to_hex;
using test::u8;

struct BlockVector {
    int algorithm;  // catalogue index
    const char* key;
    const char* plain;
    const char* cipher;
};

void check_vector(const BlockVector& v) {
    const std::string key = hex(v.key), plain = hex(v.plain), expected = hex(v.cipher);
    auto c = cipher_class_at(v.algorithm)->create();
    c->init_key(key, static_cast<std::uint32_t>(key.size() * 8));
    std::string out(plain.size(), '\0');
    c->encrypt_block(u8(plain), u8(out));
    EXPECT_EQ(to_hex(out), to_hex(expected)) << c->Algorithm() << " key " << key.size() * 8 << " bits";
    std::string back(plain.size(), '\0');
    c->decrypt_block(u8(out), u8(back));
    EXPECT_EQ(to_hex(back), to_hex(plain)) << c->Algorithm() << " decryption";
}

constexpr int kBlowfish = 0, kCast256 = 1, kMars = 2, kRC6 = 3, kRijndael = 4, kSerpent = 5, kTwofish = 6,
              kIdea = 7, k3DES = 8;

TEST(KnownAnswer, ProductVectors) {
    const BlockVector vectors[] = {
        {kBlowfish, "0000000000000000", "0000000000000000", "4ef997456198dd78"},
        {kCast256, "2342bb9efa38542c0af75647f29f615d", "000000000000000000000000 0c9b2807",
         "963a8a50ceb54d08e0dee0f1d0413dcf"},
        {kMars, "3251b3dede96c2836b9e063938244c99", "3251b3dede96c2836b9e063938244c99",
         "f94512a9b42d034ec4792204d708a69b"},
        {kMars, "791739a58b04581a93a953a82c10411dd158860838874d95", "6761c42d3e6142d2a84fbfadb383158f",
         "cb340326457f586d54bdd2e0571c19bd"},
        {kRC6, "0123456789abcdef0112233445566778", "02132435465768798a9bacbdcedfe0f1",
         "524e192f4715c6231f51f6367ea43f18"},
        {kRC6, "0123456789abcdef0112233445566778899aabbccddeeff01032547698badcfe",
         "02132435465768798a9bacbdcedfe0f1", "c8241816f0d7e48920ad16a1674e5d48"},
        {kRijndael, "00010203050607080a0b0c0d0f101112", "506812a45f08c889b97f5980038b8359",
         "d8f532538289ef7d06b506a4fd5be9c9"},
        {kRijndael, "a0a1a2a3a5a6a7a8aaabacadafb0b1b2b4b5b6b7b9babbbc", "4f1c769d1e5b0552c7eca84dea26a549",
         "f3847210d5391e2360608e5acb560581"},
        {kSerpent, "ffeeddccbbaa99887766554433221100", "1032547698badcfeefcdab8967452301",
         "d5baa00a4bb9d8a7c981c8dc90d89d92"},
        {kSerpent, "00112233445566778899aabbccddeeffffeeddccbbaa99887766554433221100",
         "1032547698badcfeefcdab8967452301", "93df9a3cafe387bd999eebe393a17fca"},
        {kIdea, "3a984e2000195db32ee501c8c47cea60", "0102030405060708", "97bcd8200780da86"},
        {k3DES, "0123456789abcdeffedcba987654321089abcdef01234567", "0123456789abcde7", "de0b7c06ae5e0ed5"},
    };
    for (const auto& v : vectors) check_vector(v);
}

// Standard vectors for the key lengths that password derivation produces.
TEST(KnownAnswer, StandardVectorsPerKeyLength) {
    const BlockVector vectors[] = {
        // FIPS 197, appendix C
        {kRijndael, "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
         "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {kRijndael, "000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
         "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {kRijndael, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
         "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
        // Twofish paper
        {kTwofish, "00000000000000000000000000000000", "00000000000000000000000000000000",
         "9f589f5cf6122c32b6bfec2f2ae8c35a"},
        {kTwofish, "0123456789abcdeffedcba98765432100011223344556677", "00000000000000000000000000000000",
         "cfd1d2e5a9be9cdf501f13b892bd2248"},
        {kTwofish, "0123456789abcdeffedcba987654321000112233445566778899aabbccddeeff",
         "00000000000000000000000000000000", "37527be0052334b89f0cfccae87cfa20"},
        // RFC 2612: shorter CAST-256 keys are zero-padded to 256 bits
        {kCast256, "2342bb9efa38542c0af75647f29f615d", "00000000000000000000000000000000",
         "c842a08972b43d20836c91d1b7530f6b"},
        {kCast256, "2342bb9efa38542cbed0ac83940ac298bac77a7717942863", "00000000000000000000000000000000",
         "1b386c0210dcadcbdd0e41aa08a7a7e8"},
        {kCast256, "2342bb9efa38542cbed0ac83940ac2988d7c47ce264908461cc1b5137ae6b604",
         "00000000000000000000000000000000", "4f6a2038286897b9c9870136553317fa"},
        // RC6 paper, 192-bit key
        {kRC6, "0123456789abcdef0112233445566778899aabbccddeeff0", "02132435465768798a9bacbdcedfe0f1",
         "688329d019e505041e52e92af95291d4"},
    };
    for (const auto& v : vectors) check_vector(v);
}

std::string digest(int hash_index, std::string_view message) { return to_hex(test::digest_of(hash_index, message)); }

TEST(KnownAnswer, Digests) {
    EXPECT_EQ(digest(0, "abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(digest(1, "abc"), "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc");
    EXPECT_EQ(digest(1, "a"), "0bdc9d2d256b3ee9daae347be6f4dc835a467ffe");
    EXPECT_EQ(digest(2, "abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(digest(3, "abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digest(4, "abc"),
              "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
              "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
    // Tiger with the 0x01 padding of the first Tiger description.
    EXPECT_EQ(digest(5, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+-"),
              "f71c8583902afb879edfe610f82c0d4786a3a534504486b5");
    EXPECT_EQ(digest(5, "abc"), "2aab1484e8c158f2bfb8c5ff41b57a525129131c957b5f93");
    // The empty password hashes zero bytes.
    EXPECT_EQ(digest(0, ""), "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace
}  // namespace morvantile
