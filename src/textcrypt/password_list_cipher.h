// The stored form of one password-list entry: always the fixed suite
// (Rijndael, MD5, CBC) keyed from the list password, over the zlib stream of
// the entry, as one line of base64 (line breaks removed). Every entry has its
// own cipher object, so each starts from the same vector.
#pragma once

#include <string>
#include <string_view>

#include "textcrypt/error_reporter.h"

namespace morvantile {

// code 'e' turns an entry's text into its stored line, 'd' a stored line
// back into the entry's text; a line stored under the other form of a list
// password with characters outside ASCII (text_encoding.h) opens too.
// Returns an empty text when a step failed (after reporting that step's
// message; a line without any base64 fails as a wrong password does) and
// for an empty stored line.
std::string passwordlistencryption(std::string_view text, char code, std::string_view list_password,
                                   ErrorReporter& errors);

}  // namespace morvantile
