#include "config/ini_file.h"

#include <cerrno>
#include <climits>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/ascii.h"
#include "filecrypt/file_system.h"

namespace morvantile {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kLineEnd = "\r\n";

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

// Names from the file and names asked for are compared after trimming both,
// so " misc " in a call finds "[misc]".
bool same_name(std::string_view stored, std::string_view wanted) {
    return equal_ignoring_case(stored, trim(wanted));
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

[[noreturn]] void fail(const std::string& what, const std::string& path, int err) {
    throw EIniFileError(what + " \"" + path + "\": " + std::generic_category().message(err));
}

// Follows symbolic links so that save() replaces the file a link points to
// rather than turning the link into a plain file. A link to a missing file
// gives that file's path, which save() then creates.
std::string resolve_links(const std::string& path) {
    std::string p = path;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        if (hops == 40) fail("Cannot save the settings file", path, ELOOP);
        std::string target(st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : PATH_MAX, '\0');
        const ssize_t n = ::readlink(p.c_str(), target.data(), target.size());
        if (n < 0) fail("Cannot follow the link", p, errno);
        // The link changed between lstat and readlink; read it again.
        if (static_cast<std::size_t>(n) == target.size()) continue;
        target.resize(static_cast<std::size_t>(n));
        p = target.starts_with('/') ? target : folder_of(p) + "/" + target;
    }
}

// Owns the temporary file until it has been renamed into place, so every
// early exit closes and removes it.
class TempFile {
public:
    explicit TempFile(std::string pattern) : path_(std::move(pattern)) {
        fd_ = ::mkstemp(path_.data());
        if (fd_ < 0) path_.clear();
    }
    ~TempFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    // close() reports write errors some filesystems only detect then.
    int close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }
    void committed() { path_.clear(); }

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace

IniFile::Line IniFile::classify(std::string_view text) {
    Line line;
    line.text = std::string(text);
    const std::string_view t = trim(text);
    if (t.empty() || t.front() == ';') return line;
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
        line.kind = LineKind::Section;
        line.name = std::string(trim(t.substr(1, t.size() - 2)));
        return line;
    }
    const auto eq = t.find('=');
    if (eq == std::string_view::npos) return line;
    const std::string_view key = trim(t.substr(0, eq));
    // "=value" has no name to look it up by.
    if (key.empty()) return line;
    line.kind = LineKind::Key;
    line.name = std::string(key);
    line.value = std::string(trim(t.substr(eq + 1)));
    return line;
}

IniFile IniFile::parse(std::string_view text) {
    IniFile ini;
    if (text.starts_with(kBom)) {
        ini.bom_ = true;
        text.remove_prefix(kBom.size());
    }
    while (!text.empty()) {
        const auto lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        if (lf == std::string_view::npos) {
            ini.final_line_end_ = false;
            text = {};
        } else {
            if (line.ends_with('\r')) line.remove_suffix(1);
            text.remove_prefix(lf + 1);
        }
        ini.lines_.push_back(classify(line));
    }
    return ini;
}

std::string IniFile::serialize() const {
    std::string out;
    if (bom_) out += kBom;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        out += lines_[i].text;
        if (i + 1 < lines_.size() || final_line_end_) out += kLineEnd;
    }
    return out;
}

IniFile IniFile::load(const std::string& path) {
    int fd = -1;
    try {
        // A FIFO or a device given as the file is refused at once, never
        // waited on.
        fd = open_regular_for_reading(path);
    } catch (const EFileError& e) {
        if (e.error() == ENOENT) return IniFile();
        if (e.error() == 0) throw EIniFileError(e.what());
        fail("Cannot open the settings file", path, e.error());
    }
    std::string text;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            fail("Cannot read the settings file", path, err);
        }
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return parse(text);
}

void IniFile::save(const std::string& path) const {
    const std::string target = resolve_links(path);
    const char* what = "Cannot save the settings file";

    mode_t mode = 0600;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) fail(what, path, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        fail(what, path, errno);
    }

    const std::string folder = folder_of(target);
    const auto slash = target.rfind('/');
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    // Hidden and beside the target: rename() only replaces atomically within
    // one filesystem.
    TempFile tmp(folder + "/." + base + ".XXXXXX");
    if (tmp.fd() < 0) fail(what, path, errno);
    // The old file's bits; for a new file 0600 set here, because mkstemp's
    // 0600 is narrowed by the umask.
    if (::fchmod(tmp.fd(), mode) != 0) fail(what, path, errno);

    const std::string text = serialize();
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(tmp.fd(), text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(what, path, errno);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(tmp.fd()) != 0) fail(what, path, errno);
    if (tmp.close() != 0) fail(what, path, errno);
    if (::rename(tmp.path().c_str(), target.c_str()) != 0) fail(what, path, errno);
    tmp.committed();

    // Without this the rename itself may be lost in a crash, leaving the old
    // file or none.
    if (const int err = flush_folder(folder)) fail("Saved but could not sync the folder of", path, err);
}

std::size_t IniFile::find_key(std::string_view section, std::string_view key) const {
    bool inside = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Line& line = lines_[i];
        if (line.kind == LineKind::Section) inside = same_name(line.name, section);
        else if (inside && line.kind == LineKind::Key && same_name(line.name, key)) return i;
    }
    return std::string::npos;
}

