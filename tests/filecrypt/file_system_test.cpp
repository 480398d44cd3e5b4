#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "filecrypt/file_system.h"
#include "support/temp_files.h"

namespace morvantile::test {
namespace {

using Names = std::vector<std::string>;

// Both kinds of pending file: unnamed where the file system has them, and
// the hidden named stand-in used where it has not.
class PendingFiles : public ::testing::TestWithParam<bool> {
protected:
    TempFolder dir;
    PosixFileSystem fs{GetParam()};

    void write(PendingFile& f, const std::string& bytes) { f.write(bytes.data(), bytes.size()); }
};

TEST_P(PendingFiles, NoNameUntilLinkedAndNothingLeftWhenDropped) {
    const bool unnamed = GetParam();
    {
        auto f = fs.create_pending(dir / "out");
        write(*f, "partial");
        // Only the stand-in shows, under a hidden name of its own.
        const Names during = dir.names();
        if (unnamed) {
            EXPECT_EQ(during, Names{});
        } else {
            ASSERT_EQ(during.size(), 1u);
            EXPECT_TRUE(during[0].starts_with(".morvantile-"));
        }
    }
    EXPECT_EQ(dir.names(), Names{});

    auto f = fs.create_pending(dir / "out");
    write(*f, "complete");
    f->sync();
    f->link(dir / "out", false);
    f->close();
    EXPECT_EQ(dir.names(), Names{"out"});
    EXPECT_EQ(read_file(dir / "out"), "complete");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "out").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_P(PendingFiles, ANameThatIsTakenIsReplacedOnlyWhenAsked) {
    write_file(dir / "out", "older");
    auto f = fs.create_pending(dir / "out");
    write(*f, "newer");
    try {
        f->link(dir / "out", false);
        ADD_FAILURE() << "an existing file was replaced";
    } catch (const EFileError& e) {
        EXPECT_EQ(e.error(), EEXIST);
    }
    EXPECT_EQ(read_file(dir / "out"), "older");
    f->link(dir / "out", true);
    f->close();
    EXPECT_EQ(read_file(dir / "out"), "newer");
    EXPECT_EQ(dir.names(), Names{"out"});
}

TEST_P(PendingFiles, WipingWritesOverWhatWasWritten) {
    auto f = fs.create_pending(dir / "out");
    write(*f, "secret");
    f->rewind();
    write(*f, "XXXXXX");
    f->sync();
    f->link(dir / "out", false);
    f->close();
    EXPECT_EQ(read_file(dir / "out"), "XXXXXX");
}

INSTANTIATE_TEST_SUITE_P(Kinds, PendingFiles, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Unnamed" : "HiddenStandIn"; });

// Where only the hidden stand-in is possible, Ctrl+C, SIGTERM and SIGHUP
// take it with them; a signal the program was started to ignore stays
// ignored.
TEST(PendingFileSignals, TheHiddenStandInGoesWithTheProcess) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        for (const bool ignored : {false, true}) {
            SCOPED_TRACE(testing::Message() << "signal " << signal << (ignored ? " ignored" : ""));
            TempFolder dir;
            int ready[2];
            ASSERT_EQ(::pipe(ready), 0);
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                std::signal(signal, ignored ? SIG_IGN : SIG_DFL);
                PosixFileSystem fs(false);
                remove_pending_files_on_signals();
                auto f = fs.create_pending(dir / "out");
                f->write("partial", 7);
                if (::write(ready[1], "x", 1) != 1) ::_exit(2);
                // Time for the signal to arrive; sleeping is cut short by it.
                for (int i = 0; i < 10; ++i) ::usleep(20000);
                f.reset();
                ::_exit(0);
            }
            char x;
            ASSERT_EQ(::read(ready[0], &x, 1), 1);
            EXPECT_EQ(dir.names().size(), 1u);
            ::kill(child, signal);
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ::close(ready[0]);
            ::close(ready[1]);
            if (ignored) {
                // It ran on, and let the file go at its end.
                EXPECT_TRUE(WIFEXITED(status));
            } else {
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal);
            }
            EXPECT_EQ(dir.names(), Names{});
        }
    }
}

TEST(SpecialFiles, EveryKindIsNamedAndNothingWaits) {
    TempFolder dir;
    write_file(dir / "plain", "x");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "plain").c_str(), (dir / "link").c_str()), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sock_path = dir / "sock";
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sock_path.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

    EXPECT_EQ(special_file_kind(dir / "plain"), std::nullopt);
    EXPECT_EQ(special_file_kind(dir / "link"), std::nullopt);
    EXPECT_EQ(special_file_kind(dir / "absent"), std::nullopt);
    EXPECT_EQ(special_file_kind(dir / "fifo"), "a FIFO (named pipe)");
    EXPECT_EQ(special_file_kind(dir / "dangling"), "a link to a missing file");
    EXPECT_EQ(special_file_kind(sock_path), "a socket");
    EXPECT_EQ(special_file_kind(dir.path.string()), "a folder");
    EXPECT_EQ(special_file_kind("/dev/null"), "a character device");
    ::close(sock);

    // Opening a FIFO that nobody writes to returns at once, refused.
    PosixFileSystem fs;
    try {
        fs.open_read(dir / "fifo");
        ADD_FAILURE() << "a FIFO was opened";
    } catch (const EFileError& e) {
        EXPECT_EQ(std::string(e.what()), dir / "fifo" + " is a FIFO (named pipe), not a regular file.");
        EXPECT_EQ(e.error(), 0);
    }
    EXPECT_THROW(fs.open_overwrite(dir / "fifo"), EFileError);
    EXPECT_NO_THROW(fs.open_read(dir / "link"));
    try {
        fs.open_read(dir / "absent");
    } catch (const EFileError& e) {
        EXPECT_EQ(e.error(), ENOENT);
        EXPECT_EQ(reason_line(e), "\r\nNo such file or directory");
    }
}

}  // namespace
}  // namespace morvantile::test
