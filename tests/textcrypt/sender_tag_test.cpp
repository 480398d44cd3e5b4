#include "textcrypt/sender_tag.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace morvantile {
namespace {

struct FakeFacts : SystemFacts {
    std::string user = "alice", computer = "ws-07", address = "192.168.1.20", serial = "1A2B3C4D";
    std::string date = "December 8, 2026", time = "9:41 PM";
    bool throw_all = false;
    std::vector<std::string> asked;

    std::string fact(const char* what, const std::string& value) {
        asked.emplace_back(what);
        if (throw_all) throw std::runtime_error(what);
        return value;
    }
    std::string user_name() override { return fact("user", user); }
    std::string computer_name() override { return fact("computer", computer); }
    std::string host_address() override { return fact("address", address); }
    std::string volume_serial() override { return fact("serial", serial); }
    std::string long_date() override { return fact("date", date); }
    std::string short_time() override { return fact("time", time); }
};

TEST(SenderTag, ComposesTheExactTextInFieldOrder) {
    FakeFacts facts;
    EXPECT_EQ(compose_sender_tag("Morvantile v.1.2.0.26", facts),
              "\r\n*** Morvantile Info ***\r\n"
              "Version: Morvantile v.1.2.0.26\r\n"
              "Sent December 8, 2026, 9:41 PM\r\n"
              "From alice on workstation ws-07\r\n"
              "IP=192.168.1.20 HDSN=1A2B3C4D");
    EXPECT_EQ(facts.asked, (std::vector<std::string>{"date", "time", "user", "computer", "address", "serial"}));
}

TEST(SenderTag, MissingFactsLeaveTheirFieldEmpty) {
    FakeFacts facts;
    facts.address.clear();  // a host name that does not resolve
    const std::string tag = compose_sender_tag("v", facts);
    EXPECT_TRUE(tag.ends_with("\r\nIP= HDSN=1A2B3C4D")) << tag;

    FakeFacts failing;
    failing.throw_all = true;
    EXPECT_EQ(compose_sender_tag("v", failing),
              "\r\n*** Morvantile Info ***\r\nVersion: v\r\nSent , \r\nFrom  on workstation \r\nIP= HDSN=Error!");
    EXPECT_EQ(failing.asked.size(), 6u) << "a failing fact does not stop the others";
}

// Format strings as glibc's locales define D_FMT, so the derivation is
// checked without those locales being installed.
TEST(SenderTagFormats, LongDateFollowsTheLocalesOrder) {
    struct Case {
        const char* locale;
        const char* d_fmt;
        const char* expected;
    };
    const Case cases[] = {
        {"C", "%m/%d/%y", "%B %-d, %Y"},
        {"en_US", "%m/%d/%Y", "%B %-d, %Y"},
        {"en_GB", "%d/%m/%y", "%-d %B %Y"},
        {"de_DE", "%d.%m.%Y", "%-d. %B %Y"},
        {"fr_FR", "%d/%m/%Y", "%-d %B %Y"},
        {"nl_NL", "%d-%m-%y", "%-d %B %Y"},
        {"en_IN", "%A %d %B %Y", "%-d %B %Y"},
        {"sv_SE", "%Y-%m-%d", "%Y %B %-d"},
        {"hu_HU", "%Y.%m.%d.", "%Y. %B %-d."},
        {"via %D", "%D", "%B %-d, %Y"},
        {"via %F", "%F", "%Y %B %-d"},
        {"ja_JP", "%Y\xE5\xB9\xB4%m\xE6\x9C\x88%d\xE6\x97\xA5", "%Y\xE5\xB9\xB4%-m\xE6\x9C\x88%-d\xE6\x97\xA5"},
        {"ko_KR", "%Y\xEB\x85\x84 %m\xEC\x9B\x94 %d\xEC\x9D\xBC", "%Y\xEB\x85\x84 %-m\xEC\x9B\x94 %-d\xEC\x9D\xBC"},
        {"empty", "", "%B %-d, %Y"},
        {"no year", "%d.%m", "%B %-d, %Y"},
        {"dangling %", "%d.%m.%", "%B %-d, %Y"},
    };
    for (const Case& c : cases) EXPECT_EQ(long_date_format(c.d_fmt), c.expected) << c.locale;
}

TEST(SenderTagFormats, ShortTimeDropsSecondsAndKeepsTheLocalesClock) {
    struct Case {
        const char* locale;
        const char* t_fmt;
        const char* t_fmt_ampm;
        const char* expected;
    };
    const Case cases[] = {
        {"C", "%H:%M:%S", "%I:%M:%S %p", "%H:%M"},
        {"en_US", "%r", "%I:%M:%S %p", "%I:%M %p"},
        {"en_US, no ampm format", "%r", "", "%I:%M %p"},
        {"en_GB", "%T", "%l:%M:%S %P", "%H:%M"},
        {"de_DE", "%T", "", "%H:%M"},
        {"en_IN", "%I:%M:%S %p %Z", "%I:%M:%S %p", "%I:%M %p"},
        {"marker first", "%p %I:%M:%S", "", "%p %I:%M"},
        {"blank-padded 12-hour", "%l:%M:%S %p", "", "%-I:%M %p"},
        {"blank-padded 24-hour", "%k.%M.%S", "", "%-H.%M"},
        {"no zero wanted", "%-H:%M:%S", "", "%-H:%M"},
        {"ja_JP", "%H\xE6\x99\x82%M\xE5\x88\x86%S\xE7\xA7\x92", "", "%H\xE6\x99\x82%M\xE5\x88\x86"},
        {"ko_KR 12-hour", "%r", "%p %I\xEC\x8B\x9C %M\xEB\xB6\x84 %S\xEC\xB4\x88",
         "%p %I\xEC\x8B\x9C %M\xEB\xB6\x84"},
        {"empty", "", "", "%H:%M"},
        {"no minutes", "%H", "", "%H:%M"},
    };
    for (const Case& c : cases) EXPECT_EQ(short_time_format(c.t_fmt, c.t_fmt_ampm), c.expected) << c.locale;
}

// Sets environment variables for one test and puts them back afterwards.
class ScopedEnv {
public:
    void set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
        setenv(name, value, 1);
    }
    ~ScopedEnv() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) setenv(it->first.c_str(), it->second->c_str(), 1);
            else unsetenv(it->first.c_str());
        }
        tzset();
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(LinuxSystemFacts, DateAndTimeOfAFixedMomentInTheCLocale) {
    ScopedEnv env;
    env.set("LC_ALL", "C");
    env.set("TZ", "UTC0");
    // 2026-12-08 07:05:09 UTC.
    LinuxSystemFacts facts(std::time_t{1796713509});
    EXPECT_EQ(facts.long_date(), "December 8, 2026");
    EXPECT_EQ(facts.short_time(), "07:05");

    env.set("LC_ALL", "xx_NOWHERE.UTF-8");  // not installed: the C conventions
    EXPECT_EQ(facts.long_date(), "December 8, 2026");
}

TEST(LinuxSystemFacts, AgreesWithTheSystem) {
    LinuxSystemFacts facts;

    const passwd* pw = getpwuid(geteuid());
    EXPECT_EQ(facts.user_name(), pw ? pw->pw_name : "");

    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    EXPECT_EQ(facts.computer_name(), host);

    const std::string address = facts.host_address();
    in_addr parsed{};
    EXPECT_TRUE(address.empty() || inet_pton(AF_INET, address.c_str(), &parsed) == 1) << address;

    const std::string serial = facts.volume_serial();
    const bool hex8 = serial.size() == 8 && serial.find_first_not_of("0123456789ABCDEF") == std::string::npos;
    EXPECT_TRUE(hex8 || serial == "Error!") << serial;

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string date = facts.long_date();
    EXPECT_NE(date.find(std::to_string(local.tm_year + 1900)), std::string::npos) << date;
    EXPECT_FALSE(facts.short_time().empty());
}

}  // namespace
}  // namespace morvantile
