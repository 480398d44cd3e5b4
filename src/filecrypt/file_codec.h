// File mode: a whole file encrypted as one piece. An encrypted file is
// exactly the raw cipher output of the chosen suite over the zlib stream of
// the file (level 9); there is no header, so the reader must know the suite
// and the password. Hardcore, separators and "no decompress" belong to the
// text form only and never apply here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cipher/catalogue.h"

namespace morvantile {

inline constexpr std::string_view kFileNotFound = "File doesn't exist - check filename";
inline constexpr std::string_view kFileOverwriteSource = "Overwriting source file not permitted.";
inline constexpr std::string_view kFileStreamCreation = "Stream creation error!\r\n";  // + file name
inline constexpr std::string_view kFileCompressFailed = "Failed to compress file!";
inline constexpr std::string_view kFileEncryptFailed = "Failed to encrypt file!";
inline constexpr std::string_view kFileDecryptFailed =
    "Failed to decrypt file!\r\nIs the file encrypted?\r\nDid you type the correct password?\r\n"
    "Are your encryption settings correct?";
inline constexpr std::string_view kFileDecompressFailed =
    "Failed to decompress file!\r\nIs the file encrypted?\r\nDid you type the correct password?\r\n"
    "Are your encryption settings correct?";

// Both return nullopt on success, else the message to show. `out_path`
// must not name `in_path` (by path, link or another route to the same
// file). The result is written to a temporary file beside `out_path` and
// renamed over it only when complete, so a failure (a wrong password
// included) leaves an existing `out_path` as it was and creates nothing.
// A symbolic link at `out_path` has its target replaced, not the link.
std::optional<std::string> encrypt_file(const std::string& in_path, const std::string& out_path,
                                        const CipherSetup& setup, std::string_view password);
std::optional<std::string> decrypt_file(const std::string& in_path, const std::string& out_path,
                                        const CipherSetup& setup, std::string_view password);

}  // namespace morvantile
