#include "parallel_deflate.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <zlib.h>

#include "compression.h"
#include "errors.h"
#include "wipe.h"

namespace morvantile {

namespace {

static_assert(kDeflateBlock >= kDeflateWindow, "a block's dictionary lies within the block before it");

// Output room for one block: deflate at level 9 never grows incompressible
// data by more than a few bytes per stored block. Should a block ever need
// more, the room is enlarged.
constexpr std::size_t kBlockOutput = kDeflateBlock + kDeflateBlock / 8 + 64;
// The single-stream path hands its output on in pieces of this size.
constexpr std::size_t kSingleOutput = 64 * 1024;

// Bytes of plaintext or of its compressed form, wiped when freed.
class Secret {
public:
    explicit Secret(std::size_t n) : bytes_(new std::uint8_t[n]), size_(n) {}
    ~Secret() { secure_zero(bytes_.get(), size_); }
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    std::uint8_t* data() { return bytes_.get(); }
    std::size_t size() const { return size_; }
    // Twice the room, keeping the first `used` bytes.
    void grow(std::size_t used) {
        Secret bigger(size_ * 2);
        std::memcpy(bigger.data(), data(), used);
        bytes_.swap(bigger.bytes_);
        std::swap(size_, bigger.size_);
    }

private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t size_;
};

enum class BlockState { Filling, Queued, Done, Failed };

// One block of input with the window before it, and its deflated form.
struct Block {
    // [0, dictionary): the input before the block; then `length` bytes.
    Secret input{kDeflateWindow + kDeflateBlock};
    std::size_t dictionary = 0;
    std::size_t length = 0;
    bool last = false;
    std::uint64_t index = 0;
    Secret output{kBlockOutput};
    std::size_t produced = 0;
    uLong adler = 0;
    BlockState state = BlockState::Filling;

    std::uint8_t* data() { return input.data() + dictionary; }
};

// Deflates one block raw with `zs`; false on any failure. A sync flush ends
// every block but the last on a byte boundary, so the blocks can simply be
// put one after the other.
bool deflate_block(Deflater& deflater, Block& b, const DeflateOptions& options) {
    try {
        if (options.before_block) options.before_block(b.index);
        z_stream& zs = deflater.zs;
        if (deflateReset(&zs) != Z_OK) return false;
        if (b.dictionary > 0 &&
            deflateSetDictionary(&zs, b.input.data(), static_cast<uInt>(b.dictionary)) != Z_OK)
            return false;
        b.adler = adler32(adler32(0, Z_NULL, 0), b.data(), static_cast<uInt>(b.length));
        zs.next_in = b.data();
        zs.avail_in = static_cast<uInt>(b.length);
        b.produced = 0;
        const int flush = b.last ? Z_FINISH : Z_SYNC_FLUSH;
        for (;;) {
            zs.next_out = b.output.data() + b.produced;
            zs.avail_out = static_cast<uInt>(b.output.size() - b.produced);
            const int rc = deflate(&zs, flush);
            b.produced = b.output.size() - zs.avail_out;
            // Z_BUF_ERROR only says that no progress was possible.
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return false;
            if (zs.avail_out == 0) {
                b.output.grow(b.produced);
                continue;
            }
            // With room to spare the flush is complete; the last block must
            // also have ended the deflate stream.
            return !b.last || rc == Z_STREAM_END;
        }
    } catch (...) {
        return false;
    }
}

}  // namespace

unsigned deflate_threads(unsigned requested) {
    if (requested == 0) requested = std::thread::hardware_concurrency();
    return std::clamp(requested, 1u, kMaxDeflateThreads);
}

struct ParallelDeflater::Impl {
    Sink sink;
    DeflateOptions options;
    std::function<void()> waiting;
    std::chrono::milliseconds wait_turn;
    unsigned thread_count;
    std::uint64_t delivered = 0;
    bool finished = false;

    // One thread: a single zlib stream.
    std::optional<Deflater> single;
    std::optional<Secret> single_out;

    // Several threads. Every block is in exactly one of: `current`, `idle`,
    // `order` (handed to the workers and not yet written; `work` holds
    // those no worker has taken yet).
    std::vector<std::unique_ptr<Block>> blocks;
    Block* current = nullptr;
    std::vector<Block*> idle;
    std::deque<Block*> order;
    std::deque<Block*> work;
    std::uint64_t next_index = 0;
    uLong adler = 0;
    bool header_written = false;

