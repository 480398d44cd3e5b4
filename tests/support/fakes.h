// Recording fakes of the small interfaces the core reports through.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "textcrypt/error_reporter.h"

namespace morvantile::test {

struct RecordingErrors : ErrorReporter {
    std::vector<std::string> shown;
    void show_error(std::string_view message) override { shown.emplace_back(message); }
};

}  // namespace morvantile::test
