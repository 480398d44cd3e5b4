// Level-9 compression of large inputs on every core, as one ordinary zlib
// stream that any reader inflates (the Windows build included).
//
// The input is cut into blocks of kDeflateBlock bytes at fixed offsets.
// Worker threads deflate each block raw (level 9, 15-bit window, memory
// level 8) with the 32 KiB of input before it as preset dictionary, so a
// match can still reach back across the cut; every block but the last ends
// on a byte boundary with a sync flush, the last one finishes the stream.
// The owning thread writes the zlib header (78 DA), the blocks in order and
// the Adler-32 of the whole input, combined from the blocks' checksums.
//
// With several threads the bytes depend only on the input, never on how
// many threads there are or on how the caller splits its writes; an input
// of one block comes out as one plain zlib stream. With one thread there
// are no workers and no blocks: the input goes through one zlib stream on
// the calling thread, byte for byte what Morvantile has always written.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace morvantile {

inline constexpr std::size_t kDeflateBlock = 128 * 1024;
inline constexpr std::size_t kDeflateWindow = 32 * 1024;
// More threads than this gain little (the owning thread's encryption and
// writing, and the disk, become the limit) and would only hold more blocks
// in memory.
inline constexpr unsigned kMaxDeflateThreads = 16;
// Blocks handed to the workers and not yet written, per thread: one being
// deflated and one waiting, so no worker idles while the owner writes.
inline constexpr unsigned kBlocksPerThread = 2;

// The number of threads that `requested` stands for: 0 is the machine's
// cores; never more than kMaxDeflateThreads, never less than 1.
unsigned deflate_threads(unsigned requested);

struct DeflateOptions {
    // 0: the machine's cores. 1: one zlib stream on the calling thread.
    unsigned threads = 0;
    // Runs on the thread that deflates block `index` (from 0), before it
    // does; an exception thrown there fails the block as a zlib error
    // would. Lets the tests break a worker on purpose.
    std::function<void(std::uint64_t index)> before_block;
};

// Compresses what is written to it and hands the zlib stream, in order, to
// `sink` on the owning thread (the one that calls write and finish). Any
// failure of zlib or of a worker throws ECompressionError there; an
// exception from `sink` or `waiting` passes through as it is. After a
// failure the object is only good for destruction, which stops and joins
// the workers. All plaintext and compressed bytes it held are wiped.
class ParallelDeflater {
public:
    using Sink = std::function<void(const std::uint8_t* data, std::size_t size)>;

    // `waiting` is called on the owning thread about every `wait_turn`
    // while it waits for a worker, so that it can keep an event loop
    // turning or show progress.
    ParallelDeflater(Sink sink, const DeflateOptions& options = {}, std::function<void()> waiting = {},
                     std::chrono::milliseconds wait_turn = std::chrono::milliseconds(50));
    ~ParallelDeflater();
    ParallelDeflater(const ParallelDeflater&) = delete;
    ParallelDeflater& operator=(const ParallelDeflater&) = delete;

    void write(const void* data, std::size_t size);
    // Compresses the rest and writes the end of the stream; nothing may be
    // written afterwards.
    void finish();

    // Input bytes whose compressed form has reached the sink.
    std::uint64_t delivered() const;
    unsigned threads() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The whole zlib stream of n bytes, by a ParallelDeflater.
std::string compress_buffer_parallel(const void* in, std::size_t n, const DeflateOptions& options = {});

}  // namespace morvantile
