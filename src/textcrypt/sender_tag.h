// The sender tag: a short block of who sent a message, from which machine
// and when, appended to the plaintext before encryption when "Add sender ID"
// is on. It is composed once at start-up and reused for every message of the
// run, so every tag of one run shows the same "Sent" moment.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace morvantile {

// The facts about this user and machine that the tag reports. A fact that
// cannot be obtained is empty, except the volume serial, which reads
// "Error!".
class SystemFacts {
public:
    virtual ~SystemFacts() = default;
    virtual std::string user_name() = 0;
    virtual std::string computer_name() = 0;
    // Dotted IPv4 address of this host.
    virtual std::string host_address() = 0;
    // Exactly 8 upper-case hexadecimal digits, or "Error!".
    virtual std::string volume_serial() = 0;
    // The current moment in the user's long date and short time formats.
    virtual std::string long_date() = 0;
    virtual std::string short_time() = 0;
};

inline constexpr std::string_view kVolumeSerialError = "Error!";

// The tag text: it begins with CR LF and has no line end after the last
// field. The facts are asked for in the order date, time, user, computer,
// address, serial. A fact that fails (throws) is left empty, or "Error!" for
// the serial: composing never stops the start-up.
std::string compose_sender_tag(std::string_view version_text, SystemFacts& facts);

// The facts on Linux: user from the password database (effective uid),
// computer = host name, address = the last IPv4 address the host name
// resolves to, serial = the first word of the current directory's file-system
// id, date and time in the LC_TIME locale of the environment. The process's
// global locale is never changed.
class LinuxSystemFacts final : public SystemFacts {
public:
    // Date and time show the moment of each call.
    LinuxSystemFacts() = default;
    // Date and time always show `moment`.
    explicit LinuxSystemFacts(std::time_t moment) : moment_(moment) {}

    std::string user_name() override;
    std::string computer_name() override;
    std::string host_address() override;
    std::string volume_serial() override;
    std::string long_date() override;
    std::string short_time() override;

private:
    std::optional<std::time_t> moment_;
};

// strftime formats derived from a locale's numeric formats (nl_langinfo's
// D_FMT, T_FMT and T_FMT_AMPM), so the tag follows the user's conventions
// whatever locale is installed.

// The long date: the locale's day/month/year order with the full month name
// and the day without a leading zero, e.g. "%-d. %B %Y" from "%d.%m.%Y".
// Month-first, unrecognised and empty formats give "%B %-d, %Y"
// ("December 8, 2026"). Formats that spell their units ("%Y年%m月%d日") are
// kept as they are, with the leading zeros dropped.
std::string long_date_format(std::string_view d_fmt);

// The short time: the locale's time format without the seconds (and
// without a time zone). 12-hour when the locale's time format is 12-hour
// (then from `t_fmt_ampm` where it uses %r), with the AM/PM marker where
// the locale puts it; hours keep a leading zero only when the locale's
// format has one. An empty or unusable format gives "%H:%M".
std::string short_time_format(std::string_view t_fmt, std::string_view t_fmt_ampm);

}  // namespace morvantile
