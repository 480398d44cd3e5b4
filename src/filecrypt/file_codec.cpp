#include "filecrypt/file_codec.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sys/stat.h>

#include "cipher/compression.h"
#include "cipher/wipe.h"
#include "textcrypt/keyed_cipher.h"
#include "textcrypt/text_encoding.h"

namespace morvantile {

namespace {

// The cipher's stream chunk. Every call but the last gets a whole number of
// these, which leaves the chaining state exactly where encrypt_stream over
// the whole zlib stream would leave it.
constexpr std::size_t kCipherChunk = 8192;
static_assert(kFileIoChunk % kCipherChunk == 0);
constexpr std::uint64_t kPumpInterval = std::uint64_t{4} << 20;
// ... or after this long, whichever comes first: a level-9 deflate on one
// core takes most of a second for 4 MiB.
constexpr std::chrono::milliseconds kPumpTurn{100};
// How often a wait for the compressing threads is broken for the desktop.
constexpr std::chrono::milliseconds kWaitTurn{50};

// A piece of plaintext, compressed or encrypted data, wiped at the end.
class SecretBuffer {
public:
    SecretBuffer() : bytes_(new std::uint8_t[kFileIoChunk]) {}
    ~SecretBuffer() { secure_zero(bytes_.get(), kFileIoChunk); }
    std::uint8_t* data() { return bytes_.get(); }
    static constexpr std::size_t size() { return kFileIoChunk; }

private:
    std::unique_ptr<std::uint8_t[]> bytes_;
};

// Runs `step`, reporting any failure in it as a failure of `stage`.
template <class Step>
auto at(CodecStage stage, Step step) -> decltype(step()) {
    try {
        return step();
    } catch (const EFileCodecError&) {
        throw;  // from a step nested in this one (the compressor's output)
    } catch (const EFileError& e) {
        throw EFileCodecError(stage, e.error());
    } catch (...) {
        throw EFileCodecError(stage);
    }
}

// Calls the pump after every kPumpInterval bytes read or written (a small
// compressed file can inflate to a large one) or kPumpTurn, and passes on
// the progress through the source of `total` bytes.
class Pacer {
public:
    Pacer(const CodecEvents& events, std::uint64_t total)
        : events_(events), meter_(total, events.progress, events.progress_interval),
          last_pump_(std::chrono::steady_clock::now()) {}
    void moved(std::size_t n) {
        since_ += n;
        const auto now = std::chrono::steady_clock::now();
        if (since_ >= kPumpInterval || now - last_pump_ >= kPumpTurn) pump(now);
    }
    // While the compressing threads are waited for.
    void waiting(std::uint64_t done) {
        pump(std::chrono::steady_clock::now());
        meter_.update(done);
    }
    void done(std::uint64_t n) { meter_.update(n); }
    void second_step() {
        if (started_) return;
        started_ = true;
        if (events_.second_step) events_.second_step();
    }

private:
    void pump(std::chrono::steady_clock::time_point now) {
        since_ = 0;
        last_pump_ = now;
        if (events_.pump) events_.pump();
    }

