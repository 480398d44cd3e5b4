// Configuration files can be edited by hand or damaged; reading one must
// never fail, and writing it back must give a file that reads the same.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/config_file.h"
#include "config/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morvantile;
    const IniFile ini = IniFile::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    Settings s;
    read_options(ini, s);
    for (const auto& [key, value] : ini.section_entries("PasswordList")) (void)key, (void)value;

    IniFile out = ini;
    write_options(out, s);
    const IniFile again = IniFile::parse(out.serialize());
    Settings s2;
    read_options(again, s2);
    if (!s.NoConfig && !(s2 == s)) __builtin_trap();
    return 0;
}
