// The text form of encrypted data: MIME-style base64 in lines of 68
// characters (51 input bytes) separated by CR LF. The layout is shared with
// other builds of Morvantile, so stored and pasted texts must come out
// character for character the same; see mime_encode_stream for the one
// irregular case.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "stream.h"

namespace morvantile {

// Bytes per text line and the characters they become (without CR LF).
inline constexpr std::uint32_t kMimeLineBytes = 51;
inline constexpr std::uint32_t kMimeLineChars = 68;
// One encoding step: 48 lines.
inline constexpr std::uint32_t kMimeChunkBytes = 48 * kMimeLineBytes;        // 2448
inline constexpr std::uint32_t kMimeChunkChars = 48 * (kMimeLineChars + 2);  // 3360

// Length of the text for n bytes when the last line has no CR LF after it:
// 0 for n = 0, else (n + 2) div 3 * 4 + (n - 1) div 51 * 2. Meant for the
// sizes the codec works with (the result wraps beyond about 3 GB).
std::uint32_t mime_encoded_size(std::uint32_t n);

// Writes n div 51 lines of 68 characters, each followed by CR LF, to `out`
// (n div 51 * 70 characters). Writes nothing when n < 51; any bytes past the
// last full line are not looked at.
void mime_encode_full_lines(const std::uint8_t* in, std::uint32_t n, char* out);

// Writes the padded base64 of n bytes without line breaks
// ((n + 2) div 3 * 4 characters).
void mime_encode_no_crlf(const std::uint8_t* in, std::uint32_t n, char* out);

// Encodes `in` from its current position to its end and writes the text at
// the current position of `out`. Lines are 68 characters separated by CR LF;
// the last line has no CR LF after it, except when the input length is a
// positive multiple of 2448 bytes, where the text ends with CR LF.
void mime_encode_stream(TStream& in, TStream& out);

// Decoder state carried between pieces of text: the characters of the
// current group (accumulated 6 bits each) and how many are still missing.
struct MimeDecodeState {
    std::uint32_t accumulator = 0;
    std::uint32_t missing = 4;
};

// Decodes `count` characters, skipping everything outside the base64
// alphabet (line breaks, spaces, quote marks, "=" ...), and returns the
// number of bytes written to `out`. `out` must have room for
// (count + 3) div 4 * 3 bytes.
std::uint32_t mime_decode_partial(const char* in, std::uint32_t count, std::uint8_t* out,
                                  MimeDecodeState& st);

// Flushes a final incomplete group: three characters give two bytes, two
// give one, one gives nothing. Returns the bytes written (at most 2).
std::uint32_t mime_decode_partial_end(std::uint8_t* out, MimeDecodeState& st);

// Decodes `in` from its current position to its end and writes the bytes at
// the current position of `out`. Nothing in the text is rejected, and "="
// does not end the data.
void mime_decode_stream(TStream& in, TStream& out);

// Whole-string forms of the two stream functions.
std::string mime_encode(std::string_view bytes);
std::string mime_decode(std::string_view text);

}  // namespace morvantile
