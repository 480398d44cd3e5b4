#include "textcrypt/sender_tag.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <langinfo.h>
#include <locale.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace morvantile {

namespace {

// A fact that throws is reported as `fallback` rather than ending the
// start-up that composes the tag.
template <class Fact>
std::string guarded(Fact fact, std::string_view fallback) {
    try {
        return fact();
    } catch (...) {
        return std::string(fallback);
    }
}

bool one_of(char c, std::string_view set) { return set.find(c) != std::string_view::npos; }

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

std::string trimmed(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && is_space(s[b])) ++b;
    while (e > b && is_space(s[e - 1])) --e;
    return std::string(s.substr(b, e - b));
}

// ---- strftime formats as token lists ----

// One piece of a strftime format: a literal run (with "%%" kept escaped) or
// one conversion with its flags/width and E/O modifier.
struct Token {
    bool conversion = false;
    std::string text;   // literal text
    std::string flags;  // flags and field width of a conversion
    char modifier = 0;  // 'E', 'O' or 0
    char conv = 0;      // the conversion character

    std::string str() const {
        if (!conversion) return text;
        std::string s = "%" + flags;
        if (modifier) s += modifier;
        s += conv;
        return s;
    }
};

using Tokens = std::vector<Token>;

Token conversion(char conv, std::string flags = {}) {
    Token t;
    t.conversion = true;
    t.conv = conv;
    t.flags = std::move(flags);
    return t;
}

Tokens tokenize(std::string_view f) {
    Tokens out;
    std::string literal;
    auto flush = [&] {
        if (literal.empty()) return;
        Token t;
        t.text = std::move(literal);
        out.push_back(std::move(t));
        literal.clear();
    };
    std::size_t i = 0;
    while (i < f.size()) {
        if (f[i] != '%') {
            literal += f[i++];
            continue;
        }
        if (i + 1 < f.size() && f[i + 1] == '%') {
            literal += "%%";
            i += 2;
            continue;
        }
        std::size_t j = i + 1;
        while (j < f.size() && (f[j] == '_' || f[j] == '-' || f[j] == '0' || f[j] == '^' || f[j] == '#')) ++j;
        while (j < f.size() && f[j] >= '0' && f[j] <= '9') ++j;
        Token t;
        t.conversion = true;
        t.flags = std::string(f.substr(i + 1, j - i - 1));
        if (j < f.size() && (f[j] == 'E' || f[j] == 'O')) t.modifier = f[j++];
        if (j >= f.size()) {  // a dangling "%" is text
            literal += std::string(f.substr(i));
            break;
        }
        t.conv = f[j];
        flush();
        out.push_back(std::move(t));
        i = j + 1;
    }
    flush();
    return out;
}

std::string join(const Tokens& tokens) {
    std::string s;
    for (const Token& t : tokens) s += t.str();
    return s;
}

// Replaces the composite conversions (%D, %T, %r, ...) by what they stand
// for, so the fields they hold can be found and changed one by one.
Tokens expand(Tokens tokens, const std::vector<std::pair<char, std::string>>& composites) {
    for (int round = 0; round < 3; ++round) {  // %r may itself use %T
        Tokens out;
        bool changed = false;
        for (Token& t : tokens) {
            const std::string* replacement = nullptr;
            if (t.conversion)
                for (const auto& [conv, text] : composites)
                    if (t.conv == conv) replacement = &text;
            if (!replacement) {
                out.push_back(std::move(t));
                continue;
            }
            changed = true;
            for (Token& part : tokenize(*replacement)) out.push_back(std::move(part));
        }
        tokens = std::move(out);
        if (!changed) break;
    }
    return tokens;
}

// Literal text that only separates fields (":", ".", "/", blanks), as
// opposed to text that names a unit ("時", "h", "de").
bool is_separator(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80 || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return false;
    return true;
}

bool starts_with_dot(const Tokens& tokens, std::size_t i) {
    return i < tokens.size() && !tokens[i].conversion && !tokens[i].text.empty() && tokens[i].text[0] == '.';
}

constexpr std::string_view kFallbackLongDate = "%B %-d, %Y";
constexpr std::string_view kFallbackShortTime = "%H:%M";

// ---- the Linux facts ----

