#include "filecrypt/file_codec.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "cipher/compression.h"
#include "cipher/stream.h"
#include "textcrypt/keyed_cipher.h"

namespace morvantile {

namespace {

using Failure = std::optional<std::string>;

std::string stream_error(const std::string& name) { return std::string(kFileStreamCreation) + name; }

// The source must exist, and must not be reachable as the destination
// through any path: replacing it would destroy the only copy.
Failure check_paths(const std::string& in, const std::string& out) {
    struct stat si{}, so{};
    if (::stat(in.c_str(), &si) != 0)
        return errno == ENOENT || errno == ENOTDIR ? std::string(kFileNotFound) : stream_error(in);
    if (in == out || (::stat(out.c_str(), &so) == 0 && si.st_dev == so.st_dev && si.st_ino == so.st_ino))
        return std::string(kFileOverwriteSource);
    return std::nullopt;
}

// A cipher of the suite keyed from the password; a suite that cannot be
// keyed fails the step that uses it.
TBlockCipher& keyed(KeyedCipher& cipher, const CipherSetup& setup, std::string_view password) {
    if (cipher.key(setup, password)) throw ECipherError("no such suite");
    return *cipher;
}

// The destination while it is written: a temporary file in the folder of
// the destination (so the final rename cannot cross file systems), removed
// unless commit() has put it in place.
class PendingOutput {
public:
    explicit PendingOutput(const std::string& out) : target_(out) {
        std::error_code ec;
        if (std::filesystem::is_symlink(out, ec)) {
            const auto resolved = std::filesystem::weakly_canonical(out, ec);
            if (!ec) target_ = resolved.string();
        }
    }
    ~PendingOutput() {
        stream_.reset();
        if (!temp_.empty()) ::unlink(temp_.c_str());
    }

    TFileStream& open() {
        std::string folder = std::filesystem::path(target_).parent_path().string();
        std::string name = (folder.empty() ? "." : folder) + "/.morvantile-XXXXXX";
        const int fd = ::mkstemp(name.data());
        if (fd < 0) throw EStreamError("cannot create a temporary file");
        ::close(fd);
        temp_ = name;
        return stream_.emplace(temp_, TFileStream::Mode::ReadWrite);
    }

    void commit() {
        stream_->flush_to_disk();
        stream_->close();
        if (std::rename(temp_.c_str(), target_.c_str()) != 0) throw EStreamError("cannot rename");
        temp_.clear();
    }

private:
    std::string target_;
    std::string temp_;
    std::optional<TFileStream> stream_;
};

// Opens the source after the path checks; nullopt after setting `failure`.
std::optional<TFileStream> open_source(const std::string& in, const std::string& out, Failure& failure) {
    if ((failure = check_paths(in, out))) return std::nullopt;
    try {
        return std::optional<TFileStream>(std::in_place, in, TFileStream::Mode::Read);
    } catch (...) {
        failure = stream_error(in);
        return std::nullopt;
    }
}

// Fills the destination through `fill` and puts it in place; `failure`
// is the message for an exception from `fill`.
template <class Fill>
Failure write_output(const std::string& out, std::string_view failure, Fill fill) {
    PendingOutput dest(out);
    TFileStream* file = nullptr;
    try {
        file = &dest.open();
    } catch (...) {
        return stream_error(out);
    }
    try {
        fill(*file);
    } catch (...) {
        return std::string(failure);
    }
    try {
        dest.commit();
    } catch (...) {
        return stream_error(out);
    }
    return std::nullopt;
}

}  // namespace

Failure encrypt_file(const std::string& in_path, const std::string& out_path, const CipherSetup& setup,
                     std::string_view password) {
    Failure failure;
    std::optional<TFileStream> source = open_source(in_path, out_path, failure);
    if (!source) return failure;
    TMemoryStream packed;
    try {
        compress_stream(*source, packed);
    } catch (...) {
        return std::string(kFileCompressFailed);
    }
    return write_output(out_path, kFileEncryptFailed, [&](TFileStream& file) {
        packed.set_position(0);
        KeyedCipher cipher;
        keyed(cipher, setup, password).encrypt_stream(packed, file, packed.whole_size());
    });
}

Failure decrypt_file(const std::string& in_path, const std::string& out_path, const CipherSetup& setup,
                     std::string_view password) {
    Failure failure;
    std::optional<TFileStream> source = open_source(in_path, out_path, failure);
    if (!source) return failure;
    TMemoryStream decrypted;
    try {
        KeyedCipher cipher;
        keyed(cipher, setup, password).decrypt_stream(*source, decrypted, source->whole_size());
    } catch (...) {
        return std::string(kFileDecryptFailed);
    }
    // An empty file is no zlib stream, so it cannot be an encrypted file.
    TMemoryStream plain;
    try {
        if (decrypted.size() == 0) throw EDecompressionError();
        decrypted.set_position(0);
        decompress_stream(decrypted, plain);
    } catch (...) {
        return std::string(kFileDecompressFailed);
    }
    return write_output(out_path, stream_error(out_path), [&](TFileStream& file) { file.write(plain.data()); });
}

}  // namespace morvantile
