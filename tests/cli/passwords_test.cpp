#include <gtest/gtest.h>

#include "cli_runner.h"
#include "support/fakes.h"
#include "textcrypt/password_list_cipher.h"

namespace morvantile::test {
namespace {

TEST(PasswordsCommand, ListsEntriesWithTheRightListPasswordOnly) {
    TempFolder dir;
    RecordingErrors errors;
    const std::string ini = dir / "morvantile.ini";
    auto entry = [&](const char* text) { return passwordlistencryption(text, 'e', "list pw", errors); };
    // The options, even an unknown suite, do not matter to the listing.
    write_file(ini, "[encryption]\r\nAlgorithm=12\r\n[PasswordList]\r\n1=" + entry("400mail=s3cret") + "\r\n2=" +
                        entry("623bank=a=b") + "\r\n");
    const Outcome right = run_cli({{"passwords", "--config", ini}, "", "list pw"});
    EXPECT_EQ(right.status, 0) << right.err;
    EXPECT_EQ(right.out, "400 mail\n623 bank\n");

    const Outcome wrong = run_cli({{"passwords", "--config", ini}, "", "other"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.out, "");
    EXPECT_EQ(wrong.err, "Failed to decompress password list!\nPassword Manager unavailable this session.\n");

    // Without a password that is the reason shown, not the failures that follow.
    const Outcome none = run_cli({{"passwords", "--config", ini}});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err.find("Failed"), std::string::npos);

    // No list, or one that NoConfig keeps from being read: exit 1, naming the file.
    const std::string with_list = read_file(ini);
    for (const std::string& text : {std::string("[misc]\r\nHints=1\r\n"), "[misc]\r\nNoConfig=1\r\n" + with_list}) {
        write_file(ini, text);
        const Outcome o = run_cli({{"passwords", "--config", ini}, "", "list pw"});
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.out, "");
        EXPECT_NE(o.err.find(ini), std::string::npos);
    }
}

}  // namespace
}  // namespace morvantile::test