class TimeLocale {
public:
    TimeLocale() {
        // "" takes LC_ALL, LC_TIME or LANG from the environment; a locale
        // that is named there but not installed falls back to the C locale.
        loc_ = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
        if (!loc_) loc_ = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    }
    ~TimeLocale() {
        if (loc_) freelocale(loc_);
    }
    TimeLocale(const TimeLocale&) = delete;
    TimeLocale& operator=(const TimeLocale&) = delete;

    explicit operator bool() const { return loc_ != static_cast<locale_t>(nullptr); }
    std::string info(nl_item item) const {
        const char* s = nl_langinfo_l(item, loc_);
        return s ? s : "";
    }
    std::string format(const std::string& fmt, const std::tm& when) const {
        for (std::size_t capacity = 128; capacity <= 8192; capacity *= 4) {
            std::string buffer(capacity, '\0');
            const std::size_t n = strftime_l(buffer.data(), buffer.size(), fmt.c_str(), &when, loc_);
            if (n > 0) {
                buffer.resize(n);
                // A locale with no AM/PM marker leaves a blank where it stood.
                return trimmed(buffer);
            }
        }
        return {};
    }

private:
    locale_t loc_ = static_cast<locale_t>(nullptr);
};

std::optional<std::tm> local_moment(std::optional<std::time_t> moment) {
    const std::time_t t = moment ? *moment : std::time(nullptr);
    tzset();
    std::tm when{};
    if (!localtime_r(&t, &when)) return std::nullopt;
    return when;
}

}  // namespace

std::string compose_sender_tag(std::string_view version_text, SystemFacts& facts) {
    // One statement per fact keeps them asked in the tag's order.
    const std::string date = guarded([&] { return facts.long_date(); }, "");
    const std::string time = guarded([&] { return facts.short_time(); }, "");
    const std::string user = guarded([&] { return facts.user_name(); }, "");
    const std::string computer = guarded([&] { return facts.computer_name(); }, "");
    const std::string address = guarded([&] { return facts.host_address(); }, "");
    const std::string serial = guarded([&] { return facts.volume_serial(); }, kVolumeSerialError);

    std::string tag = "\r\n*** Morvantile Info ***\r\nVersion: ";
    tag += version_text;
    tag += "\r\nSent ";
    tag += date;
    tag += ", ";
    tag += time;
    tag += "\r\nFrom ";
    tag += user;
    tag += " on workstation ";
    tag += computer;
    tag += "\r\nIP=";
    tag += address;
    tag += " HDSN=";
    tag += serial;
    return tag;
}

std::string long_date_format(std::string_view d_fmt) {
    const Tokens tokens = expand(tokenize(d_fmt), {{'D', "%m/%d/%y"}, {'F', "%Y-%m-%d"}});
    constexpr std::size_t none = static_cast<std::size_t>(-1);
    std::size_t day = none, month = none, year = none;
    bool spelled = false;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (!t.conversion) {
            spelled = spelled || !is_separator(t.text);
            continue;
        }
        if (one_of(t.conv, "de") && day == none) day = i;
        if (one_of(t.conv, "mbhB") && month == none) month = i;
        if (one_of(t.conv, "yYG") && year == none) year = i;
    }
    if (day == none || month == none || year == none) return std::string(kFallbackLongDate);

    if (spelled) {
        // The locale's numeric date already names its units (year, month,
        // day markers): it is the long form, less its leading zeros.
        Tokens out;
        for (const Token& t : tokens) {
            if (!t.conversion) out.push_back(t);
            else if (t.conv == 'd' || t.conv == 'e') out.push_back(conversion('d', "-"));
            else if (t.conv == 'm') out.push_back(conversion('m', "-"));
            else if (t.conv == 'b' || t.conv == 'h') out.push_back(conversion('B'));
            else if (t.conv == 'y') out.push_back(conversion('Y'));
            else out.push_back(t);
        }
        return join(out);
    }

    if (day < month && month < year) return starts_with_dot(tokens, day + 1) ? "%-d. %B %Y" : "%-d %B %Y";
    if (year < month && month < day) return starts_with_dot(tokens, year + 1) ? "%Y. %B %-d." : "%Y %B %-d";
    return std::string(kFallbackLongDate);  // month first, and any order the tag has no long form for
}

