// File mode next to gpg on the same files in the same run: encryption and
// decryption of a 10 MB and a 200 MB generated text file, wall time and
// peak memory of each run.
//
// Both sides run as their own processes: morvantile-cli encrypt-file /
// decrypt-file (the desktop's streaming codec, default suite Rijndael, MD5,
// CBC, zlib level 9) and gpg --symmetric with AES and zlib level 9.
// Morvantile encrypts three times: with --threads 1 (one zlib stream, as
// gpg), --threads 2 and on all cores (the default); each result is
// decrypted and compared with the original. Each run
// is forked and exec'ed; its wall time runs from the fork to the end of
// wait4, and its peak memory is the ru_maxrss that wait4 reports. The files
// are generated once into a temporary folder and read from the page cache
// by both sides. Morvantile flushes its output to the disk before renaming
// it into place; gpg does not, so its times include no fsync.
//
//   filemode [--reps N] [--dir FOLDER]
//
// N repetitions of each run (default 3 for the small file, 1 for the large);
// the table shows the fastest time and the largest peak.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr const char* kPassword = "correct horse battery staple";

// ---- Test data: English-like text with a Zipf-distributed vocabulary,
// sentences, punctuation, numbers, wrapped lines and paragraphs. It
// compresses about as well as real prose (roughly 3:1 at level 9).

class TextGenerator {
public:
    TextGenerator() : rng_(20240611) {
        static const char* common[] = {
            "the", "of", "and", "to", "a", "in", "is", "that", "for", "it", "as", "was", "with", "be", "by",
            "on", "not", "he", "this", "are", "or", "his", "from", "at", "which", "but", "have", "an", "had",
            "they", "you", "were", "their", "one", "all", "we", "can", "her", "has", "there", "been", "if",
            "more", "when", "will", "would", "who", "so", "no", "report", "file", "quarter", "market", "figures",
            "meeting", "budget", "customer", "service", "project", "team", "office", "letter", "contract"};
        for (const char* w : common) words_.emplace_back(w);
        // Made-up words from syllables fill the long tail of the vocabulary.
        static const char* syllables[] = {"ba", "con", "de", "fer", "gri", "hal", "in", "ka", "lo", "men",
                                          "nor", "par", "qui", "ros", "sta", "tur", "ul", "ver", "wes", "zen"};
        std::uniform_int_distribution<int> syl(0, 19), len(1, 4);
        while (words_.size() < 6000) {
            std::string w;
            for (int i = len(rng_); i > 0; --i) w += syllables[syl(rng_)];
            words_.push_back(w);
        }
        // Zipf weights: the n-th word is 1/n as likely as the first.
        double total = 0;
        for (std::size_t i = 0; i < words_.size(); ++i) cumulative_.push_back(total += 1.0 / double(i + 1));
    }

    // Appends text until `out` holds at least `n` bytes.
    void fill(std::string& out, std::size_t n) {
        std::uniform_real_distribution<double> pick(0, cumulative_.back());
        std::uniform_int_distribution<int> percent(0, 99);
        while (out.size() < n) {
            std::string word = words_[std::lower_bound(cumulative_.begin(), cumulative_.end(), pick(rng_)) -
                                      cumulative_.begin()];
            if (percent(rng_) < 2) word = std::to_string(percent(rng_) * 37 + 1900);
            if (sentence_start_) word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
            sentence_start_ = false;
            const int p = percent(rng_);
            if (p < 7) {
                word += ".";
                sentence_start_ = true;
            } else if (p < 12) {
                word += ",";
            }
            if (column_ + word.size() + 1 > 72) {
                out += "\r\n";
                column_ = 0;
                if (sentence_start_ && percent(rng_) < 15) out += "\r\n";
            } else if (column_ > 0) {
                out += ' ';
                ++column_;
            }
            out += word;
            column_ += word.size();
        }
    }

private:
    std::mt19937 rng_;
    std::vector<std::string> words_;
    std::vector<double> cumulative_;
    std::size_t column_ = 0;
    bool sentence_start_ = true;
};

void generate(const std::string& path, std::size_t size) {
    TextGenerator gen;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::string chunk;
    for (std::size_t done = 0; done < size;) {
        chunk.clear();
        gen.fill(chunk, std::min<std::size_t>(size - done, 1 << 20));
        chunk.resize(std::min(chunk.size(), size - done));
        std::fwrite(chunk.data(), 1, chunk.size(), f);
        done += chunk.size();
    }
    std::fclose(f);
}

