// The settings file: options and the encrypted password list in one INI
// text file that is exchanged with the Windows build of Morvantile, so both
// builds must read what the other wrote.
//
// The file is kept as its list of lines. Lines that are not understood
// (comments, blank lines, garbage, keys before the first section) are never
// found by lookups but are written back unchanged, so a file written by
// another build survives a round trip here. Names of sections and keys match
// without regard to ASCII letter case; blanks (spaces and tabs) around key
// names and values are not part of them.
//
// Rules where files can be ambiguous:
// - CR LF and LF both end a line; a lone CR is an ordinary character. The
//   text is always written with CR LF, so an untouched CR LF file comes back
//   byte for byte (including a missing final line end); an LF file comes back
//   with CR LF. Any change gives the file a final CR LF.
// - A UTF-8 byte order mark at the start is not part of the first line; it is
//   kept and written back, so the file keeps the encoding mark it came with.
// - A key that occurs twice in a section: the first one is read and the first
//   one is replaced.
// - A section name that occurs twice: the later blocks count as part of the
//   first. Lookups and section_entries see all of them in file order, a new
//   key goes at the end of the first block, and erase_section removes every
//   block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvantile {

// read_string never returns more than this many bytes of a value, so an
// option reads the same here as in the Windows build, which has this limit.
inline constexpr std::size_t kIniValueLimit = 2047;

// Reading or saving the file failed, or a write was given a name that the
// file cannot hold. The text says why.
class EIniFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class IniFile {
public:
    IniFile() = default;

    // Never fails: any bytes give some IniFile.
    static IniFile parse(std::string_view text);
    // Reads the file; a file that does not exist gives an empty IniFile (not
    // an error). Any other failure throws EIniFileError with a readable
    // reason.
    static IniFile load(const std::string& path);
    std::string serialize() const;
    // Atomic replace: writes the complete text to a new temporary file in the
    // same folder, syncs it, renames it over `path`, then syncs the folder.
    // The new file gets the old file's permission bits, or 0600 when there
    // was no file (it holds encrypted passwords). If `path` is a symbolic
    // link, the link's target is replaced, not the link. On any failure the
    // temporary file is removed, the old file is left untouched and
    // EIniFileError is thrown; the one exception is a failed sync of the
    // folder, which is reported although the new file is already in place.
    // Does not create missing folders (the caller does).
    void save(const std::string& path) const;

    bool has_section(std::string_view section) const;
    // The whole value, without surrounding blanks; nullopt when the key is
    // missing (an empty value is "", not nullopt).
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    // The value cut to kIniValueLimit bytes, or `def` (as given) when the key
    // is missing.
    std::string read_string(std::string_view section, std::string_view key, std::string_view def) const;
    // `def` when the key is missing or its value is not a number (see
    // parse_integer).
    std::int32_t read_integer(std::string_view section, std::string_view key, std::int32_t def) const;
    // True for any number other than 0; `def` when missing or not a number.
    bool read_bool(std::string_view section, std::string_view key, bool def) const;
    // All key=value lines of the section in file order, names as stored,
    // whole values without surrounding blanks.
    std::vector<std::pair<std::string, std::string>> section_entries(std::string_view section) const;

    // Replaces the first occurrence of the key in place (keeping the stored
    // spelling of its name), or adds the key after the last key line of the
    // section, or adds the section at the end of the file. CR and LF are
    // removed from the value, so no value can add lines or keys to the file.
    // Throws EIniFileError for names the file could not give back: a section
    // name with CR or LF, or a key name that is empty, holds '=', CR or LF,
    // or starts with ';' or '['.
    void write_string(std::string_view section, std::string_view key, std::string_view value);
    // Signed decimal.
    void write_integer(std::string_view section, std::string_view key, std::int32_t value);
    // "1" or "0".
    void write_bool(std::string_view section, std::string_view key, bool value);
    // Removes every header of the section and the lines that follow each one
    // up to the next section header.
    void erase_section(std::string_view section);

    // After removing blanks: an optional sign, then decimal digits within the
    // signed 32-bit range, or "$", "0x" or "0X" and 1 to 8 hex digits taken
    // as the 32-bit pattern ("$FFFFFFFF" is -1). Anything else is not a
    // number (nullopt).
    static std::optional<std::int32_t> parse_integer(std::string_view text);

private:
    enum class LineKind { Other, Section, Key };
    struct Line {
        LineKind kind = LineKind::Other;
        std::string text;   // as written, without the line end
        std::string name;   // section or key name, without blanks around it
        std::string value;  // key lines: the value without blanks around it
    };

    static Line classify(std::string_view text);
    // Index of the first key line of the key in the section, or npos.
    std::size_t find_key(std::string_view section, std::string_view key) const;
    // Index at which a new key of the section's first block goes, or npos
    // when there is no such section.
    std::size_t insertion_point(std::string_view section) const;

    std::vector<Line> lines_;
    bool bom_ = false;
    bool final_line_end_ = true;
};

}  // namespace morvantile
