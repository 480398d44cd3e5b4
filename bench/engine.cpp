// Throughput of the cipher engine next to Crypto++'s own chaining modes doing
// the same work, plus the text codec and the compression step.
//
// Every cipher row encrypts and decrypts one 4 MiB buffer in place. The
// engine is used as the tray does it: a fresh cipher object, the chaining
// mode set, keyed from the password with MD5, then one encrypt/decrypt call
// over the whole buffer. The raw side is a fresh Crypto++ mode object keyed
// with the same 16-byte digest and the same vector E_K(0). Object creation,
// key setup, the copy of the input into the work buffer and burning the
// key afterwards happen outside the timed region for both sides; only the
// one data pass is timed (manual time), so the ratio compares the chaining
// code and nothing else.
//
// Each benchmark is repeated and the repetitions of all benchmarks are run
// in random order, so a noisy neighbour slows engine and raw runs alike.
// Neighbours only ever make a pass slower, so the summary compares the
// fastest repetition of each side; the ratio of the medians is shown beside
// it to make a disturbed run easy to spot.
//
// Before anything is timed, every row checks once that the engine's output
// equals Crypto++'s byte for byte (4 MiB is a whole number of blocks, so the
// engine's tail rules never come into play) and that both decrypt back to
// the plaintext. A mismatch aborts the run.
#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1

#include <benchmark/benchmark.h>

#include <crypto++/aes.h>
#include <crypto++/blowfish.h>
#include <crypto++/cast.h>
#include <crypto++/des.h>
#include <crypto++/idea.h>
#include <crypto++/mars.h>
#include <crypto++/md5.h>
#include <crypto++/modes.h>
#include <crypto++/rc6.h>
#include <crypto++/serpent.h>
#include <crypto++/twofish.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/base64.h"
#include "cipher/catalogue.h"
#include "cipher/ciphers.h"
#include "cipher/compression.h"
#include "cipher/stream.h"

