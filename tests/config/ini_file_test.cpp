#include "config/ini_file.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

using namespace morvantile;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

std::string read_file(const std::string& path) {
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

unsigned mode_of(const std::string& path) { return static_cast<unsigned>(fs::status(path).permissions()) & 07777; }

}  // namespace

TEST(IniSyntax, LookupIgnoresCaseBlanksAndLineEnds) {
    const auto ini = IniFile::parse(
        "stray=before\r\n"
        "  [ Misc ]  \r\n"
        " \tColour\t =  red \t\r\n"
        "; Hidden=1\r\n"
        "just words\n"
        "=nameless\n"
        "Empty=\n"
        "Lone=a\rb\n"
        "last=end");
    EXPECT_TRUE(ini.has_section("MISC"));
    EXPECT_FALSE(ini.has_section("stray"));
    EXPECT_EQ(ini.value("misc", "COLOUR"), "red");
    EXPECT_EQ(ini.value(" misc ", " colour "), "red");
    EXPECT_EQ(ini.value("misc", "Hidden"), std::nullopt);
    EXPECT_EQ(ini.value("misc", ""), std::nullopt);
    EXPECT_EQ(ini.read_string("misc", "absent", "fallback"), "fallback");
    // Comments, garbage, nameless and stray keys are not entries; a lone CR
    // ends no line.
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"Colour", "red"}, {"Empty", ""}, {"Lone", "a\rb"}, {"last", "end"}};
    EXPECT_EQ(ini.section_entries("MiSc"), entries);
}

TEST(IniSyntax, DuplicateKeysAndSections) {
    auto ini = IniFile::parse("[a]\r\nk=1\r\nK=2\r\n[b]\r\nk=3\r\n[A]\r\nj=4\r\nk=5\r\n");
    EXPECT_EQ(ini.value("a", "k"), "1");
    EXPECT_EQ(ini.value("a", "j"), "4");  // from the second [A] block
    EXPECT_EQ(ini.section_entries("a").size(), 4u);
    ini.write_string("a", "k", "9");
    ini.write_string("a", "new", "x");
    EXPECT_EQ(ini.serialize(), "[a]\r\nk=9\r\nK=2\r\nnew=x\r\n[b]\r\nk=3\r\n[A]\r\nj=4\r\nk=5\r\n");
    ini.erase_section("A");
    EXPECT_EQ(ini.serialize(), "[b]\r\nk=3\r\n");
}

TEST(IniSyntax, ReadStringCutsButWholeValuesStayWhole) {
    const std::string big(5000, 'x');
    IniFile ini;
    ini.write_string("list", "entry", big);
    ini.write_string("list", "edge", std::string(kIniValueLimit, 'y'));
    EXPECT_EQ(ini.read_string("list", "entry", ""), big.substr(0, kIniValueLimit));
    EXPECT_EQ(ini.read_string("list", "edge", "").size(), kIniValueLimit);
    EXPECT_EQ(ini.value("list", "entry"), big);
    EXPECT_EQ(IniFile::parse(ini.serialize()).section_entries("list").at(0).second, big);
}

