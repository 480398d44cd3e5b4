// Letter case as the program compares it: ASCII letters only, so names in
// the configuration file, password-list names and file names compare the
// same way whatever the locale.
#pragma once

#include <algorithm>
#include <string_view>

namespace morvantile {

inline char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

}  // namespace morvantile