    const CodecEvents& events_;
    ProgressMeter meter_;
    std::chrono::steady_clock::time_point last_pump_;
    std::uint64_t since_ = 0;
    bool started_ = false;
};

}  // namespace

std::string_view codec_failure_message(bool encrypting, CodecStage stage) {
    if (encrypting) {
        switch (stage) {
            case CodecStage::ReadSource:
            case CodecStage::Compress: return kFileCompressFailed;
            case CodecStage::Encrypt: return kFileEncryptFailed;
            default: return kFileEncryptIoError;
        }
    }
    switch (stage) {
        case CodecStage::Decrypt: return kFileDecryptFailed;
        case CodecStage::Decompress: return kFileDecompressFailed;
        default: return kFileDecryptIoError;
    }
}

std::string codec_failure_text(bool encrypting, const EFileCodecError& e) {
    std::string text(codec_failure_message(encrypting, e.stage));
    if (e.error != 0) text += "\r\n" + system_reason(e.error);
    return text;
}

void encrypt_file_data(File& source, File& destination, TBlockCipher& cipher, const CodecEvents& events,
                       const DeflateOptions& deflate) {
    const std::uint64_t total = at(CodecStage::ReadSource, [&] { return source.size(); });
    SecretBuffer in, out;
    Pacer pacer(events, total);
    // The cipher gets whole buffers of compressed bytes, and only the last
    // one short, whatever pieces the compressor hands on.
    std::size_t pending = 0;  // compressed bytes at the start of `out`
    auto emit = [&](std::size_t n) {
        at(CodecStage::Encrypt, [&] { cipher.encrypt(out.data(), out.data(), static_cast<std::uint32_t>(n)); });
        at(CodecStage::WriteDestination, [&] { destination.write(out.data(), n); });
        pacer.moved(n);
    };
    auto sink = [&](const std::uint8_t* data, std::size_t size) {
        while (size > 0) {
            const std::size_t piece = std::min(size, out.size() - pending);
            std::memcpy(out.data() + pending, data, piece);
            pending += piece;
            data += piece;
            size -= piece;
            if (pending == out.size()) {
                emit(pending);
                pending = 0;
            }
        }
    };
    std::optional<ParallelDeflater> deflater;
    at(CodecStage::Compress, [&] {
        deflater.emplace(sink, deflate, [&] { pacer.waiting(deflater->delivered()); }, kWaitTurn);
    });
    for (;;) {
        const std::size_t got = at(CodecStage::ReadSource, [&] { return source.read(in.data(), in.size()); });
        if (got > 0) at(CodecStage::Compress, [&] { deflater->write(in.data(), got); });
        pacer.moved(got);
        pacer.done(deflater->delivered());
        // A short read is the end of the file.
        if (got < in.size()) break;
    }
    pacer.second_step();
    at(CodecStage::Compress, [&] { deflater->finish(); });
    if (pending > 0) emit(pending);
}

void decrypt_file_data(File& source, File& destination, TBlockCipher& cipher, const CodecEvents& events) {
    std::optional<Inflater> inflater;
    at(CodecStage::Decompress, [&] { inflater.emplace(); });
    z_stream& zs = inflater->zs;
    const std::uint64_t total = at(CodecStage::ReadSource, [&] { return source.size(); });
    SecretBuffer in, out;
    Pacer pacer(events, total);
    std::uint64_t read = 0;
    for (;;) {
        const std::size_t got = at(CodecStage::ReadSource, [&] { return source.read(in.data(), in.size()); });
        // The stream has not ended, so the file is cut short; an empty file
        // is no zlib stream at all.
        if (got == 0) throw EFileCodecError(CodecStage::Decompress);
        read += got;
        at(CodecStage::Decrypt, [&] { cipher.decrypt(in.data(), in.data(), static_cast<std::uint32_t>(got)); });
        pacer.second_step();
        zs.next_in = in.data();
        zs.avail_in = static_cast<uInt>(got);
        for (;;) {
            zs.next_out = out.data();
            zs.avail_out = static_cast<uInt>(out.size());
            const int rc = inflate(&zs, Z_NO_FLUSH);
            // A preset dictionary is never used by Morvantile, so asking for
            // one means foreign data.
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) throw EFileCodecError(CodecStage::Decompress);
            const std::size_t produced = out.size() - zs.avail_out;
            if (produced > 0) at(CodecStage::WriteDestination, [&] { destination.write(out.data(), produced); });
            pacer.moved(produced);
            // Whatever follows the end of the stream is not part of it.
            if (rc == Z_STREAM_END) return;
            if (zs.avail_out != 0) break;  // this piece is used up
        }
        pacer.moved(got);
        pacer.done(read);
    }
}

// ---- The command-line tool's file commands