TEST(IniInteger, FormsAndFailures) {
    struct Case { const char* text; std::optional<std::int32_t> n; } cases[] = {
        {"0", 0}, {" 42\t", 42}, {"+7", 7}, {"-7", -7}, {"007", 7},
        {"2147483647", 2147483647}, {"-2147483648", INT32_MIN},
        {"2147483648", std::nullopt}, {"-2147483649", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"$ff", 255}, {"0x10", 16}, {"0XaB", 171}, {"-$10", -16},
        {"$FFFFFFFF", -1}, {"0x80000008", -2147483640}, {"$7FFFFFFF", INT32_MAX},
        {"$100000000", std::nullopt}, {"0x000000001", std::nullopt},
        {"", std::nullopt}, {"   ", std::nullopt}, {"-", std::nullopt}, {"$", std::nullopt},
        {"0x", std::nullopt}, {"12abc", std::nullopt}, {"yes", std::nullopt}, {"1 2", std::nullopt},
        {"- 1", std::nullopt}, {"--1", std::nullopt}, {"$fg", std::nullopt}, {"1.0", std::nullopt},
        {"0x-1", std::nullopt}, {"1\r", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(IniFile::parse_integer(c.text), c.n) << '"' << c.text << '"';
}

TEST(IniInteger, ReadingWritingAndBooleans) {
    auto ini = IniFile::parse("[o]\r\nn= -12 \r\nbad=12abc\r\nt=2\r\nz=0\r\nw=yes\r\nh=$FFFFFFFF\r\n");
    EXPECT_EQ(ini.read_integer("o", "n", 5), -12);
    EXPECT_EQ(ini.read_integer("o", "bad", 5), 5);
    EXPECT_EQ(ini.read_integer("o", "missing", 5), 5);
    EXPECT_EQ(ini.read_integer("o", "h", 5), -1);
    EXPECT_TRUE(ini.read_bool("o", "t", false));
    EXPECT_FALSE(ini.read_bool("o", "z", true));
    EXPECT_TRUE(ini.read_bool("o", "w", true) && !ini.read_bool("o", "w", false));
    EXPECT_TRUE(ini.read_bool("o", "missing", true));
    IniFile out;
    out.write_integer("o", "n", INT32_MIN);
    out.write_bool("o", "t", true);
    out.write_bool("o", "z", false);
    EXPECT_EQ(out.serialize(), "[o]\r\nn=-2147483648\r\nt=1\r\nz=0\r\n");
}

TEST(IniWrite, NewKeysAndSectionsGoWhereTheyBelong) {
    auto ini = IniFile::parse("[a]\r\nx=1\r\n; about b\r\n\r\n[b]\r\ny=2\r\n");
    ini.write_string("A", "z", "3");     // stored spelling of the header is kept
    ini.write_string("c", "w", "4");     // new section: one blank line before it
    ini.write_string("b", " v ", " 5");  // name trimmed, blanks in the value kept but not read
    EXPECT_EQ(ini.serialize(),
              "[a]\r\nx=1\r\nz=3\r\n; about b\r\n\r\n[b]\r\ny=2\r\nv= 5\r\n\r\n[c]\r\nw=4\r\n");
    EXPECT_EQ(ini.value("b", "v"), "5");

    IniFile empty;
    empty.write_string("s", "k", "v");
    EXPECT_EQ(empty.serialize(), "[s]\r\nk=v\r\n");

    auto bare = IniFile::parse("[h]\r\n\r\n");  // a section with no keys yet
    bare.write_string("h", "k", "v");
    EXPECT_EQ(bare.serialize(), "[h]\r\nk=v\r\n\r\n");
}

TEST(IniWrite, ReplacementIsInPlaceAndKeepsTheStoredName) {
    auto ini = IniFile::parse("[S]\r\n  MyKey  =  old  \r\nnext=1\r\n");
    ini.write_string("s", "mykey", "new");
    EXPECT_EQ(ini.serialize(), "[S]\r\nMyKey=new\r\nnext=1\r\n");
    EXPECT_EQ(ini.section_entries("s").front(), std::make_pair(std::string("MyKey"), std::string("new")));
}

TEST(IniWrite, EraseSectionLeavesNeighboursIntact) {
    auto ini = IniFile::parse("; head\r\n[a]\r\nx=1\r\n\r\n[pw]\r\np1=aa\r\n;c\r\n\r\n[z]\r\nq=1\r\n");
    ini.erase_section("PW");
    EXPECT_EQ(ini.serialize(), "; head\r\n[a]\r\nx=1\r\n\r\n[z]\r\nq=1\r\n");
    EXPECT_FALSE(ini.has_section("pw"));
    ini.erase_section("missing");
    EXPECT_EQ(ini.serialize(), "; head\r\n[a]\r\nx=1\r\n\r\n[z]\r\nq=1\r\n");

    // The password list is erased and rewritten on every save; the file must
    // not gain a blank line each time.
    ini.write_string("pw", "p1", "bb");
    const std::string once = ini.serialize();
    ini.erase_section("pw");
    ini.write_string("pw", "p1", "bb");
    EXPECT_EQ(ini.serialize(), once);
    EXPECT_EQ(once, "; head\r\n[a]\r\nx=1\r\n\r\n[z]\r\nq=1\r\n\r\n[pw]\r\np1=bb\r\n");
}

TEST(IniWrite, UntouchedTextComesBackByteForByte) {
    for (const std::string& text : std::vector<std::string>{
             "", "\r\n", "[a]\r\nk=v", "\xEF\xBB\xBF[a]\r\nk=v\r\n",
             "junk\r\n  [ x ] \r\n  k  =  v  \r\n;c=1\r\n\r\n\r\n[y]\r\n=v\r\nz\r\r\n",
             "[n]\r\nk=a\0b\r\n\r"s}) {
        EXPECT_EQ(IniFile::parse(text).serialize(), text);
    }
    EXPECT_EQ(IniFile::parse("[a]\nk=v\n").serialize(), "[a]\r\nk=v\r\n");
    EXPECT_EQ(IniFile::parse("\xEF\xBB\xBF[a]\r\nk=v").value("a", "k"), "v");
    auto unfinished = IniFile::parse("[a]\r\nk=v");
    unfinished.write_string("a", "j", "w");
    EXPECT_EQ(unfinished.serialize(), "[a]\r\nk=v\r\nj=w\r\n");
}

TEST(IniWrite, LineBreaksCannotEnterTheFile) {
    IniFile ini;
    ini.write_string("s", "k", "one\r\ntwo\n[evil]\rx=1");
    EXPECT_EQ(ini.serialize(), "[s]\r\nk=onetwo[evil]x=1\r\n");
    const auto back = IniFile::parse(ini.serialize());
    EXPECT_FALSE(back.has_section("evil"));
    EXPECT_EQ(back.section_entries("s").size(), 1u);

    for (const char* key : {"", "  ", "a=b", "a\nb", ";k", "[k"})
        EXPECT_THROW(ini.write_string("s", key, "v"), EIniFileError) << key;
    EXPECT_THROW(ini.write_string("s\r\n[t]", "k", "v"), EIniFileError);
    EXPECT_EQ(ini.serialize(), "[s]\r\nk=onetwo[evil]x=1\r\n");
}

TEST(IniParse, AnyBytesGiveAStableFile) {
    std::mt19937 rng(7);
    const char alphabet[] = "[]=;$x0 \t\r\n\0\xEF\xBB\xBF";
    for (int round = 0; round < 2000; ++round) {
        std::string text(rng() % 64, ' ');
        for (char& c : text) c = alphabet[rng() % (sizeof alphabet - 1)];
        const auto ini = IniFile::parse(text);
        // Reading what was written must give the same file again.
        EXPECT_EQ(IniFile::parse(ini.serialize()).serialize(), ini.serialize());
        (void)ini.read_integer("x", "x", 0);
    }
}

class IniSave : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/ini_file_test.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = dir_ + "/settings.ini";
    }
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all);
        fs::remove_all(dir_);
    }
    // Names in the folder, to catch temporary files left behind.
    std::vector<std::string> listing() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    static void save_sample(const std::string& path) {
        IniFile ini;
        ini.write_string("misc", "k", "new");
        ini.save(path);
    }
    static constexpr const char* kSample = "[misc]\r\nk=new\r\n";
    std::string dir_, path_;
};

