#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

#include "cipher/compression.h"
#include "file_fakes.h"
#include "filecrypt/file_codec.h"
#include "filecrypt/file_operation.h"
#include "support/desktop_fakes.h"
#include "support/test_util.h"
#include "textcrypt/keyed_cipher.h"

namespace morvantile::test {
namespace {

const std::string kPlain = "Quarterly figures\r\n" + random_bytes(30000, 9) + "\r\nend";

TEST(FileNames, ExtensionsAndDecryptedNames) {
    EXPECT_EQ(changed_extension("/d/secret.txt", "mvt"), "/d/secret.mvt");
    EXPECT_EQ(changed_extension("/d/secret", "mvt"), "/d/secret.mvt");
    EXPECT_EQ(changed_extension("/d/a.b.c", "mvt"), "/d/a.b.mvt");
    EXPECT_EQ(changed_extension("/d.x/secret", "mvt"), "/d.x/secret.mvt");
    EXPECT_EQ(changed_extension("/d/.profile", "mvt"), "/d/.profile.mvt");
    EXPECT_EQ(decrypted_name("/d/report.txt.mvt", "mvt"), "/d/report.txt");
    EXPECT_EQ(decrypted_name("/d/report.mvt.mvt", "mvt"), "/d/report");  // from the first match
    EXPECT_EQ(decrypted_name("/d/REPORT.TXT.MVT", "mvt"), "/d/REPORT.TXT.MVT");
    EXPECT_EQ(decrypted_name("/x.mvt/report", "mvt"), "/x.mvt/report");  // never the folder part
    EXPECT_EQ(decrypted_name("/d/.mvt.mvt", "mvt"), "/d/.mvt");
    EXPECT_EQ(file_name_part("/d/report.txt"), "report.txt");
}

struct FileOp : ::testing::Test {
    TempFolder dir;
    Settings settings;
    RuntimeState runtime;
    FakeDesktop desk{runtime};
    FaultyFileSystem fs;
    std::string source = dir / "report.txt";
    // Sees every file-system call of the operations run() runs.
    std::function<void(const std::string&)> on_call;
    std::chrono::milliseconds progress_interval = kProgressInterval;

    FileOp() { write_file(source, kPlain); }

