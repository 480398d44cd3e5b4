// The program's parameters, split at NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> params(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) params.emplace_back();
        else params.back().push_back(static_cast<char>(data[i]));
    }
    morvantile::RuntimeState runtime;
    runtime.ConfigFolder = "/home/user/.config/morvantile";
    const auto error = morvantile::parse_command_line(params, runtime);
    if (error && *error != morvantile::paramerror_text()) __builtin_trap();
    const std::string text = morvantile::strings_to_text(params, 1 + size % 100);
    (void)text;
    return 0;
}
