// The body of a file operation of the encryption command ('f' encrypt a
// file, 'g' decrypt one) and its clean-up in the command's end steps.
//
// The user picks the source in the open dialog. The result is written to a
// pending file (file_system.h) that no name leads to until it is complete
// and flushed to the disk, so an operation that fails, or a program that is
// killed, never leaves part of a result under any name. With "Replace
// original file" off the complete result takes the name picked in the save
// dialog, replacing a file there in one step. With the option on it takes
// the name source + ".$ct" beside the source; then the source is removed
// (wiped first with "Securely wipe files") and the temporary file is
// renamed to the final name. The data is always whole in the source or in
// the temporary file, whatever fails and whenever the machine stops.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "filecrypt/file_system.h"
#include "filecrypt/progress.h"
#include "textcrypt/desktop.h"

namespace morvantile {

class KeyedCipher;
class TBlockCipher;

inline constexpr std::string_view kTemporarySuffix = ".$ct";

inline constexpr std::string_view kFileSourceRefused =
    "Overwriting source file not permitted.\r\nIf required, change this setting in Options.";
inline constexpr std::string_view kFileReplaceError =
    "File error!\r\nCheck source folder for backup of original file:\r\n";  // + temporary file
inline constexpr std::string_view kFileWipeRemoveFailed = "Failed to wipe/remove file: ";  // + source
inline constexpr std::string_view kFileRemoveFailed = "Failed to remove file: ";           // + source
inline constexpr std::string_view kFileRenameFailed = "Failed to rename file ";  // + temporary + " to " + final
inline constexpr std::string_view kFileTemporaryDeleteFailed = "Failed to wipe/delete temporary file: ";
inline constexpr std::string_view kFileTemporaryCleanupFailed = "Failed to wipe/delete temporary file:\r\n";
inline constexpr std::string_view kFileSaveCleanupFailed = "Failed to wipe/delete temp save file.";

// The part of `name` after its last "/".
std::string_view file_name_part(std::string_view name);
// `name` with its extension (from the last "." of the file-name part)
// replaced by "." + `extension`, or with that added when it has none. A
// leading "." only marks a hidden file and is no extension.
std::string changed_extension(std::string_view name, std::string_view extension);
// The decrypted file's name for `source`: cut at the first "." +
// `extension` in the file-name part (letter case counts; the folder part
// and a hidden file's leading "." are never cut), else `source` itself.
std::string decrypted_name(std::string_view source, std::string_view extension);

class FileOperation {
public:
    // `code` is 'f' (encrypt a file) or 'g' (decrypt one).
    FileOperation(char code, const Settings& settings, Dialogs& dialogs, Tray& tray, EventPump& events,
                  FileSystem& fs);

    // The file body of the operation's single pass, with the keyed cipher of
    // the suite in Settings; releases the cipher before the source is
    // touched. A file that does not decompress under `password` is tried
    // once more with the password's other form (text_encoding.h), which is
    // then left in `password`. Returns false when the operation failed or
    // was cancelled (messages already shown).
    bool run(KeyedCipher& cipher, std::string& password);

    // The end-step clean-up of the temporary file or partial destination
    // that this operation created; `failed` is the operation's failure flag
    // (true also after a quiet cancel). Nothing else is ever touched.
    void cleanup(bool failed);

    // How often the tray hint may show a new percentage (the tests see
    // every one).
    std::chrono::milliseconds progress_interval = kProgressInterval;

private:
    bool fail(std::string_view message);
    bool confirm_overwrite(const std::string& name);
    bool refers_to_source(const std::string& name);
    bool write_result(KeyedCipher& cipher, std::string& password);
    // Writes the destination from the source through the cipher; the
    // message of the failure, or nullopt when the result is on the disk
    // under destination_.
    std::optional<std::string> transform(TBlockCipher& cipher);
    // Overwrites (with "Securely wipe files") and lets go the output of an
    // attempt that failed.
    void discard_unfinished();
    bool replace_source();
    void sync_folder_after_rename();

    char code_;
    const Settings& settings_;
    Dialogs& dialogs_;
    Tray& tray_;
    EventPump& events_;
    FileSystem& fs_;

    // As the options stood when the operation ran.
    bool overwrite_original_ = false;
    bool secure_wipe_ = false;
    // destination_ is the name the complete result gets (the ".$ct" name
    // with "Replace original file" on); final_ the name it ends up with.
    std::string source_, destination_, final_;
    // The result while it has no name.
    std::unique_ptr<PendingFile> unfinished_;
    // A ".$ct" file of this operation is on the disk.
    bool destination_created_ = false;
    bool replace_started_ = false;
};

}  // namespace morvantile
