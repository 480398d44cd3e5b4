// The five chaining modes against a plain block-by-block model of the
// stored format, against Crypto++'s own modes where they coincide, and the
// partial-block, counter and split-call rules that stored texts depend on.
#include <gtest/gtest.h>

#include <crypto++/aes.h>
#include <crypto++/modes.h>

#include "cipher/catalogue.h"
#include "cipher/ciphers.h"
#include "support/test_util.h"

namespace morvantile {
namespace {

using test::random_bytes;
using test::to_hex;
using test::u8;

constexpr TCipherMode kModes[] = {TCipherMode::cmCBC, TCipherMode::cmCFB8bit, TCipherMode::cmCFBblock,
                                  TCipherMode::cmOFB, TCipherMode::cmCTR};

std::unique_ptr<TBlockCipher> keyed(int algorithm, TCipherMode mode, const std::string& password = "secret") {
    auto c = cipher_class_at(algorithm)->create();
    c->SetCipherMode(mode);
    c->init_with_password(password, *hash_class_at(0));
    return c;
}

// Block-by-block model of every mode, built only on encrypt_block and
// decrypt_block of a separately keyed object.
struct ModeModel {
    TBlockCipher& c;
    std::size_t B;
    std::string cv;

    explicit ModeModel(TBlockCipher& cipher) : c(cipher), B(cipher.BlockSize() / 8), cv(B, '\0') {
        c.get_iv(u8(cv));
    }
    std::string E(const std::string& x) {
        std::string y(B, '\0');
        c.encrypt_block(u8(x), u8(y));
        return y;
    }
    std::string D(const std::string& x) {
        std::string y(B, '\0');
        c.decrypt_block(u8(x), u8(y));
        return y;
    }
    static std::string xor_(const std::string& a, const std::string& b, std::size_t n) {
        std::string r(n, '\0');
        for (std::size_t i = 0; i < n; ++i) r[i] = static_cast<char>(a[i] ^ b[i]);
        return r;
    }
    void inc() {
        for (std::size_t i = B; i-- > 0;)
            if (++reinterpret_cast<unsigned char&>(cv[i]) != 0) break;
    }

