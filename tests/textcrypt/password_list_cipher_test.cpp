#include "textcrypt/password_list_cipher.h"

#include <gtest/gtest.h>

#include "cipher/base64.h"
#include "cipher/compression.h"
#include "support/fakes.h"
#include "support/test_util.h"
#include "textcrypt/text_codec.h"

namespace morvantile {
namespace {

using test::RecordingErrors;

const std::string kEntry = "400mail=s3cret=with=equals";
const std::string kDecompressFailed =
    "Failed to decompress password list!\r\nPassword Manager unavailable this session.";

TEST(PasswordListCipher, StoredLineIsTheFixedSuiteBlockOnOneLine) {
    RecordingErrors errors;
    const std::string line = passwordlistencryption(kEntry, 'e', "list", errors);
    EXPECT_TRUE(errors.shown.empty());
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);

    // The same bytes as a text block of the fixed suite, line breaks removed.
    CodecResult block = encrypt_text(kEntry, kHardcoreSuite, "list", false);
    std::string flat;
    for (char c : block.text())
        if (c != '\r' && c != '\n') flat += c;
    EXPECT_EQ(line, flat);
    EXPECT_EQ(passwordlistencryption(kEntry, 'e', "list", errors), line) << "entries are encrypted independently";

    EXPECT_EQ(passwordlistencryption(line, 'd', "list", errors), kEntry);
    EXPECT_TRUE(errors.shown.empty());
}

TEST(PasswordListCipher, LongEntriesStayOnOneLineAndReadBack) {
    RecordingErrors errors;
    const std::string entry = "123long=" + test::random_bytes(3000, 9);
    const std::string line = passwordlistencryption(entry, 'e', "list", errors);
    EXPECT_GT(line.size(), 2047u);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    EXPECT_TRUE(test::same_bytes(passwordlistencryption(line, 'd', "list", errors), entry));
}

TEST(PasswordListCipher, StoredLineSurvivesBreaksAndBlanks) {
    RecordingErrors errors;
    const std::string line = passwordlistencryption(kEntry, 'e', "", errors);  // empty list password works
    std::string broken;
    for (std::size_t i = 0; i < line.size(); i += 10) broken += line.substr(i, 10) + " \r\n\t";
    EXPECT_EQ(passwordlistencryption(broken, 'd', "", errors), kEntry);
    EXPECT_TRUE(errors.shown.empty());
}

TEST(PasswordListCipher, FailuresReportTheirStepAndGiveNothing) {
    RecordingErrors errors;
    EXPECT_EQ(passwordlistencryption("", 'd', "list", errors), "");
    EXPECT_TRUE(errors.shown.empty()) << "an empty stored value is no error";

    const std::string line = passwordlistencryption(kEntry, 'e', "list", errors);
    EXPECT_EQ(passwordlistencryption(line, 'd', "wrong", errors), "");
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(errors.shown[0], kDecompressFailed);

    EXPECT_EQ(passwordlistencryption("not a stored entry", 'd', "list", errors), "");
    EXPECT_EQ(errors.shown.back(), kDecompressFailed);

    // Nothing of base64 at all is as unreadable, not an empty entry.
    errors.shown.clear();
    EXPECT_EQ(passwordlistencryption("*** ... ***", 'd', "list", errors), "");
    EXPECT_EQ(errors.shown, (std::vector<std::string>{kDecompressFailed}));
}

TEST(PasswordListCipher, AListStoredUnderTheOtherFormOfTheListPasswordOpens) {
    RecordingErrors errors;
    const std::string windows = "K\xE4se";     // "Käse" as the Windows build hashes it
    const std::string utf8 = "K\xC3\xA4se";    // as an earlier Linux build did
    for (const auto& [stored_under, typed] : {std::pair{utf8, windows}, std::pair{windows, utf8}}) {
        const std::string line = passwordlistencryption(kEntry, 'e', stored_under, errors);
        EXPECT_EQ(passwordlistencryption(line, 'd', typed, errors), kEntry);
    }
    EXPECT_TRUE(errors.shown.empty());

    // A wrong password with characters outside ASCII is reported once.
    const std::string line = passwordlistencryption(kEntry, 'e', windows, errors);
    EXPECT_EQ(passwordlistencryption(line, 'd', "K\xE4sekuchen", errors), "");
    EXPECT_EQ(errors.shown, (std::vector<std::string>{kDecompressFailed}));
}

}  // namespace
}  // namespace morvantile
