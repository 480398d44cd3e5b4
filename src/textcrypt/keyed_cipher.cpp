#include "textcrypt/keyed_cipher.h"

namespace morvantile {

KeyedCipher::~KeyedCipher() { release(); }

void KeyedCipher::release() {
    if (cipher_) {
        cipher_->burn();
        cipher_.reset();
    }
}

std::optional<CodecStep> KeyedCipher::key(const CipherSetup& suite, std::string_view password) {
    release();
    const CipherClass* cls = cipher_class_at(suite.algorithm);
    if (cls == nullptr) return CodecStep::CipherCreation;
    try {
        cipher_ = cls->create();
    } catch (...) {
        return CodecStep::CipherCreation;
    }
    const std::optional<TCipherMode> mode = cipher_mode_at(suite.chaining_mode);
    if (!mode) return CodecStep::ChainingMode;
    cipher_->SetCipherMode(*mode);
    const HashClass* hash = hash_class_at(suite.hash);
    if (hash == nullptr) return CodecStep::KeySetup;
    try {
        cipher_->init_with_password(password, *hash);
    } catch (...) {
        return CodecStep::KeySetup;
    }
    return std::nullopt;
}

}  // namespace morvantile
