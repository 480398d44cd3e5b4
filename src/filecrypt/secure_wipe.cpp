#include "filecrypt/secure_wipe.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace morvantile {

namespace {

constexpr std::uint8_t kPasses[] = {0xAA, 0x55, 0x00, 0xFF};
// The event loop gets a turn after this much of a pass, so a large file
// does not freeze the desktop.
constexpr std::uint64_t kPumpInterval = std::uint64_t{16} << 20;

// Writes `value` over every byte of `file`, from where it stands, and
// flushes it to the disk. False when a write or the flush failed.
bool overwrite(File& file, std::uint8_t value, EventPump& events) {
    try {
        // The size of what is open, so the pass covers exactly this file.
        const std::uint64_t size = file.size();
        const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(size, kWipeChunk));
        const std::unique_ptr<std::uint8_t[]> pattern(new std::uint8_t[chunk]);
        std::memset(pattern.get(), value, chunk);
        std::uint64_t since_pump = 0;
        for (std::uint64_t done = 0; done < size;) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(size - done, chunk));
            file.write(pattern.get(), n);
            done += n;
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

void pass_hint(std::size_t pass, const std::string& name, Tray& tray, EventPump& events) {
    tray.set_hint("Secure wipe (pass " + std::to_string(pass + 1) + "): " + name);
    events.process_messages();
}

}  // namespace

bool wipe_pass(const std::string& name, std::uint8_t value, FileSystem& fs, EventPump& events) {
    if (!fs.file_exists(name)) return false;
    std::unique_ptr<File> file = fs.open_overwrite(name);
    bool ok = overwrite(*file, value, events);
    try {
        file->close();
    } catch (const EFileError&) {
        ok = false;
    }
    return ok;
}

bool secure_wipe(const std::string& name, FileSystem& fs, Tray& tray, EventPump& events) {
    bool all = true;
    for (std::size_t pass = 0; pass < std::size(kPasses); ++pass) {
        pass_hint(pass, name, tray, events);
        if (!wipe_pass(name, kPasses[pass], fs, events)) all = false;
    }
    return all;
}

bool secure_wipe(PendingFile& file, const std::string& name, Tray& tray, EventPump& events) {
    bool all = true;
    for (std::size_t pass = 0; pass < std::size(kPasses); ++pass) {
        pass_hint(pass, name, tray, events);
        try {
            file.rewind();
        } catch (const EFileError&) {
            return false;
        }
        if (!overwrite(file, kPasses[pass], events)) all = false;
    }
    return all;
}

}  // namespace morvantile