    std::mutex mutex;
    std::condition_variable work_ready, block_done;
    bool stopping = false;
    bool failed = false;
    std::vector<std::thread> workers;

    Impl(Sink s, const DeflateOptions& o, std::function<void()> w, std::chrono::milliseconds turn)
        : sink(std::move(s)), options(o), waiting(std::move(w)), wait_turn(turn),
          thread_count(deflate_threads(o.threads)) {
        adler = adler32(0, Z_NULL, 0);
        if (thread_count == 1) {
            single.emplace();
            single_out.emplace(kSingleOutput);
        } else {
            current = new_block();
        }
    }

    ~Impl() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        work_ready.notify_all();
        for (std::thread& t : workers) t.join();
    }

    std::size_t blocks_in_flight() const { return std::size_t{kBlocksPerThread} * thread_count; }

    Block* new_block() {
        blocks.push_back(std::make_unique<Block>());
        return blocks.back().get();
    }

    // ---- One stream

    void single_deflate(const std::uint8_t* data, std::size_t size, int flush) {
        z_stream& zs = single->zs;
        Secret& out = *single_out;
        for (;;) {
            const std::size_t piece = std::min<std::size_t>(size, std::numeric_limits<uInt>::max());
            zs.next_in = const_cast<std::uint8_t*>(data);
            zs.avail_in = static_cast<uInt>(piece);
            data += piece;
            size -= piece;
            const int piece_flush = size == 0 ? flush : Z_NO_FLUSH;
            for (;;) {
                zs.next_out = out.data();
                zs.avail_out = static_cast<uInt>(out.size());
                const int rc = deflate(&zs, piece_flush);
                if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) throw ECompressionError();
                const std::size_t produced = out.size() - zs.avail_out;
                if (produced > 0) sink(out.data(), produced);
                if (zs.avail_out == 0) continue;
                if (piece_flush == Z_FINISH && rc != Z_STREAM_END) throw ECompressionError();
                break;
            }
            delivered = zs.total_in;
            if (size == 0) return;
        }
    }

    // ---- Blocks

    void start_workers() {
        if (!workers.empty()) return;
        try {
            for (unsigned i = 0; i < thread_count; ++i) workers.emplace_back([this] { work_loop(); });
        } catch (...) {
            // No thread to be had: the ones started are stopped by the
            // destructor.
            throw ECompressionError();
        }
    }

    void work_loop() {
        std::optional<Deflater> deflater;
        try {
            deflater.emplace(true);
        } catch (...) {
        }
        std::unique_lock lock(mutex);
        for (;;) {
            work_ready.wait(lock, [this] { return stopping || !work.empty(); });
            if (stopping) return;
            Block* b = work.front();
            work.pop_front();
            bool ok = false;
            if (!failed && deflater) {
                lock.unlock();
                ok = deflate_block(*deflater, *b, options);
                lock.lock();
            }
            b->state = ok ? BlockState::Done : BlockState::Failed;
            if (!ok) failed = true;
            block_done.notify_all();
        }
    }

    void hand_over(Block* b, bool last) {
        b->last = last;
        b->index = next_index++;
        // A stream of one block needs no threads: the owner deflates it and
        // gets the same bytes.
        if (last && b->index == 0) {
            Deflater deflater(true);
            if (!deflate_block(deflater, *b, options)) throw ECompressionError();
            b->state = BlockState::Done;
            order.push_back(b);
            return;
        }
        start_workers();
        {
            std::lock_guard lock(mutex);
            b->state = BlockState::Queued;
            order.push_back(b);
            work.push_back(b);
        }
        work_ready.notify_one();
    }

    // Writes the oldest block, which must be done, and makes it idle.
    void write_front() {
        Block* b = order.front();
        order.pop_front();
        if (!header_written) {
            static const std::uint8_t header[2] = {0x78, 0xDA};
            sink(header, sizeof header);
            header_written = true;
        }
        sink(b->output.data(), b->produced);
        adler = adler32_combine(adler, b->adler, static_cast<z_off_t>(b->length));
        delivered += b->length;
        b->state = BlockState::Filling;
        idle.push_back(b);
    }

    bool front_state(BlockState wanted) {
        std::lock_guard lock(mutex);
        if (failed) throw ECompressionError();
        return !order.empty() && order.front()->state == wanted;
    }

    // Writes the blocks at the front that are done, without waiting.
    void write_ready() {
        while (front_state(BlockState::Done)) write_front();
    }

    // Waits for the oldest block, turning the caller's loop meanwhile.
    void wait_front() {
        std::unique_lock lock(mutex);
        for (;;) {
            if (failed) throw ECompressionError();
            if (order.front()->state == BlockState::Done) break;
            if (!block_done.wait_for(lock, wait_turn,
                                     [this] { return failed || order.front()->state == BlockState::Done; }) &&
                waiting) {
                lock.unlock();
                waiting();
                lock.lock();
            }
        }
        lock.unlock();
        write_front();
    }

    Block* take_idle() {
        if (idle.empty() && blocks.size() <= blocks_in_flight()) return new_block();
        while (idle.empty()) wait_front();
        Block* b = idle.back();
        idle.pop_back();
        return b;
    }

    void blocks_write(const std::uint8_t* data, std::size_t size) {
        while (size > 0) {
            if (current->length == kDeflateBlock) {
                // More input follows, so the full block is not the last one.
                // Its end is the dictionary of the next.
                Block* next = take_idle();
                next->dictionary = kDeflateWindow;
                next->length = 0;
                std::memcpy(next->input.data(), current->data() + kDeflateBlock - kDeflateWindow, kDeflateWindow);
                Block* full = current;
                current = next;
                hand_over(full, false);
                write_ready();
            }
            const std::size_t piece = std::min(size, kDeflateBlock - current->length);
            std::memcpy(current->data() + current->length, data, piece);
            current->length += piece;
            data += piece;
            size -= piece;
        }
    }

    void blocks_finish() {
        Block* last = current;
        current = nullptr;
        hand_over(last, true);
        while (!order.empty()) wait_front();
        const std::uint8_t trailer[4] = {static_cast<std::uint8_t>(adler >> 24), static_cast<std::uint8_t>(adler >> 16),
                                         static_cast<std::uint8_t>(adler >> 8), static_cast<std::uint8_t>(adler)};
        sink(trailer, sizeof trailer);
    }
};

