#include "textcrypt/password_list_cipher.h"

#include <algorithm>
#include <optional>

#include "cipher/base64.h"
#include "cipher/catalogue.h"
#include "cipher/compression.h"
#include "cipher/stream.h"
#include "cipher/wipe.h"
#include "textcrypt/keyed_cipher.h"
#include "textcrypt/text_encoding.h"

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

constexpr const char* kListDecompressFailed =
    "Failed to decompress password list!\r\nPassword Manager unavailable this session.";

// The entry's text, or the message of the step that failed.
struct Decrypted {
    std::string text;
    const char* failure = nullptr;
    ~Decrypted() { wipe_string(text); }
};

void decrypt_entry(std::string_view stored, std::string_view list_password, Decrypted& out) {
    KeyedCipher keyed;
    // The key setup of the fixed suite cannot fail for any password; a
    // failure here would be a fault of the engine and goes to the caller.
    if (keyed.key(kHardcoreSuite, list_password)) throw ECipherError("password list cipher unavailable");
    TBlockCipher& cipher = *keyed;
    out.failure = "Failed MIME decoding of password list!";
    try {
        TMemoryStream decoded;
        TViewStream source(stored);
        mime_decode_stream(source, decoded);
        // A stored value without a single base64 character is no entry:
        // the list is as unreadable as under a wrong password.
        out.failure = kListDecompressFailed;
        if (decoded.size() == 0) return;

        TMemoryStream decrypted;
        out.failure = "Failed decryption of password list!\r\nPassword Manager unavailable this session.";
        decoded.set_position(0);
        cipher.decrypt_stream(decoded, decrypted, decoded.whole_size());

        TMemoryStream plain;
        out.failure = kListDecompressFailed;
        decrypted.set_position(0);
        decompress_stream(decrypted, plain);
        out.text = plain.take();
        out.failure = nullptr;
    } catch (...) {
    }
}

std::string decrypt_entry(std::string_view stored, std::string_view list_password, ErrorReporter& errors) {
    if (stored.empty()) return {};
    Decrypted first;
    decrypt_entry(stored, list_password, first);
    if (first.failure == kListDecompressFailed) {
        // A list stored under the other form of the list password (its
        // UTF-8 bytes, by an earlier Linux build) opens too.
        if (std::optional<std::string> other = other_password_form(list_password)) {
            WipedString other_form(std::move(*other));
            Decrypted second;
            decrypt_entry(stored, other_form.s, second);
            if (!second.failure) return std::move(second.text);
        }
    }
    if (first.failure) {
        errors.show_error(first.failure);
        return {};
    }
    return std::move(first.text);
}

}  // namespace

std::string passwordlistencryption(std::string_view text, char code, std::string_view list_password,
                                   ErrorReporter& errors) {
    if (code == 'd') return decrypt_entry(text, list_password, errors);
    if (code != 'e') return {};
    // The key setup of the fixed suite cannot fail for any password; a
    // failure here would be a fault of the engine and goes to the caller.
    KeyedCipher cipher;
    if (cipher.key(kHardcoreSuite, list_password)) throw ECipherError("password list cipher unavailable");
    return encrypt_entry(text, *cipher, errors);
}

}  // namespace morvantile
