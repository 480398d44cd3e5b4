// morvantile-cli: the text codec and file mode on the command line, for
// pipes, scripts and mail filters. Blocks and files are the same bytes that
// the desktop program reads and writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

#include "cipher/wipe.h"
#include "textcrypt/text_codec.h"

namespace morvantile::cli {

inline constexpr int kExitFailure = 1;  // the operation failed, or no usable password
inline constexpr int kExitUsage = 2;    // the command line cannot be carried out as given
inline constexpr const char* kPasswordVariable = "MORVANTILE_PASSWORD";

enum class Command { Encrypt, Decrypt, EncryptFile, DecryptFile, Passwords };

// Where the password comes from; the first one given wins, in this order,
// then MORVANTILE_PASSWORD, then the terminal.
struct PasswordSources {
    std::string file;  // --password-file; empty: not given
    int fd = -1;       // --password-fd; negative: not given
};

struct Request {
    Command command = Command::Encrypt;
    CodecOptions options;  // files use only the suite
    std::string in_path, out_path, config_path;
    PasswordSources password;
    int text_encoding = 0;  // for a password typed on the terminal
    bool max_size_given = false;  // --max-size, over the configuration's MaxTextSize
    unsigned threads = 0;         // --threads of encrypt-file; 0: the machine's cores
};

// "256M", "1G", "512K", "1048576" (bytes): the size --max-size takes;
// nullopt for anything else, or 0.
std::optional<std::uint64_t> parse_size(std::string_view text);

// An error for stderr and the exit status to end with.
struct Failure : std::runtime_error {
    int status;
    explicit Failure(const std::string& message, int exit_status = kExitFailure)
        : std::runtime_error(message), status(exit_status) {}
};

// Parses the arguments (argv[0] first) and applies --config. Help, the
// version and usage errors are printed here; their exit status comes back
// instead of a request.
std::variant<Request, int> parse_arguments(int argc, const char* const* argv);

// The catalogue index for a name, matched without regard to case, "-" and
// "_" (so "RipeMD-160" and "ripemd160" both name hash 1); nullopt if unknown.
enum class SuitePart { Algorithm, Hash, Mode };
std::optional<int> suite_index(SuitePart part, std::string_view name);

// Passwords are read up to this many bytes: a password file or descriptor
// that is something else (/dev/zero, a log) must not fill the memory.
inline constexpr std::size_t kMaxPasswordBytes = 4096;

// The first line of `fd` up to LF or the end, without LF or CR LF. Reads
// byte by byte, so whatever follows the line stays unread. A line longer
// than `limit` bytes throws Failure, naming `what` ("the password file
// /x/y") as the source.
std::string read_first_line(int fd, std::size_t limit = kMaxPasswordBytes, std::string_view what = "the input");

// The password from the first source given; the terminal asks twice when
// `confirm`. Bytes from a file, a descriptor or the environment are used as
// they are; a password typed on the terminal (UTF-8) becomes the bytes the
// desktop program makes of a typed one (`text_encoding`: the TextEncoding
// option). Throws Failure when there is none, it is empty, or the two typed
// ones differ.
std::string obtain_password(const PasswordSources& sources, bool confirm, std::string_view prompt,
                            int text_encoding = 0);

// Prints a message on stderr, CR LF as LF, with a final line end.
void print_error(std::string_view message);

// Carries out the request, printing any error. Returns the exit status.
int run(const Request& request);

int main(int argc, const char* const* argv);

}  // namespace morvantile::cli
