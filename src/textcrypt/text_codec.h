// The text codec: plaintext and password in, ciphertext block out, and back.
//
// One encryption pass compresses the plaintext (zlib), encrypts the stream
// with a cipher keyed from the password, encodes the result as base64 lines
// and, if asked, puts it between the start and end separator lines. One
// decryption pass reverses that. The block carries no header, salt, vector
// or length: the reader must use the writer's suite, password, Hardcore
// setting and compression setting.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cipher/catalogue.h"

namespace morvantile {

struct Settings;
class TBlockCipher;

// The fixed suite of the Hardcore second pass (and of the password list).
inline constexpr CipherSetup kHardcoreSuite{4, 0, 0};

// The step of a pass that failed; each has the fixed message that the
// program shows for it.
enum class CodecStep {
    CipherCreation,
    ChainingMode,
    KeySetup,
    Compression,
    Encryption,
    MimeEncoding,
    MimeDecoding,
    Decryption,
    Decompression,
    // Beyond the size limit for texts: the plaintext to encrypt, or what a
    // block decrypts to.
    TooLarge,
    DecryptedTooLarge,
};

// Texts are held in memory several times over while they are worked on, so
// they have a limit (MaxTextSize): a block of a few MiB can decompress to
// gigabytes.
inline constexpr std::uint64_t kDefaultMaxTextSize = std::uint64_t{256} << 20;
inline constexpr std::uint64_t kNoSizeLimit = UINT64_MAX;

// The longest text that a block of a plaintext of up to `limit` bytes can
// be: base64 lines with quote marks, separators, and a Hardcore outer pass
// around all that. Used for the input of a decryption and for what its
// first (outer) pass gives.
std::uint64_t block_size_bound(std::uint64_t limit);

// "300 MiB", "12 KiB", "100 bytes": a size as people read it.
std::string size_text(std::uint64_t bytes);

// The message of a step; for the two size steps without the sizes, which
// the failure itself carries (size_limit_failure).
std::string_view codec_step_message(CodecStep step);

// The message of a failed decompression, which is how a wrong password,
// suite or Hardcore setting shows itself.
extern const std::string_view kDecompressionHint;

// The block or plaintext of a pass, or the step that failed. The text is
// wiped when the result goes away.
class CodecResult {
public:
    static CodecResult success(std::string text);
    static CodecResult failure(CodecStep step);
    // A text beyond the limit; the message says how large it is (when known)
    // and what the limit is.
    static CodecResult size_limit_failure(CodecStep step, std::uint64_t limit, std::uint64_t size = 0);

    CodecResult(CodecResult&& other) noexcept;
    CodecResult& operator=(CodecResult&& other) noexcept;
    ~CodecResult();

    bool ok() const { return !failed_; }
    std::optional<CodecStep> failed_step() const { return failed_; }
    // Empty on success.
    std::string_view message() const;
    const std::string& text() const { return text_; }
    std::string take_text();

private:
    CodecResult() = default;
    std::string text_;
    std::string message_;
    std::optional<CodecStep> failed_;
};

// "[-START Morvantile v.1.2.0.26 START-]" CR LF, and
// CR LF "[-END Morvantile v.1.2.0.26 END-]" CR LF.
std::string start_separator();
std::string end_separator();

// The base64 lines of a separated block: `text` without a first line
// "[-START ... START-]" and a last line "[-END ... END-]" (of any version),
// when it has them; otherwise `text` itself.
std::string_view strip_separator_lines(std::string_view text);

// One encryption pass; a plaintext longer than `limit` is refused.
CodecResult encrypt_text(std::string_view plaintext, const CipherSetup& setup, std::string_view password,
                         bool append_separators, std::uint64_t limit = kNoSizeLimit);

// One decryption pass over the whole text: characters outside the base64
// alphabet are skipped wherever they stand, so re-wrapped, indented and
// quoted blocks decrypt; separator lines left in do not (they hold letters).
// With `decompress` false the decrypted zlib stream is returned as it is.
// A block that would decompress to more than `limit` bytes is refused,
// with memory for no more than that taken.
CodecResult decrypt_text(std::string_view text, const CipherSetup& setup, std::string_view password,
                         bool decompress, std::uint64_t limit = kNoSizeLimit);

// A decryption pass that, when it fails at decompression (which is how a
// wrong password shows itself), tries the other form of a password with
// characters outside ASCII once: its UTF-8 bytes for one held as
// Windows-1252 and the reverse (text_encoding.h). When that form opens the
// block, it is left in `password`, so that the rest of the operation uses
// it; when neither does, the first failure is the one returned.
CodecResult decrypt_text_either_form(std::string_view text, const CipherSetup& setup, std::string& password,
                                     bool decompress, std::uint64_t limit = kNoSizeLimit);
// The same retry after a first attempt that the caller made itself.
CodecResult retry_with_other_form(CodecResult first, std::string_view text, const CipherSetup& setup,
                                  std::string& password, bool decompress, std::uint64_t limit = kNoSizeLimit);

// The same passes with a cipher that the caller has built and keyed for the
// suite already (the encryption command keys it before it reads the
// clipboard). The cipher serves exactly this one pass.
CodecResult encrypt_text(std::string_view plaintext, TBlockCipher& keyed, bool append_separators,
                         std::uint64_t limit = kNoSizeLimit);
CodecResult decrypt_text(std::string_view text, TBlockCipher& keyed, bool decompress,
                         std::uint64_t limit = kNoSizeLimit);

// What a whole text operation needs from the options.
struct CodecOptions {
    CipherSetup setup;
    bool hardcore = false;
    bool append_separators = false;
    bool decompress = true;
    // The longest plaintext, to encrypt or as decrypted.
    std::uint64_t max_size = kDefaultMaxTextSize;
};

CodecOptions codec_options(const Settings& s);

// A whole text operation: one pass, or with Hardcore two, the second (outer)
// one with the fixed suite. Both passes take the same password. The inner
// block keeps its separators inside the outer one; decryption cuts them from
// the intermediate text, which no user has had the chance to cut. Each
// decryption pass tries the other form of the password as
// decrypt_text_either_form does. The plaintext is held to
// `options.max_size`; the Hardcore outer pass to the block_size_bound of it.
CodecResult encrypt_message(std::string_view plaintext, std::string_view password, const CodecOptions& options);
CodecResult decrypt_message(std::string_view text, std::string_view password, const CodecOptions& options);

}  // namespace morvantile