std::string short_time_format(std::string_view t_fmt, std::string_view t_fmt_ampm) {
    const std::string ampm = t_fmt_ampm.empty() ? std::string("%I:%M:%S %p") : std::string(t_fmt_ampm);
    Tokens tokens = expand(tokenize(t_fmt), {{'r', ampm}, {'T', "%H:%M:%S"}, {'R', "%H:%M"}});

    for (std::size_t s = 0; s < tokens.size();) {
        const Token& t = tokens[s];
        if (!t.conversion || (t.conv != 'S' && t.conv != 'Z' && t.conv != 'z')) {
            ++s;
            continue;
        }
        if (t.conv != 'S') {
            // The time zone goes, with the blank before it.
            if (s > 0 && !tokens[s - 1].conversion) {
                std::string& before = tokens[s - 1].text;
                while (!before.empty() && is_space(before.back())) before.pop_back();
                if (before.empty()) {
                    tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(s - 1));
                    --s;
                }
            }
            tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(s));
        } else if (s > 0 && !tokens[s - 1].conversion && is_separator(tokens[s - 1].text)) {
            // "%M:%S %p": the seconds go with the separator before them.
            tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(s - 1),
                         tokens.begin() + static_cast<std::ptrdiff_t>(s + 1));
            --s;
        } else {
            // "%M分%S秒": the seconds go with their own unit after them.
            if (s + 1 < tokens.size() && !tokens[s + 1].conversion) {
                std::string& unit = tokens[s + 1].text;
                std::size_t n = 0;
                while (n < unit.size() && !is_space(unit[n])) ++n;
                unit.erase(0, n);
                if (unit.empty()) tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(s + 1));
            }
            tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(s));
        }
    }

    bool hours = false, minutes = false;
    for (Token& t : tokens) {
        if (!t.conversion) continue;
        // Blank-padded hours (%k, %l) are shown without padding, and with no
        // leading zero, since the locale asked for none.
        if (t.conv == 'k' || t.conv == 'l') {
            t.conv = t.conv == 'k' ? 'H' : 'I';
            if (t.flags.empty() || t.flags == "_") t.flags = "-";
        }
        hours = hours || t.conv == 'H' || t.conv == 'I';
        minutes = minutes || t.conv == 'M';
    }
    if (!hours || !minutes) return std::string(kFallbackShortTime);
    return trimmed(join(tokens));
}

std::string LinuxSystemFacts::user_name() {
    const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::size_t size = suggested > 0 ? static_cast<std::size_t>(suggested) : 16384;
    for (;;) {
        std::vector<char> buffer(size);
        passwd entry{};
        passwd* found = nullptr;
        const int rc = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && size < (1u << 20)) {
            size *= 2;
            continue;
        }
        if (rc != 0 || !found || !found->pw_name) return {};
        return found->pw_name;
    }
}

std::string LinuxSystemFacts::computer_name() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string LinuxSystemFacts::host_address() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one result per address, not one per socket type
    addrinfo* list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0 || !list) return {};
    const addrinfo* last = list;
    while (last->ai_next) last = last->ai_next;
    std::string dotted;
    char text[INET_ADDRSTRLEN] = {};
    if (last->ai_family == AF_INET && last->ai_addr) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(last->ai_addr);
        if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) dotted = text;
    }
    freeaddrinfo(list);
    return dotted;
}

std::string LinuxSystemFacts::volume_serial() {
    struct statfs fs{};
    if (statfs(".", &fs) != 0) return std::string(kVolumeSerialError);
    std::uint32_t word;
    static_assert(sizeof fs.f_fsid >= sizeof word);
    std::memcpy(&word, &fs.f_fsid, sizeof word);
    char text[9];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(word));
    return text;
}

std::string LinuxSystemFacts::long_date() {
    const TimeLocale locale;
    const std::optional<std::tm> when = local_moment(moment_);
    if (!locale || !when) return {};
    return locale.format(long_date_format(locale.info(D_FMT)), *when);
}

std::string LinuxSystemFacts::short_time() {
    const TimeLocale locale;
    const std::optional<std::tm> when = local_moment(moment_);
    if (!locale || !when) return {};
    return locale.format(short_time_format(locale.info(T_FMT), locale.info(T_FMT_AMPM)), *when);
}

}  // namespace morvantile
