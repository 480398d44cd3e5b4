// Where the program's error and warning messages go: the message window in
// the desktop program, stderr in the command-line tool, a recorder in tests.
#pragma once

#include <string_view>

namespace morvantile {

class ErrorReporter {
public:
    virtual ~ErrorReporter() = default;
    virtual void show_error(std::string_view message) = 0;
};

}  // namespace morvantile
