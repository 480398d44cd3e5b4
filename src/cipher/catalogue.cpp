#include "catalogue.h"

#include "ciphers.h"

namespace morvantile {

namespace {

template <class C>
std::unique_ptr<TBlockCipher> make_cipher() {
    return std::make_unique<C>();
}
template <class H>
std::unique_ptr<THash> make_hash() {
    return std::make_unique<H>();
}

template <class C>
constexpr CipherClass cipher_entry() {
    return {C::kId, C::kAlgorithm, C::kMaxKeySize, C::kBlockSize, &make_cipher<C>};
}
template <class H>
constexpr HashClass hash_entry() {
    return {H::kId, H::kAlgorithm, H::kHashSize, &make_hash<H>};
}

const CipherClass kCiphers[kCipherCount] = {
    cipher_entry<TBlowfish>(), cipher_entry<TCast256>(), cipher_entry<TMars>(),
    cipher_entry<TRC6>(),      cipher_entry<TRijndael>(), cipher_entry<TSerpent>(),
    cipher_entry<TTwofish>(),  cipher_entry<TIdea>(),     cipher_entry<T3DES>(),
};

const HashClass kHashes[kHashCount] = {
    hash_entry<TMD5>(),    hash_entry<TRipeMD160>(), hash_entry<TSHA1>(),
    hash_entry<TSHA256>(), hash_entry<TSHA512>(),    hash_entry<TTiger>(),
};

}  // namespace

const CipherClass* cipher_class_at(int index) {
    return index >= 0 && index < kCipherCount ? &kCiphers[index] : nullptr;
}

const HashClass* hash_class_at(int index) {
    return index >= 0 && index < kHashCount ? &kHashes[index] : nullptr;
}

std::optional<TCipherMode> cipher_mode_at(int index) {
    if (index < 0 || index >= kModeCount) return std::nullopt;
    return static_cast<TCipherMode>(index);
}

}  // namespace morvantile
