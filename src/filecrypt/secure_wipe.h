// Overwriting a file's contents before file mode deletes it: four passes
// over every byte (0xAA, 0x55, 0x00, 0xFF), each opened, written, flushed to
// the disk and closed on its own, so each pattern is really on the disk
// before the next one starts. The file keeps its length; the caller deletes
// it afterwards.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "filecrypt/file_system.h"
#include "filecrypt/progress.h"
#include "textcrypt/desktop.h"

namespace morvantile {

// The pattern of one pass is written in pieces of this size, so the memory
// used does not grow with the file.
inline constexpr std::size_t kWipeChunk = std::size_t{1} << 20;

// All four passes, each after the tray hint "Secure wipe (pass N): " + name
// and a turn of the event loop; while a pass runs, the hint also shows the
// percentage of it done (at most once per `progress_interval`). True when
// every pass succeeded; the passes after a failed one still run. A file
// that cannot be opened for writing (read-only, locked by another program)
// ends the wipe with EFileError after that pass's hint, before anything of
// it is overwritten.
bool secure_wipe(const std::string& name, FileSystem& fs, Tray& tray, EventPump& events,
                 std::chrono::milliseconds progress_interval = kProgressInterval);

// One pass writing `value` into every byte. False when the file does not
// exist, or when a write, the flush to the disk or the close failed. Throws
// EFileError when the file cannot be opened for writing.
bool wipe_pass(const std::string& name, std::uint8_t value, FileSystem& fs, EventPump& events);

// The four passes over a pending file that never got its name (the output
// of a failed operation), through its open descriptor; `name` is the one
// it was to have, for the hints. True when every pass succeeded.
bool secure_wipe(PendingFile& file, const std::string& name, Tray& tray, EventPump& events,
                 std::chrono::milliseconds progress_interval = kProgressInterval);

}  // namespace morvantile
