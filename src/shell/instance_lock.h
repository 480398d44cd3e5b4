// One running copy per user: a lock file held with flock(), which the
// system releases when the process ends however it ends.
#pragma once

#include <optional>
#include <string>

namespace morvantile::shell {

class InstanceLock {
public:
    // Takes the lock at `path`; nullopt when another process holds it.
    // A lock file that cannot be created at all gives an unlocked
    // instance (the program still runs, only without the guard).
    static std::optional<InstanceLock> acquire(const std::string& path);
    // $XDG_RUNTIME_DIR/morvantile.lock, else morvantile.lock in the
    // configuration folder (created if needed), else in /tmp by user id.
    static std::string default_path(const std::string& config_folder);

    InstanceLock(InstanceLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    InstanceLock& operator=(InstanceLock&&) = delete;
    InstanceLock(const InstanceLock&) = delete;
    ~InstanceLock();

private:
    explicit InstanceLock(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace morvantile::shell
