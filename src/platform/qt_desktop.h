// What every desktop backend does the same way through Qt: starting a
// program detached, telling whether a window of ours has the keyboard, and
// letting the event loop run while a request waits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvantile::platform {

// Starts argv[0] with the rest as its arguments, detached, with no shell;
// its process id, or 0 when it could not be started.
std::int64_t start_detached(const std::vector<std::string>& argv);

// Whether one of this program's windows has the keyboard focus.
bool our_window_has_focus();

// Lets events run for `ms` milliseconds without spinning the CPU (only the
// pending ones for 0 or less).
void run_events_for(int ms);

}  // namespace morvantile::platform
