// Any clipboard text may be handed to decryption: the first byte picks the
// suite and the decompression switch, the rest is the text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "textcrypt/text_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t pick = data[0];
    const morvantile::CipherSetup setup{static_cast<int>(pick % 9), static_cast<int>(pick / 9 % 6), static_cast<int>(pick / 54 % 5)};
    const bool decompress = pick % 7 != 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    morvantile::CodecResult r = morvantile::decrypt_text(text, setup, "fuzz", decompress);
    if (!r.ok() && r.message().empty()) __builtin_trap();
    return 0;
}