ParallelDeflater::ParallelDeflater(Sink sink, const DeflateOptions& options, std::function<void()> waiting,
                                   std::chrono::milliseconds wait_turn)
    : impl_(std::make_unique<Impl>(std::move(sink), options, std::move(waiting), wait_turn)) {}

ParallelDeflater::~ParallelDeflater() = default;

void ParallelDeflater::write(const void* data, std::size_t size) {
    if (impl_->finished) throw ECompressionError();
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (impl_->single) {
        if (size > 0) impl_->single_deflate(bytes, size, Z_NO_FLUSH);
    } else {
        impl_->blocks_write(bytes, size);
    }
}

void ParallelDeflater::finish() {
    if (impl_->finished) throw ECompressionError();
    impl_->finished = true;
    if (impl_->single) impl_->single_deflate(nullptr, 0, Z_FINISH);
    else impl_->blocks_finish();
}

std::uint64_t ParallelDeflater::delivered() const { return impl_->delivered; }

unsigned ParallelDeflater::threads() const { return impl_->thread_count; }

std::string compress_buffer_parallel(const void* in, std::size_t n, const DeflateOptions& options) {
    std::string out;
    try {
        // About what level 9 leaves of text; grows geometrically beyond.
        out.reserve(n / 3 + 64);
        ParallelDeflater deflater(
            [&out](const std::uint8_t* data, std::size_t size) {
                if (out.size() + size > out.capacity()) {
                    std::string bigger;
                    bigger.reserve(std::max(out.capacity() * 2, out.size() + size));
                    bigger.assign(out);
                    wipe_string(out);
                    out.swap(bigger);
                }
                out.append(reinterpret_cast<const char*>(data), size);
            },
            options);
        deflater.write(in, n);
        deflater.finish();
    } catch (const ECompressionError&) {
        wipe_string(out);
        throw;
    } catch (...) {
        wipe_string(out);
        throw ECompressionError();
    }
    return out;
}

}  // namespace morvantile
