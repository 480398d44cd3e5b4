// The cipher object of one pass: built for a suite, keyed from a password,
// burned and destroyed when the pass ends, however it ends. Objects are never
// reused between passes.
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "cipher/catalogue.h"
#include "textcrypt/text_codec.h"

namespace morvantile {

class KeyedCipher {
public:
    KeyedCipher() = default;
    KeyedCipher(const KeyedCipher&) = delete;
    KeyedCipher& operator=(const KeyedCipher&) = delete;
    ~KeyedCipher();

    // Creates the suite's cipher, sets its chaining mode and keys it.
    // Returns the step that failed (cipher creation, chaining mode or key
    // setup), or nullopt when the cipher is ready.
    std::optional<CodecStep> key(const CipherSetup& suite, std::string_view password);

    // Burns and destroys the cipher now, before the scope ends (file mode
    // does so before it touches the source). Safe to call twice.
    void release();

    bool ready() const { return cipher_ != nullptr; }
    TBlockCipher& operator*() { return *cipher_; }
    TBlockCipher* operator->() { return cipher_.get(); }

private:
    std::unique_ptr<TBlockCipher> cipher_;
};

}  // namespace morvantile
