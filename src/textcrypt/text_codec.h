// The text codec: plaintext and password in, ciphertext block out, and back.
//
// One encryption pass compresses the plaintext (zlib), encrypts the stream
// with a cipher keyed from the password, encodes the result as base64 lines
// and, if asked, puts it between the start and end separator lines. One
// decryption pass reverses that. The block carries no header, salt, vector
// or length: the reader must use the writer's suite, password, Hardcore
// setting and compression setting.
#pragma once

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
};

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

// One encryption pass.
CodecResult encrypt_text(std::string_view plaintext, const CipherSetup& setup, std::string_view password,
                         bool append_separators);

// One decryption pass over the whole text: characters outside the base64
// alphabet are skipped wherever they stand, so re-wrapped, indented and
// quoted blocks decrypt; separator lines left in do not (they hold letters).
// With `decompress` false the decrypted zlib stream is returned as it is.
CodecResult decrypt_text(std::string_view text, const CipherSetup& setup, std::string_view password,
                         bool decompress);

// A decryption pass that, when it fails at decompression (which is how a
// wrong password shows itself), tries the other form of a password with
// characters outside ASCII once: its UTF-8 bytes for one held as
// Windows-1252 and the reverse (text_encoding.h). When that form opens the
// block, it is left in `password`, so that the rest of the operation uses
// it; when neither does, the first failure is the one returned.
CodecResult decrypt_text_either_form(std::string_view text, const CipherSetup& setup, std::string& password,
                                     bool decompress);
// The same retry after a first attempt that the caller made itself.
CodecResult retry_with_other_form(CodecResult first, std::string_view text, const CipherSetup& setup,
                                  std::string& password, bool decompress);

// The same passes with a cipher that the caller has built and keyed for the
// suite already (the encryption command keys it before it reads the
// clipboard). The cipher serves exactly this one pass.
CodecResult encrypt_text(std::string_view plaintext, TBlockCipher& keyed, bool append_separators);
CodecResult decrypt_text(std::string_view text, TBlockCipher& keyed, bool decompress);

// What a whole text operation needs from the options.
struct CodecOptions {
    CipherSetup setup;
    bool hardcore = false;
    bool append_separators = false;
    bool decompress = true;
};

CodecOptions codec_options(const Settings& s);

// A whole text operation: one pass, or with Hardcore two, the second (outer)
// one with the fixed suite. Both passes take the same password. The inner
// block keeps its separators inside the outer one; decryption cuts them from
// the intermediate text, which no user has had the chance to cut. Each
// decryption pass tries the other form of the password as
// decrypt_text_either_form does.
CodecResult encrypt_message(std::string_view plaintext, std::string_view password, const CodecOptions& options);
CodecResult decrypt_message(std::string_view text, std::string_view password, const CodecOptions& options);

}  // namespace morvantile
