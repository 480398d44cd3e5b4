// Compression of plaintext before encryption, as a plain zlib stream
// (2-byte header, deflate data, Adler-32), with nothing added around it.
// Failures throw ECompressionError / EDecompressionError (message "error").
#pragma once

#include <cstddef>
#include <string>

#include <zlib.h>

#include "stream.h"

namespace morvantile {

// A zlib stream set up the one way Morvantile writes them (level 9, 15-bit
// window, memLevel 8, default strategy; header 78 DA), or for reading one.
// `raw` leaves out the header and the checksum, for the blocks that the
// parallel compressor puts together into one stream itself. zlib's window
// and tables hold plaintext, so its memory is wiped before it is freed.
// Setting up throws ECompressionError / EDecompressionError.
struct Deflater {
    z_stream zs{};
    explicit Deflater(bool raw = false);
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
};

struct Inflater {
    z_stream zs{};
    Inflater();
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
};

// Deflates n bytes at level 9 (15-bit window, memLevel 8, default strategy;
// header 78 DA) and returns the complete zlib stream.
std::string compress_buffer(const void* in, std::size_t n);

// Inflates one zlib stream from the n bytes at `in`; header and checksum
// are checked and bytes after the end of the stream are ignored. `estimate`
// is the expected output size, 0 if unknown. Input that ends before the
// stream does, or that needs a preset dictionary, is an error.
std::string decompress_buffer(const void* in, std::size_t n, std::size_t estimate = 0);

// Inflates one zlib stream, as decompress_buffer, into at most `limit`
// bytes; a stream that would give more throws EDecompressedTooLarge. The
// stream is inflated twice: first only to count its output in a small
// buffer, then into a buffer of exactly that size. A block a few MiB long
// can inflate to gigabytes, and this way the memory taken is what the
// caller allows, never more, and nothing large is allocated for data that
// turns out to be no zlib stream (a wrong password).
std::string decompress_buffer_limited(const void* in, std::size_t n, std::size_t limit);

// Inputs of at least this size are compressed on all cores (a long text
// takes seconds at level 9); shorter ones in one stream on this thread.
inline constexpr std::size_t kParallelCompressionThreshold = std::size_t{1} << 20;

// Compresses the whole of `src`, from position 0 whatever its position, and
// writes the result at the current position of `dst`. From
// kParallelCompressionThreshold bytes on with compress_buffer_parallel
// (parallel_deflate.h), below it with compress_buffer.
void compress_stream(TStream& src, TStream& dst);

// Decompresses `src` from its current position to its end, writes the
// result at the current position of `dst`, then sets `dst` to position 0
// (also when `src` had nothing left). On failure nothing is written and
// `dst` keeps its position.
void decompress_stream(TStream& src, TStream& dst);
// The same with the limit of decompress_buffer_limited.
void decompress_stream_limited(TStream& src, TStream& dst, std::size_t limit);

}  // namespace morvantile
