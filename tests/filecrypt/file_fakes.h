// Stand-ins for the file system: an in-memory file for the codec, a
// recording wrapper around the real file system that makes chosen calls
// fail.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "filecrypt/file_operation.h"
#include "filecrypt/file_system.h"
#include "support/temp_files.h"

namespace morvantile::test {

// A file held in a string. Reads and writes can be made to fail once a
// given number of bytes has gone through.
struct MemoryFile : File {
    std::string bytes;
    std::size_t pos = 0;
    std::size_t read_total = 0, largest_write = 0;
    std::optional<std::size_t> fail_read_after, fail_write_after;

    MemoryFile() = default;
    explicit MemoryFile(std::string b) : bytes(std::move(b)) {}

    std::size_t read(void* buffer, std::size_t count) override {
        if (fail_read_after && read_total >= *fail_read_after) throw EFileError("read fails");
        const std::size_t n = std::min(count, bytes.size() - pos);
        std::copy_n(bytes.data() + pos, n, static_cast<char*>(buffer));
        pos += n;
        read_total += n;
        return n;
    }
    void write(const void* buffer, std::size_t count) override {
        if (fail_write_after && bytes.size() + count > *fail_write_after) throw EFileError("write fails");
        bytes.append(static_cast<const char*>(buffer), count);
        largest_write = std::max(largest_write, count);
    }
    std::uint64_t size() override { return bytes.size(); }
    void sync() override {}
    void close() override {}
};

// The real file system, with every change it makes logged as
// "<call> <file name>" (rename: "rename <from> <to>"), in order: open_read,
// create_pending (the name it is to get), overwrite (open_overwrite),
// write, sync, link, rewind, close, remove, rename, sync_folder. `before`
// sees each call before it runs, and may throw to stop the operation there
// as a killed process would stop.
struct FaultyFileSystem : FileSystem {
    PosixFileSystem real;
    std::vector<std::string> calls;
    std::function<void(const std::string&)> before;

    // From now on, each call listed fails at the given occurrence (1 = the
    // first from now; 0 = every time) without doing anything (a failing
    // close still closes). Replaces the previous list.
    void inject(std::map<std::string, int> failures) {
        failing_ = std::move(failures);
        seen_.clear();
    }

    bool file_exists(const std::string& name) override { return real.file_exists(name); }
    bool directory_exists(const std::string& name) override { return real.directory_exists(name); }
    std::optional<FileId> identity(const std::string& name) override { return real.identity(name); }

    std::unique_ptr<File> open_read(const std::string& name) override {
        check("open_read", name);
        return wrap(real.open_read(name), name);
    }
    std::optional<std::string> special_kind(const std::string& name) override { return real.special_kind(name); }
    std::unique_ptr<PendingFile> create_pending(const std::string& name) override {
        check("create_pending", name);
        return std::make_unique<WrappedPending>(real.create_pending(name), name, *this);
    }
    std::unique_ptr<File> open_overwrite(const std::string& name) override {
        check("overwrite", name);
        return wrap(real.open_overwrite(name), name);
    }
    bool remove(const std::string& name) override { return !fails("remove", name) && real.remove(name); }
    bool rename(const std::string& from, const std::string& to, bool replace) override {
        return !fails("rename", std::string(file_name_part(from)) + " " + std::string(file_name_part(to))) &&
               real.rename(from, to, replace);
    }
    void sync_folder(const std::string& name) override {
        check("sync_folder", name);
        real.sync_folder(name);
    }

    // Logs the call and tells whether it is to fail.
    bool fails(const std::string& what, const std::string& name) {
        const std::string call = what + " " + std::string(file_name_part(name));
        calls.push_back(call);
        if (before) before(call);
        const auto it = failing_.find(call);
        return it != failing_.end() && (it->second == 0 || it->second == ++seen_[call]);
    }
    void check(const std::string& what, const std::string& name) {
        if (fails(what, name)) throw EFileError("injected failure: " + what + " " + name);
    }

private:
    // The calls every file has, logged and made to fail as asked.
    template <class Kind>
    struct Wrapped : Kind {
        Wrapped(std::unique_ptr<Kind> f, std::string n, FaultyFileSystem& o)
            : file(std::move(f)), name(std::move(n)), owner(o) {}
        std::unique_ptr<Kind> file;
        std::string name;
        FaultyFileSystem& owner;
        std::size_t read(void* b, std::size_t n) override { return file->read(b, n); }
        void write(const void* b, std::size_t n) override {
            owner.check("write", name);
            file->write(b, n);
        }
        std::uint64_t size() override { return file->size(); }
        void sync() override {
            owner.check("sync", name);
            file->sync();
        }
        void close() override {
            const bool fail = owner.fails("close", name);
            file->close();
            if (fail) throw EFileError("injected failure: close " + name);
        }
    };
    struct WrappedPending : Wrapped<PendingFile> {
        using Wrapped<PendingFile>::Wrapped;
        void link(const std::string& to, bool replace) override {
            owner.check("link", to);
            file->link(to, replace);
        }
        void rewind() override {
            owner.check("rewind", name);
            file->rewind();
        }
    };
    std::unique_ptr<File> wrap(std::unique_ptr<File> f, const std::string& name) {
        return std::make_unique<Wrapped<File>>(std::move(f), name, *this);
    }
    std::map<std::string, int> failing_, seen_;
};

}  // namespace morvantile::test
