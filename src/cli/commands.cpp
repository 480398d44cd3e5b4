#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <unistd.h>
#include <vector>

#include "cipher/stream.h"
#include "cli/cli.h"
#include "config/config_file.h"
#include "filecrypt/file_codec.h"
#include "filecrypt/file_system.h"

namespace morvantile::cli {

namespace {

constexpr std::string_view kPrompt = "Enter password: ";

std::string limit_text(std::uint64_t limit) { return size_text(limit) + ", the limit (--max-size)"; }

// All of standard input, as bytes, into a stream that wipes what it held;
// more than `limit` bytes (/dev/zero, a wrong file) are refused.
void read_input(TMemoryStream& input, std::uint64_t limit) {
    struct Chunk {
        char bytes[65536];
        ~Chunk() { secure_zero(bytes, sizeof bytes); }
    } chunk;
    std::uint64_t total = 0;
    for (ssize_t n; (n = ::read(STDIN_FILENO, chunk.bytes, sizeof chunk.bytes)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) continue;
            throw Failure(std::string("Cannot read standard input: ") + std::strerror(errno));
        }
        total += static_cast<std::uint64_t>(n);
        if (total > limit) throw Failure("Standard input is larger than " + limit_text(limit));
        input.write(chunk.bytes, static_cast<std::uint32_t>(n));
    }
}

bool holds_base64_character(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
    });
}

void write_output(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
        if (n > 0) bytes.remove_prefix(static_cast<std::size_t>(n));
        else if (errno != EINTR) throw Failure(std::string("Cannot write standard output: ") + std::strerror(errno));
    }
}

int run_text(const Request& r, bool encrypt) {
    // The password first, so that --password-fd 0 can take the input's first line.
    WipedString password{obtain_password(r.password, encrypt, kPrompt, r.text_encoding)};
    const std::uint64_t limit = r.options.max_size;
    TMemoryStream input;
    read_input(input, encrypt ? limit : block_size_bound(limit));
    // An empty or broken pipe in a mail filter is no message that decrypts
    // to nothing.
    if (!encrypt && !holds_base64_character(input.data())) throw Failure("no ciphertext block in the input");
    CodecResult result = encrypt ? encrypt_message(input.data(), password.s, r.options)
                                 : decrypt_message(input.data(), password.s, r.options);
    if (result.failed_step() == CodecStep::DecryptedTooLarge)
        throw Failure("The decrypted text would be larger than " + limit_text(limit));
    if (result.failed_step() == CodecStep::TooLarge) throw Failure("The text is larger than " + limit_text(limit));
    if (!result.ok()) throw Failure(std::string(result.message()));
    write_output(result.text());
    return 0;
}

// The step and the percentage done on one line of a terminal, rewritten in
// place and erased at the end, so that nothing of it stays between the
// prompt and a message.
class ProgressLine {
public:
    ProgressLine() : on_(::isatty(STDERR_FILENO) == 1) {}
    ~ProgressLine() {
        if (shown_) put("\r\033[K");
    }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    bool on() const { return on_; }
    void show(std::string_view text) {
        put("\r" + std::string(text) + "\033[K");
        shown_ = true;
    }

private:
    static void put(const std::string& s) {
        // A terminal that cannot take it is no reason to stop the work.
        for (std::size_t done = 0; done < s.size();) {
            const ssize_t n = ::write(STDERR_FILENO, s.data() + done, s.size() - done);
            if (n > 0) done += static_cast<std::size_t>(n);
            else if (errno != EINTR) return;
        }
    }

    bool on_;
    bool shown_ = false;
};

int run_file(const Request& r, bool encrypt) {
    WipedString password{obtain_password(r.password, encrypt, kPrompt, r.text_encoding)};
    // From here Ctrl+C and the like take a hidden part-written output with
    // them where the file system has no unnamed files (elsewhere it has no
    // name to begin with).
    remove_pending_files_on_signals();
    FileCommandOptions options;
    options.deflate.threads = r.threads;
    std::optional<std::string> failure;
    {
        ProgressLine line;
        if (line.on()) options.progress = [&line](std::string_view text) { line.show(text); };
        failure = encrypt ? encrypt_file(r.in_path, r.out_path, r.options.setup, password.s, options)
                          : decrypt_file(r.in_path, r.out_path, r.options.setup, password.s, options);
    }
    if (failure) throw Failure(*failure);
    return 0;
}

// Keeps the messages until the end: when the list password could not be
// had, that is the reason to show, not the failures that follow from it.
struct CollectingReporter : ErrorReporter {
    std::vector<std::string> messages;
    void show_error(std::string_view m) override {
        if (messages.empty() || messages.back() != m) messages.emplace_back(m);
    }
};

// Answers the list password prompt from the command line's sources.
struct ListPrompt : ListPasswordPrompt {
    RuntimeState& runtime;
    const PasswordSources& sources;
    int text_encoding;
    std::optional<std::string> failure;
    ListPrompt(RuntimeState& rt, const PasswordSources& src, int encoding)
        : runtime(rt), sources(src), text_encoding(encoding) {}
    bool setpasswordpasswordlist(int kind) override {
        try {
            runtime.ListPassword = obtain_password(
                sources, kind == 2, std::string(kind == 2 ? kListPromptEncrypt : kListPromptDecrypt) + " ",
                text_encoding);
            return true;
        } catch (const Failure& f) {
            failure = f.what();
            return false;
        }
    }
};

int run_passwords(const Request& r) {
    Settings settings;
    RuntimeState runtime;
    PasswordLists lists;
    runtime.ConfigFileName = r.config_path;
    CollectingReporter errors;
    ListPrompt prompt(runtime, r.password, r.text_encoding);
    ConfigFile(settings, runtime, lists, prompt, errors).readinifile();
    if (prompt.failure) throw Failure(*prompt.failure);
    for (const std::string& message : errors.messages) print_error(message);
    if (!errors.messages.empty()) return kExitFailure;
    if (settings.NoConfig) throw Failure("NoConfig is set in " + r.config_path + ": its password list is not read");
    if (!runtime.PasswordListPresent) throw Failure("No password list in " + r.config_path);
    std::string listing;
    for (std::size_t i = 0; i < lists.size(); ++i)
        listing += lists.passwordlist_setting[i] + " " + lists.passwordlist_name[i] + "\n";
    write_output(listing);
    return 0;
}

}  // namespace

void print_error(std::string_view message) {
    std::string text(message);
    for (std::size_t i; (i = text.find("\r\n")) != std::string::npos;) text.erase(i, 1);
    std::cerr << text << std::endl;
}

int run(const Request& r) {
    try {
        switch (r.command) {
            case Command::Encrypt: return run_text(r, true);
            case Command::Decrypt: return run_text(r, false);
            case Command::EncryptFile: return run_file(r, true);
            case Command::DecryptFile: return run_file(r, false);
            case Command::Passwords: return run_passwords(r);
        }
    } catch (const Failure& f) {
        print_error(f.what());
        return f.status;
    } catch (const std::exception& e) {
        print_error(e.what());
    }
    return kExitFailure;
}

int main(int argc, const char* const* argv) {
    auto parsed = parse_arguments(argc, argv);
    if (const int* status = std::get_if<int>(&parsed)) return *status;
    return run(std::get<Request>(parsed));
}

}  // namespace morvantile::cli