bool same_contents(const std::string& a, const std::string& b) {
    FILE* fa = std::fopen(a.c_str(), "rb");
    FILE* fb = std::fopen(b.c_str(), "rb");
    bool same = fa != nullptr && fb != nullptr;
    std::vector<char> ba(1 << 20), bb(1 << 20);
    while (same) {
        const std::size_t na = std::fread(ba.data(), 1, ba.size(), fa);
        const std::size_t nb = std::fread(bb.data(), 1, bb.size(), fb);
        same = na == nb && std::memcmp(ba.data(), bb.data(), na) == 0;
        if (na == 0) break;
    }
    if (fa) std::fclose(fa);
    if (fb) std::fclose(fb);
    return same;
}

// ---- Measured runs

struct Measure {
    double seconds = 0;
    long peak_kib = 0;
    bool ok = false;
};

Measure run(const std::vector<std::string>& args, const std::vector<std::string>& extra_env) {
    std::vector<char*> argv, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
    for (const std::string& e : extra_env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    Measure m;
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return m;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.peak_kib = usage.ru_maxrss;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

// The fastest of `reps` runs and the largest peak.
Measure best_of(int reps, const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    Measure best;
    for (int i = 0; i < reps; ++i) {
        const Measure m = run(args, env);
        if (!m.ok) return m;
        best.seconds = i == 0 ? m.seconds : std::min(best.seconds, m.seconds);
        best.peak_kib = std::max(best.peak_kib, m.peak_kib);
        best.ok = true;
    }
    return best;
}

std::optional<std::string> find_gpg() {
    for (const char* p : {"/usr/bin/gpg", "/usr/local/bin/gpg", "/bin/gpg"})
        if (::access(p, X_OK) == 0) return std::string(p);
    return std::nullopt;
}

struct Row {
    std::string file, tool, step;
    std::uint64_t in_size, out_size;
    Measure m;
};

}  // namespace

int main(int argc, char** argv) {
    int reps = 0;
    std::string parent = fs::temp_directory_path().string();
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--reps") == 0) reps = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--dir") == 0) parent = argv[i + 1];
    }
    std::string folder = parent + "/morvantile-filemode-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string gnupg_home = folder + "/gnupg";
    fs::create_directory(gnupg_home);
    fs::permissions(gnupg_home, fs::perms::owner_all);
    const std::optional<std::string> gpg = find_gpg();
    const std::string password_env = std::string("MORVANTILE_PASSWORD=") + kPassword;

    struct Input {
        const char* label;
        std::size_t size;
        int reps;
    };
    const Input inputs[] = {{"text 10 MB", 10'000'000, reps > 0 ? reps : 3},
                            {"text 200 MB", 200'000'000, reps > 0 ? reps : 1}};
    std::vector<Row> rows;
    bool all_ok = true;
    for (const Input& input : inputs) {
        const std::string plain = folder + "/plain.txt";
        std::fprintf(stderr, "generating %s...\n", input.label);
        generate(plain, input.size);
        const std::string enc = folder + "/plain.txt.mvt", back = folder + "/back.txt";
        const std::string genc = folder + "/plain.txt.gpg", gback = folder + "/gback.txt";
        auto size_of = [](const std::string& p) {
            std::error_code ec;
            const auto n = fs::file_size(p, ec);
            return ec ? std::uint64_t{0} : static_cast<std::uint64_t>(n);
        };
        auto add = [&](const char* tool, const char* step, const std::string& in, const std::string& out,
                       const Measure& m) {
            rows.push_back({input.label, tool, step, size_of(in), size_of(out), m});
            all_ok = all_ok && m.ok;
        };

        std::fprintf(stderr, "running %s...\n", input.label);
        // One thread, two, and the default: every core.
        for (const char* threads : {"1", "2", ""}) {
            const std::string tool = std::string("morvantile ") + (*threads ? std::string("-t") + threads : "-tall");
            std::vector<std::string> args = {MORVANTILE_CLI, "encrypt-file", plain, enc};
            if (*threads) args.insert(args.begin() + 2, {"--threads", threads});
            add(tool.c_str(), "encrypt", plain, enc, best_of(input.reps, args, {password_env}));
            add(tool.c_str(), "decrypt", enc, back,
                best_of(input.reps, {MORVANTILE_CLI, "decrypt-file", enc, back}, {password_env}));
            if (!same_contents(plain, back)) {
                std::fprintf(stderr, "%s: the decrypted file differs from the original\n", tool.c_str());
                all_ok = false;
            }
        }
        if (gpg) {
            const std::vector<std::string> common = {*gpg, "--homedir", gnupg_home, "--batch", "--yes",
                                                     "--quiet", "--no-symkey-cache", "--passphrase", kPassword,
                                                     "--pinentry-mode", "loopback"};
            std::vector<std::string> e = common, d = common;
            e.insert(e.end(), {"--symmetric", "--cipher-algo", "AES", "--compress-algo", "zlib", "-z", "9", "-o",
                               genc, plain});
            d.insert(d.end(), {"-o", gback, "--decrypt", genc});
            add("gpg", "encrypt", plain, genc, best_of(input.reps, e));
            add("gpg", "decrypt", genc, gback, best_of(input.reps, d));
            if (!same_contents(plain, gback)) {
                std::fprintf(stderr, "gpg: the decrypted file differs from the original\n");
                all_ok = false;
            }
        }
        for (const std::string& p : {enc, back, genc, gback}) fs::remove(p);
    }

    // Throughput counts the plaintext, in both directions.
    std::printf("machine: %u cores\n", std::thread::hardware_concurrency());
    std::printf("%-12s %-16s %-8s %10s %10s %8s %8s %10s\n", "FILE", "TOOL", "STEP", "IN MB", "OUT MB", "WALL s",
                "MB/s", "PEAK MiB");
    for (const Row& r : rows)
        std::printf("%-12s %-16s %-8s %10.1f %10.3f %8.3f %8.1f %10.1f%s\n", r.file.c_str(), r.tool.c_str(),
                    r.step.c_str(), double(r.in_size) / 1e6, double(r.out_size) / 1e6, r.m.seconds,
                    r.m.seconds > 0 ? double(std::max(r.in_size, r.out_size)) / 1e6 / r.m.seconds : 0.0,
                    double(r.m.peak_kib) / 1024.0, r.m.ok ? "" : "  FAILED");
    // Time ratios, ours over gpg's, per file, thread setting and step (below
    // 1 is faster); encrypted sizes over the one-stream size.
    bool fast = gpg.has_value(), small = true, tight = true;
    for (const Row& r : rows) {
        if (r.tool.starts_with("morvantile") && r.file.find("200") != std::string::npos)
            small = small && r.m.peak_kib < 64 * 1024;
        if (!r.tool.starts_with("morvantile")) continue;
        std::printf("%-12s %-16s %-8s", r.file.c_str(), r.tool.c_str(), r.step.c_str());
        for (const Row& g : rows)
            if (gpg && g.tool == "gpg" && g.file == r.file && g.step == r.step) {
                const double ratio = r.m.seconds / g.m.seconds;
                std::printf(" time morvantile/gpg %.2f, peak %.1f / %.1f MiB", ratio, double(r.m.peak_kib) / 1024.0,
                            double(g.m.peak_kib) / 1024.0);
                if (r.step == "encrypt" && r.tool == "morvantile -tall" && r.file.find("200") != std::string::npos)
                    fast = fast && ratio <= 0.6;
            }
        for (const Row& one : rows)
            if (r.step == "encrypt" && one.tool == "morvantile -t1" && one.step == "encrypt" && one.file == r.file) {
                const double size = double(r.out_size) / double(one.out_size);
                std::printf(", size %.4f of one stream", size);
                tight = tight && size <= 1.01;
            }
        std::printf("\n");
    }
    if (gpg) std::printf("200 MB encryption on all cores at most 0.6 of gpg's time: %s\n", fast ? "yes" : "no");
    else std::printf("gpg not found: morvantile only\n");
    std::printf("encrypted sizes within 1%% of one stream: %s\n", tight ? "yes" : "no");
    std::printf("peak memory under 64 MiB for the 200 MB file: %s\n", small ? "yes" : "no");

    if (gpg) {
        // The agent that gpg may have started for this home folder.
        run({"/usr/bin/gpgconf", "--homedir", gnupg_home, "--kill", "gpg-agent"}, {});
    }
    fs::remove_all(folder);
    return all_ok ? 0 : 1;
}
