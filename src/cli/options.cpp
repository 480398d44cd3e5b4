#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <sys/stat.h>

#include "cipher/parallel_deflate.h"
#include "cli/cli.h"
#include "config/config_file.h"

namespace morvantile::cli {

namespace {

std::string normalise(std::string_view name) {
    std::string out;
    for (char c : name)
        if (c != '-' && c != '_') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

constexpr const char* kPartWhat[] = {"algorithm", "hash", "mode"};

// The names of each part in catalogue order; the modes' names are the
// command line's own.
const std::vector<std::string>& part_names(int part) {
    static const auto tables = [] {
        std::array<std::vector<std::string>, 3> t;
        for (int i = 0; i < kCipherCount; ++i) t[0].push_back(normalise(cipher_class_at(i)->algorithm));
        for (int i = 0; i < kHashCount; ++i) t[1].push_back(normalise(hash_class_at(i)->algorithm));
        t[2] = {"cbc", "cfb8", "cfb", "ofb", "ctr"};
        return t;
    }();
    return tables[static_cast<std::size_t>(part)];
}

std::string joined(int part) {
    std::string out;
    for (const std::string& n : part_names(part)) out += (out.empty() ? "" : ", ") + n;
    return out;
}

std::string ranges_text() {
    return "algorithm 0-" + std::to_string(kCipherCount - 1) + ", hash 0-" + std::to_string(kHashCount - 1) +
           ", chaining mode 0-" + std::to_string(kModeCount - 1);
}

// What the command line gave; the rest comes from --config or the defaults.
struct Given {
    std::string suite, names[3], max_size;
    std::optional<bool> hardcore, separators, decompress;
};

// A setting that the command line switches on or off, over --config.
void add_switch(CLI::App* app, const std::string& on, const std::string& off, std::optional<bool>& target,
                bool on_value, const std::string& help) {
    auto* a = app->add_flag_callback("--" + on, [&target, on_value] { target = on_value; }, help);
    a->excludes(app->add_flag_callback("--" + off, [&target, on_value] { target = !on_value; }, "undo --" + on));
}

void resolve(Request& r, const Given& g) {
    Settings s;
    // The command line's own defaults hold without --config and with a file
    // whose NoConfig keeps them: no separators, unlike the desktop's start.
    s.AppendSeparator = false;
    if (!r.config_path.empty()) {
        struct stat st{};
        if (::stat(r.config_path.c_str(), &st) != 0)
            throw Failure("configuration file not found: " + r.config_path, kExitUsage);
        try {
            read_options(IniFile::load(r.config_path), s);
        } catch (const EIniFileError& e) {
            throw Failure(e.what());
        }
    }
    r.text_encoding = s.TextEncoding;
    if (!g.max_size.empty()) {
        const std::optional<std::uint64_t> size = parse_size(g.max_size);
        if (!size) throw Failure("--max-size takes a size such as 256M, 1G or 65536: " + g.max_size, kExitUsage);
        r.options.max_size = *size;
        r.max_size_given = true;
    }
    if (r.command == Command::Passwords) return;  // only the list is read, by ConfigFile
    CodecOptions& o = r.options;
    const std::uint64_t max_size = r.options.max_size;
    o = codec_options(s);
    if (r.max_size_given) o.max_size = max_size;
    CipherSetup& u = o.setup;
    char rest;
    if (!g.suite.empty() &&
        std::sscanf(g.suite.c_str(), "%d,%d,%d%c", &u.algorithm, &u.hash, &u.chaining_mode, &rest) != 3)
        throw Failure("--suite takes three indices A,H,M: " + ranges_text(), kExitUsage);
    int* parts[] = {&u.algorithm, &u.hash, &u.chaining_mode};
    for (int p = 0; p < 3; ++p) {
        if (g.names[p].empty()) continue;
        const std::optional<int> i = suite_index(static_cast<SuitePart>(p), g.names[p]);
        if (!i) throw Failure(std::string("unknown ") + kPartWhat[p] + " '" + g.names[p] + "'; one of: " + joined(p),
                              kExitUsage);
        *parts[p] = *i;
    }
    if (!cipher_class_at(u.algorithm) || !hash_class_at(u.hash) || !cipher_mode_at(u.chaining_mode))
        throw Failure("suite " + std::to_string(u.algorithm) + "," + std::to_string(u.hash) + "," +
                          std::to_string(u.chaining_mode) + " out of range: " + ranges_text(),
                      kExitUsage);
    o.hardcore = g.hardcore.value_or(o.hardcore);
    o.append_separators = g.separators.value_or(o.append_separators);
    o.decompress = g.decompress.value_or(o.decompress);
}

constexpr const char* kSuiteHelp = R"(
Suite indices: algorithm 0 blowfish, 1 cast256, 2 mars, 3 rc6, 4 rijndael
(aes), 5 serpent, 6 twofish, 7 idea, 8 3des; hash 0 md5, 1 ripemd160, 2 sha1,
3 sha256, 4 sha512, 5 tiger; mode 0 cbc, 1 cfb8 (8-bit), 2 cfb (block), 3 ofb,
4 ctr. Default 4,0,0; --config takes them from a configuration file, and
options given here win over it.)";
constexpr const char* kPasswordHelp = R"(
Password: --password-file, else --password-fd, else $MORVANTILE_PASSWORD,
else asked on the terminal (twice to encrypt). An empty one is refused.
Passwords are used as the bytes given; one typed on the terminal becomes
its Windows-1252 bytes when every character has one (as the desktop
program and the Windows build make it; TextEncoding=1 in --config: UTF-8).
A decryption that fails also tries the password's other form.
Exit status: 0 done, 1 failed (wrong password, no password, I/O), 2 usage.)";

}  // namespace

