#include "filecrypt/file_system.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvantile {

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& name, int err) {
    throw EFileError(what + " " + name + ": " + std::strerror(err), err);
}

const char* kind_of(mode_t mode) {
    if (S_ISREG(mode)) return nullptr;
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    return "a special file";
}

// Opens `name` without waiting (a FIFO with no writer, a device) and keeps
// the descriptor only when it is a regular file, in blocking mode again.
int open_regular(const std::string& name, int flags, const char* what) {
    const int fd = ::open(name.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) fail(what, name, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        fail(what, name, err);
    }
    if (const char* kind = kind_of(st.st_mode)) {
        ::close(fd);
        throw EFileError(not_a_regular_file(name, kind));
    }
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
        const int err = errno;
        ::close(fd);
        fail(what, name, err);
    }
    return fd;
}

// The hidden stand-ins of pending files on file systems without unnamed
// files, for the signal handlers. Slots are filled before they are marked
// used, so a handler never sees half a name.
struct PendingSlot {
    volatile sig_atomic_t used = 0;
    char path[PATH_MAX] = {};
};
PendingSlot g_pending[8];

int remember_pending(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < 8; ++i) {
        if (g_pending[i].used) continue;
        std::memcpy(g_pending[i].path, path.c_str(), path.size() + 1);
        g_pending[i].used = 1;
        return i;
    }
    return -1;  // more at once than any operation makes; the destructor still removes it
}

void forget_pending(int slot) {
    if (slot >= 0) g_pending[slot].used = 0;
}

extern "C" void remove_pending_and_end(int signal) {
    for (PendingSlot& slot : g_pending)
        if (slot.used) ::unlink(slot.path);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

std::string random_suffix() {
    static std::mt19937_64 generator{std::random_device{}()};
    constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string out(6, 'x');
    for (char& c : out) c = kLetters[generator() % (sizeof kLetters - 1)];
    return out;
}

class PosixFile : public File {
public:
    PosixFile(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
    ~PosixFile() override {
        if (fd_ >= 0) ::close(fd_);
    }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    std::size_t read(void* buffer, std::size_t count) override {
        auto* p = static_cast<char*>(buffer);
        std::size_t total = 0;
        while (total < count) {
            const ssize_t n = ::read(fd_, p + total, count - total);
            if (n == 0) break;
            if (n < 0) {
                if (errno == EINTR) continue;
                fail("cannot read", name_, errno);
            }
            total += static_cast<std::size_t>(n);
        }
        return total;
    }

    void write(const void* buffer, std::size_t count) override {
        const auto* p = static_cast<const char*>(buffer);
        while (count > 0) {
            const ssize_t n = ::write(fd_, p, count);
            if (n < 0) {
                if (errno == EINTR) continue;
                fail("cannot write", name_, errno);
            }
            if (n == 0) fail("cannot write", name_, EIO);
            p += n;
            count -= static_cast<std::size_t>(n);
        }
    }

    std::uint64_t size() override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) fail("cannot read the size of", name_, errno);
        return static_cast<std::uint64_t>(st.st_size);
    }

    void sync() override {
        if (::fsync(fd_) != 0) fail("cannot flush", name_, errno);
    }

    void close() override {
        if (fd_ < 0) return;
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) fail("cannot close", name_, errno);
    }

    void rewind() {
        if (::lseek(fd_, 0, SEEK_SET) < 0) fail("cannot rewind", name_, errno);
    }

    // Against every other program that locks the file; one that holds a
    // lock already makes this fail at once.
    void lock_exclusively() {
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
            fail(errno == EWOULDBLOCK ? "another program holds a lock on" : "cannot lock", name_, errno);
    }

protected:
    int fd_;
    std::string name_;
};

bool stat_of(const std::string& name, struct stat& st) { return ::stat(name.c_str(), &st) == 0; }

// Where the kernel or the file system has no no-replace rename, a hard link
// gives the same guarantee: link() never replaces an existing name.
bool rename_by_link(const std::string& from, const std::string& to) {
    if (::link(from.c_str(), to.c_str()) == 0) {
        if (::unlink(from.c_str()) == 0) return true;
        ::unlink(to.c_str());
        return false;
    }
    if (errno == EEXIST) return false;
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return false;
    // No hard links either (FAT and the like): check, then rename.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    if (errno != ENOENT) return false;
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool rename_no_replace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
    return rename_by_link(from, to);
}

// A pending file on a descriptor of its own; the kinds differ in how the
// file gets its name.
class PosixPendingFile : public PosixFile, public PendingFile {
public:
    using PosixFile::PosixFile;
    std::size_t read(void* b, std::size_t n) override { return PosixFile::read(b, n); }
    void write(const void* b, std::size_t n) override { PosixFile::write(b, n); }
    std::uint64_t size() override { return PosixFile::size(); }
    void sync() override { PosixFile::sync(); }
    void close() override { PosixFile::close(); }
    void rewind() override { PosixFile::rewind(); }
};

// An unnamed file (O_TMPFILE) in the destination's folder.
class UnnamedFile : public PosixPendingFile {
public:
    using PosixPendingFile::PosixPendingFile;

