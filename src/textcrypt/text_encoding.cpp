#include "textcrypt/text_encoding.h"

#include <array>

#include "cipher/wipe.h"

namespace morvantile {

namespace {

// Windows-1252 bytes 0x80..0x9F. The five the code page leaves unassigned
// keep their C1 code points.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr char32_t kInvalid = 0xFFFFFFFF;

// The code point that starts at `i`, advancing `i` past it; kInvalid for a
// malformed, overlong or surrogate sequence.
char32_t next_code_point(std::string_view s, std::size_t& i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        ++i;
        return c;
    }
    std::size_t len;
    char32_t cp;
    if ((c & 0xE0) == 0xC0) {
        len = 2;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4;
        cp = c & 0x07;
    } else {
        return kInvalid;
    }
    if (i + len > s.size()) return kInvalid;
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return kInvalid;
        cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kInvalid;
    i += len;
    return cp;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// The Windows-1252 byte of a code point; -1 when it has none.
int windows1252_byte(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    for (std::size_t b = 0; b < kHigh.size(); ++b)
        if (kHigh[b] == cp) return static_cast<int>(0x80 + b);
    return -1;
}

bool is_ascii(std::string_view bytes) {
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();)
        if (next_code_point(bytes, i) == kInvalid) return false;
    return true;
}

std::string windows1252_to_utf8(std::string_view bytes) {
    // Room for the longest result at once: the text may be a password, and
    // a buffer left behind by growing could not be wiped.
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        append_utf8(out, b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : char32_t{b});
    }
    return out;
}

std::optional<std::string> utf8_to_windows1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const char32_t cp = next_code_point(utf8, i);
        const int byte = cp == kInvalid ? -1 : windows1252_byte(cp);
        if (byte < 0) {
            wipe_string(out);
            return std::nullopt;
        }
        out.push_back(static_cast<char>(byte));
    }
    return out;
}

std::string typed_text_bytes(std::string_view utf8, int text_encoding) {
    if (text_encoding != kTextEncodingUtf8 && !is_ascii(utf8)) {
        if (std::optional<std::string> western = utf8_to_windows1252(utf8)) return std::move(*western);
    }
    return std::string(utf8);
}

std::string bytes_as_text(std::string_view bytes) {
    if (is_valid_utf8(bytes)) return std::string(bytes);
    return windows1252_to_utf8(bytes);
}

std::optional<std::string> other_password_form(std::string_view password) {
    if (is_ascii(password)) return std::nullopt;
    if (!is_valid_utf8(password)) return windows1252_to_utf8(password);
    return utf8_to_windows1252(password);
}

}  // namespace morvantile
