// Any file may be opened for decryption, with any suite: the first byte
// picks the suite, the rest is the file. Only EFileCodecError may come out
// of the codec, and with files that never fail to read or write it can
// only name the decryption or the decompression. A file that decrypts must
// come back unchanged from encrypting and decrypting what it gave.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "filecrypt/file_codec.h"
#include "textcrypt/keyed_cipher.h"

namespace {

// Stops keeping output beyond this: a small file may inflate a
// thousandfold, and the fuzzer may be given long inputs.
constexpr std::size_t kKeptOutput = std::size_t{64} << 20;

class MemoryFile final : public morvantile::File {
public:
    MemoryFile() = default;
    explicit MemoryFile(std::string_view bytes) : bytes_(bytes) {}

    std::size_t read(void* buffer, std::size_t count) override {
        if (closed_) __builtin_trap();
        const std::size_t n = std::min(count, bytes_.size() - pos_);
        if (n > 0) std::memcpy(buffer, bytes_.data() + pos_, n);
        pos_ += n;
        return n;
    }
    void write(const void* buffer, std::size_t count) override {
        if (closed_) __builtin_trap();
        written_ += count;
        if (written_ <= kKeptOutput) bytes_.append(static_cast<const char*>(buffer), count);
    }
    std::uint64_t size() override { return bytes_.size(); }
    void sync() override {}
    void close() override { closed_ = true; }

    // The whole output, unless it grew beyond what is kept.
    bool complete() const { return written_ <= kKeptOutput; }
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
    std::size_t pos_ = 0;
    std::uint64_t written_ = 0;
    bool closed_ = false;
};

constexpr std::string_view kPassword = "fuzz";

// A cipher for one file, as file mode keys it.
void key(morvantile::KeyedCipher& cipher, const morvantile::CipherSetup& setup) {
    if (cipher.key(setup, kPassword) || !cipher.ready()) __builtin_trap();
}

// The codec's result: true when the file decrypted, false on
// EFileCodecError of the decryption or decompression; anything else traps.
bool decrypt(std::string_view file, MemoryFile& out, const morvantile::CipherSetup& setup) {
    morvantile::KeyedCipher cipher;
    key(cipher, setup);
    MemoryFile in(file);
    int second_steps = 0;
    morvantile::CodecEvents events;
    events.second_step = [&] { ++second_steps; };
    bool ok = false;
    try {
        morvantile::decrypt_file_data(in, out, *cipher, events);
        ok = true;
    } catch (const morvantile::EFileCodecError& e) {
        if (e.stage != morvantile::CodecStage::Decrypt && e.stage != morvantile::CodecStage::Decompress)
            __builtin_trap();
    } catch (...) {
        __builtin_trap();
    }
    // The inflater is told of the data once, and not at all for an empty file.
    if (second_steps > 1 || (file.empty() && second_steps != 0)) __builtin_trap();
    if (file.empty() && ok) __builtin_trap();
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t pick = data[0];
    const morvantile::CipherSetup setup{static_cast<int>(pick % 9), static_cast<int>(pick / 9 % 6),
                                        static_cast<int>(pick / 54 % 5)};
    const std::string_view file(reinterpret_cast<const char*>(data + 1), size - 1);

    MemoryFile plain;
    if (!decrypt(file, plain, setup) || !plain.complete()) return 0;

    morvantile::KeyedCipher cipher;
    key(cipher, setup);
    MemoryFile source(plain.bytes()), encrypted;
    try {
        morvantile::encrypt_file_data(source, encrypted, *cipher);
    } catch (...) {
        __builtin_trap();
    }
    MemoryFile again;
    if (!decrypt(encrypted.bytes(), again, setup) || again.bytes() != plain.bytes()) __builtin_trap();
    return 0;
}
