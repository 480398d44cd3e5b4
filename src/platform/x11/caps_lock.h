// Whether the Caps Lock key is in force, for the password dialog's warning.
#pragma once

namespace morvantile::platform {

// True when Caps Lock is toggled on and its key is not held down at the
// moment (while it is held the state is about to change). Read from the X
// server's keyboard indicators on X11; false on any other platform.
bool caps_lock_toggled();

}  // namespace morvantile::platform
