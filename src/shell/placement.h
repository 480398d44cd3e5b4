// Window positions kept in the configuration file, one section per dialog.
// A saved position is used only when it was saved at the screen resolution
// in force now; a dialog with a fixed border takes only its left and top.
#pragma once

#include <optional>
#include <string_view>

#include "config/config_file.h"

class QWidget;

namespace morvantile::shell {

// The screen resolution as the placement sections record it.
int pixels_per_inch();

// The placement that describes `window` now. Left and Top are the window's
// outer position; Right and Bottom add the size of its client area.
FormPlacement placement_of(const QWidget& window);

// Moves (and, unless `fixed_border`, sizes) `window` by `placement` when
// it applies: the resolution matches and the position lies on a screen.
// Returns whether it was applied; the window stays where it was otherwise.
bool apply_placement(QWidget& window, const FormPlacement& placement, bool fixed_border);

// Restores from / saves to the section "FormPlacement <form>".
void restore_placement(QWidget& window, ConfigFile& config, std::string_view form, bool fixed_border);
void save_placement(const QWidget& window, ConfigFile& config, std::string_view form);

}  // namespace morvantile::shell