namespace {

using Failure = std::optional<std::string>;

PosixFileSystem& posix() {
    static PosixFileSystem fs;
    return fs;
}

std::string stream_error(const std::string& name, const std::exception& e) {
    return std::string(kFileStreamCreation) + name + reason_line(e);
}

// The source must be a regular file, and must not be reachable as the
// destination through any path: replacing it would destroy the only copy.
// The destination must be something a regular file may replace.
Failure check_paths(const std::string& in, const std::string& out) {
    struct stat st {};
    if (::stat(in.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return std::string(kFileNotFound);
        return stream_error(in, EFileError(in, errno));
    }
    if (std::optional<std::string> kind = special_file_kind(in)) return not_a_regular_file(in, *kind);
    const FileId source{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    if (in == out || posix().identity(out) == source) return std::string(kFileOverwriteSource);
    if (std::optional<std::string> kind = special_file_kind(out)) return not_a_regular_file(out, *kind);
    return std::nullopt;
}

// The destination while it is written: a pending file in the folder of the
// destination, which gets the destination's name only in commit().
class PendingOutput {
public:
    explicit PendingOutput(const std::string& out) : target_(out) {
        std::error_code ec;
        if (std::filesystem::is_symlink(out, ec)) {
            const auto resolved = std::filesystem::weakly_canonical(out, ec);
            if (!ec) target_ = resolved.string();
        }
    }

    // Forgets what has been written so far.
    void discard() { file_.reset(); }

    File& open() {
        file_ = posix().create_pending(target_);
        return *file_;
    }

    void commit() {
        file_->sync();
        file_->link(target_, true);
        file_->close();
        // The file is complete under its name; a folder that cannot be
        // synced only risks the name in a crash, which leaves OUT as it was.
        try {
            posix().sync_folder(target_);
        } catch (const EFileError&) {
        }
    }

private:
    std::string target_;
    std::unique_ptr<PendingFile> file_;
};

template <class Codec>
Failure file_command(const std::string& in, const std::string& out, const CipherSetup& setup,
                     std::string_view password, bool encrypting, const FileCommandOptions& options, Codec codec) {
    if (Failure f = check_paths(in, out)) return f;
    PendingOutput dest(out);
    auto attempt = [&](std::string_view key) -> Failure {
        std::unique_ptr<File> source;
        try {
            source = posix().open_read(in);
        } catch (const EFileError& e) {
            return stream_error(in, e);
        }
        File* file = nullptr;
        try {
            file = &dest.open();
        } catch (const EFileError& e) {
            return stream_error(out, e);
        }
        KeyedCipher cipher;
        if (cipher.key(setup, key)) return std::string(encrypting ? kFileEncryptFailed : kFileDecryptFailed);
        std::string stage(encrypting ? kHintCompressing : kHintDecrypting);
        auto show = [&](std::string_view text) {
            if (options.progress) options.progress(text);
        };
        const CodecEvents events{[&] {
                                     stage = encrypting ? kHintEncrypting : kHintDecompressing;
                                     show(stage);
                                 },
                                 {},
                                 [&](int percent) { show(progress_text(stage, percent)); }};
        show(stage);
        try {
            codec(*source, *file, *cipher, events);
        } catch (const EFileCodecError& e) {
            return codec_failure_text(encrypting, e);
        } catch (const std::exception& e) {
            return std::string(encrypting ? kFileEncryptIoError : kFileDecryptIoError) + reason_line(e);
        }
        return std::nullopt;
    };
    Failure failure = attempt(password);
    if (failure == kFileDecompressFailed) {
        // A file made under the other form of a password with characters
        // outside ASCII (its Windows-1252 or its UTF-8 bytes) opens too.
        if (std::optional<std::string> other = other_password_form(password)) {
            WipedString other_form(std::move(*other));
            dest.discard();
            if (!attempt(other_form.s)) failure.reset();
        }
    }
    if (failure) return failure;
    try {
        dest.commit();
    } catch (const std::exception& e) {
        return stream_error(out, e);
    }
    return std::nullopt;
}

}  // namespace

Failure encrypt_file(const std::string& in_path, const std::string& out_path, const CipherSetup& setup,
                     std::string_view password, const FileCommandOptions& options) {
    return file_command(in_path, out_path, setup, password, true, options,
                        [&](File& source, File& destination, TBlockCipher& cipher, const CodecEvents& events) {
                            encrypt_file_data(source, destination, cipher, events, options.deflate);
                        });
}

Failure decrypt_file(const std::string& in_path, const std::string& out_path, const CipherSetup& setup,
                     std::string_view password, const FileCommandOptions& options) {
    return file_command(in_path, out_path, setup, password, false, options,
                        [](File& source, File& destination, TBlockCipher& cipher, const CodecEvents& events) {
                            decrypt_file_data(source, destination, cipher, events);
                        });
}

}  // namespace morvantile
