#include "textcrypt/clipboard.h"

#include <gtest/gtest.h>

#include "config/settings.h"
#include "support/desktop_fakes.h"
#include "textcrypt/text_encoding.h"

namespace morvantile {
namespace {

using test::FakeClipboard;
using test::FakeDesktop;
using Log = std::vector<std::string>;

const std::string kRtf = "{\\rtf1\\ansi hello}";

struct ClipboardTest : ::testing::Test {
    Settings settings;
    RuntimeState runtime;
    FakeDesktop desktop{runtime};
    FakeClipboard clip;
    ClipboardExchange exchange{clip, settings, runtime, desktop, desktop};

    ClipboardTest() { clip.log = &desktop.log; }

    // A word processor's copy: the same selection as RTF and as plain text.
    void copy_from_word_processor() {
        clip.content = {{runtime.RtfFormat, kRtf}, {std::string(kPlainTextFormat), "hello"}};
    }
};

TEST_F(ClipboardTest, RichTextIsReadOnlyWhenEncryptingWithTheOptionOn) {
    copy_from_word_processor();
    settings.UseRTF = true;
    EXPECT_TRUE(exchange.rich_text_available());
    EXPECT_EQ(exchange.read_clipboard_text('e'), kRtf);
    EXPECT_EQ(exchange.read_clipboard_text('d'), "hello");  // decryption always reads plain text
    settings.UseRTF = false;
    EXPECT_EQ(exchange.read_clipboard_text('e'), "hello");

    settings.UseRTF = true;
    clip.put(kPlainTextFormat, "only plain");
    EXPECT_FALSE(exchange.rich_text_available());
    EXPECT_EQ(exchange.read_clipboard_text('e'), "only plain");
}

TEST_F(ClipboardTest, ReadingStopsAtTheFirstNulAndAnEmptyClipboardIsEmptyText) {
    EXPECT_EQ(exchange.read_clipboard_text('e'), "");
    clip.put("image/png", "\x89PNG");
    EXPECT_EQ(exchange.read_clipboard_text('e'), "");
    clip.put(kPlainTextFormat, std::string("abc\0def", 7));
    EXPECT_EQ(exchange.read_clipboard_text('d'), "abc");
    EXPECT_EQ(clip.opened, 3);
    EXPECT_EQ(clip.closed, 3);
}

TEST_F(ClipboardTest, FailuresReachTheCallerAndTheClipboardIsAlwaysReleased) {
    clip.put(kPlainTextFormat, "kept");
    clip.fail_get = true;
    EXPECT_THROW(exchange.read_clipboard_text('e'), EClipboardError);
    EXPECT_FALSE(clip.held);
    clip.fail_get = false;

    clip.fail_set = true;
    EXPECT_THROW(exchange.write_clipboard_text("new", 'e'), EClipboardError);
    EXPECT_FALSE(clip.held);
    EXPECT_EQ(clip.plain(), "kept");
    clip.fail_set = false;

    clip.fail_open = true;
    EXPECT_THROW(exchange.read_clipboard_text('e'), EClipboardError);
    EXPECT_THROW(exchange.write_clipboard_text("new", 'd'), EClipboardError);
    EXPECT_EQ(clip.plain(), "kept");
}

TEST_F(ClipboardTest, DecryptedRichTextGoesBackAsRichTextAloneAfterTheNotice) {
    copy_from_word_processor();
    settings.UseRTF = true;
    desktop.log.clear();
    exchange.write_clipboard_text(kRtf, 'd');
    // The notice shows while the clipboard is held, before the write.
    EXPECT_EQ(desktop.log, (Log{"clip open", "notice 2", "clip set text/rtf " + kRtf, "clip close"}));
    EXPECT_EQ(runtime.NoticeMode, 2);
    EXPECT_EQ(clip.formats(), (std::vector<std::string>{"text/rtf"}));  // no plain-text copy
    EXPECT_TRUE(clip.secret);
}

TEST_F(ClipboardTest, EverythingElseIsWrittenAsPlainTextAlone) {
    struct Case {
        bool use_rtf;
        char code;
        std::string text;
    };
    const Case cases[] = {
        {false, 'd', kRtf},           // option off: the markup arrives as plain text
        {true, 'e', kRtf},            // a ciphertext block is never rich text
        {true, 'd', "plain words"},   // no marker
        {true, 'd', "{\\rt"},         // too short to carry the marker
        {true, 'd', "{\\RTF1 x}"},    // the marker is case-sensitive
        {true, 'd', ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        copy_from_word_processor();
        settings.UseRTF = c.use_rtf;
        desktop.log.clear();
        exchange.write_clipboard_text(c.text, c.code);
        EXPECT_EQ(clip.formats(), (std::vector<std::string>{"text/plain"}));
        EXPECT_EQ(clip.plain(), c.text);
        EXPECT_TRUE(desktop.only({"notice"}).empty());
        // Decrypted text is kept out of clipboard histories; ciphertext is not.
        EXPECT_EQ(clip.secret, c.code == 'd');
    }
}

TEST_F(ClipboardTest, WrittenTextEndsAtItsFirstNulLikeEveryReaderSeesIt) {
    exchange.write_clipboard_text(std::string("before\0after", 12), 'd');
    EXPECT_EQ(clip.plain(), "before");
}

TEST_F(ClipboardTest, PlainTextIsTheDesktopsUnicodeAndRichTextStaysBytes) {
    // Read: Windows-1252 bytes where every character has one, else UTF-8.
    clip.put(kPlainTextFormat, "Gr\xc3\xbc\xc3\x9f" "e");
    EXPECT_EQ(exchange.read_clipboard_text('e'), "Gr\xfc\xdf" "e");
    clip.put(kPlainTextFormat, "\xd0\x96 Gr\xc3\xbc\xc3\x9f" "e");
    EXPECT_EQ(exchange.read_clipboard_text('e'), "\xd0\x96 Gr\xc3\xbc\xc3\x9f" "e");
    settings.TextEncoding = kTextEncodingUtf8;
    clip.put(kPlainTextFormat, "Gr\xc3\xbc\xc3\x9f" "e");
    EXPECT_EQ(exchange.read_clipboard_text('e'), "Gr\xc3\xbc\xc3\x9f" "e");

    // RTF markup is taken and given as it is.
    settings.UseRTF = true;
    const std::string rtf = "{\\rtf1\\ansi caf\xe9}";
    clip.content = {{runtime.RtfFormat, rtf}, {std::string(kPlainTextFormat), "caf\xc3\xa9"}};
    EXPECT_EQ(exchange.read_clipboard_text('e'), rtf);
    exchange.write_clipboard_text(rtf, 'd');
    EXPECT_EQ(clip.find(runtime.RtfFormat), rtf);

    // Written: decrypted Windows-1252 bytes and UTF-8 alike arrive as text.
    exchange.write_clipboard_text("\x80 5 caf\xe9", 'd');
    EXPECT_EQ(clip.plain(), "\xe2\x82\xac 5 caf\xc3\xa9");
    exchange.write_clipboard_text("\xd0\x96", 'd');
    EXPECT_EQ(clip.plain(), "\xd0\x96");
}

}  // namespace
}  // namespace morvantile
