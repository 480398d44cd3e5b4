#include "compression.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <limits>

#include <zlib.h>

#include "errors.h"
#include "parallel_deflate.h"
#include "wipe.h"

namespace morvantile {

namespace {

// zlib counts in uInt; larger buffers are handed over in pieces.
constexpr std::size_t kMaxZChunk = std::numeric_limits<uInt>::max();
// Streams count in uint32; whole buffers move in pieces of this size.
constexpr std::size_t kStreamChunk = std::size_t{1} << 30;

constexpr std::size_t round_up_256(std::size_t n) { return (n + 255) / 256 * 256; }

// Enlarges `buf` to `new_size`, keeping its first `used` bytes. The copy is
// made by hand so the old block can be wiped before it is freed.
void grow(std::string& buf, std::size_t used, std::size_t new_size) {
    std::string bigger(new_size, '\0');
    std::copy_n(buf.data(), used, bigger.data());
    wipe_string(buf);
    buf.swap(bigger);
}

// Cuts `buf` to `len` bytes; when that would leave much unused memory, moves
// the bytes to a block of the right size and wipes the old one.
void fit(std::string& buf, std::size_t len) {
    if (buf.capacity() - len > len / 8 + 4096) {
        std::string tight(buf.data(), len);
        wipe_string(buf);
        buf.swap(tight);
    } else {
        secure_zero(buf.data() + len, buf.size() - len);
        buf.resize(len);
    }
}

// Gives zlib the next piece of input once it has used up the last one.
void feed(z_stream& zs, const Bytef*& next, std::size_t& left) {
    if (zs.avail_in != 0 || left == 0) return;
    const std::size_t piece = std::min(left, kMaxZChunk);
    zs.next_in = const_cast<Bytef*>(next);
    zs.avail_in = static_cast<uInt>(piece);
    next += piece;
    left -= piece;
}

// Points zlib at the free part of `buf` after `produced` bytes.
void set_output(z_stream& zs, std::string& buf, std::size_t produced) {
    zs.next_out = reinterpret_cast<Bytef*>(buf.data()) + produced;
    zs.avail_out = static_cast<uInt>(std::min(buf.size() - produced, kMaxZChunk));
}

std::string read_exactly(TStream& src, std::size_t count) {
    std::string buf(count, '\0');
    std::size_t got = 0;
    try {
        while (got < count) {
            const auto piece = static_cast<std::uint32_t>(std::min(count - got, kStreamChunk));
            const std::uint32_t r = src.read(buf.data() + got, piece);
            if (r == 0) break;
            got += r;
        }
    } catch (...) {
        wipe_string(buf);
        throw;
    }
    buf.resize(got);
    return buf;
}

void write_all(TStream& dst, const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const auto piece = static_cast<std::uint32_t>(std::min(bytes.size() - done, kStreamChunk));
        dst.write(bytes.data() + done, piece);
        done += piece;
    }
}

// Each block carries its size in front of it, for the wipe.
voidpf wiping_alloc(voidpf, uInt items, uInt size) {
    const std::size_t n = std::size_t{items} * size;
    auto* block = static_cast<std::max_align_t*>(std::malloc(n + sizeof(std::max_align_t)));
    if (block == nullptr) return Z_NULL;
    *reinterpret_cast<std::size_t*>(block) = n;
    return block + 1;
}

void wiping_free(voidpf, voidpf address) {
    auto* block = static_cast<std::max_align_t*>(address) - 1;
    secure_zero(address, *reinterpret_cast<std::size_t*>(block));
    std::free(block);
}

}  // namespace

