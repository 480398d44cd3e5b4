// The bytes that typed text and clipboard text become. Blocks carry no
// mark of their encoding, and the Windows build hashes passwords and
// encrypts text as Windows-1252 bytes; so do we wherever every character
// has a Windows-1252 byte, and fall back to UTF-8 only for text that has
// none (Cyrillic, Greek, Asian scripts...). The TextEncoding option can make
// it UTF-8 always. Decrypted bytes are read back as UTF-8 when they are
// valid UTF-8, otherwise as Windows-1252.
//
// A password that has characters outside ASCII thus has two forms, and a
// block made with the other one (by an earlier Linux build, or with
// TextEncoding set differently) would only ever say "wrong password":
// decryption tries the other form once when the first fails.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace morvantile {

// The TextEncoding option.
inline constexpr int kTextEncodingWindows1252 = 0;  // where every character has a byte
inline constexpr int kTextEncodingUtf8 = 1;         // always

bool is_valid_utf8(std::string_view bytes);

// Windows-1252 bytes as UTF-8. The five bytes the code page leaves
// unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) keep their C1 code points, so
// nothing is lost on the way back.
std::string windows1252_to_utf8(std::string_view bytes);

// The Windows-1252 bytes of UTF-8 text; nullopt when a character has no
// byte there or the text is not valid UTF-8.
std::optional<std::string> utf8_to_windows1252(std::string_view utf8);

// Text the user typed or copied (UTF-8) as the bytes that are hashed or
// encrypted: Windows-1252 when every character has a byte there (unless
// `text_encoding` says UTF-8 always), else the UTF-8 bytes unchanged. Bytes
// that are not valid UTF-8 are no typed text and stay as they are.
std::string typed_text_bytes(std::string_view utf8, int text_encoding);

// Bytes as text to show or put on the desktop's clipboard: themselves when
// they are valid UTF-8, else read as Windows-1252.
std::string bytes_as_text(std::string_view bytes);

// The other form of a password: the UTF-8 bytes of one kept as
// Windows-1252, or the Windows-1252 bytes of one kept as UTF-8. nullopt for
// an ASCII password (both forms are the same) and for one with characters
// that Windows-1252 lacks (it has only the UTF-8 form).
std::optional<std::string> other_password_form(std::string_view password);

}  // namespace morvantile
