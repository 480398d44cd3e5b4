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
// and the reason, error() is the system's error number (0 when there is
// none, as for a file of the wrong kind).
class EFileError : public std::runtime_error {
public:
    explicit EFileError(const std::string& what, int error = 0) : std::runtime_error(what), error_(error) {}
    int error() const { return error_; }

private:
    int error_;
};

// The system's reason for an error number, as the user is shown it on a
// line of its own ("No space left on device"); empty for 0.
std::string system_reason(int error);
// "\r\n" + the reason of the error behind `e`, or nothing when it has none.
std::string reason_line(const std::exception& e);

// What a name that is not a regular file leads to, for messages: "a
// folder", "a FIFO (named pipe)", "a socket", "a character device", "a block
// device", "a link to a missing file"; nullopt for a regular file, for a
// link to one and for nothing at all. Never opens anything, so a FIFO or a
// device cannot make it wait.
std::optional<std::string> special_file_kind(const std::string& name);
// "<name> is <kind>, not a regular file."
std::string not_a_regular_file(const std::string& name, const std::string& kind);

// The descriptor of the regular file `name`, open for reading (close-on-
// exec). Nothing else is ever waited on: a FIFO or a device throws
// EFileError at once, with not_a_regular_file() as its text and no error
// number; a file that cannot be opened throws it with the error number
// (ENOENT when there is none).
int open_regular_for_reading(const std::string& name);

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

// A new file that no name leads to until it is complete: link() gives it
// its name. A process that ends before then, however it ends (SIGKILL and
// power loss included), leaves nothing behind under any name.
class PendingFile : public File {
public:
    // Gives the file its name; call it after sync() and before close().
    // Without `replace` an existing file of that name makes it fail (error
    // EEXIST) and stays as it is; with it, that file is replaced in one
    // step (a symbolic link under the name is replaced, not its target).
    virtual void link(const std::string& name, bool replace) = 0;
    // Back to the start, to write over what has been written (a wipe).
    virtual void rewind() = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Something other than a folder exists under the name (links followed).
    virtual bool file_exists(const std::string& name) = 0;
    virtual bool directory_exists(const std::string& name) = 0;
    virtual std::optional<FileId> identity(const std::string& name) = 0;

    // special_file_kind() of the name.
    virtual std::optional<std::string> special_kind(const std::string& name) = 0;

    // The opening calls throw EFileError when they fail.
    // A regular file only: anything else is refused at once, never waited on.
    virtual std::unique_ptr<File> open_read(const std::string& name) = 0;
    // A new file in the folder of `name`, for link() to give that name (or
    // another in the same folder) once complete. Private to the user
    // (0600): it holds plaintext or the result of someone's encryption.
    virtual std::unique_ptr<PendingFile> create_pending(const std::string& name) = 0;
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

// Pending files are unnamed files (O_TMPFILE). Where the file system has
// none, a pending file is a hidden file ".morvantile-XXXXXX" in the folder
// until link() renames it; it is removed when the PendingFile goes away
// unlinked, and, once remove_pending_files_on_signals() has been called,
// by SIGINT, SIGTERM and SIGHUP before they end the process.
class PosixFileSystem : public FileSystem {
public:
    // `unnamed_files` false: always the hidden named file (for tests of
    // that path on file systems that do have unnamed files).
    explicit PosixFileSystem(bool unnamed_files = true) : unnamed_files_(unnamed_files) {}

    bool file_exists(const std::string& name) override;
    bool directory_exists(const std::string& name) override;
    std::optional<FileId> identity(const std::string& name) override;
    std::optional<std::string> special_kind(const std::string& name) override;
    std::unique_ptr<File> open_read(const std::string& name) override;
    std::unique_ptr<PendingFile> create_pending(const std::string& name) override;
    std::unique_ptr<File> open_overwrite(const std::string& name) override;
    bool remove(const std::string& name) override;
    bool rename(const std::string& from, const std::string& to, bool replace) override;
    void sync_folder(const std::string& name) override;

private:
    bool unnamed_files_;
};

// For programs that SIGINT, SIGTERM and SIGHUP end (the command-line tool):
// their handlers remove the hidden files of pending files first, then end
// the process as the signal would have.
void remove_pending_files_on_signals();

}  // namespace morvantile
