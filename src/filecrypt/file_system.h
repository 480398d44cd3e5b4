// The file-system calls file mode makes, behind one interface, so that the
// operations can be run against a folder where any open, write, flush,
// deletion or rename fails on purpose. PosixFileSystem is the real one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace morvantile {

// A file operation that could not be carried out; the text names the file
// and the reason.
class EFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An open file, read or written sequentially from its start.
class File {
public:
    virtual ~File() = default;
    // Up to `count` bytes; fewer only at the end of the file (0 there).
    virtual std::size_t read(void* buffer, std::size_t count) = 0;
    // All `count` bytes, or EFileError.
    virtual void write(const void* buffer, std::size_t count) = 0;
    virtual std::uint64_t size() = 0;
    // Hands everything written so far to the disk (fsync).
    virtual void sync() = 0;
    // Reports a failure that the file system only notices at the end. The
    // destructor closes silently when this was not called.
    virtual void close() = 0;
};

// Which file a name leads to, through links and other spellings.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FileId&, const FileId&) = default;
};

enum class CreateMode {
    Truncate,  // a file of that name is emptied and reused
    New,       // a file of that name is left alone and the call fails
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Something other than a folder exists under the name (links followed).
    virtual bool file_exists(const std::string& name) = 0;
    virtual bool directory_exists(const std::string& name) = 0;
    virtual std::optional<FileId> identity(const std::string& name) = 0;

    // The opening calls throw EFileError when they fail.
    virtual std::unique_ptr<File> open_read(const std::string& name) = 0;
    // New files are private to the user (0600): they hold plaintext or the
    // result of someone's private encryption.
    virtual std::unique_ptr<File> create(const std::string& name, CreateMode mode) = 0;
    // An existing regular file for writing in place from its start, never
    // truncated, locked against every other program that locks it. A file
    // that the user has made read-only (no write permission bit at all) or
    // that another program holds locked is refused, whoever runs this.
    virtual std::unique_ptr<File> open_overwrite(const std::string& name) = 0;

    // False when the file could not be removed or renamed; nothing changed.
    virtual bool remove(const std::string& name) = 0;
    // Without `replace`, an existing file under `to` makes the rename fail
    // and stays as it is; with it, that file is replaced in one step.
    virtual bool rename(const std::string& from, const std::string& to, bool replace) = 0;
    // Makes the creation, removal and renaming of names in the folder that
    // holds `name` durable. Throws EFileError.
    virtual void sync_folder(const std::string& name) = 0;
};

// The folder part of a path: "." without one, "/" for a name at the root.
std::string folder_of(const std::string& name);

// fsync()s the folder `folder` itself, so that names created, removed or
// renamed in it survive a crash. Returns 0 or the errno; file systems that
// cannot sync a folder at all (EINVAL) keep names durable by other means
// and count as done.
int flush_folder(const std::string& folder);

class PosixFileSystem : public FileSystem {
public:
    bool file_exists(const std::string& name) override;
    bool directory_exists(const std::string& name) override;
    std::optional<FileId> identity(const std::string& name) override;
    std::unique_ptr<File> open_read(const std::string& name) override;
    std::unique_ptr<File> create(const std::string& name, CreateMode mode) override;
    std::unique_ptr<File> open_overwrite(const std::string& name) override;
    bool remove(const std::string& name) override;
    bool rename(const std::string& from, const std::string& to, bool replace) override;
    void sync_folder(const std::string& name) override;

    // A new file of a unique name made from `pattern`, which ends in
    // "XXXXXX" (mkstemp); the name chosen is written back into `pattern`.
    std::unique_ptr<File> create_unique(std::string& pattern);
};

}  // namespace morvantile