namespace {

using morvantile::TCipherMode;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kBytes = 4u << 20;
constexpr std::string_view kPassword = "correct horse battery staple";

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "\n*** engine benchmark: %s ***\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

double seconds_between(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// ---- input data

// Clipboard-like prose: words drawn with a Zipf-like bias from a small
// vocabulary, in sentences and paragraphs, with the odd number. Deflate
// finds in it the kind of repetition real text has, which random bytes
// would not offer.
std::string make_text(std::size_t n) {
    static const char* const kWords[] = {
        "the",      "of",       "and",      "to",        "a",        "in",       "is",       "that",
        "for",      "it",       "as",       "was",      "with",      "be",       "by",       "on",
        "not",      "he",       "this",     "are",      "or",        "his",      "from",     "at",
        "which",    "but",      "have",     "an",       "they",      "you",      "were",     "their",
        "one",      "all",      "we",       "can",      "her",      "has",       "there",    "been",
        "if",       "more",     "when",     "will",     "would",    "who",       "so",       "no",
        "meeting",  "password", "account",  "invoice",  "schedule", "project",   "customer", "delivery",
        "tomorrow", "morning",  "address",  "number",   "please",   "attached",  "document", "review",
        "contract", "payment",  "quarter",  "report",   "budget",   "estimate",  "server",   "backup",
        "network",  "office",   "building", "parking",  "question", "answer",    "problem",  "solution",
        "thanks",   "regards",  "update",   "version",  "release",  "change",    "request",  "approved",
        "pending",  "urgent",   "minutes",  "agenda",   "summary",  "details",   "following", "previous",
        "important", "private", "personal", "confidential", "reference", "department", "manager", "team",
        "colleague", "supplier", "warehouse", "shipment", "order",  "price",     "discount", "total",
    };
    constexpr std::size_t kCount = sizeof kWords / sizeof kWords[0];

    std::vector<double> cumulative(kCount);
    double sum = 0;
    for (std::size_t i = 0; i < kCount; ++i) cumulative[i] = sum += 1.0 / static_cast<double>(i + 1);

    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    auto uniform = [&] { return static_cast<double>(next() >> 11) * 0x1.0p-53; };

    std::string text;
    text.reserve(n + 64);
    while (text.size() < n) {
        const int sentences = 2 + static_cast<int>(next() % 6);
        for (int s = 0; s < sentences; ++s) {
            const int words = 4 + static_cast<int>(next() % 16);
            for (int w = 0; w < words; ++w) {
                std::string word;
                if (next() % 40 == 0) {
                    word = std::to_string(next() % 100000);
                } else {
                    const double u = uniform() * sum;
                    const auto k = static_cast<std::size_t>(
                        std::lower_bound(cumulative.begin(), cumulative.end(), u) - cumulative.begin());
                    word = kWords[std::min(k, kCount - 1)];
                }
                if (w == 0) word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
                text += word;
                if (w + 1 < words) text += next() % 12 == 0 ? ", " : " ";
            }
            text += next() % 8 == 0 ? "? " : ". ";
        }
        text += "\r\n\r\n";
    }
    text.resize(n);
    return text;
}

// ---- the raw side

// The first-round MARS schedule is what the engine runs (Crypto++ computes
// only the later one), so the raw MARS is Crypto++'s MARS rounds keyed with
// that schedule. The schedule is computed during key setup, which is not
// timed, and the chaining is still Crypto++'s own mode object.
template <class Dir>
class MarsFirstRoundDir : public Dir {
public:
    void UncheckedSetKey(const CryptoPP::byte* key, unsigned int length, const CryptoPP::NameValuePairs&) override {
        std::uint32_t k[40];
        morvantile::mars_key_schedule(key, length / 4, k);
        std::memcpy(this->m_k.data(), k, sizeof k);
        std::memset(k, 0, sizeof k);
    }
};

struct MarsFirstRound {
    using Encryption = MarsFirstRoundDir<CryptoPP::MARS::Encryption>;
    using Decryption = MarsFirstRoundDir<CryptoPP::MARS::Decryption>;
};

// Key and vector as the engine derives them from the password: the MD5
// digest, and E_K of a zero block.
struct RawKey {
    std::uint8_t key[24];
    std::size_t len;
    std::uint8_t iv[16];
};

template <class X>
RawKey derive_raw_key(std::size_t key_len) {
    RawKey k{};
    CryptoPP::Weak::MD5 md5;
    md5.CalculateDigest(k.key, reinterpret_cast<const CryptoPP::byte*>(kPassword.data()), kPassword.size());
    // Two-key triple DES: the 128-bit digest is K1 K2, and K3 = K1.
    if (key_len == 24) std::memcpy(k.key + 16, k.key, 8);
    k.len = key_len;
    typename X::Encryption e;
    e.SetKey(k.key, k.len);
    const std::uint8_t zero[16] = {};
    e.ProcessBlock(zero, k.iv);
    return k;
}

using RawMode = std::unique_ptr<CryptoPP::StreamTransformation>;

template <class X>
RawMode make_raw(TCipherMode mode, bool encrypt, const RawKey& k) {
    using namespace CryptoPP;
    switch (mode) {
        case TCipherMode::cmCBC:
            if (encrypt) return std::make_unique<typename CBC_Mode<X>::Encryption>(k.key, k.len, k.iv);
            return std::make_unique<typename CBC_Mode<X>::Decryption>(k.key, k.len, k.iv);
        case TCipherMode::cmCFB8bit:
            if (encrypt) return std::make_unique<typename CFB_Mode<X>::Encryption>(k.key, k.len, k.iv, 1);
            return std::make_unique<typename CFB_Mode<X>::Decryption>(k.key, k.len, k.iv, 1);
        case TCipherMode::cmCFBblock:
            if (encrypt) return std::make_unique<typename CFB_Mode<X>::Encryption>(k.key, k.len, k.iv);
            return std::make_unique<typename CFB_Mode<X>::Decryption>(k.key, k.len, k.iv);
        case TCipherMode::cmOFB:
            if (encrypt) return std::make_unique<typename OFB_Mode<X>::Encryption>(k.key, k.len, k.iv);
            return std::make_unique<typename OFB_Mode<X>::Decryption>(k.key, k.len, k.iv);
        case TCipherMode::cmCTR:
            if (encrypt) return std::make_unique<typename CTR_Mode<X>::Encryption>(k.key, k.len, k.iv);
            return std::make_unique<typename CTR_Mode<X>::Decryption>(k.key, k.len, k.iv);
    }
    fail("unknown chaining mode");
}

// The raw counterpart of each catalogue entry, by catalogue index.
struct RawCipher {
    RawKey (*key)();
    RawMode (*make)(TCipherMode, bool, const RawKey&);
};

template <class X, std::size_t KeyLen = 16>
constexpr RawCipher raw_cipher() {
    return {[] { return derive_raw_key<X>(KeyLen); }, &make_raw<X>};
}

const RawCipher kRaw[morvantile::kCipherCount] = {
    raw_cipher<CryptoPP::Blowfish>(), raw_cipher<CryptoPP::CAST256>(), raw_cipher<MarsFirstRound>(),
    raw_cipher<CryptoPP::RC6>(),      raw_cipher<CryptoPP::AES>(),     raw_cipher<CryptoPP::Serpent>(),
    raw_cipher<CryptoPP::Twofish>(),  raw_cipher<CryptoPP::IDEA>(),    raw_cipher<CryptoPP::DES_EDE3, 24>(),
};

// ---- rows

const char* mode_name(TCipherMode m) {
    switch (m) {
        case TCipherMode::cmCBC: return "CBC";
        case TCipherMode::cmCFB8bit: return "CFB8bit";
        case TCipherMode::cmCFBblock: return "CFBblock";
        case TCipherMode::cmOFB: return "OFB";
        case TCipherMode::cmCTR: return "CTR";
    }
    return "?";
}

enum Side { kEngine = 0, kRawSide = 1 };
enum Direction { kEncrypt = 0, kDecrypt = 1 };
constexpr const char* kDirectionName[] = {"encrypt", "decrypt"};

struct Row {
    int cipher;
    TCipherMode mode;
    std::string name;  // "Rijndael CBC"
    RawKey key;
    std::string ciphertext;
    // Per-repetition throughput in MB/s, [side][direction].
    std::vector<double> mbps[2][2];
};

struct Codec {
    std::string name;  // "base64 encode"
    std::vector<double> mbps;
};

std::string g_plaintext;
std::vector<Row> g_rows;
std::vector<Codec> g_codecs;
std::map<std::string, std::vector<double>*> g_slots;  // benchmark name -> results

std::unique_ptr<morvantile::TBlockCipher> keyed_engine(const Row& row) {
    auto c = morvantile::cipher_class_at(row.cipher)->create();
    c->SetCipherMode(row.mode);
    c->init_with_password(kPassword, *morvantile::hash_class_at(0));
    return c;
}

std::string run_engine(const Row& row, Direction dir, std::string data) {
    auto c = keyed_engine(row);
    if (dir == kEncrypt)
        c->encrypt(data.data(), data.data(), kBytes);
    else
        c->decrypt(data.data(), data.data(), kBytes);
    return data;
}

std::string run_raw(const Row& row, Direction dir, std::string data) {
    auto m = kRaw[row.cipher].make(row.mode, dir == kEncrypt, row.key);
    auto* p = reinterpret_cast<CryptoPP::byte*>(data.data());
    m->ProcessData(p, p, kBytes);
    return data;
}

void check_equal(const std::string& got, const std::string& want, const std::string& what) {
    if (got == want) return;
    const auto at = std::mismatch(got.begin(), got.end(), want.begin()).first - got.begin();
    fail(what + " differs, first at byte " + std::to_string(at));
}

// Byte-for-byte agreement of the engine with Crypto++; also leaves the row's
// ciphertext for the decryption benchmarks.
void verify_row(Row& row) {
    const std::string engine_ct = run_engine(row, kEncrypt, g_plaintext);
    const std::string raw_ct = run_raw(row, kEncrypt, g_plaintext);
    if (engine_ct == g_plaintext) fail(row.name + ": engine encryption left the data unchanged");
    check_equal(engine_ct, raw_ct, row.name + ": engine ciphertext vs Crypto++");
    check_equal(run_engine(row, kDecrypt, engine_ct), g_plaintext, row.name + ": engine decryption");
    check_equal(run_raw(row, kDecrypt, engine_ct), g_plaintext, row.name + ": Crypto++ decryption");
    row.ciphertext = engine_ct;
}

// ---- benchmarks

void bm_cipher(benchmark::State& state, const Row* row, Side side, Direction dir) {
    const std::string& src = dir == kEncrypt ? g_plaintext : row->ciphertext;
    std::vector<std::uint8_t> work(kBytes);
    for (auto _ : state) {
        std::memcpy(work.data(), src.data(), kBytes);
        double t = 0;
        if (side == kEngine) {
            auto c = keyed_engine(*row);
            const auto t0 = Clock::now();
            if (dir == kEncrypt)
                c->encrypt(work.data(), work.data(), kBytes);
            else
                c->decrypt(work.data(), work.data(), kBytes);
            const auto t1 = Clock::now();
            t = seconds_between(t0, t1);
            c->burn();
        } else {
            auto m = kRaw[row->cipher].make(row->mode, dir == kEncrypt, row->key);
            const auto t0 = Clock::now();
            m->ProcessData(work.data(), work.data(), kBytes);
            const auto t1 = Clock::now();
            t = seconds_between(t0, t1);
        }
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
        state.SetIterationTime(t);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBytes);
}

// The codec and compression steps run between memory streams as in the
// tray; the output stream starts empty, so its growth is part of the cost.
// Throughput counts the 4 MiB of binary or plain data in both directions.
template <class Op>
void bm_codec(benchmark::State& state, const std::string* input, Op op) {
    for (auto _ : state) {
        morvantile::TMemoryStream in(*input);
        morvantile::TMemoryStream out;
        in.set_position(0);
        const auto t0 = Clock::now();
        op(in, out);
        const auto t1 = Clock::now();
        benchmark::DoNotOptimize(out.data().data());
        state.SetIterationTime(seconds_between(t0, t1));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBytes);
}

std::string g_binary;      // 4 MiB of ciphertext, what the text codec encodes
std::string g_base64;      // its text form
std::string g_compressed;  // g_plaintext deflated

std::string through(void (*op)(morvantile::TStream&, morvantile::TStream&), const std::string& input) {
    morvantile::TMemoryStream in(input), out;
    in.set_position(0);
    op(in, out);
    return out.take();
}

void register_all() {
    // Nine ciphers in CBC, then Rijndael (catalogue index 4) in the others.
    for (int i = 0; i < morvantile::kCipherCount; ++i) g_rows.push_back({i, TCipherMode::cmCBC, {}, {}, {}, {}});
    for (int m = 1; m < morvantile::kModeCount; ++m) g_rows.push_back({4, *morvantile::cipher_mode_at(m), {}, {}, {}, {}});

    for (Row& row : g_rows) {
        row.name = std::string(morvantile::cipher_class_at(row.cipher)->algorithm) + " " + mode_name(row.mode);
        row.key = kRaw[row.cipher].key();
        verify_row(row);
    }
    for (Row& row : g_rows) {
        for (Direction dir : {kEncrypt, kDecrypt}) {
            for (Side side : {kEngine, kRawSide}) {
                std::string name = std::string("cipher/") + morvantile::cipher_class_at(row.cipher)->algorithm + "/" +
                                   mode_name(row.mode) + "/" + kDirectionName[dir] + "/" +
                                   (side == kEngine ? "engine" : "raw");
                g_slots[name] = &row.mbps[side][dir];
                benchmark::RegisterBenchmark(name.c_str(), bm_cipher, &row, side, dir)->UseManualTime();
            }
        }
    }

    g_binary = g_rows[4].ciphertext;  // Rijndael CBC
    g_base64 = through(morvantile::mime_encode_stream, g_binary);
    check_equal(through(morvantile::mime_decode_stream, g_base64), g_binary, "base64 round trip");
    g_compressed = through(morvantile::compress_stream, g_plaintext);
    check_equal(through(morvantile::decompress_stream, g_compressed), g_plaintext, "compression round trip");

    g_codecs.reserve(4);
    auto add_codec = [](const char* label, const char* name, const std::string* input, auto op) {
        g_codecs.push_back({label, {}});
        g_slots[name] = &g_codecs.back().mbps;
        benchmark::RegisterBenchmark(name, bm_codec<decltype(op)>, input, op)->UseManualTime();
    };
    using morvantile::TStream;
    add_codec("base64 encode", "codec/base64/encode", &g_binary,
              [](TStream& in, TStream& out) { morvantile::mime_encode_stream(in, out); });
    add_codec("base64 decode", "codec/base64/decode", &g_base64,
              [](TStream& in, TStream& out) { morvantile::mime_decode_stream(in, out); });
    add_codec("zlib compress", "codec/zlib/compress", &g_plaintext,
              [](TStream& in, TStream& out) { morvantile::compress_stream(in, out); });
    add_codec("zlib decompress", "codec/zlib/decompress", &g_compressed,
              [](TStream& in, TStream& out) { morvantile::decompress_stream(in, out); });
}

// ---- results

// Keeps Google Benchmark's context header, replaces its per-run lines with
// one progress line per finished benchmark on stderr, and files every
// repetition's throughput for the summary.
class CollectingReporter : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context& context) override { return console_.ReportContext(context); }