    std::string run(TCipherMode mode, bool encrypting, const std::string& in) {
        std::string out;
        const std::size_t q = in.size() / B, r = in.size() % B;
        if (mode == TCipherMode::cmCFB8bit) {
            for (char x : in) {
                const char t = E(cv)[0];
                const char y = static_cast<char>(x ^ t);
                out.push_back(y);
                cv = cv.substr(1) + (encrypting ? y : x);
            }
            return out;
        }
        for (std::size_t i = 0; i < q; ++i) {
            const std::string blk = in.substr(i * B, B);
            switch (mode) {
                case TCipherMode::cmCBC:
                    if (encrypting) {
                        cv = E(xor_(blk, cv, B));
                        out += cv;
                    } else {
                        out += xor_(D(blk), cv, B);
                        cv = blk;
                    }
                    break;
                case TCipherMode::cmCFBblock: {
                    const std::string y = xor_(blk, E(cv), B);
                    out += y;
                    cv = encrypting ? y : blk;
                    break;
                }
                case TCipherMode::cmOFB:
                    cv = E(cv);
                    out += xor_(blk, cv, B);
                    break;
                case TCipherMode::cmCTR: {
                    const std::string t = E(cv);
                    inc();
                    out += xor_(blk, t, B);
                    break;
                }
                default: break;
            }
        }
        if (r > 0) {
            const std::string tail = in.substr(q * B);
            if (mode == TCipherMode::cmCTR) {
                const std::string t = E(cv);
                inc();
                out += xor_(tail, t, r);
            } else {
                cv = E(cv);
                out += xor_(tail, cv, r);
            }
        }
        return out;
    }
};

std::string run(TBlockCipher& c, bool encrypting, const std::string& in) {
    std::string out(in.size(), '\0');
    if (encrypting) c.encrypt(in.data(), out.data(), static_cast<std::uint32_t>(in.size()));
    else c.decrypt(in.data(), out.data(), static_cast<std::uint32_t>(in.size()));
    return out;
}

std::string run_in_place(TBlockCipher& c, bool encrypting, std::string data) {
    if (encrypting) c.encrypt(data.data(), data.data(), static_cast<std::uint32_t>(data.size()));
    else c.decrypt(data.data(), data.data(), static_cast<std::uint32_t>(data.size()));
    return data;
}

std::string cv_of(const TBlockCipher& c) {
    std::string cv(c.BlockSize() / 8, '\0');
    c.get_iv(u8(cv));
    return cv;
}

// All 270 suites: lengths around one block and across a stream chunk,
// decrypting with a fresh object of the same suite.
TEST(Modes, EverySuiteRoundTrips) {
    for (int a = 0; a < kCipherCount; ++a) {
        const std::size_t B = cipher_class_at(a)->block_size / 8;
        const std::size_t lengths[] = {0, 1, B - 1, B, B + 1, 8192 + 3};
        for (int h = 0; h < kHashCount; ++h) {
            for (TCipherMode m : kModes) {
                for (std::size_t n : lengths) {
                    const std::string plain = random_bytes(n, static_cast<std::uint32_t>(a * 1000 + h * 10 + n));
                    auto enc = cipher_class_at(a)->create();
                    enc->SetCipherMode(m);
                    enc->init_with_password("pass word", *hash_class_at(h));
                    const std::string cipher = run(*enc, true, plain);
                    ASSERT_EQ(cipher.size(), n);
                    if (n >= B) {
                        EXPECT_NE(cipher, plain);
                    }
                    auto dec = cipher_class_at(a)->create();
                    dec->SetCipherMode(m);
                    dec->init_with_password("pass word", *hash_class_at(h));
                    ASSERT_TRUE(test::same_bytes(run(*dec, false, cipher), plain))
                        << enc->Algorithm() << " hash " << h << " mode " << int(m) << " n " << n;
                }
            }
        }
    }
}

// The multi-block fast paths (in place and not) give exactly the model's
// bytes and leave the same chaining value, for every cipher and mode.
TEST(Modes, MatchBlockByBlockModel) {
    for (int a = 0; a < kCipherCount; ++a) {
        const std::size_t B = cipher_class_at(a)->block_size / 8;
        for (TCipherMode m : kModes) {
            for (std::size_t n : {B * 4 + 5, B * 300, B * 600 + 7}) {
                if (m == TCipherMode::cmCFB8bit && n > 2000) continue;  // one block encryption per byte
                const std::string plain = random_bytes(n, static_cast<std::uint32_t>(n + a));
                auto model_cipher = keyed(a, m);
                ModeModel model(*model_cipher);
                const std::string expected = model.run(m, true, plain);

                auto c1 = keyed(a, m);
                EXPECT_TRUE(test::same_bytes(run(*c1, true, plain), expected)) << c1->Algorithm() << " mode " << int(m) << " n " << n;
                EXPECT_EQ(to_hex(cv_of(*c1)), to_hex(model.cv));
                auto c2 = keyed(a, m);
                EXPECT_TRUE(test::same_bytes(run_in_place(*c2, true, plain), expected)) << "in place";

                auto dmodel_cipher = keyed(a, m);
                ModeModel dmodel(*dmodel_cipher);
                const std::string dexpected = dmodel.run(m, false, expected);
                EXPECT_TRUE(test::same_bytes(dexpected, plain));
                auto d1 = keyed(a, m);
                EXPECT_TRUE(test::same_bytes(run(*d1, false, expected), plain)) << d1->Algorithm() << " mode " << int(m) << " n " << n;
                EXPECT_EQ(to_hex(cv_of(*d1)), to_hex(dmodel.cv));
                auto d2 = keyed(a, m);
                EXPECT_TRUE(test::same_bytes(run_in_place(*d2, false, expected), plain)) << "in place";
            }
        }
    }
}

// On whole blocks the modes are the standard ones: Crypto++'s own mode
// objects with the same key and IV give the same bytes.
TEST(Modes, WholeBlocksEqualStandardModes) {
    auto engine = keyed(4, TCipherMode::cmCBC, "standard");
    // The default suite keys AES-128 with the MD5 digest of the password.
    const std::string key = test::hex("7f0b0c7b1f84b9e1b2ea44d9a49f4d40");
    engine->init_key(key, 128);
    const std::string iv = cv_of(*engine);
    const std::string plain = random_bytes(16 * 1000, 7);
    const auto* k = u8(key);
    const auto* v = u8(iv);

    auto engine_out = [&](TCipherMode m) {
        auto c = cipher_class_at(4)->create();
        c->SetCipherMode(m);
        c->init_key(key, 128);
        return run(*c, true, plain);
    };
    auto cryptopp_out = [&](CryptoPP::StreamTransformation&& t) {
        std::string out(plain.size(), '\0');
        t.ProcessData(u8(out), u8(plain), plain.size());
        return out;
    };
    using namespace CryptoPP;
    EXPECT_TRUE(test::same_bytes(engine_out(TCipherMode::cmCBC), cryptopp_out(CBC_Mode<AES>::Encryption(k, 16, v))));
    EXPECT_TRUE(test::same_bytes(engine_out(TCipherMode::cmCFBblock), cryptopp_out(CFB_Mode<AES>::Encryption(k, 16, v))));
    EXPECT_TRUE(test::same_bytes(engine_out(TCipherMode::cmCFB8bit), cryptopp_out(CFB_Mode<AES>::Encryption(k, 16, v, 1))));
    EXPECT_TRUE(test::same_bytes(engine_out(TCipherMode::cmOFB), cryptopp_out(OFB_Mode<AES>::Encryption(k, 16, v))));
    EXPECT_TRUE(test::same_bytes(engine_out(TCipherMode::cmCTR), cryptopp_out(CTR_Mode<AES>::Encryption(k, 16, v))));
}

TEST(Modes, ShortInputIsMaskedWithEncryptedIv) {
    for (int a : {0, 4}) {
        const std::size_t B = cipher_class_at(a)->block_size / 8;
        const std::string plain = random_bytes(B - 3, 11);
        auto ref = keyed(a, TCipherMode::cmCBC);
        std::string mask(B, '\0');
        const std::string iv = cv_of(*ref);
        ref->encrypt_block(u8(iv), u8(mask));
        const std::string expected = ModeModel::xor_(plain, mask, plain.size());
        for (TCipherMode m : {TCipherMode::cmCBC, TCipherMode::cmCFBblock, TCipherMode::cmOFB, TCipherMode::cmCTR}) {
            auto c = keyed(a, m);
            EXPECT_TRUE(test::same_bytes(run(*c, true, plain), expected)) << "mode " << int(m);
        }
        auto cfb8 = keyed(a, TCipherMode::cmCFB8bit);
        EXPECT_NE(run(*cfb8, true, plain), expected);
    }
}

TEST(Modes, CbcTailUsesEncryptionOfLastCipherBlock) {
    const std::string plain = random_bytes(16 + 3, 5);
    auto ref = keyed(4, TCipherMode::cmCBC);
    const std::string iv = cv_of(*ref);
    ModeModel model(*ref);
    const std::string c0 = model.E(ModeModel::xor_(plain.substr(0, 16), iv, 16));
    const std::string mask = model.E(c0);
    auto c = keyed(4, TCipherMode::cmCBC);
    const std::string cipher = run(*c, true, plain);
    EXPECT_EQ(to_hex(cipher.substr(0, 16)), to_hex(c0));
    EXPECT_EQ(to_hex(cipher.substr(16)), to_hex(ModeModel::xor_(plain.substr(16), mask, 3)));
    // After a partial block the chaining value is the mask block.
    EXPECT_EQ(to_hex(cv_of(*c)), to_hex(mask));
    auto d = keyed(4, TCipherMode::cmCBC);
    EXPECT_TRUE(test::same_bytes(run(*d, false, cipher), plain));
}

TEST(Modes, OfbAndCtrAreTheirOwnInverse) {
    const std::string plain = random_bytes(1000, 3);
    for (TCipherMode m : {TCipherMode::cmOFB, TCipherMode::cmCTR}) {
        auto e1 = keyed(6, m);
        auto e2 = keyed(6, m);
        EXPECT_TRUE(test::same_bytes(run(*e2, true, run(*e1, true, plain)), plain));
    }
}

TEST(Modes, CounterCarriesAcrossTheWholeBlock) {
    auto c = keyed(4, TCipherMode::cmCTR);
    std::string iv = test::hex("000102030405060708090a0b0c00ffff");
    c->set_iv(u8(iv));
    run(*c, true, std::string(16, 'x'));
    EXPECT_EQ(to_hex(cv_of(*c)), "000102030405060708090a0b0c010000");

    iv = std::string(16, '\xff');
    c->set_iv(u8(iv));
    run(*c, true, std::string(5, 'x'));  // a partial block advances the counter too
    EXPECT_EQ(to_hex(cv_of(*c)), std::string(32, '0'));

    // Many blocks starting just below a carry of the low bytes: every
    // counter value in the batched path matches the model.
    for (const char* start : {"00000000000000000000000000fffff0", "fffffffffffffffffffffffffffffff0",
                              "0102030405060708090a0b0c0d0e0f10"}) {
        iv = test::hex(start);
        const std::string plain = random_bytes(16 * 700 + 9, 21);
        auto model_cipher = keyed(4, TCipherMode::cmCTR);
        model_cipher->set_iv(u8(iv));
        ModeModel model(*model_cipher);
        const std::string expected = model.run(TCipherMode::cmCTR, true, plain);
        auto e = keyed(4, TCipherMode::cmCTR);
        e->set_iv(u8(iv));
        EXPECT_TRUE(test::same_bytes(run(*e, true, plain), expected)) << start;
        EXPECT_EQ(to_hex(cv_of(*e)), to_hex(model.cv)) << start;
    }
    // The same on a 64-bit block.
    auto b = keyed(0, TCipherMode::cmCTR);
    iv = test::hex("00000000000000ff");
    b->set_iv(u8(iv));
    run(*b, true, std::string(8, 'x'));
    EXPECT_EQ(to_hex(cv_of(*b)), "0000000000000100");
}

TEST(Modes, Cfb8FeedsBackCiphertextBytes) {
    auto c = keyed(7, TCipherMode::cmCFB8bit);  // IDEA, 8-byte block
    const std::string cipher = run(*c, true, "8 bytes!");
    EXPECT_EQ(to_hex(cv_of(*c)), to_hex(cipher));
}

TEST(Modes, SplitCallsContinueOneChainOnlyOnWholeBlocks) {
    const std::string plain = random_bytes(32, 9);
    auto whole = keyed(4, TCipherMode::cmCBC);
    const std::string one_call = run(*whole, true, plain);

    auto split = keyed(4, TCipherMode::cmCBC);
    std::string joined = run(*split, true, plain.substr(0, 16));
    joined += run(*split, true, plain.substr(16));
    EXPECT_EQ(joined, one_call);

    auto odd = keyed(4, TCipherMode::cmCBC);
    const std::string first16 = run(*keyed(4, TCipherMode::cmCBC), true, plain.substr(0, 16));
    std::string odd_joined = run(*odd, true, plain.substr(0, 5));
    odd_joined += run(*odd, true, plain.substr(5, 11));
    EXPECT_NE(odd_joined, first16);

    // CFB8 has no block structure, so any split is the same chain.
    auto cfb_whole = keyed(4, TCipherMode::cmCFB8bit);
    auto cfb_split = keyed(4, TCipherMode::cmCFB8bit);
    std::string cfb_joined = run(*cfb_split, true, plain.substr(0, 5));
    cfb_joined += run(*cfb_split, true, plain.substr(5));
    EXPECT_EQ(cfb_joined, run(*cfb_whole, true, plain));
}

TEST(Modes, RefuseWorkWithoutKey) {
    auto c = cipher_class_at(4)->create();
    char buf[16] = {};
    using Op = void (TBlockCipher::*)(const void*, void*, std::uint32_t);
    const Op ops[] = {&TBlockCipher::encrypt_cbc,     &TBlockCipher::decrypt_cbc,     &TBlockCipher::encrypt_cfb8bit,
                      &TBlockCipher::decrypt_cfb8bit, &TBlockCipher::encrypt_cfbblock, &TBlockCipher::decrypt_cfbblock,
                      &TBlockCipher::encrypt_ofb,     &TBlockCipher::decrypt_ofb,     &TBlockCipher::encrypt_ctr,
                      &TBlockCipher::decrypt_ctr,     &TBlockCipher::encrypt,         &TBlockCipher::decrypt};
    for (Op op : ops) {
        for (std::uint32_t n : {0u, 16u}) {
            try {
                ((*c).*op)(buf, buf, n);
                ADD_FAILURE() << "no error for n=" << n;
            } catch (const EBlockCipherError& e) {
                EXPECT_STREQ(e.what(), "Cipher not initialized");
            }
        }
    }
    // And again after burn.
    c->init_with_password("x", *hash_class_at(0));
    c->burn();
    EXPECT_THROW(c->encrypt(buf, buf, 0), EBlockCipherError);
}

}  // namespace
}  // namespace morvantile
