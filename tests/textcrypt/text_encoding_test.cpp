#include "textcrypt/text_encoding.h"

#include <gtest/gtest.h>

#include "cipher/catalogue.h"
#include "textcrypt/text_codec.h"

namespace morvantile {
namespace {

TEST(TextEncoding, Utf8IsValidatedStrictly) {
    EXPECT_TRUE(is_valid_utf8(""));
    EXPECT_TRUE(is_valid_utf8("\xf0\x9f\x94\x92 lock \xe2\x82\xac \xc3\xa9"));
    EXPECT_FALSE(is_valid_utf8("\xc0\xaf")) << "overlong";
    EXPECT_FALSE(is_valid_utf8("\xed\xa0\x80")) << "surrogate";
    EXPECT_FALSE(is_valid_utf8("\xe2\x82")) << "cut short";
    EXPECT_FALSE(is_valid_utf8("\xf4\x90\x80\x80")) << "beyond U+10FFFF";
    EXPECT_FALSE(is_valid_utf8("caf\xe9")) << "Windows-1252";
}

TEST(TextEncoding, EveryWindows1252ByteHasItsCharacterAndBack) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const std::string utf8 = windows1252_to_utf8(all);
    EXPECT_TRUE(is_valid_utf8(utf8));
    EXPECT_EQ(windows1252_to_utf8("\x80\x9f\xe9"), "\xe2\x82\xac\xc5\xb8\xc3\xa9");  // € Ÿ é
    // The unassigned bytes keep their C1 code points, so nothing is lost.
    EXPECT_EQ(windows1252_to_utf8("\x81\x8d"), "\xc2\x81\xc2\x8d");
    EXPECT_EQ(utf8_to_windows1252(utf8), all);

    EXPECT_EQ(utf8_to_windows1252("\xd0\x96"), std::nullopt) << "Cyrillic Zhe has no byte";
    EXPECT_EQ(utf8_to_windows1252("\xc2\x80"), std::nullopt) << "U+0080 is not the euro byte";
    EXPECT_EQ(utf8_to_windows1252("caf\xe9"), std::nullopt) << "not UTF-8 at all";
}

TEST(TextEncoding, TypedTextBecomesWindows1252WhereItCanAndStaysReadable) {
    const std::string greeting = "Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac";  // "Grüße €"
    EXPECT_EQ(typed_text_bytes(greeting, kTextEncodingWindows1252), "Gr\xfc\xdf" "e \x80");
    EXPECT_EQ(typed_text_bytes(greeting, kTextEncodingUtf8), greeting);
    const std::string mixed = "M\xc3\xbcller \xd0\x96";  // one character without a byte: all UTF-8
    EXPECT_EQ(typed_text_bytes(mixed, kTextEncodingWindows1252), mixed);
    EXPECT_EQ(typed_text_bytes("plain", kTextEncodingWindows1252), "plain");

    // What was read from the clipboard reads back as the same text.
    for (const std::string& text : {greeting, mixed}) {
        EXPECT_EQ(bytes_as_text(typed_text_bytes(text, kTextEncodingWindows1252)), text);
        EXPECT_EQ(bytes_as_text(typed_text_bytes(text, kTextEncodingUtf8)), text);
    }
}

TEST(TextEncoding, APasswordHasAnOtherFormOnlyWhenBothExistAndDiffer) {
    EXPECT_EQ(other_password_form("M\xfcller"), "M\xc3\xbcller");
    EXPECT_EQ(other_password_form("M\xc3\xbcller"), "M\xfcller");
    EXPECT_EQ(other_password_form("ascii only"), std::nullopt);
    EXPECT_EQ(other_password_form("\xd0\x96uk"), std::nullopt) << "only a UTF-8 form";
    EXPECT_EQ(other_password_form(""), std::nullopt);
    // The other form of the other form is the password itself: one retry
    // can never lead to a third key.
    for (const std::string pw : {"M\xfcller", "\x80uro\x9f"}) {
        const auto other = other_password_form(pw);
        ASSERT_TRUE(other);
        EXPECT_EQ(other_password_form(*other), pw);
    }
}

TEST(TextEncoding, DecryptionTriesTheOtherFormOfThePasswordOnlyAfterADecompressionFailure) {
    const CipherSetup suite{6, 2, 3};
    const std::string windows = "M\xfcller", utf8 = "M\xc3\xbcller";
    CodecResult block = encrypt_text("Gr\xfc\xdf" "e", suite, utf8, false);
    ASSERT_TRUE(block.ok());

    std::string password = windows;
    CodecResult opened = decrypt_text_either_form(block.text(), suite, password, true);
    ASSERT_TRUE(opened.ok()) << opened.message();
    EXPECT_EQ(opened.text(), "Gr\xfc\xdf" "e");
    EXPECT_EQ(password, utf8) << "the form that opened it is kept for a second pass";

    // Opened with the first form, nothing changes.
    opened = decrypt_text_either_form(block.text(), suite, password, true);
    ASSERT_TRUE(opened.ok());
    EXPECT_EQ(password, utf8);

    // Wrong in both forms: the failure is the decompression's, and the
    // password stays as given.
    password = "M\xfcllers";
    CodecResult wrong = decrypt_text_either_form(block.text(), suite, password, true);
    EXPECT_EQ(wrong.failed_step(), CodecStep::Decompression);
    EXPECT_EQ(password, "M\xfcllers");

    // Without decompression nothing tells a wrong key, so nothing is retried.
    password = windows;
    CodecResult raw = decrypt_text_either_form(block.text(), suite, password, false);
    ASSERT_TRUE(raw.ok());
    EXPECT_EQ(password, windows);
    EXPECT_NE(raw.text().substr(0, 2), "\x78\xda");

    // Hardcore: both passes, each with the form that works.
    const CodecOptions hardcore{suite, true, false, true};
    CodecResult layered = encrypt_message("text", utf8, hardcore);
    ASSERT_TRUE(layered.ok());
    CodecResult back = decrypt_message(layered.text(), windows, hardcore);
    ASSERT_TRUE(back.ok()) << back.message();
    EXPECT_EQ(back.text(), "text");
}

}  // namespace
}  // namespace morvantile