    void link(const std::string& name, bool replace) override {
        if (fd_ < 0) fail("cannot name", name, EBADF);
        if (link_to(name)) return;
        if (errno != EEXIST || !replace) fail("cannot create", name, errno);
        // The name is taken: the complete file goes under a hidden name
        // first, then over the old one in one rename.
        const std::string hidden = folder_of(name) + "/.morvantile-";
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string temporary = hidden + random_suffix();
            if (!link_to(temporary)) {
                if (errno == EEXIST) continue;
                fail("cannot create", name, errno);
            }
            if (std::rename(temporary.c_str(), name.c_str()) == 0) return;
            const int err = errno;
            ::unlink(temporary.c_str());
            fail("cannot replace", name, err);
        }
        fail("cannot create", name, EEXIST);
    }

private:
    bool link_to(const std::string& name) {
        if (::linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return true;
        // Linking a descriptor directly takes a privilege; its /proc name
        // does the same for everyone.
        if (errno != ENOENT && errno != EPERM) return false;
        const std::string proc = "/proc/self/fd/" + std::to_string(fd_);
        return ::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    }
};

// Where the file system has no unnamed files: a hidden file in the folder,
// renamed when complete and removed otherwise.
class HiddenFile : public PosixPendingFile {
public:
    HiddenFile(int fd, std::string path) : PosixPendingFile(fd, path), path_(std::move(path)), slot_(remember_pending(path_)) {}
    ~HiddenFile() override {
        if (!path_.empty()) ::unlink(path_.c_str());
        forget_pending(slot_);
    }
    HiddenFile(const HiddenFile&) = delete;
    HiddenFile& operator=(const HiddenFile&) = delete;

    void link(const std::string& name, bool replace) override {
        const bool done = replace ? std::rename(path_.c_str(), name.c_str()) == 0 : rename_no_replace(path_, name);
        if (!done) fail(replace ? "cannot replace" : "cannot create", name, errno);
        path_.clear();
        forget_pending(slot_);
        slot_ = -1;
    }

private:
    std::string path_;
    int slot_;
};

}  // namespace

std::string system_reason(int error) { return error == 0 ? std::string() : std::strerror(error); }

std::string reason_line(const std::exception& e) {
    const auto* file_error = dynamic_cast<const EFileError*>(&e);
    if (file_error == nullptr || file_error->error() == 0) return {};
    return "\r\n" + system_reason(file_error->error());
}

int open_regular_for_reading(const std::string& name) { return open_regular(name, O_RDONLY, "cannot open"); }

std::optional<std::string> special_file_kind(const std::string& name) {
    struct stat st {};
    if (::lstat(name.c_str(), &st) != 0) return std::nullopt;
    if (S_ISLNK(st.st_mode)) {
        if (::stat(name.c_str(), &st) != 0)
            return errno == ENOENT ? std::optional<std::string>("a link to a missing file") : std::nullopt;
    }
    if (const char* kind = kind_of(st.st_mode)) return std::string(kind);
    return std::nullopt;
}

std::string not_a_regular_file(const std::string& name, const std::string& kind) {
    return name + " is " + kind + ", not a regular file.";
}

void remove_pending_files_on_signals() {
    struct sigaction action {};
    action.sa_handler = remove_pending_and_end;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signal);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the program was started to ignore (nohup) stays ignored.
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &action, nullptr);
    }
}

std::string folder_of(const std::string& name) {
    const auto slash = name.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : name.substr(0, slash);
}

int flush_folder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    return rc != 0 && err != EINVAL ? err : 0;
}

bool PosixFileSystem::file_exists(const std::string& name) {
    struct stat st {};
    return stat_of(name, st) && !S_ISDIR(st.st_mode);
}

bool PosixFileSystem::directory_exists(const std::string& name) {
    struct stat st {};
    return stat_of(name, st) && S_ISDIR(st.st_mode);
}

std::optional<FileId> PosixFileSystem::identity(const std::string& name) {
    struct stat st {};
    if (!stat_of(name, st)) return std::nullopt;
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::optional<std::string> PosixFileSystem::special_kind(const std::string& name) { return special_file_kind(name); }

std::unique_ptr<File> PosixFileSystem::open_read(const std::string& name) {
    return std::make_unique<PosixFile>(open_regular(name, O_RDONLY, "cannot open"), name);
}

std::unique_ptr<PendingFile> PosixFileSystem::create_pending(const std::string& name) {
    const std::string folder = folder_of(name);
    if (unnamed_files_) {
        const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0) return std::make_unique<UnnamedFile>(fd, name);
        // No unnamed files here (the file system, or a kernel from before
        // them): the hidden named file below.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) fail("cannot create", name, errno);
    }
    std::string pattern = folder + "/.morvantile-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) fail("cannot create", name, errno);
    return std::make_unique<HiddenFile>(fd, pattern);
}

std::unique_ptr<File> PosixFileSystem::open_overwrite(const std::string& name) {
    const int fd = open_regular(name, O_WRONLY, "cannot open for writing");
    auto file = std::make_unique<PosixFile>(fd, name);
    struct stat st {};
    if (::fstat(fd, &st) != 0) fail("cannot open for writing", name, errno);
    // root may write to anything; the user's read-only mark still counts.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) fail("cannot overwrite read-only", name, EACCES);
    file->lock_exclusively();
    return file;
}

bool PosixFileSystem::remove(const std::string& name) { return ::unlink(name.c_str()) == 0; }

bool PosixFileSystem::rename(const std::string& from, const std::string& to, bool replace) {
    if (replace) return std::rename(from.c_str(), to.c_str()) == 0;
    return rename_no_replace(from, to);
}

void PosixFileSystem::sync_folder(const std::string& name) {
    const std::string folder = folder_of(name);
    if (const int err = flush_folder(folder)) fail("cannot flush the folder", folder, err);
}

}  // namespace morvantile
