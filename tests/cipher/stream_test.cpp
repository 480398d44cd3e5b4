#include "cipher/stream.h"

#include <gtest/gtest.h>

using namespace morvantile;

TEST(Stream, MemoryStreamReadsWritesAndTakes) {
    TMemoryStream m(std::string("abcdef"));
    char buf[8] = {};
    m.set_position(4);
    EXPECT_EQ(m.read(buf, 8), 2u);
    EXPECT_EQ(std::string(buf, 2), "ef");
    EXPECT_EQ(m.read(buf, 8), 0u);

    m.set_position(8);
    m.write("XY", 2);
    EXPECT_EQ(m.data(), std::string("abcdef\0\0XY", 10));
    m.set_position(1);
    m.write(std::string(100, 'q'));  // overwrites, extends and reallocates
    EXPECT_EQ(m.size(), 101);
    EXPECT_EQ(m.data().substr(0, 2), "aq");

    m.set_size(3);
    EXPECT_EQ(m.position(), 3);
    EXPECT_EQ(m.take(), "aqq");
    EXPECT_EQ(m.size(), 0);
    EXPECT_EQ(m.position(), 0);
    EXPECT_THROW(m.set_position(-1), EStreamError);
}

TEST(Stream, StringStreamChangesCallersString) {
    std::string s = "hello";
    TStringStream t(s);
    t.set_position(3);
    t.write("p!!", 3);
    EXPECT_EQ(s, "help!!");
    t.set_position(0);
    char buf[10];
    EXPECT_EQ(t.read(buf, 10), 6u);
}

