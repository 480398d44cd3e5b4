#include "cipher/stream.h"

#include <gtest/gtest.h>
#include <unistd.h>

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

TEST(Stream, FileStreamModes) {
    char path[] = "/tmp/morvantile_stream_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
        TFileStream f(path, TFileStream::Mode::Create);
        f.write(std::string("0123456789"));
        EXPECT_EQ(f.size(), 10);
    }
    {
        TFileStream f(path, TFileStream::Mode::ReadWrite);  // keeps the contents
        f.set_position(8);
        f.write(std::string("abcd"));
    }
    TFileStream f(path, TFileStream::Mode::Read);
    char buf[20];
    f.set_position(6);
    EXPECT_EQ(f.read(buf, 20), 6u);
    EXPECT_EQ(std::string(buf, 6), "67abcd");
    EXPECT_EQ(f.read(buf, 20), 0u);
    EXPECT_THROW(f.write("x", 1), EStreamError);
    ::unlink(path);
    EXPECT_THROW(TFileStream(path, TFileStream::Mode::Read), EStreamError);
}
