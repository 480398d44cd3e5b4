#include "platform/wayland/clipboard_formats.h"

#include <algorithm>
#include <array>

#include "automation/desktop_helpers.h"
#include "cipher/wipe.h"
#include "textcrypt/clipboard.h"

namespace morvantile::platform {

namespace {

constexpr std::string_view kRtfFormat = "text/rtf";
constexpr std::array<std::string_view, 5> kTextMimes = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain",
                                                        "TEXT", "STRING"};
constexpr std::array<std::string_view, 3> kRtfMimes = {"text/rtf", "application/rtf", "text/richtext"};

bool offered_any(const std::vector<std::string>& offered, auto names) {
    return std::any_of(names.begin(), names.end(), [&](std::string_view name) {
        return std::find(offered.begin(), offered.end(), name) != offered.end();
    });
}

std::optional<std::string> first_offered(const std::vector<std::string>& offered, auto names) {
    for (std::string_view name : names)
        if (std::find(offered.begin(), offered.end(), name) != offered.end()) return std::string(name);
    return std::nullopt;
}

}  // namespace

std::vector<std::string> program_formats(const std::vector<std::string>& offered) {
    std::vector<std::string> out;
    if (offered_any(offered, kTextMimes)) out.emplace_back(kPlainTextFormat);
    if (offered_any(offered, kRtfMimes)) out.emplace_back(kRtfFormat);
    return out;
}

std::optional<std::string> mime_to_read(std::string_view format, const std::vector<std::string>& offered) {
    if (format == kPlainTextFormat) return first_offered(offered, kTextMimes);
    if (std::find(kRtfMimes.begin(), kRtfMimes.end(), format) != kRtfMimes.end())
        return first_offered(offered, kRtfMimes);
    return first_offered(offered, std::array<std::string_view, 1>{format});
}

std::vector<std::string> mimes_to_offer(std::string_view format) {
    if (format == kPlainTextFormat) return {kTextMimes.begin(), kTextMimes.end()};
    if (std::find(kRtfMimes.begin(), kRtfMimes.end(), format) != kRtfMimes.end())
        return {kRtfMimes.begin(), kRtfMimes.end()};
    return {std::string(format)};
}

bool latin1_mime(std::string_view mime) { return mime == "STRING"; }

std::string program_text(std::string& bytes, std::string_view mime) {
    std::string text = latin1_mime(mime) ? latin1_to_utf8(bytes) : bytes;
    wipe_string(bytes);
    std::string crlf = crlf_line_ends(text);
    wipe_string(text);
    return crlf;
}

}  // namespace morvantile::platform
