#include "textcrypt/text_codec.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "cipher/base64.h"
#include "cipher/compression.h"
#include "cipher/errors.h"
#include "cipher/stream.h"
#include "cipher/wipe.h"
#include "config/settings.h"
#include "textcrypt/keyed_cipher.h"
#include "textcrypt/text_encoding.h"

namespace morvantile {

static_assert(kDefaultMaxTextSize == std::uint64_t{kDefaultMaxTextSizeMiB} << 20);

const std::string_view kDecompressionHint =
    "Is the text encrypted? Are your encryption settings correct?\r\n"
    "   > your settings must match those used to encrypt!\r\n"
    "Was Hardcore Mode used to encrypt?\r\n"
    "   > go to Options, Algorithm and toggle Hardcore Mode\r\n"
    "Did you type the correct password?\r\n"
    "   > do not modify clipboard contents during password\r\n"
    "   > entry. Type in the password or use the Manager";

std::string_view codec_step_message(CodecStep step) {
    switch (step) {
        case CodecStep::CipherCreation: return "Cipher creation error!";
        case CodecStep::ChainingMode: return "Failed to set ciphermode!";
        case CodecStep::KeySetup: return "Failed to perform hashing!";
        case CodecStep::Compression: return "Failed compression!";
        case CodecStep::Encryption: return "Failed encryption!";
        case CodecStep::MimeEncoding: return "Failed MIME encoding!";
        case CodecStep::MimeDecoding: return "Failed MIME decoding!";
        case CodecStep::Decryption: return "Failed decryption!";
        case CodecStep::Decompression: return kDecompressionHint;
        case CodecStep::TooLarge: return "Text too large!";
        case CodecStep::DecryptedTooLarge: return "Decrypted text too large!";
    }
    return {};
}

std::uint64_t block_size_bound(std::uint64_t limit) {
    // A pass makes at most ~1.42 times its input (zlib's stored blocks,
    // base64, a line end per 68 characters, "> " per line); two passes
    // about twice. Three times leaves room to spare.
    if (limit >= (kNoSizeLimit - 65536) / 3) return kNoSizeLimit;
    return 3 * limit + 65536;
}

std::string size_text(std::uint64_t bytes) {
    // Whole units where the size is one, else the exact count: a size just
    // past a limit must never read as the limit itself.
    constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
    int unit = -1;
    std::uint64_t value = bytes;
    while (unit < 3 && value >= 1024 && value % 1024 == 0) {
        value /= 1024;
        ++unit;
    }
    if (unit < 0) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    return std::to_string(value) + " " + kUnits[unit];
}

CodecResult CodecResult::success(std::string text) {
    CodecResult r;
    r.text_ = std::move(text);
    return r;
}

CodecResult CodecResult::failure(CodecStep step) {
    CodecResult r;
    r.failed_ = step;
    r.message_ = codec_step_message(step);
    return r;
}

CodecResult CodecResult::size_limit_failure(CodecStep step, std::uint64_t limit, std::uint64_t size) {
    CodecResult r = failure(step);
    r.message_ += step == CodecStep::TooLarge ? "\r\nThe text is " + size_text(size) + "; texts"
                                              : std::string("\r\nThe decrypted text would be larger; texts");
    r.message_ += " may be up to " + size_text(limit) +
                  "\r\n(MaxTextSize in the [misc] section of the configuration file).";
    return r;
}

CodecResult::CodecResult(CodecResult&& other) noexcept
    : text_(std::move(other.text_)), message_(std::move(other.message_)), failed_(other.failed_) {
    wipe_string(other.text_);
}

CodecResult& CodecResult::operator=(CodecResult&& other) noexcept {
    if (this != &other) {
        wipe_string(text_);
        text_ = std::move(other.text_);
        wipe_string(other.text_);
        message_ = std::move(other.message_);
        failed_ = other.failed_;
    }
    return *this;
}

CodecResult::~CodecResult() { wipe_string(text_); }

std::string_view CodecResult::message() const { return message_; }

std::string CodecResult::take_text() {
    std::string out = std::move(text_);
    wipe_string(text_);
    return out;
}

std::string start_separator() { return "[-START " + version_text() + " START-]\r\n"; }
std::string end_separator() { return "\r\n[-END " + version_text() + " END-]\r\n"; }

std::string_view strip_separator_lines(std::string_view text) {
    constexpr std::string_view kStart = "[-START ", kStartEnd = " START-]";
    constexpr std::string_view kEnd = "[-END ", kEndEnd = " END-]";
    const std::size_t first_break = text.find("\r\n");
    if (first_break == std::string_view::npos) return text;
    const std::string_view first = text.substr(0, first_break);
    if (!first.starts_with(kStart) || !first.ends_with(kStartEnd)) return text;

    std::string_view rest = text.substr(first_break + 2);
    if (rest.ends_with("\r\n")) rest.remove_suffix(2);
    const std::size_t last_break = rest.rfind("\r\n");
    if (last_break == std::string_view::npos) return text;
    const std::string_view last = rest.substr(last_break + 2);
    if (!last.starts_with(kEnd) || !last.ends_with(kEndEnd)) return text;
    return rest.substr(0, last_break);
}

CodecResult encrypt_text(std::string_view plaintext, const CipherSetup& setup, std::string_view password,
                         bool append_separators, std::uint64_t limit) {
    KeyedCipher cipher;
    if (auto failed = cipher.key(setup, password)) return CodecResult::failure(*failed);
    return encrypt_text(plaintext, *cipher, append_separators, limit);
}

CodecResult encrypt_text(std::string_view plaintext, TBlockCipher& cipher, bool append_separators,
                         std::uint64_t limit) {
    if (plaintext.size() > limit) return CodecResult::size_limit_failure(CodecStep::TooLarge, limit, plaintext.size());
    TMemoryStream compressed;
    try {
        TViewStream source(plaintext);
        compress_stream(source, compressed);
    } catch (...) {
        return CodecResult::failure(CodecStep::Compression);
    }

    TMemoryStream encrypted;
    try {
        compressed.set_position(0);
        cipher.encrypt_stream(compressed, encrypted, compressed.whole_size());
        encrypted.set_position(0);
    } catch (...) {
        return CodecResult::failure(CodecStep::Encryption);
    }

    std::string block;
    try {
        if (append_separators) block = start_separator();
        TStringStream text(block);
        text.set_position(static_cast<std::int64_t>(block.size()));
        mime_encode_stream(encrypted, text);
        if (append_separators) block += end_separator();
    } catch (...) {
        return CodecResult::failure(CodecStep::MimeEncoding);
    }
    return CodecResult::success(std::move(block));
}

CodecResult decrypt_text(std::string_view text, const CipherSetup& setup, std::string_view password,
                         bool decompress, std::uint64_t limit) {
    KeyedCipher cipher;
    if (auto failed = cipher.key(setup, password)) return CodecResult::failure(*failed);
    return decrypt_text(text, *cipher, decompress, limit);
}

CodecResult decrypt_text_either_form(std::string_view text, const CipherSetup& setup, std::string& password,
                                     bool decompress, std::uint64_t limit) {
    return retry_with_other_form(decrypt_text(text, setup, password, decompress, limit), text, setup, password,
                                 decompress, limit);
}

CodecResult retry_with_other_form(CodecResult first, std::string_view text, const CipherSetup& setup,
                                  std::string& password, bool decompress, std::uint64_t limit) {
    if (first.failed_step() != CodecStep::Decompression) return first;
    std::optional<std::string> other = other_password_form(password);
    if (!other) return first;
    WipedString other_form(std::move(*other));
    CodecResult second = decrypt_text(text, setup, other_form.s, decompress, limit);
    if (!second.ok()) return first;
    password.swap(other_form.s);
    return second;
}

CodecResult decrypt_text(std::string_view text, TBlockCipher& cipher, bool decompress, std::uint64_t limit) {
    TMemoryStream decoded;
    try {
        TViewStream source(text);
        mime_decode_stream(source, decoded);
    } catch (...) {
        return CodecResult::failure(CodecStep::MimeDecoding);
    }

    TMemoryStream decrypted;
    try {
        decoded.set_position(0);
        cipher.decrypt_stream(decoded, decrypted, decoded.whole_size());
        decrypted.set_position(0);
    } catch (...) {
        return CodecResult::failure(CodecStep::Decryption);
    }

    if (!decompress) return CodecResult::success(decrypted.take());
    // Nothing decoded (an empty text, or one without a single base64
    // character) is an empty plaintext, not an error.
    if (decrypted.size() == 0) return CodecResult::success({});
    TMemoryStream plain;
    try {
        decompress_stream_limited(decrypted, plain, static_cast<std::size_t>(std::min<std::uint64_t>(limit, SIZE_MAX)));
    } catch (const EDecompressedTooLarge&) {
        return CodecResult::size_limit_failure(CodecStep::DecryptedTooLarge, limit);
    } catch (...) {
        return CodecResult::failure(CodecStep::Decompression);
    }
    return CodecResult::success(plain.take());
}

CodecOptions codec_options(const Settings& s) {
    return {s.cipher_setup(), s.HardcoreMode, s.AppendSeparator, !s.NoDecompress, s.max_text_size()};
}

CodecResult encrypt_message(std::string_view plaintext, std::string_view password, const CodecOptions& options) {
    CodecResult inner = encrypt_text(plaintext, options.setup, password, options.append_separators, options.max_size);
    if (!options.hardcore || !inner.ok()) return inner;
    return encrypt_text(inner.text(), kHardcoreSuite, password, options.append_separators);
}

CodecResult decrypt_message(std::string_view text, std::string_view password, const CodecOptions& options) {
    // The inner pass starts with the form of the password that opened the outer one.
    WipedString form{std::string(password)};
    if (!options.hardcore)
        return decrypt_text_either_form(text, options.setup, form.s, options.decompress, options.max_size);
    CodecResult outer = decrypt_text_either_form(text, kHardcoreSuite, form.s, options.decompress,
                                                 block_size_bound(options.max_size));
    if (!outer.ok()) return outer;
    return decrypt_text_either_form(strip_separator_lines(outer.text()), options.setup, form.s, options.decompress,
                                    options.max_size);
}

}  // namespace morvantile
