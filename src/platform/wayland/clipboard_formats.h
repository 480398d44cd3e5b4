// The program's two clipboard formats ("text/plain" as UTF-8, "text/rtf")
// and the MIME types other Wayland programs offer and ask for them under.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvantile::platform {

// The program's formats among the MIME types of a selection: "text/plain"
// when any text type is there, "text/rtf" when any RTF name is.
std::vector<std::string> program_formats(const std::vector<std::string>& offered);

// The offered MIME type to read a program format from, the best first
// (UTF-8 text before the older X11 names); nullopt when none is offered.
// A format of no known kind is read under its own name.
std::optional<std::string> mime_to_read(std::string_view format, const std::vector<std::string>& offered);

// The MIME types a selection of ours offers a program format under, so that
// GTK, Qt, X11 programs through Xwayland, and terminals all take it.
std::vector<std::string> mimes_to_offer(std::string_view format);

// Whether bytes under this MIME type are Latin-1 rather than UTF-8.
bool latin1_mime(std::string_view mime);

// Text read from another program under `mime` as the program's plain text:
// UTF-8 with CR LF line ends. `bytes` is wiped.
std::string program_text(std::string& bytes, std::string_view mime);

}  // namespace morvantile::platform
