#include "textcrypt/password_list_cipher.h"

#include <algorithm>

#include "cipher/base64.h"
#include "cipher/catalogue.h"
#include "cipher/compression.h"
#include "cipher/stream.h"
#include "cipher/wipe.h"
#include "textcrypt/keyed_cipher.h"

namespace morvantile {

namespace {

std::string encrypt_entry(std::string_view text, TBlockCipher& cipher, ErrorReporter& errors) {
    const char* failure = "Encrypt (with compression) error for password list!";
    try {
        TMemoryStream compressed;
        failure = "Failed compression of password list!";
        TViewStream source(text);
        compress_stream(source, compressed);

        TMemoryStream encrypted;
        failure = "Failed encryption of password list!";
        compressed.set_position(0);
        cipher.encrypt_stream(compressed, encrypted, compressed.whole_size());

        std::string line;
        failure = "Failed MIME encoding of password list!";
        encrypted.set_position(0);
        TStringStream out(line);
        mime_encode_stream(encrypted, out);
        line.erase(std::remove_if(line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }),
                   line.end());
        return line;
    } catch (...) {
        errors.show_error(failure);
        return {};
    }
}

std::string decrypt_entry(std::string_view stored, TBlockCipher& cipher, ErrorReporter& errors) {
    const char* failure = "Failed MIME decoding of password list!";
    try {
        TMemoryStream decoded;
        TViewStream source(stored);
        mime_decode_stream(source, decoded);
        if (decoded.size() == 0) return {};

        TMemoryStream decrypted;
        failure = "Failed decryption of password list!\r\nPassword Manager unavailable this session.";
        decoded.set_position(0);
        cipher.decrypt_stream(decoded, decrypted, decoded.whole_size());

        TMemoryStream plain;
        failure = "Failed to decompress password list!\r\nPassword Manager unavailable this session.";
        decrypted.set_position(0);
        decompress_stream(decrypted, plain);
        return plain.take();
    } catch (...) {
        errors.show_error(failure);
        return {};
    }
}

}  // namespace

std::string passwordlistencryption(std::string_view text, char code, std::string_view list_password,
                                   ErrorReporter& errors) {
    // The key setup of the fixed suite cannot fail for any password; a
    // failure here would be a fault of the engine and goes to the caller.
    KeyedCipher cipher;
    if (cipher.key(kHardcoreSuite, list_password)) throw ECipherError("password list cipher unavailable");
    if (code == 'e') return encrypt_entry(text, *cipher, errors);
    if (code == 'd') return decrypt_entry(text, *cipher, errors);
    return {};
}

}  // namespace morvantile
