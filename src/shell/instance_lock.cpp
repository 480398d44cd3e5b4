#include "shell/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace morvantile::shell {

std::optional<InstanceLock> InstanceLock::acquire(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return InstanceLock(-1);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) return std::nullopt;
        return InstanceLock(-1);
    }
    return InstanceLock(fd);
}

std::string InstanceLock::default_path(const std::string& config_folder) {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        struct stat st {};
        if (::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) return std::string(runtime) + "/morvantile.lock";
    }
    if (!config_folder.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(config_folder, ec);
        if (!ec) return config_folder + "/morvantile.lock";
    }
    return "/tmp/morvantile-" + std::to_string(::getuid()) + ".lock";
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace morvantile::shell
