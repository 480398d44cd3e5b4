#include "filecrypt/file_system.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvantile {

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& name, int err) {
    throw EFileError(what + " " + name + ": " + std::strerror(err));
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

private:
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
    if (::lstat(to.c_str(), &st) == 0 || errno != ENOENT) return false;
    return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

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

std::unique_ptr<File> PosixFileSystem::open_read(const std::string& name) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) fail("cannot open", name, errno);
    auto file = std::make_unique<PosixFile>(fd, name);
    struct stat st {};
    if (::fstat(fd, &st) != 0) fail("cannot open", name, errno);
    if (S_ISDIR(st.st_mode)) fail("cannot open", name, EISDIR);
    return file;
}

std::unique_ptr<File> PosixFileSystem::create(const std::string& name, CreateMode mode) {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | (mode == CreateMode::New ? O_EXCL : O_TRUNC);
    const int fd = ::open(name.c_str(), flags, 0600);
    if (fd < 0) fail("cannot create", name, errno);
    return std::make_unique<PosixFile>(fd, name);
}

std::unique_ptr<File> PosixFileSystem::open_overwrite(const std::string& name) {
    // Non-blocking only so that a FIFO under the name cannot hang the open;
    // it is refused below like anything but a regular file.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) fail("cannot open for writing", name, errno);
    auto file = std::make_unique<PosixFile>(fd, name);
    struct stat st {};
    if (::fstat(fd, &st) != 0) fail("cannot open for writing", name, errno);
    if (!S_ISREG(st.st_mode)) fail("cannot overwrite", name, EINVAL);
    // root may write to anything; the user's read-only mark still counts.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) fail("cannot overwrite read-only", name, EACCES);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        fail(errno == EWOULDBLOCK ? "another program holds a lock on" : "cannot lock", name, errno);
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) fail("cannot open for writing", name, errno);
    return file;
}

bool PosixFileSystem::remove(const std::string& name) { return ::unlink(name.c_str()) == 0; }

bool PosixFileSystem::rename(const std::string& from, const std::string& to, bool replace) {
    if (replace) return std::rename(from.c_str(), to.c_str()) == 0;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
    return rename_by_link(from, to);
}

void PosixFileSystem::sync_folder(const std::string& name) {
    const std::string folder = folder_of(name);
    if (const int err = flush_folder(folder)) fail("cannot flush the folder", folder, err);
}

std::unique_ptr<File> PosixFileSystem::create_unique(std::string& pattern) {
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) fail("cannot create", pattern, errno);
    return std::make_unique<PosixFile>(fd, pattern);
}

}  // namespace morvantile
