#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "file_fakes.h"
#include "filecrypt/secure_wipe.h"
#include "support/desktop_fakes.h"

namespace morvantile::test {
namespace {

std::vector<std::string> pass_hints(const std::string& name, int passes = 4) {
    std::vector<std::string> out;
    for (int i = 1; i <= passes; ++i) out.push_back("hint Secure wipe (pass " + std::to_string(i) + "): " + name);
    return out;
}

struct Wipe : ::testing::Test {
    TempFolder dir;
    RuntimeState runtime;
    FakeDesktop desk{runtime};
    FaultyFileSystem fs;
    std::string name = dir / "ten";
    bool wipe() { return secure_wipe(name, fs, desk, desk); }
};

TEST_F(Wipe, EachPassIsFlushedBeforeTheNextBegins) {
    write_file(name, "0123456789");
    const auto inode = fs.identity(name);
    std::vector<std::string> seen;
    desk.on_call = [&](const std::string& e) {
        if (e.starts_with("hint ")) seen.push_back(read_file(name));
    };
    EXPECT_TRUE(wipe());
    seen.push_back(read_file(name));
    EXPECT_EQ(seen, (std::vector<std::string>{"0123456789", std::string(10, '\xAA'), std::string(10, '\x55'),
                                              std::string(10, '\0'), std::string(10, '\xFF')}));
    EXPECT_EQ(desk.only({"hint"}), pass_hints(name));
    EXPECT_GE(desk.pumped, 4);
    // The same file, overwritten in place: opened, written, flushed, closed per pass.
    EXPECT_EQ(fs.identity(name), inode);
    std::vector<std::string> per_pass;
    for (int i = 0; i < 4; ++i)
        per_pass.insert(per_pass.end(), {"overwrite ten", "write ten", "sync ten", "close ten"});
    EXPECT_EQ(fs.calls, per_pass);
}

TEST_F(Wipe, EmptyAndMissingFiles) {
    write_file(name, "");
    EXPECT_TRUE(wipe());
    EXPECT_EQ(read_file(name), "");
    EXPECT_EQ(std::count(fs.calls.begin(), fs.calls.end(), "write ten"), 0);
    name = dir / "absent";
    EXPECT_FALSE(wipe());
    EXPECT_EQ(desk.only({"hint"}).size(), 8u);  // the missing file's passes still run
}

// A file the user made read-only, or that another program holds locked, is
// not overwritten at all, even by root; the wipe stops at pass 1.
TEST_F(Wipe, ReadOnlyOrLockedFileStopsTheWipe) {
    write_file(name, "keep me");
    ASSERT_EQ(::chmod(name.c_str(), 0444), 0);
    EXPECT_THROW(wipe(), EFileError);
    EXPECT_EQ(read_file(name), "keep me");
    EXPECT_EQ(desk.only({"hint"}), pass_hints(name, 1));

    ASSERT_EQ(::chmod(name.c_str(), 0644), 0);
    const int other = ::open(name.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    EXPECT_THROW(wipe(), EFileError);
    ::close(other);
    EXPECT_EQ(read_file(name), "keep me");
}

TEST_F(Wipe, AFailedPassDoesNotStopTheOthers) {
    for (const char* call : {"write ten", "sync ten", "close ten"}) {
        SCOPED_TRACE(call);
        write_file(name, "0123456789");
        fs.calls.clear();
        fs.inject({{call, 2}});
        EXPECT_FALSE(wipe());
        EXPECT_EQ(std::count(fs.calls.begin(), fs.calls.end(), "overwrite ten"), 4);
        EXPECT_EQ(read_file(name), std::string(10, '\xFF'));
    }
}

// A file of 2 GiB and more, on a file system that checks the pattern of
// every write without keeping it.
struct HugeFileSystem : FileSystem {
    static constexpr std::uint64_t kSize = (std::uint64_t{1} << 31) + 4097;
    struct Pass {
        std::uint8_t value = 0;
        std::uint64_t written = 0;
        std::size_t largest = 0;
        bool uniform = true, synced = false;
    };
    std::vector<Pass> passes;

    struct Counting : File {
        explicit Counting(Pass& p) : pass(p) {}
        Pass& pass;
        const void* checked = nullptr;
        std::size_t checked_size = 0;
        std::size_t read(void*, std::size_t) override { return 0; }
        void write(const void* buffer, std::size_t n) override {
            const auto* b = static_cast<const std::uint8_t*>(buffer);
            if (pass.written == 0 && n > 0) pass.value = b[0];
            // The pattern buffer is checked whole once; a reused one at its ends.
            const bool seen = buffer == checked && n <= checked_size;
            for (std::size_t i = 0; i < n; i += seen ? std::max<std::size_t>(n - 1, 1) : 1)
                pass.uniform = pass.uniform && b[i] == pass.value;
            if (!seen) checked = buffer, checked_size = n;
            pass.written += n;
            pass.largest = std::max(pass.largest, n);
        }
        std::uint64_t size() override { return kSize; }
        void sync() override { pass.synced = true; }
        void close() override {}
    };

    bool file_exists(const std::string&) override { return true; }
    bool directory_exists(const std::string&) override { return false; }
    std::optional<FileId> identity(const std::string&) override { return std::nullopt; }
    std::unique_ptr<File> open_read(const std::string&) override { throw EFileError("not here"); }
    std::optional<std::string> special_kind(const std::string&) override { return std::nullopt; }
    std::unique_ptr<PendingFile> create_pending(const std::string&) override { throw EFileError("not here"); }
    std::unique_ptr<File> open_overwrite(const std::string&) override {
        passes.emplace_back();
        return std::make_unique<Counting>(passes.back());
    }
    bool remove(const std::string&) override { return false; }
    bool rename(const std::string&, const std::string&, bool) override { return false; }
    void sync_folder(const std::string&) override {}
};

TEST(WipeLargeFile, EveryByteOfA2GiBFileInBoundedPieces) {
    RuntimeState runtime;
    FakeDesktop desk(runtime);
    HugeFileSystem huge;
    huge.passes.reserve(4);
    EXPECT_TRUE(secure_wipe("/huge", huge, desk, desk, std::chrono::milliseconds(0)));
    ASSERT_EQ(huge.passes.size(), 4u);
    // Each pass's hint, then the same with every percentage from 1 to 99.
    std::vector<std::string> hints;
    for (const std::string& pass : pass_hints("/huge")) {
        hints.push_back(pass);
        for (int percent = 1; percent < 100; ++percent) hints.push_back(progress_text(pass, percent));
    }
    EXPECT_EQ(desk.only({"hint"}), hints);
    const std::uint8_t values[] = {0xAA, 0x55, 0x00, 0xFF};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(huge.passes[i].value, values[i]);
        EXPECT_EQ(huge.passes[i].written, HugeFileSystem::kSize);
        EXPECT_LE(huge.passes[i].largest, kWipeChunk);
        EXPECT_TRUE(huge.passes[i].uniform);
        EXPECT_TRUE(huge.passes[i].synced);
    }
    EXPECT_GT(desk.pumped, 4 + 4 * 100);  // the desktop keeps responding during a pass
}

}  // namespace
}  // namespace morvantile::test
