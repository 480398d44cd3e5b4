#include "block_cipher.h"

#include <algorithm>
#include <cstring>

#include "catalogue.h"
#include "hash.h"
#include "stream.h"
#include "wipe.h"

namespace morvantile {

using CryptoPP::BlockTransformation;

namespace {

constexpr std::uint32_t kStreamChunk = 8192;

// out := a xor b for one block, word by word. Both operands are read before
// anything is written, since out may be a or b (modes run in place).
template <std::size_t N>
inline void xor_into(std::uint8_t* out, const std::uint8_t* a, const std::uint8_t* b) {
    static_assert(N % 8 == 0);
    std::uint64_t x[N / 8], y[N / 8];
    std::memcpy(x, a, N);
    std::memcpy(y, b, N);
    for (std::size_t i = 0; i < N / 8; ++i) x[i] ^= y[i];
    std::memcpy(out, x, N);
}

inline const std::uint8_t* as_bytes(const void* p) { return static_cast<const std::uint8_t*>(p); }
inline std::uint8_t* as_bytes(void* p) { return static_cast<std::uint8_t*>(p); }

// Wipes the stream buffer on every way out, since it held plaintext.
struct ChunkBuffer {
    alignas(16) std::uint8_t bytes[kStreamChunk];
    ~ChunkBuffer() { secure_zero(bytes, sizeof bytes); }
};

template <class Op>
std::uint32_t run_stream(TStream& in, TStream& out, std::uint32_t count, Op op) {
    ChunkBuffer buf;
    std::uint32_t total = 0;
    auto step = [&](std::uint32_t want) {
        const std::uint32_t n = in.read(buf.bytes, want);
        total += n;
        op(buf.bytes, n);
        out.write(buf.bytes, n);
    };
    for (std::uint32_t i = 0; i < count / kStreamChunk; ++i) step(kStreamChunk);
    if (count % kStreamChunk != 0) step(count % kStreamChunk);
    return total;
}

}  // namespace

void increment_counter(std::uint8_t* counter, std::size_t len) {
    for (std::size_t i = len; i-- > 0;) {
        if (++counter[i] != 0) break;
    }
}

// ---- TCipher

void TCipher::init_with_password(std::string_view password, const HashClass& hash) {
    if (initialised_) burn();
    std::uint8_t digest[kMaxDigestBytes];
    const std::size_t digest_len = hash.hash_size / 8;
    static_assert(kMaxDigestBytes >= 512 / 8, "room for the largest digest in the catalogue");
    try {
        if (digest_len > sizeof digest) throw ECipherError(kDigestAllocFailed);
        auto h = hash.create();
        h->hash_init();
        h->hash_update_string(password);
        h->hash_final(digest);
        const std::uint32_t bits = std::min(MaxKeySize(), hash.hash_size);
        init_key(std::string_view(reinterpret_cast<const char*>(digest), bits / 8), bits, nullptr);
    } catch (...) {
        secure_fill(digest, sizeof digest, 0xFF);
        throw ECipherError(kDigestAllocFailed);
    }
    secure_fill(digest, sizeof digest, 0xFF);
}

std::uint32_t TCipher::encrypt_stream(TStream& in, TStream& out, std::uint32_t count) {
    return run_stream(in, out, count, [this](std::uint8_t* b, std::uint32_t n) { encrypt(b, b, n); });
}

std::uint32_t TCipher::decrypt_stream(TStream& in, TStream& out, std::uint32_t count) {
    return run_stream(in, out, count, [this](std::uint8_t* b, std::uint32_t n) { decrypt(b, b, n); });
}

// ---- TBlockCipher

void TBlockCipher::init_key(std::string_view key, std::uint32_t bits, const std::uint8_t* iv) {
    if (initialised_) burn();
    if (bits == 0 || bits % 4 != 0 || bits > MaxKeySize() || bits < MinKeySize() || key.size() < bits / 8)
        throw ECipherError(kInvalidKeySize);
    initialised_ = true;
    try {
        init_key_schedule(reinterpret_cast<const std::uint8_t*>(key.data()), bits);
    } catch (...) {
        burn();
        throw;
    }
    std::uint8_t* v = iv_bytes();
    if (iv != nullptr) {
        std::memcpy(v, iv, block_bytes());
    } else {
        std::memset(v, 0, block_bytes());
        enc_->ProcessBlock(v);
    }
    reset();
}

void TBlockCipher::burn() {
    wipe_key_schedule();
    enc_ = dec_ = nullptr;
    secure_fill(iv_bytes(), block_bytes(), 0xFF);
    secure_fill(cv_bytes(), block_bytes(), 0xFF);
    initialised_ = false;
}

void TBlockCipher::reset() {
    require_init();
    std::memcpy(cv_bytes(), iv_bytes(), block_bytes());
}

void TBlockCipher::set_iv(const std::uint8_t* iv) {
    require_init();
    std::memcpy(iv_bytes(), iv, block_bytes());
    reset();
}

void TBlockCipher::get_iv(std::uint8_t* out) const {
    require_init();
    std::memcpy(out, cv_bytes(), block_bytes());
}

void TBlockCipher::encrypt_block(const std::uint8_t* in, std::uint8_t* out) const {
    require_init();
    enc_->ProcessBlock(in, out);
}

void TBlockCipher::decrypt_block(const std::uint8_t* in, std::uint8_t* out) const {
    require_init();
    dec_->ProcessBlock(in, out);
}

void TBlockCipher::encrypt(const void* in, void* out, std::uint32_t n) {
    switch (mode_) {
        case TCipherMode::cmCBC: return encrypt_cbc(in, out, n);
        case TCipherMode::cmCFB8bit: return encrypt_cfb8bit(in, out, n);
        case TCipherMode::cmCFBblock: return encrypt_cfbblock(in, out, n);
        case TCipherMode::cmOFB: return encrypt_ofb(in, out, n);
        case TCipherMode::cmCTR: return encrypt_ctr(in, out, n);
    }
    throw ECipherError("Invalid cipher mode");
}

void TBlockCipher::decrypt(const void* in, void* out, std::uint32_t n) {
    switch (mode_) {
        case TCipherMode::cmCBC: return decrypt_cbc(in, out, n);
        case TCipherMode::cmCFB8bit: return decrypt_cfb8bit(in, out, n);
        case TCipherMode::cmCFBblock: return decrypt_cfbblock(in, out, n);
        case TCipherMode::cmOFB: return decrypt_ofb(in, out, n);
        case TCipherMode::cmCTR: return decrypt_ctr(in, out, n);
    }
    throw ECipherError("Invalid cipher mode");
}

// ---- TBlockCipherN<B>

template <std::size_t B>
TBlockCipherN<B>::TBlockCipherN() {
    std::memset(IV_, 0xFF, B);
    std::memset(CV_, 0xFF, B);
}

template <std::size_t B>
TBlockCipherN<B>::~TBlockCipherN() {
    secure_fill(IV_, B, 0xFF);
    secure_fill(CV_, B, 0xFF);
}

template <std::size_t B>
void TBlockCipherN<B>::masked_tail(const std::uint8_t* in, std::uint8_t* out, std::size_t r) {
    enc_->ProcessBlock(CV_);
    for (std::size_t i = 0; i < r; ++i) out[i] = in[i] ^ CV_[i];
}

template <std::size_t B>
template <class FullBlocks>
void TBlockCipherN<B>::blocks_then_tail(const void* vin, void* vout, std::uint32_t n, FullBlocks full) {
    require_init();
    const std::uint8_t* in = as_bytes(vin);
    std::uint8_t* out = as_bytes(vout);
    const std::size_t q = n / B, r = n % B;
    if (q > 0) full(in, out, q);
    if (r > 0) masked_tail(in + q * B, out + q * B, r);
}

template <std::size_t B>
void TBlockCipherN<B>::encrypt_cbc(const void* vin, void* vout, std::uint32_t n) {
    blocks_then_tail(vin, vout, n, [this](const std::uint8_t* in, std::uint8_t* out, std::size_t q) {
        // C0 = E(P0 ^ CV); Ci = E(Pi ^ Ci-1), chained through the output.
        enc_->AdvancedProcessBlocks(in, CV_, out, B, BlockTransformation::BT_XorInput);
        if (q > 1) enc_->AdvancedProcessBlocks(in + B, out, out + B, (q - 1) * B, BlockTransformation::BT_XorInput);
        std::memcpy(CV_, out + (q - 1) * B, B);
    });
}

template <std::size_t B>
void TBlockCipherN<B>::decrypt_cbc(const void* vin, void* vout, std::uint32_t n) {
    // The partial tail is masked with E of the last ciphertext block, as in
    // encryption.
    blocks_then_tail(vin, vout, n, [this](const std::uint8_t* in, std::uint8_t* out, std::size_t q) {
        // Keep the last ciphertext block before an in-place pass overwrites
        // it; decrypt back to front so each block's predecessor is still
        // ciphertext when it is needed.
        alignas(16) std::uint8_t last[B];
        std::memcpy(last, in + (q - 1) * B, B);
        if (q > 1)
            dec_->AdvancedProcessBlocks(in + B, in, out + B, (q - 1) * B,
                                        BlockTransformation::BT_ReverseDirection | BlockTransformation::BT_AllowParallel);
        dec_->ProcessAndXorBlock(in, CV_, out);
        std::memcpy(CV_, last, B);
    });
}

template <std::size_t B>
void TBlockCipherN<B>::cfb8bit(const void* vin, void* vout, std::uint32_t n, bool decrypting) {
    require_init();
    const std::uint8_t* in = as_bytes(vin);
    std::uint8_t* out = as_bytes(vout);
    alignas(16) std::uint8_t t[B];
    for (std::uint32_t i = 0; i < n; ++i) {
        // Read before writing, so an in-place pass still has the input byte.
        const std::uint8_t x = in[i];
        enc_->ProcessBlock(CV_, t);
        const std::uint8_t y = x ^ t[0];
        out[i] = y;
        std::memmove(CV_, CV_ + 1, B - 1);
        CV_[B - 1] = decrypting ? x : y;  // the ciphertext byte
    }
    secure_zero(t, B);
}

template <std::size_t B>
void TBlockCipherN<B>::encrypt_cfb8bit(const void* in, void* out, std::uint32_t n) {
    cfb8bit(in, out, n, false);
}

template <std::size_t B>
void TBlockCipherN<B>::decrypt_cfb8bit(const void* in, void* out, std::uint32_t n) {
    cfb8bit(in, out, n, true);
}

template <std::size_t B>
void TBlockCipherN<B>::encrypt_cfbblock(const void* vin, void* vout, std::uint32_t n) {
    blocks_then_tail(vin, vout, n, [this](const std::uint8_t* in, std::uint8_t* out, std::size_t q) {
        // C0 = E(CV) ^ P0; Ci = E(Ci-1) ^ Pi.
        enc_->ProcessAndXorBlock(CV_, in, out);
        if (q > 1) enc_->AdvancedProcessBlocks(out, in + B, out + B, (q - 1) * B, 0);
        std::memcpy(CV_, out + (q - 1) * B, B);
    });
}

template <std::size_t B>
void TBlockCipherN<B>::decrypt_cfbblock(const void* vin, void* vout, std::uint32_t n) {
    blocks_then_tail(vin, vout, n, [this](const std::uint8_t* in, std::uint8_t* out, std::size_t q) {
        // Pi = E(Ci-1) ^ Ci, back to front so that an in-place pass still
        // finds each Ci-1 as ciphertext.
        alignas(16) std::uint8_t last[B];
        std::memcpy(last, in + (q - 1) * B, B);
        if (q > 1)
            enc_->AdvancedProcessBlocks(in, in + B, out + B, (q - 1) * B, BlockTransformation::BT_ReverseDirection);
        enc_->ProcessAndXorBlock(CV_, in, out);
        std::memcpy(CV_, last, B);
    });
}

template <std::size_t B>
void TBlockCipherN<B>::encrypt_ofb(const void* vin, void* vout, std::uint32_t n) {
    blocks_then_tail(vin, vout, n, [this](const std::uint8_t* in, std::uint8_t* out, std::size_t q) {
        for (std::size_t i = 0; i < q; ++i) {
            enc_->ProcessBlock(CV_);
            xor_into<B>(out + i * B, in + i * B, CV_);
        }
    });
}

template <std::size_t B>
void TBlockCipherN<B>::decrypt_ofb(const void* in, void* out, std::uint32_t n) {
    encrypt_ofb(in, out, n);
}

template <std::size_t B>
void TBlockCipherN<B>::encrypt_ctr(const void* vin, void* vout, std::uint32_t n) {
    require_init();
    const std::uint8_t* in = as_bytes(vin);
    std::uint8_t* out = as_bytes(vout);
    std::size_t q = n / B;
    const std::size_t r = n % B;
    // Crypto++ steps only the counter's last byte inside one multi-block
    // call, so each call stops where that byte wraps and the carry is
    // propagated here.
    while (q > 0) {
        const std::uint8_t lsb = CV_[B - 1];
        const std::size_t blocks = std::min<std::size_t>(q, 256u - lsb);
        enc_->AdvancedProcessBlocks(CV_, in, out, blocks * B,
                                    BlockTransformation::BT_InBlockIsCounter | BlockTransformation::BT_AllowParallel);
        CV_[B - 1] = static_cast<std::uint8_t>(lsb + blocks);
        if (CV_[B - 1] == 0) increment_counter(CV_, B - 1);
        in += blocks * B;
        out += blocks * B;
        q -= blocks;
    }
    if (r > 0) {
        alignas(16) std::uint8_t t[B];
        enc_->ProcessBlock(CV_, t);
        increment_counter(CV_, B);
        for (std::size_t i = 0; i < r; ++i) out[i] = in[i] ^ t[i];
        secure_zero(t, B);
    }
}

template <std::size_t B>
void TBlockCipherN<B>::decrypt_ctr(const void* in, void* out, std::uint32_t n) {
    encrypt_ctr(in, out, n);
}

template class TBlockCipherN<8>;
template class TBlockCipherN<16>;

}  // namespace morvantile