    // One file operation as the encryption command runs it: key, body, clean-up.
    bool run(char code, const std::string& password = "pw") {
        KeyedCipher cipher;
        EXPECT_EQ(cipher.key(settings.cipher_setup(), password), std::nullopt);
        fs.before = [&](const std::string& call) {
            if (on_call) on_call(call);
            // The key is gone before the source is touched.
            if (call.starts_with("overwrite report") || call.starts_with("remove report")) {
                EXPECT_FALSE(cipher.ready()) << call;
            }
        };
        FileOperation op(code, settings, desk, desk, desk, fs);
        op.progress_interval = progress_interval;
        std::string typed = password;
        const bool ok = op.run(cipher, typed);
        op.cleanup(!ok);
        return ok;
    }
    bool run_on(char code, const std::string& from) {
        desk.open_answers = {from};
        return run(code);
    }
    bool encrypt(const std::string& from, std::optional<std::string> to = std::nullopt) {
        desk.open_answers = {from};
        if (to) desk.save_answers = {*to};
        return run('f');
    }
    bool decrypt(const std::string& from, std::optional<std::string> to = std::nullopt,
                 const std::string& password = "pw") {
        desk.open_answers = {from};
        if (to) desk.save_answers = {*to};
        return run('g', password);
    }
    // The plaintext of an encrypted file, or nullopt when it does not decrypt.
    std::optional<std::string> plaintext_of(const std::string& path) {
        KeyedCipher cipher;
        EXPECT_EQ(cipher.key(settings.cipher_setup(), "pw"), std::nullopt);
        MemoryFile in(read_file(path)), out;
        try {
            decrypt_file_data(in, out, *cipher);
        } catch (const EFileCodecError&) {
            return std::nullopt;
        }
        return out.bytes;
    }
    std::vector<std::string> messages() const { return desk.only({"error ", "box "}); }
    std::string error(std::string_view text) const { return "error " + std::string(text); }
};

using Names = std::vector<std::string>;

TEST_F(FileOp, SaveAsRoundTrip) {
    ASSERT_TRUE(encrypt(source, dir / "secret.txt"));
    EXPECT_EQ(dir.names(), (Names{"report.txt", "secret.mvt"}));
    EXPECT_EQ(read_file(dir / "report.txt"), kPlain);
    EXPECT_EQ(plaintext_of(dir / "secret.mvt"), kPlain);
    EXPECT_EQ(desk.only({"front", "open", "save", "hint"}),
              (Names{"front", "open Morvantile: open file for encryption", "front",
                     "save Morvantile: save encrypted file as", "hint Encrypting file: compressing...",
                     "hint Encrypting file: encrypting..."}));
    const FileFilter all{"All files (*.*)", "*"};
    EXPECT_EQ(desk.open_requests[0].filters, (std::vector<FileFilter>{{"Morvantile files (*.mvt)", "*.mvt"}, all}));
    EXPECT_EQ(desk.open_requests[0].filter_index, 2);
    EXPECT_EQ(desk.save_requests[0].filters, std::vector<FileFilter>{all});
    EXPECT_TRUE(desk.save_requests[0].confirm_overwrite);

    desk.log.clear();
    ASSERT_TRUE(decrypt(dir / "secret.mvt", dir / "back.txt"));
    EXPECT_EQ(read_file(dir / "back.txt"), kPlain);
    EXPECT_EQ(desk.open_requests[1].title, "Morvantile: open file for decryption");
    EXPECT_EQ(desk.open_requests[1].filter_index, 1);
    EXPECT_EQ(desk.save_requests[1].title, "Morvantile: save decrypted file as");
    EXPECT_EQ(desk.only({"hint"}),
              (Names{"hint Decrypting file: decrypting...", "hint Decrypting file: decompressing..."}));
    EXPECT_EQ(messages(), Names{});
}

TEST_F(FileOp, EncryptingAsksAboutTheNameItReallyWrites) {
    write_file(dir / "secret.mvt", "older");
    desk.yes_no = {false};
    EXPECT_FALSE(encrypt(source, dir / "secret.txt"));
    EXPECT_EQ(desk.only({"ask"}), Names{"ask Morvantile | File secret.mvt exists.  Overwrite?"});
    EXPECT_EQ(read_file(dir / "secret.mvt"), "older");
    EXPECT_EQ(messages(), Names{});
    desk.yes_no = {true};
    EXPECT_TRUE(encrypt(source, dir / "secret.txt"));
    EXPECT_EQ(plaintext_of(dir / "secret.mvt"), kPlain);
}

TEST_F(FileOp, TheSourceIsNeverTheDestination) {
    ASSERT_TRUE(encrypt(source, dir / "data.txt"));
    const std::string data = dir / "data.mvt", encrypted = read_file(data);
    ASSERT_EQ(::link(data.c_str(), (dir / "alias").c_str()), 0);
    ASSERT_EQ(::symlink(data.c_str(), (dir / "pointer").c_str()), 0);
    for (const std::string& to : {data, dir / "DATA.MVT", dir / "Data.Mvt", dir / "alias", dir / "pointer"}) {
        desk.log.clear();
        EXPECT_FALSE(decrypt(data, to)) << to;
        EXPECT_EQ(messages(), Names{error(kFileSourceRefused)});
    }
    // Encrypting data.mvt as "data.txt" names data.mvt again.
    desk.log.clear();
    desk.yes_no = {true};
    EXPECT_FALSE(encrypt(data, dir / "data.txt"));
    EXPECT_EQ(messages(), Names{error(kFileSourceRefused)});
    EXPECT_EQ(read_file(data), encrypted);
    EXPECT_EQ(dir.names(), (Names{"alias", "data.mvt", "pointer", "report.txt"}));
}

// A FIFO or a device never makes the operation wait, and a FIFO or a link
// to nothing is not replaced by a plain file; the message says what it is.
TEST_F(FileOp, SpecialFilesAreRefusedByName) {
    const std::string fifo = dir / "fifo", dangling = dir / "dangling";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::symlink((dir / "nowhere").c_str(), dangling.c_str()), 0);
    for (bool overwrite : {false, true}) {
        settings.OverwriteOriginal = overwrite;
        desk.log.clear();
        EXPECT_FALSE(encrypt(fifo, dir / "out"));
        EXPECT_FALSE(decrypt("/dev/null", dir / "out"));
        EXPECT_FALSE(encrypt(dir.path.string(), dir / "out"));
        EXPECT_EQ(messages(), (Names{error(fifo + " is a FIFO (named pipe), not a regular file."),
                                     error("/dev/null is a character device, not a regular file."),
                                     error(dir.path.string() + " is a folder, not a regular file.")}));
    }
    settings.OverwriteOriginal = false;
    desk.log.clear();
    EXPECT_FALSE(decrypt(source, fifo));
    EXPECT_FALSE(decrypt(source, dangling));
    EXPECT_EQ(messages(), (Names{error(fifo + " is a FIFO (named pipe), not a regular file."),
                                 error(dangling + " is a link to a missing file, not a regular file.")}));
    EXPECT_EQ(dir.names(), (Names{"dangling", "fifo", "report.txt"}));
    // The system's reason on a line of its own.
    desk.log.clear();
    EXPECT_FALSE(encrypt(source, dir / "no/such/folder/x"));
    EXPECT_EQ(messages(), Names{error(std::string(kFileStreamCreation) + dir / "no/such/folder/x.mvt" +
                                      "\r\nNo such file or directory")});
}

// Every way to stop before the files are opened changes nothing on disk.
TEST_F(FileOp, CancelledOrRefusedBeforeOpeningTouchesNothing) {
    for (bool overwrite : {false, true}) {
        settings.OverwriteOriginal = overwrite;
        desk.open_answers = {std::nullopt};
        EXPECT_FALSE(run('f'));
        desk.open_answers = {dir / "absent.txt"};
        EXPECT_FALSE(run('f'));
    }
    settings.OverwriteOriginal = false;
    desk.open_answers = {source};
    desk.save_answers = {std::nullopt};
    EXPECT_FALSE(run('f'));
    EXPECT_EQ(messages(), (Names{error(kFileNotFound), error(kFileNotFound)}));
    EXPECT_EQ(fs.calls, Names{});
    EXPECT_EQ(dir.names(), Names{"report.txt"});
}

// The output of a failed operation never had a name; with the wipe option
// its bytes are overwritten before it is let go.
TEST_F(FileOp, AFailedOperationLeavesNothingAndWipesWhatItWrote) {
    ASSERT_TRUE(encrypt(source, dir / "enc.mvt"));
    for (bool overwrite : {false, true})
        for (bool wipe : {false, true}) {
            SCOPED_TRACE(testing::Message() << "overwrite " << overwrite << ", wipe " << wipe);
            settings.OverwriteOriginal = overwrite;
            settings.SecureWipe = wipe;
            const std::string partial = overwrite ? "enc.mvt.$ct" : "out.txt";
            const auto to = overwrite ? std::nullopt : std::optional(dir / "out.txt");
            // A wrong password stops before anything is written; a failed
            // flush comes after all of it.
            for (bool written : {false, true}) {
                desk.log.clear();
                fs.calls.clear();
                fs.inject(written ? std::map<std::string, int>{{"sync " + partial, 1}} : std::map<std::string, int>{});
                EXPECT_FALSE(decrypt(dir / "enc.mvt", to, written ? "pw" : "wrong"));
                EXPECT_EQ(messages(), Names{error(written ? kFileDecryptIoError : kFileDecompressFailed)});
                EXPECT_EQ(dir.names(), (Names{"enc.mvt", "report.txt"}));
                EXPECT_EQ(std::count(fs.calls.begin(), fs.calls.end(), "rewind " + partial), wipe && written ? 4 : 0);
                EXPECT_EQ(desk.only({"hint Securely"}).size(), wipe && written ? 1u : 0u);
                EXPECT_EQ(std::count_if(fs.calls.begin(), fs.calls.end(),
                                        [](const std::string& c) { return c.starts_with("link"); }),
                          0);
            }
            fs.inject({});
        }
    EXPECT_EQ(plaintext_of(dir / "enc.mvt"), kPlain);
}

TEST_F(FileOp, AFileEncryptedUnderTheOtherFormOfThePasswordOpens) {
    // Encrypted with the UTF-8 bytes of "Müller", opened with the
    // Windows-1252 bytes the password dialog makes of it.
    desk.open_answers = {source};
    desk.save_answers = {dir / "enc.txt"};
    ASSERT_TRUE(run('f', "M\xC3\xBCller"));
    settings.SecureWipe = true;
    fs.calls.clear();
    ASSERT_TRUE(decrypt(dir / "enc.mvt", dir / "out.txt", "M\xFCller"));
    EXPECT_EQ(read_file(dir / "out.txt"), kPlain);
    EXPECT_EQ(messages(), Names{});
    // Only the second attempt's output got the name.
    EXPECT_EQ(std::count(fs.calls.begin(), fs.calls.end(), "create_pending out.txt"), 2);
    EXPECT_EQ(std::count(fs.calls.begin(), fs.calls.end(), "link out.txt"), 1);
    EXPECT_EQ(dir.names(), (Names{"enc.mvt", "out.txt", "report.txt"}));

    // Wrong in both forms: one message, nothing left behind.
    desk.log.clear();
    EXPECT_FALSE(decrypt(dir / "enc.mvt", dir / "again.txt", "M\xFCllers"));
    EXPECT_EQ(messages(), Names{error(kFileDecompressFailed)});
    EXPECT_EQ(dir.names(), (Names{"enc.mvt", "out.txt", "report.txt"}));
}

// A file the user agreed to replace stays as it was until the result is
// complete, so a wrong password or a full disk does not cost it.
TEST_F(FileOp, AReplacedSaveTargetSurvivesAFailedOperation) {
    ASSERT_TRUE(encrypt(source, dir / "enc.mvt"));
    write_file(dir / "out.txt", "the user's older file");
    EXPECT_FALSE(decrypt(dir / "enc.mvt", dir / "out.txt", "wrong"));
    EXPECT_EQ(read_file(dir / "out.txt"), "the user's older file");
    fs.inject({{"link out.txt", 0}});
    desk.log.clear();
    EXPECT_FALSE(decrypt(dir / "enc.mvt", dir / "out.txt"));
    EXPECT_EQ(messages(), (Names{error(kFileDecryptIoError)}));
    EXPECT_EQ(read_file(dir / "out.txt"), "the user's older file");
    EXPECT_EQ(dir.names(), (Names{"enc.mvt", "out.txt", "report.txt"}));
    fs.inject({});
    ASSERT_TRUE(decrypt(dir / "enc.mvt", dir / "out.txt"));
    EXPECT_EQ(read_file(dir / "out.txt"), kPlain);
}

TEST_F(FileOp, CleanUpFailures) {
    ASSERT_TRUE(encrypt(source, dir / "enc.mvt"));
    // The unnamed output of a failed operation cannot be overwritten.
    fs.inject({{"sync out.txt", 1}, {"rewind out.txt", 0}});
    EXPECT_FALSE(decrypt(dir / "enc.mvt", dir / "out.txt"));
    EXPECT_EQ(desk.only({"box"}), Names{"box Failed to wipe/delete temp save file."});
    // A complete temporary file whose folder could not be flushed, and
    // that then cannot be removed.
    settings.OverwriteOriginal = true;
    settings.SecureWipe = false;
    fs.inject({{"sync_folder enc.mvt.$ct", 1}, {"remove enc.mvt.$ct", 0}});
    EXPECT_FALSE(decrypt(dir / "enc.mvt"));
    EXPECT_EQ(desk.only({"error Failed"}).back(),
              error(std::string(kFileTemporaryCleanupFailed) + dir / "enc.mvt.$ct"));
    EXPECT_EQ(read_file(dir / "enc.mvt.$ct"), kPlain);
}

TEST_F(FileOp, ReplacingTheOriginal) {
    settings.OverwriteOriginal = true;
    ASSERT_TRUE(encrypt(source));
    EXPECT_EQ(dir.names(), Names{"report.txt.mvt"});
    EXPECT_EQ(desk.only({"hint Secure"}),
              (Names{"hint Secure wipe (pass 1): " + source, "hint Secure wipe (pass 2): " + source,
                     "hint Secure wipe (pass 3): " + source, "hint Secure wipe (pass 4): " + source}));
    // The result is on the disk, under its name, before the source is overwritten.
    const auto at = [&](const std::string& c) {
        return std::find(fs.calls.begin(), fs.calls.end(), c) - fs.calls.begin();
    };
    EXPECT_LT(at("sync report.txt.$ct"), at("close report.txt.$ct"));
    EXPECT_LT(at("close report.txt.$ct"), at("sync_folder report.txt.$ct"));
    EXPECT_LT(at("sync_folder report.txt.$ct"), at("overwrite report.txt"));
    EXPECT_LT(at("remove report.txt"), at("rename report.txt.$ct report.txt.mvt"));

    settings.SecureWipe = false;
    fs.calls.clear();
    ASSERT_TRUE(decrypt(dir / "report.txt.mvt"));
    EXPECT_EQ(dir.names(), Names{"report.txt"});
    EXPECT_EQ(read_file(source), kPlain);
    EXPECT_EQ(at("overwrite report.txt.mvt"), static_cast<long>(fs.calls.size()));

    // Without a match of the extension (letter case counts) the name stays.
    ASSERT_TRUE(encrypt(source));
    std::filesystem::rename(dir / "report.txt.mvt", dir / "REPORT.TXT.MVT");
    ASSERT_TRUE(decrypt(dir / "REPORT.TXT.MVT"));
    EXPECT_EQ(dir.names(), Names{"REPORT.TXT.MVT"});
    EXPECT_EQ(read_file(dir / "REPORT.TXT.MVT"), kPlain);
    EXPECT_EQ(messages(), Names{});
}

// A large file shows in the tray how far each step has got, and the desktop
// keeps turning meanwhile.
TEST_F(FileOp, HintsCarryThePercentageDone) {
    const std::string plain = random_bytes(std::size_t{3} << 20, 12) + kPlain;
    write_file(source, plain);
    progress_interval = std::chrono::milliseconds(0);
    // Each hint is a step's hint, bare or with a percentage, in this order.
    auto steps_of = [&](std::string_view first, std::string_view second) {
        std::vector<std::string> steps;
        int percentages = 0;
        for (const std::string& hint : desk.only({"hint"})) {
            for (std::string_view step : {first, second}) {
                const std::string bare = "hint " + std::string(step);
                if (hint == bare) steps.push_back(bare);
                else if (hint.starts_with(bare + " ") && hint.ends_with("%")) ++percentages;
            }
        }
        EXPECT_GE(percentages, 3);
        EXPECT_EQ(desk.only({"hint"}).size(), steps.size() + static_cast<std::size_t>(percentages));
        return steps;
    };
    const int pumped = desk.pumped;
    ASSERT_TRUE(encrypt(source, dir / "secret.mvt"));
    EXPECT_EQ(steps_of(kHintCompressing, kHintEncrypting),
              (Names{"hint Encrypting file: compressing...", "hint Encrypting file: encrypting..."}));
    EXPECT_TRUE(desk.only({"hint"})[1].starts_with("hint Encrypting file: compressing... "));
    EXPECT_GT(desk.pumped, pumped + 3);
    desk.log.clear();
    ASSERT_TRUE(decrypt(dir / "secret.mvt", dir / "back.txt"));
    EXPECT_EQ(steps_of(kHintDecrypting, kHintDecompressing),
              (Names{"hint Decrypting file: decrypting...", "hint Decrypting file: decompressing..."}));
    EXPECT_EQ(read_file(dir / "back.txt"), plain);
}

TEST_F(FileOp, EmptyFileRoundTrip) {
    settings.OverwriteOriginal = true;
    write_file(source, "");
    ASSERT_TRUE(encrypt(source));
    EXPECT_EQ(read_file(dir / "report.txt.mvt").size(), 8u);
    ASSERT_TRUE(decrypt(dir / "report.txt.mvt"));
    EXPECT_EQ(dir.names(), Names{"report.txt"});
    EXPECT_EQ(read_file(source), "");
}

TEST_F(FileOp, WhenTheReplacePhaseStopsTheResultStaysInTheTemporaryFile) {
    settings.OverwriteOriginal = true;
    const std::string temporary = source + ".$ct";
    // The final name is taken: the rename fails and names both files.
    write_file(dir / "report.txt.mvt", "someone else's");
    EXPECT_FALSE(encrypt(source));
    EXPECT_EQ(messages(), Names{error("Failed to rename file " + temporary + " to " + source + ".mvt")});
    EXPECT_EQ(read_file(dir / "report.txt.mvt"), "someone else's");
    EXPECT_EQ(plaintext_of(temporary), kPlain);
    EXPECT_EQ(dir.names(), (Names{"report.txt.$ct", "report.txt.mvt"}));

    // Decrypting over an existing file asks; No keeps the result aside, Yes replaces.
    std::filesystem::rename(temporary, dir / "x.mvt");
    write_file(dir / "x", "older");
    desk.log.clear();
    desk.yes_no = {false};
    EXPECT_FALSE(decrypt(dir / "x.mvt"));
    EXPECT_EQ(desk.only({"ask", "error"}), Names{"ask Morvantile | File x exists.  Overwrite?"});
    EXPECT_EQ(read_file(dir / "x"), "older");
    EXPECT_EQ(read_file(dir / "x.mvt.$ct"), kPlain);
    std::filesystem::rename(dir / "x.mvt.$ct", dir / "y.mvt");
    ASSERT_TRUE(encrypt(dir / "y.mvt"));
    std::filesystem::rename(dir / "y.mvt.mvt", dir / "x.mvt");
    desk.yes_no = {true};
    EXPECT_TRUE(decrypt(dir / "x.mvt"));
    EXPECT_EQ(read_file(dir / "x"), kPlain);
}

TEST_F(FileOp, SourceThatCannotBeRemoved) {
    settings.OverwriteOriginal = true;
    const std::string temporary = source + ".$ct";
    // Plain deletion failed: the source is untouched, so the result goes.
    settings.SecureWipe = false;
    fs.inject({{"remove report.txt", 1}});
    EXPECT_FALSE(encrypt(source));
    EXPECT_EQ(messages(), Names{error(std::string(kFileRemoveFailed) + source)});
    EXPECT_EQ(dir.names(), Names{"report.txt"});
    fs.inject({{"remove report.txt", 0}, {"remove report.txt.$ct", 0}});
    EXPECT_FALSE(encrypt(source));
    EXPECT_EQ(messages().back(), error(std::string(kFileTemporaryDeleteFailed) + temporary));
    ASSERT_EQ(::unlink(temporary.c_str()), 0);

    // A read-only source is not overwritten; the result waits beside it.
    settings.SecureWipe = true;
    fs.inject({});
    ASSERT_EQ(::chmod(source.c_str(), 0444), 0);
    EXPECT_FALSE(encrypt(source));
    EXPECT_EQ(messages().back(), error(std::string(kFileReplaceError) + temporary));
    EXPECT_EQ(read_file(source), kPlain);
    EXPECT_EQ(plaintext_of(temporary), kPlain);

    // A pass that fails: the wipe is reported and the data is in the temporary file.
    ASSERT_EQ(::unlink(temporary.c_str()), 0);
    ASSERT_EQ(::chmod(source.c_str(), 0644), 0);
    fs.inject({{"write report.txt", 2}});
    EXPECT_FALSE(encrypt(source));
    EXPECT_EQ(messages().back(), error(std::string(kFileWipeRemoveFailed) + source));
    EXPECT_EQ(plaintext_of(temporary), kPlain);
}

// A temporary file of an earlier operation can be the only copy of its data.
TEST_F(FileOp, AnEarlierTemporaryFileIsNeverReused) {
    settings.OverwriteOriginal = true;
    write_file(source + ".$ct", "earlier result");
    EXPECT_FALSE(encrypt(source));
    EXPECT_EQ(messages(), Names{error(std::string(kFileStreamCreation) + source + ".$ct\r\nFile exists")});
    EXPECT_EQ(read_file(source + ".$ct"), "earlier result");
    EXPECT_EQ(read_file(source), kPlain);
}

// Each file-system call of a successful replacing operation is made to fail
// in turn. Whatever fails, the data is in the source or in the result; a
// failure before the source is touched leaves exactly the source.
TEST_F(FileOp, TheDataSurvivesAFailureAtEveryStep) {
    settings.OverwriteOriginal = true;
    for (char code : {'f', 'g'})
        for (bool wipe : {true, false}) {
            settings.SecureWipe = wipe;
            const std::string from = code == 'f' ? source : source + ".mvt";
            const std::string result = code == 'f' ? source + ".mvt" : source;
            auto reset = [&] {
                for (const std::string& name : dir.names()) std::filesystem::remove(dir / name);
                write_file(source, kPlain);
                if (code == 'g') {
                    fs.inject({});
                    ASSERT_TRUE(encrypt(source));
                }
                fs.calls.clear();
                desk.log.clear();
            };
            reset();
            ASSERT_TRUE(run_on(code, from));
            const Names success = fs.calls;
            const auto touches_source = std::find_if(success.begin(), success.end(), [&](const std::string& c) {
                return c == "overwrite " + std::string(file_name_part(from)) ||
                       c == "remove " + std::string(file_name_part(from));
            });
            ASSERT_NE(touches_source, success.end());
            for (std::size_t i = 0; i < success.size(); ++i) {
                const int occurrence =
                    static_cast<int>(std::count(success.begin(), success.begin() + i + 1, success[i]));
                SCOPED_TRACE(testing::Message()
                             << code << " wipe " << wipe << ": " << success[i] << " #" << occurrence);
                reset();
                fs.inject({{success[i], occurrence}});
                const bool ok = run_on(code, from);
                const bool before_source = success.begin() + static_cast<long>(i) < touches_source;
                if (before_source) {
                    EXPECT_FALSE(ok);
                    EXPECT_EQ(dir.names(), Names{std::string(file_name_part(from))});
                    EXPECT_FALSE(messages().empty());
                }
                const auto survivor = [&](const std::string& name) {
                    if (!fs.file_exists(name)) return false;
                    const std::string bytes = read_file(name);
                    return code == 'f' ? (name == source ? bytes == kPlain : plaintext_of(name) == kPlain)
                                       : (name == from ? plaintext_of(name) == kPlain : bytes == kPlain);
                };
                EXPECT_TRUE(survivor(from) || survivor(from + ".$ct") || survivor(result));
                EXPECT_TRUE(ok || !messages().empty() || !desk.only({"ask"}).empty());
            }
        }
}

// The program killed (SIGKILL, a crash, the power) at each file-system call
// of a successful operation in turn, in a child process: afterwards no name
// holds part of the plaintext or part of the result, and the data is whole
// in the source or in the finished temporary file or result.
TEST_F(FileOp, AKillAtAnyStepLeavesNoPartialPlaintext) {
    // More than the codec's piece, so that a kill can fall between writes.
    const std::string plain = kPlain + random_bytes(300000, 5);
    for (char code : {'f', 'g'})
        for (bool overwrite : {false, true})
            for (bool wipe : {true, false}) {
                settings.OverwriteOriginal = overwrite;
                settings.SecureWipe = wipe;
                const std::string from = code == 'f' ? source : source + ".mvt";
                const std::string to = dir / "saved";
                std::string from_bytes;
                auto reset = [&] {
                    for (const std::string& name : dir.names()) std::filesystem::remove(dir / name);
                    write_file(source, plain);
                    if (code == 'g') {
                        const bool keep = settings.OverwriteOriginal;
                        settings.OverwriteOriginal = true;
                        ASSERT_TRUE(encrypt(source));
                        settings.OverwriteOriginal = keep;
                    }
                    from_bytes = read_file(from);
                    fs.calls.clear();
                };
                auto operation = [&] {
                    return overwrite ? run_on(code, from) : code == 'f' ? encrypt(from, to) : decrypt(from, to);
                };
                reset();
                ASSERT_TRUE(operation());
                const Names success = fs.calls;
                for (std::size_t i = 0; i < success.size(); ++i) {
                    const int occurrence =
                        static_cast<int>(std::count(success.begin(), success.begin() + i + 1, success[i]));
                    SCOPED_TRACE(testing::Message() << code << " overwrite " << overwrite << " wipe " << wipe
                                                    << ": killed at " << success[i] << " #" << occurrence);
                    reset();
                    const pid_t child = ::fork();
                    ASSERT_GE(child, 0);
                    if (child == 0) {
                        int seen = 0;
                        on_call = [&](const std::string& call) {
                            if (call == success[i] && ++seen == occurrence) ::raise(SIGKILL);
                        };
                        operation();
                        ::_exit(0);
                    }
                    int status = 0;
                    ASSERT_EQ(::waitpid(child, &status, 0), child);
                    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
                    bool whole = false;
                    for (const std::string& name : dir.names()) {
                        const std::string bytes = read_file(dir / name);
                        const bool is_plain = bytes == plain;
                        const bool is_result = !is_plain && plaintext_of(dir / name) == plain;
                        // The source may be part-way through a wipe: each byte
                        // a pattern or still the original.
                        const bool being_wiped =
                            dir / name == from && bytes.size() == from_bytes.size() &&
                            std::equal(bytes.begin(), bytes.end(), from_bytes.begin(), [](char b, char original) {
                                const auto v = static_cast<unsigned char>(b);
                                return b == original || v == 0xAA || v == 0x55 || v == 0x00 || v == 0xFF;
                            });
                        EXPECT_TRUE(is_plain || is_result || being_wiped) << name << " holds something partial";
                        whole = whole || is_plain || is_result;
                    }
                    EXPECT_TRUE(whole);
                }
            }
}

}  // namespace
}  // namespace morvantile::test
