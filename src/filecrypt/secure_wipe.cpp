#include "filecrypt/secure_wipe.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

namespace morvantile {

namespace {

constexpr std::uint8_t kPasses[] = {0xAA, 0x55, 0x00, 0xFF};
// The event loop gets a turn after this much of a pass, so a large file
// does not freeze the desktop.
constexpr std::uint64_t kPumpInterval = std::uint64_t{16} << 20;

// How a pass tells how far it has got; nothing for a bare wipe_pass.
struct PassProgress {
    std::function<void(int)> show;
    std::chrono::milliseconds interval = kProgressInterval;
};

// Writes `value` over every byte of `file`, from where it stands, and
// flushes it to the disk. False when a write or the flush failed.
bool overwrite(File& file, std::uint8_t value, EventPump& events, const PassProgress& progress = {}) {
    try {
        // The size of what is open, so the pass covers exactly this file.
        const std::uint64_t size = file.size();
        ProgressMeter meter(size, progress.show, progress.interval);
        const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(size, kWipeChunk));
        const std::unique_ptr<std::uint8_t[]> pattern(new std::uint8_t[chunk]);
        std::memset(pattern.get(), value, chunk);
        std::uint64_t since_pump = 0;
        for (std::uint64_t done = 0; done < size;) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(size - done, chunk));
            file.write(pattern.get(), n);
            done += n;
            meter.update(done);
            if ((since_pump += n) >= kPumpInterval) {
                since_pump = 0;
                events.process_messages();
            }
        }
        file.sync();
    } catch (const EFileError&) {
        return false;
    }
    return true;
}

std::string pass_text(std::size_t pass, const std::string& name) {
    return "Secure wipe (pass " + std::to_string(pass + 1) + "): " + name;
}

// Shows the hint of a pass and returns how the pass shows its percentage.
PassProgress pass_hint(std::size_t pass, const std::string& name, Tray& tray, EventPump& events,
                       std::chrono::milliseconds interval) {
    tray.set_hint(pass_text(pass, name));
    events.process_messages();
    return {[pass, &name, &tray, &events](int percent) {
                tray.set_hint(progress_text(pass_text(pass, name), percent));
                events.process_messages();
            },
            interval};
}

bool one_pass(const std::string& name, std::uint8_t value, FileSystem& fs, EventPump& events,
              const PassProgress& progress) {
    if (!fs.file_exists(name)) return false;
    std::unique_ptr<File> file = fs.open_overwrite(name);
    bool ok = overwrite(*file, value, events, progress);
    try {
        file->close();
    } catch (const EFileError&) {
        ok = false;
    }
    return ok;
}

}  // namespace

bool wipe_pass(const std::string& name, std::uint8_t value, FileSystem& fs, EventPump& events) {
    return one_pass(name, value, fs, events, {});
}

bool secure_wipe(const std::string& name, FileSystem& fs, Tray& tray, EventPump& events,
                 std::chrono::milliseconds progress_interval) {
    bool all = true;
    for (std::size_t pass = 0; pass < std::size(kPasses); ++pass) {
        const PassProgress progress = pass_hint(pass, name, tray, events, progress_interval);
        if (!one_pass(name, kPasses[pass], fs, events, progress)) all = false;
    }
    return all;
}

bool secure_wipe(PendingFile& file, const std::string& name, Tray& tray, EventPump& events,
                 std::chrono::milliseconds progress_interval) {
    bool all = true;
    for (std::size_t pass = 0; pass < std::size(kPasses); ++pass) {
        const PassProgress progress = pass_hint(pass, name, tray, events, progress_interval);
        try {
            file.rewind();
        } catch (const EFileError&) {
            return false;
        }
        if (!overwrite(file, kPasses[pass], events, progress)) all = false;
    }
    return all;
}

}  // namespace morvantile