std::optional<std::uint64_t> parse_size(std::string_view text) {
    std::uint64_t value = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value > (UINT64_MAX - 9) / 10) return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    if (i == 0) return std::nullopt;
    int shift = 0;
    if (i + 1 == text.size()) {
        switch (std::toupper(static_cast<unsigned char>(text[i]))) {
            case 'K': shift = 10; break;
            case 'M': shift = 20; break;
            case 'G': shift = 30; break;
            default: return std::nullopt;
        }
    } else if (i != text.size()) {
        return std::nullopt;
    }
    if (value == 0 || value > (UINT64_MAX >> shift)) return std::nullopt;
    return value << shift;
}

std::optional<int> suite_index(SuitePart part, std::string_view name) {
    std::string n = normalise(name);
    if (part == SuitePart::Algorithm && n == "aes") n = "rijndael";
    if (part == SuitePart::Mode && n == "cfb8bit") n = "cfb8";
    if (part == SuitePart::Mode && n == "cfbblock") n = "cfb";
    const auto& names = part_names(static_cast<int>(part));
    const auto it = std::find(names.begin(), names.end(), n);
    if (it == names.end()) return std::nullopt;
    return static_cast<int>(it - names.begin());
}

std::variant<Request, int> parse_arguments(int argc, const char* const* argv) {
    CLI::App app{"Encrypts and decrypts text blocks and files with a password, as Morvantile does.",
                 "morvantile-cli"};
    app.set_version_flag("--version", version_text());
    app.require_subcommand(1);
    Request r;
    Given g;
    const std::pair<Command, CLI::App*> subs[] = {
        {Command::Encrypt, app.add_subcommand("encrypt", "encrypts standard input into a block on standard output")},
        {Command::Decrypt, app.add_subcommand("decrypt", "decrypts a block from standard input to standard output")},
        {Command::EncryptFile, app.add_subcommand("encrypt-file", "encrypts file IN into file OUT")},
        {Command::DecryptFile, app.add_subcommand("decrypt-file", "decrypts file IN into file OUT")},
        {Command::Passwords, app.add_subcommand("passwords", "lists the Password Manager's entries")},
    };
    app.footer(std::string("\nOptions follow the subcommand: morvantile-cli SUBCOMMAND --help.") + kSuiteHelp +
               kPasswordHelp);
    for (auto [cmd, sub] : subs) {
        const bool file = cmd == Command::EncryptFile || cmd == Command::DecryptFile;
        sub->footer(std::string(kSuiteHelp) + kPasswordHelp);
        sub->add_option("--password-file", r.password.file, "the password is the first line of FILE")
            ->type_name("FILE");
        sub->add_option("--password-fd", r.password.fd, "the password is the first line read from descriptor N")
            ->type_name("N")
            ->check(CLI::NonNegativeNumber);
        auto* config = sub->add_option("--config", r.config_path)->type_name("FILE");
        if (cmd == Command::Passwords) {
            config->description("configuration file holding the list")->required();
            sub->footer(std::string("\nPrints \"NNN name\" per entry; NNN is its stored settings: algorithm,\n"
                                    "chaining mode, hash. No list in the file, or NoConfig set: exit 1.") +
                        kPasswordHelp);
            continue;
        }
        config->description(file ? "take the suite from configuration FILE"
                                 : "take the suite, Hardcore, separators and no-decompress from FILE");
        auto* suite = sub->add_option("--suite", g.suite, "indices: algorithm, hash, mode")->type_name("A,H,M");
        for (int p = 0; p < 3; ++p)
            sub->add_option(std::string("--") + kPartWhat[p], g.names[p], joined(p))
                ->type_name("NAME")
                ->excludes(suite);
        if (file) {
            sub->add_option("IN", r.in_path, "file to read")->type_name("FILE")->required();
            sub->add_option("OUT", r.out_path, "file to write; replaced only on success, never IN")
                ->type_name("FILE")
                ->required();
            if (cmd == Command::EncryptFile)
                sub->add_option("--threads", r.threads,
                                "compress on N threads (default: one per core, at most " +
                                    std::to_string(kMaxDeflateThreads) + "; 1: one zlib stream, as before)")
                    ->type_name("N")
                    ->check(CLI::Range(1u, 1024u));
            continue;
        }
        add_switch(sub, "hardcore", "no-hardcore", g.hardcore, true, "a second pass with suite 4,0,0");
        add_switch(sub, "separators", "no-separators", g.separators, true, "encrypt: add the START and END lines");
        add_switch(sub, "no-decompress", "decompress", g.decompress, false, "decrypt: output the zlib stream");
        sub->add_option("--max-size", g.max_size,
                        "the longest plaintext, to encrypt or as decrypted (default 256M, or MaxTextSize of --config)")
            ->type_name("SIZE");
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : kExitUsage;
    }
    for (auto [cmd, sub] : subs)
        if (sub->parsed()) r.command = cmd;
    try {
        resolve(r, g);
    } catch (const Failure& f) {
        print_error(f.what());
        return f.status;
    }
    return r;
}

}  // namespace morvantile::cli