Deflater::Deflater(bool raw) {
    zs.zalloc = wiping_alloc;
    zs.zfree = wiping_free;
    if (deflateInit2(&zs, 9, Z_DEFLATED, raw ? -15 : 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw ECompressionError();
}

Deflater::~Deflater() { deflateEnd(&zs); }

Inflater::Inflater() {
    zs.zalloc = wiping_alloc;
    zs.zfree = wiping_free;
    if (inflateInit(&zs) != Z_OK) throw EDecompressionError();
}

Inflater::~Inflater() { inflateEnd(&zs); }

std::string compress_buffer(const void* in, std::size_t n) {
    Deflater deflater;
    z_stream& zs = deflater.zs;

    const auto* next = static_cast<const Bytef*>(in);
    std::size_t left = n;
    std::size_t produced = 0;
    std::string out;
    try {
        // Room for incompressible input plus zlib's overhead, so one pass
        // normally suffices.
        out.assign(round_up_256(n + n / 10 + 12), '\0');
        for (;;) {
            feed(zs, next, left);
            if (produced == out.size()) grow(out, produced, out.size() * 2);
            set_output(zs, out, produced);
            const uInt room = zs.avail_out;
            const int rc = deflate(&zs, left == 0 ? Z_FINISH : Z_NO_FLUSH);
            produced += room - zs.avail_out;
            if (rc == Z_STREAM_END) break;
            if (rc < 0) throw ECompressionError();
        }
        fit(out, produced);
    } catch (...) {
        wipe_string(out);
        throw;
    }
    return out;
}

std::string decompress_buffer(const void* in, std::size_t n, std::size_t estimate) {
    Inflater inflater;
    z_stream& zs = inflater.zs;

    const auto* next = static_cast<const Bytef*>(in);
    std::size_t left = n;
    std::size_t produced = 0;
    // At least one page, so empty input still gets a usable buffer.
    const std::size_t step = std::max<std::size_t>(round_up_256(n), 256);
    std::string out;
    try {
        out.assign(estimate != 0 ? estimate : step, '\0');
        for (;;) {
            feed(zs, next, left);
            // Geometric growth keeps highly compressible input linear; the
            // fixed step is the least it grows by.
            if (produced == out.size()) grow(out, produced, out.size() + std::max(step, out.size()));
            set_output(zs, out, produced);
            const uInt room = zs.avail_out;
            const int rc = inflate(&zs, Z_NO_FLUSH);
            produced += room - zs.avail_out;
            if (rc == Z_STREAM_END) break;
            // Z_BUF_ERROR means no progress was possible; with output room
            // left that is input ending early. A preset dictionary is never
            // used by Morvantile, so asking for one means foreign data.
            if (rc < 0 || rc == Z_NEED_DICT) throw EDecompressionError();
            // All input used, room to spare, and still no end: truncated.
            if (zs.avail_in == 0 && left == 0 && zs.avail_out != 0) throw EDecompressionError();
        }
        fit(out, produced);
    } catch (...) {
        wipe_string(out);
        throw;
    }
    return out;
}

std::string decompress_buffer_limited(const void* in, std::size_t n, std::size_t limit) {
    std::size_t total = 0;
    {
        Inflater inflater;
        z_stream& zs = inflater.zs;
        const auto* next = static_cast<const Bytef*>(in);
        std::size_t left = n;
        std::string scratch(std::size_t{64} << 10, '\0');
        try {
            for (;;) {
                feed(zs, next, left);
                zs.next_out = reinterpret_cast<Bytef*>(scratch.data());
                zs.avail_out = static_cast<uInt>(scratch.size());
                const int rc = inflate(&zs, Z_NO_FLUSH);
                total += scratch.size() - zs.avail_out;
                if (total > limit) throw EDecompressedTooLarge();
                if (rc == Z_STREAM_END) break;
                if (rc < 0 || rc == Z_NEED_DICT) throw EDecompressionError();
                if (zs.avail_in == 0 && left == 0 && zs.avail_out != 0) throw EDecompressionError();
            }
        } catch (...) {
            wipe_string(scratch);
            throw;
        }
        wipe_string(scratch);
    }
    // The second run gives exactly `total` bytes into room of that size
    // (one byte more, so that zlib never stops for room before it has
    // checked the stream's end).
    return decompress_buffer(in, n, total + 1);
}

void compress_stream(TStream& src, TStream& dst) {
    src.set_position(0);
    const std::int64_t size = src.size();
    WipedString plain;
    plain.s = read_exactly(src, size > 0 ? static_cast<std::size_t>(size) : 0);
    WipedString packed;
    packed.s = plain.s.size() >= kParallelCompressionThreshold
                   ? compress_buffer_parallel(plain.s.data(), plain.s.size())
                   : compress_buffer(plain.s.data(), plain.s.size());
    write_all(dst, packed.s);
}

void decompress_stream(TStream& src, TStream& dst) {
    decompress_stream_limited(src, dst, std::numeric_limits<std::size_t>::max());
}

void decompress_stream_limited(TStream& src, TStream& dst, std::size_t limit) {
    const std::int64_t count = src.size() - src.position();
    if (count > 0) {
        WipedString packed;
        packed.s = read_exactly(src, static_cast<std::size_t>(count));
        WipedString plain;
        plain.s = limit == std::numeric_limits<std::size_t>::max()
                      ? decompress_buffer(packed.s.data(), packed.s.size())
                      : decompress_buffer_limited(packed.s.data(), packed.s.size(), limit);
        write_all(dst, plain.s);
    }
    dst.set_position(0);
}

}  // namespace morvantile
