// File mode's data path. An encrypted file is exactly the raw cipher output
// of the chosen suite over the zlib stream of the file (level 9); there is
// no header, so the reader must know the suite and the password. Hardcore,
// separators and "no decompress" belong to the text form only and never
// apply here.
//
// Files go through in bounded memory: encryption deflates (on all cores,
// parallel_deflate.h), encrypts and writes as it reads; decryption
// decrypts, inflates and writes as it reads, so a wrong password is noticed
// in the first piece of the file. The bytes are the same as when the whole
// file is compressed first (by the same compressor) and then encrypted in
// one stream, whatever the size.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "cipher/catalogue.h"
#include "cipher/parallel_deflate.h"
#include "filecrypt/file_system.h"
#include "filecrypt/progress.h"

namespace morvantile {

inline constexpr std::string_view kFileNotFound = "File doesn't exist - check filename";
inline constexpr std::string_view kFileStreamCreation = "Stream creation error!\r\n";  // + file name
inline constexpr std::string_view kFileCompressFailed = "Failed to compress file!";
inline constexpr std::string_view kFileEncryptFailed = "Failed to encrypt file!";
inline constexpr std::string_view kFileEncryptIoError = "Encryption Filestream/IO error!";
inline constexpr std::string_view kFileDecryptFailed =
    "Failed to decrypt file!\r\nIs the file encrypted?\r\nDid you type the correct password?\r\n"
    "Are your encryption settings correct?";
inline constexpr std::string_view kFileDecompressFailed =
    "Failed to decompress file!\r\nIs the file encrypted?\r\nDid you type the correct password?\r\n"
    "Are your encryption settings correct?";
inline constexpr std::string_view kFileDecryptIoError = "Decryption Filestream/IO error!";

// The source and the destination are read and written in pieces of this
// size; a multiple of the cipher's 8192-byte stream chunk.
inline constexpr std::size_t kFileIoChunk = 256 * 1024;

// Where a file's way through the codec broke off.
enum class CodecStage { ReadSource, Compress, Encrypt, Decrypt, Decompress, WriteDestination };

class EFileCodecError : public std::runtime_error {
public:
    explicit EFileCodecError(CodecStage s, int system_error = 0)
        : std::runtime_error("file codec"), stage(s), error(system_error) {}
    CodecStage stage;
    int error;  // the errno of a read or write that failed, else 0
};

// The message for a stage. Read and write errors are reported as such,
// never as a wrong password; an unreadable source while encrypting is
// "Failed to compress file!".
std::string_view codec_failure_message(bool encrypting, CodecStage stage);
// The same with the system's reason on a line of its own, when there is one
// ("No space left on device").
std::string codec_failure_text(bool encrypting, const EFileCodecError& e);

// The hints of the two steps of each direction.
inline constexpr std::string_view kHintCompressing = "Encrypting file: compressing...";
inline constexpr std::string_view kHintEncrypting = "Encrypting file: encrypting...";
inline constexpr std::string_view kHintDecrypting = "Decrypting file: decrypting...";
inline constexpr std::string_view kHintDecompressing = "Decrypting file: decompressing...";

struct CodecEvents {
    // Once, when the second step takes over: while encrypting when the
    // whole source has gone to the compressor and what is left is
    // encrypting and writing its last blocks; while decrypting when the
    // first data reaches the inflater.
    std::function<void()> second_step;
    // Every few MiB read or written, and several times a second while the
    // compressing threads are waited for, so that the desktop keeps
    // responding.
    std::function<void()> pump;
    // The share of the source done, in percent (ProgressMeter: never 0 or
    // 100), at most once per `progress_interval`.
    std::function<void(int percent)> progress;
    std::chrono::milliseconds progress_interval = kProgressInterval;
};

// The whole of `source` into `destination` through `cipher`, a keyed cipher
// object used for this one file, compressed as `deflate` says. Throw
// EFileCodecError (a failure of a compressing thread is Compress); the
// destination is written but not synced or closed.
void encrypt_file_data(File& source, File& destination, TBlockCipher& cipher, const CodecEvents& events = {},
                       const DeflateOptions& deflate = {});
// Bytes after the end of the zlib stream are ignored as long as they do not
// change how the stream itself decrypts (in the CBC and CFB modes bytes
// added after a final partial block do); a source that ends before the
// stream does (an empty one included) fails at Decompress.
void decrypt_file_data(File& source, File& destination, TBlockCipher& cipher, const CodecEvents& events = {});

// The command-line tool's file commands. Both return nullopt on success,
// else the message to show. `in_path` must be a regular file; `out_path`
// must not name `in_path` (by path, link or another route to the same
// file) and must not be a folder, a FIFO, a device or a link to nothing.
// The result is written to a pending file (file_system.h) in the folder of
// `out_path` and given that name only when complete and flushed to the
// disk, so a failure (a wrong password included), an interruption or a
// kill leaves an existing `out_path` as it was and creates nothing. A
// symbolic link at `out_path` has its target replaced, not the link. A file
// that does not decompress under `password` is tried once more with the
// password's other form (text_encoding.h).
inline constexpr std::string_view kFileOverwriteSource = "Overwriting source file not permitted.";
struct FileCommandOptions {
    DeflateOptions deflate;  // encryption only
    // The hint of each step, and while it runs the hint with the
    // percentage done, at most once per kProgressInterval.
    std::function<void(std::string_view text)> progress;
};
std::optional<std::string> encrypt_file(const std::string& in_path, const std::string& out_path,
                                        const CipherSetup& setup, std::string_view password,
                                        const FileCommandOptions& options = {});
std::optional<std::string> decrypt_file(const std::string& in_path, const std::string& out_path,
                                        const CipherSetup& setup, std::string_view password,
                                        const FileCommandOptions& options = {});

}  // namespace morvantile
