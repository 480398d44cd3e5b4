#include "platform/wayland/clipboard_formats.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "textcrypt/clipboard.h"

namespace morvantile::platform {
namespace {

using Mimes = std::vector<std::string>;

TEST(WaylandClipboardFormats, SelectionsOfOtherProgramsReadAsTheProgramsFormats) {
    const Mimes gtk = {"text/plain;charset=utf-8", "UTF8_STRING", "COMPOUND_TEXT", "TEXT", "STRING", "text/plain"};
    EXPECT_EQ(program_formats(gtk), (Mimes{"text/plain"}));
    EXPECT_EQ(mime_to_read(kPlainTextFormat, gtk), "text/plain;charset=utf-8");

    const Mimes writer = {"application/rtf", "text/plain"};
    EXPECT_EQ(program_formats(writer), (Mimes{"text/plain", "text/rtf"}));
    EXPECT_EQ(mime_to_read("text/rtf", writer), "application/rtf");
    EXPECT_EQ(mime_to_read(kPlainTextFormat, writer), "text/plain");

    // An X11 program through Xwayland that offers Latin-1 only.
    const Mimes old = {"STRING"};
    EXPECT_EQ(mime_to_read(kPlainTextFormat, old), "STRING");
    EXPECT_TRUE(latin1_mime("STRING"));
    EXPECT_FALSE(latin1_mime("UTF8_STRING"));

    const Mimes image = {"image/png"};
    EXPECT_TRUE(program_formats(image).empty());
    EXPECT_EQ(mime_to_read(kPlainTextFormat, image), std::nullopt);
    EXPECT_EQ(mime_to_read("image/png", image), "image/png");
    EXPECT_EQ(mime_to_read("text/rtf", image), std::nullopt);
}

TEST(WaylandClipboardFormats, OurSelectionIsOfferedUnderEveryNameReadersAskFor) {
    const Mimes text = mimes_to_offer(kPlainTextFormat);
    for (const char* name : {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING", "TEXT", "STRING"})
        EXPECT_NE(std::find(text.begin(), text.end(), name), text.end()) << name;
    EXPECT_EQ(program_formats(text), (Mimes{"text/plain"}));
    // Reading our own selection back takes the UTF-8 form.
    EXPECT_EQ(mime_to_read(kPlainTextFormat, text), "text/plain;charset=utf-8");

    const Mimes rtf = mimes_to_offer("text/rtf");
    EXPECT_NE(std::find(rtf.begin(), rtf.end(), "application/rtf"), rtf.end());
    // Decrypted rich text is rich text only: no plain-text reader gets it.
    EXPECT_EQ(program_formats(rtf), (Mimes{"text/rtf"}));
}

TEST(WaylandClipboardFormats, LineEndsBetweenTheDesktopAndThePrograms) {
    EXPECT_EQ(crlf_line_ends("a\nb\r\nc\n"), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(crlf_line_ends("\n"), "\r\n");
    EXPECT_EQ(lf_line_ends("a\r\nb\rc\r\n"), "a\nb\rc\n");
    EXPECT_EQ(lf_line_ends(crlf_line_ends("x\ny\n\n")), "x\ny\n\n");
}

}  // namespace
}  // namespace morvantile::platform
