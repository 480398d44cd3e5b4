#include "automation/desktop_helpers.h"

#include <chrono>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "config/settings.h"

namespace morvantile {

namespace {

// Keysym numbers, from the X protocol's keysym table.
enum : std::uint32_t {
    kBackSpace = 0xff08, kTab = 0xff09, kReturn = 0xff0d, kPause = 0xff13, kScrollLock = 0xff14,
    kEscape = 0xff1b, kHome = 0xff50, kLeft = 0xff51, kUp = 0xff52, kRight = 0xff53, kDown = 0xff54,
    kPrior = 0xff55, kNext = 0xff56, kEnd = 0xff57, kPrint = 0xff61, kInsert = 0xff63, kMenu = 0xff67,
    kNumLock = 0xff7f, kKpMultiply = 0xffaa, kKpAdd = 0xffab, kKpSubtract = 0xffad, kKpDecimal = 0xffae,
    kKpDivide = 0xffaf, kKp0 = 0xffb0, kF1 = 0xffbe, kShiftL = 0xffe1, kShiftR = 0xffe2, kControlL = 0xffe3,
    kControlR = 0xffe4, kCapsLock = 0xffe5, kAltL = 0xffe9, kAltR = 0xffea, kSuperL = 0xffeb, kSuperR = 0xffec,
    kDelete = 0xffff,
};

std::string executable_realpath(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || access(path.c_str(), X_OK) != 0) return {};
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) return {};
    std::string result(resolved);
    std::free(resolved);
    return result;
}

}  // namespace

std::uint32_t vk_keysym(std::uint8_t vk) {
    if (vk >= 0x30 && vk <= 0x39) return '0' + (vk - 0x30);
    if (vk >= 0x41 && vk <= 0x5A) return 'a' + (vk - 0x41);
    if (vk >= 0x60 && vk <= 0x69) return kKp0 + (vk - 0x60);
    if (vk >= 0x70 && vk <= 0x87) return kF1 + (vk - 0x70);
    switch (vk) {
        case 0x08: return kBackSpace;
        case 0x09: return kTab;
        case 0x0D: return kReturn;
        case 0x13: return kPause;
        case 0x14: return kCapsLock;
        case 0x1B: return kEscape;
        case 0x20: return ' ';
        case 0x21: return kPrior;
        case 0x22: return kNext;
        case 0x23: return kEnd;
        case 0x24: return kHome;
        case 0x25: return kLeft;
        case 0x26: return kUp;
        case 0x27: return kRight;
        case 0x28: return kDown;
        case 0x2C: return kPrint;
        case 0x2D: return kInsert;
        case 0x2E: return kDelete;
        case 0x5B: return kSuperL;
        case 0x5C: return kSuperR;
        case 0x5D: return kMenu;
        case 0x6A: return kKpMultiply;
        case 0x6B: return kKpAdd;
        case 0x6D: return kKpSubtract;
        case 0x6E: return kKpDecimal;
        case 0x6F: return kKpDivide;
        case 0x90: return kNumLock;
        case 0x91: return kScrollLock;
        case 0x10:
        case 0xA0: return kShiftL;
        case 0xA1: return kShiftR;
        case 0x11:
        case 0xA2: return kControlL;
        case 0xA3: return kControlR;
        case 0x12:
        case 0xA4: return kAltL;
        case 0xA5: return kAltR;
        case 0xBA: return ';';
        case 0xBB: return '=';
        case 0xBC: return ',';
        case 0xBD: return '-';
        case 0xBE: return '.';
        case 0xBF: return '/';
        case 0xC0: return '`';
        case 0xDB: return '[';
        case 0xDC: return '\\';
        case 0xDD: return ']';
        case 0xDE: return '\'';
        case 0xE2: return '<';
        default: return 0;
    }
}

std::uint32_t char_keysym(unsigned char c) {
    if ((c >= 0x20 && c <= 0x7E) || c >= 0xA0) return c;
    switch (c) {
        case '\b': return kBackSpace;
        case '\t': return kTab;
        case '\n':
        case '\r': return kReturn;
        case 0x1B: return kEscape;
        default: return 0;
    }
}

std::string modifier_key_name(std::uint8_t vk) {
    switch (vk) {
        case 0x10:
        case 0xA0:
        case 0xA1: return "Shift";
        case 0x11:
        case 0xA2:
        case 0xA3: return "Ctrl";
        case 0x12:
        case 0xA4:
        case 0xA5: return "Alt";
        default: return {};
    }
}

std::string process_program_file_of(std::int64_t pid) {
    if (pid <= 0) return {};
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    std::string target(PATH_MAX, '\0');
    const ssize_t length = readlink(link.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return {};
    target.resize(static_cast<std::size_t>(length));
    // A program file replaced on disk (an update) while it runs.
    constexpr std::string_view deleted = " (deleted)";
    if (target.size() > deleted.size() && target.ends_with(deleted)) target.resize(target.size() - deleted.size());
    return target;
}

std::string resolve_program(std::string_view name) {
    if (name.empty()) return {};
    const std::string program(name);
    if (program.find('/') != std::string::npos) return executable_realpath(program);
    const std::string found = find_on_path(program);
    return found.empty() ? std::string() : executable_realpath(found);
}

std::uint64_t monotonic_ms() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string latin1_to_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out.push_back(ch);
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

}  // namespace morvantile