TEST_F(IniSave, NewFileIsPrivateAndLoadsBack) {
    EXPECT_EQ(IniFile::load(path_).serialize(), "");  // missing file: empty, no error
    save_sample(path_);
    EXPECT_EQ(mode_of(path_), 0600u);
    EXPECT_EQ(read_file(path_), kSample);
    EXPECT_EQ(IniFile::load(path_).value("misc", "k"), "new");
    EXPECT_EQ(listing(), std::vector<std::string>{"settings.ini"});
}

TEST_F(IniSave, ReplacesAndKeepsPermissions) {
    write_file(path_, "[misc]\r\nk=old\r\n");
    ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
    struct stat before {}, after {};
    ::stat(path_.c_str(), &before);
    save_sample(path_);
    ::stat(path_.c_str(), &after);
    EXPECT_NE(before.st_ino, after.st_ino);  // a new file renamed in, not rewritten
    EXPECT_EQ(mode_of(path_), 0640u);
    EXPECT_EQ(read_file(path_), kSample);
    EXPECT_EQ(listing(), std::vector<std::string>{"settings.ini"});
}

TEST_F(IniSave, ReplacesTheTargetOfALink) {
    fs::create_directory(dir_ + "/real");
    write_file(dir_ + "/real/settings.ini", "old");
    fs::create_symlink("real/settings.ini", dir_ + "/link.ini");
    save_sample(dir_ + "/link.ini");
    EXPECT_TRUE(fs::is_symlink(dir_ + "/link.ini"));
    EXPECT_EQ(read_file(dir_ + "/real/settings.ini"), kSample);

    // A link to a file not yet there creates that file.
    fs::create_symlink("real/fresh.ini", dir_ + "/dangling.ini");
    save_sample(dir_ + "/dangling.ini");
    EXPECT_EQ(read_file(dir_ + "/real/fresh.ini"), kSample);
    EXPECT_EQ(mode_of(dir_ + "/real/fresh.ini"), 0600u);
}

TEST_F(IniSave, FailuresLeaveTheOldFileAlone) {
    EXPECT_THROW(save_sample(dir_ + "/no/such/folder.ini"), EIniFileError);
    fs::create_directory(dir_ + "/taken");
    EXPECT_THROW(save_sample(dir_ + "/taken"), EIniFileError);
    EXPECT_THROW(IniFile::load(dir_ + "/taken"), EIniFileError);

    // A write that fails halfway (a file size limit binds root too): the
    // temporary file must go and the old file must stay as it was.
    write_file(path_, "keep me");
    rlimit old_limit {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old_limit;
    small.rlim_cur = 4;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THROW(save_sample(path_), EIniFileError);
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(read_file(path_), "keep me");
    EXPECT_EQ(listing(), (std::vector<std::string>{"settings.ini", "taken"}));
}

TEST_F(IniSave, ReadOnlyFolderLeavesTheOldFileAlone) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    write_file(path_, "keep me");
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_THROW(save_sample(path_), EIniFileError);
    fs::permissions(dir_, fs::perms::owner_all);
    EXPECT_EQ(read_file(path_), "keep me");
    EXPECT_EQ(listing(), std::vector<std::string>{"settings.ini"});
}