    void ReportRuns(const std::vector<Run>& runs) override {
        bool filed = false;
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration) continue;
            if (run.error_occurred) fail(run.benchmark_name() + ": " + run.error_message);
            const auto slot = g_slots.find(run.run_name.function_name);
            if (slot == g_slots.end() || run.iterations == 0) continue;
            const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
            slot->second->push_back(kBytes / seconds / 1e6);
            filed = true;
        }
        // Aggregates arrive in a second call; one line per benchmark.
        if (filed) std::fprintf(stderr, "  done: %s\n", runs.front().run_name.function_name.c_str());
    }

private:
    benchmark::ConsoleReporter console_;
};

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t h = v.size() / 2;
    return v.size() % 2 != 0 ? v[h] : (v[h - 1] + v[h]) / 2;
}

double best(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

void print_summary() {
    std::printf("\nThroughput in MB/s (10^6 bytes/s) over 4 MiB in place, fastest repetition of each side;\n");
    std::printf("ratio = engine/raw of those; median = engine/raw of the median repetitions.\n\n");
    std::printf("%-9s %-9s %-9s %12s %12s %7s %7s %5s\n", "CIPHER", "MODE", "DIRECTION", "engine MB/s", "raw MB/s",
                "ratio", "median", "reps");
    double min_ratio = 0;
    std::string min_row;
    for (const Row& row : g_rows) {
        for (Direction dir : {kEncrypt, kDecrypt}) {
            const auto& e = row.mbps[kEngine][dir];
            const auto& r = row.mbps[kRawSide][dir];
            if (e.empty() || r.empty()) continue;  // filtered out
            const double ratio = best(e) / best(r);
            std::printf("%-9s %-9s %-9s %12.1f %12.1f %7.3f %7.3f %5zu\n",
                        morvantile::cipher_class_at(row.cipher)->algorithm, mode_name(row.mode), kDirectionName[dir],
                        best(e), best(r), ratio, median(e) / median(r), std::min(e.size(), r.size()));
            if (min_row.empty() || ratio < min_ratio) {
                min_ratio = ratio;
                min_row = row.name + " " + kDirectionName[dir];
            }
        }
    }
    std::printf("\n");
    for (const Codec& c : g_codecs) {
        if (c.mbps.empty()) continue;
        std::printf("%-16s %10.1f MB/s", c.name.c_str(), best(c.mbps));
        if (c.name == "zlib compress")
            std::printf("   (%.2f:1 on generated text)",
                        static_cast<double>(g_plaintext.size()) / static_cast<double>(g_compressed.size()));
        std::printf("\n");
    }
    if (min_row.empty())
        std::printf("minimum ratio: n/a (no cipher row ran)\n");
    else
        std::printf("minimum ratio: %.2f (%s)\n", min_ratio, min_row.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    // Defaults sized for two noisy cores and a run of about a minute (many
    // short repetitions give the fastest-of more chances to see a quiet
    // moment); any
    // --benchmark_* argument given on the command line comes later and wins.
    std::vector<char*> args{argv[0]};
    std::string defaults[] = {"--benchmark_repetitions=9", "--benchmark_enable_random_interleaving=true",
                              "--benchmark_min_time=0.05"};
    for (auto& d : defaults) args.push_back(d.data());
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    int n = static_cast<int>(args.size());
    args.push_back(nullptr);

    benchmark::Initialize(&n, args.data());
    if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;

    g_plaintext = make_text(kBytes);
    register_all();

    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::fflush(stderr);
    print_summary();
    return 0;
}