std::size_t IniFile::insertion_point(std::string_view section) const {
    std::size_t i = 0;
    while (i < lines_.size() && !(lines_[i].kind == LineKind::Section && same_name(lines_[i].name, section))) ++i;
    if (i == lines_.size()) return std::string::npos;
    // After the last key line of the block, so comments and blank lines that
    // lead into the next section stay in front of it.
    std::size_t at = i + 1;
    for (++i; i < lines_.size() && lines_[i].kind != LineKind::Section; ++i)
        if (lines_[i].kind == LineKind::Key) at = i + 1;
    return at;
}

bool IniFile::has_section(std::string_view section) const {
    for (const Line& line : lines_)
        if (line.kind == LineKind::Section && same_name(line.name, section)) return true;
    return false;
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const {
    const std::size_t i = find_key(section, key);
    if (i == std::string::npos) return std::nullopt;
    return lines_[i].value;
}

std::string IniFile::read_string(std::string_view section, std::string_view key, std::string_view def) const {
    const std::size_t i = find_key(section, key);
    if (i == std::string::npos) return std::string(def);
    return lines_[i].value.substr(0, kIniValueLimit);
}

std::int32_t IniFile::read_integer(std::string_view section, std::string_view key, std::int32_t def) const {
    const std::size_t i = find_key(section, key);
    if (i == std::string::npos) return def;
    return parse_integer(lines_[i].value).value_or(def);
}

bool IniFile::read_bool(std::string_view section, std::string_view key, bool def) const {
    const std::size_t i = find_key(section, key);
    if (i == std::string::npos) return def;
    const auto n = parse_integer(lines_[i].value);
    return n ? *n != 0 : def;
}

std::vector<std::pair<std::string, std::string>> IniFile::section_entries(std::string_view section) const {
    std::vector<std::pair<std::string, std::string>> out;
    bool inside = false;
    for (const Line& line : lines_) {
        if (line.kind == LineKind::Section) inside = same_name(line.name, section);
        else if (inside && line.kind == LineKind::Key) out.emplace_back(line.name, line.value);
    }
    return out;
}

void IniFile::write_string(std::string_view section, std::string_view key, std::string_view value) {
    section = trim(section);
    key = trim(key);
    if (section.find_first_of("\r\n") != std::string_view::npos)
        throw EIniFileError("Section name cannot hold a line break");
    // Each of these would be read back as something other than this key.
    if (key.empty() || key.find_first_of("=\r\n") != std::string_view::npos || key.front() == ';' ||
        key.front() == '[')
        throw EIniFileError("Invalid key name \"" + std::string(key) + "\"");

    std::string clean;
    clean.reserve(value.size());
    for (char c : value)
        if (c != '\r' && c != '\n') clean += c;

    final_line_end_ = true;
    const std::size_t found = find_key(section, key);
    if (found != std::string::npos) {
        Line& line = lines_[found];
        line.text = line.name + "=" + clean;
        line.value = std::string(trim(clean));
        return;
    }
    const Line entry = classify(std::string(key) + "=" + clean);
    const std::size_t at = insertion_point(section);
    if (at != std::string::npos) {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), entry);
        return;
    }
    // One empty line before the new section, but not a second one: the
    // password list is erased and written again on every save, and the file
    // must not grow a blank line each time.
    if (!lines_.empty() && !trim(lines_.back().text).empty()) lines_.push_back(Line{});
    lines_.push_back(classify("[" + std::string(section) + "]"));
    lines_.push_back(entry);
}

void IniFile::write_integer(std::string_view section, std::string_view key, std::int32_t value) {
    write_string(section, key, std::to_string(value));
}

void IniFile::write_bool(std::string_view section, std::string_view key, bool value) {
    write_string(section, key, value ? "1" : "0");
}

void IniFile::erase_section(std::string_view section) {
    std::vector<Line> kept;
    kept.reserve(lines_.size());
    bool inside = false;
    for (Line& line : lines_) {
        if (line.kind == LineKind::Section) inside = same_name(line.name, section);
        if (!inside) kept.push_back(std::move(line));
    }
    if (kept.size() != lines_.size()) final_line_end_ = true;
    lines_ = std::move(kept);
}

std::optional<std::int32_t> IniFile::parse_integer(std::string_view text) {
    std::string_view s = trim(text);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    std::uint32_t magnitude = 0;
    if (s.starts_with('$') || s.starts_with("0x") || s.starts_with("0X")) {
        s.remove_prefix(s.front() == '$' ? 1 : 2);
        if (s.empty() || s.size() > 8) return std::nullopt;
        for (char c : s) {
            const int d = hex_digit(c);
            if (d < 0) return std::nullopt;
            magnitude = magnitude << 4 | static_cast<std::uint32_t>(d);
        }
        // A hex value is a bit pattern: "$FFFFFFFF" is -1, "-$1" is -1 too.
        if (negative) magnitude = 0u - magnitude;
        return static_cast<std::int32_t>(magnitude);
    }
    if (s.empty()) return std::nullopt;
    // 2^31 is allowed here so that "-2147483648" reads; "2147483648" is
    // refused below.
    constexpr std::uint32_t kLimit = 0x80000000u;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto d = static_cast<std::uint32_t>(c - '0');
        if (magnitude > (kLimit - d) / 10) return std::nullopt;
        magnitude = magnitude * 10 + d;
    }
    if (!negative && magnitude == kLimit) return std::nullopt;
    return static_cast<std::int32_t>(negative ? 0u - magnitude : magnitude);
}

}  // namespace morvantile
