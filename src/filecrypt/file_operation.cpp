#include "filecrypt/file_operation.h"

#include <cerrno>
#include <memory>
#include <optional>

#include "cipher/wipe.h"
#include "config/ascii.h"
#include "filecrypt/file_codec.h"
#include "filecrypt/secure_wipe.h"
#include "textcrypt/keyed_cipher.h"
#include "textcrypt/text_encoding.h"

namespace morvantile {

namespace {

std::size_t file_name_start(std::string_view name) {
    const auto slash = name.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

// A message and the names it is about, e.g. "Failed to remove file: " + name.
template <class... Parts>
std::string text(std::string_view first, const Parts&... rest) {
    std::string s(first);
    (s.append(rest), ...);
    return s;
}

std::string rename_failed(const std::string& from, const std::string& to) {
    return text(kFileRenameFailed, from, " to ", to);
}

}  // namespace

std::string_view file_name_part(std::string_view name) { return name.substr(file_name_start(name)); }

std::string changed_extension(std::string_view name, std::string_view extension) {
    const std::size_t start = file_name_start(name);
    const auto dot = name.rfind('.');
    const std::size_t end = dot != std::string_view::npos && dot > start ? dot : name.size();
    return text(name.substr(0, end), ".", extension);
}

std::string decrypted_name(std::string_view source, std::string_view extension) {
    const std::string mark = text(".", extension);
    const auto at = source.find(mark, file_name_start(source) + 1);
    return std::string(at == std::string_view::npos ? source : source.substr(0, at));
}

FileOperation::FileOperation(char code, const Settings& settings, Dialogs& dialogs, Tray& tray,
                             EventPump& events, FileSystem& fs)
    : code_(code), settings_(settings), dialogs_(dialogs), tray_(tray), events_(events), fs_(fs) {}

bool FileOperation::fail(std::string_view message) {
    dialogs_.show_error(message);
    return false;
}

bool FileOperation::confirm_overwrite(const std::string& name) {
    return dialogs_.ask_yes_no(kMessageBoxCaption,
                               text("File ", file_name_part(name), " exists.  Overwrite?"));
}

// Names differing only in letter case count as the same file, and so does
// another name for the same file (a link, a second path).
bool FileOperation::refers_to_source(const std::string& name) {
    if (equal_ignoring_case(source_, name)) return true;
    const std::optional<FileId> target = fs_.identity(name);
    return target && target == fs_.identity(source_);
}

bool FileOperation::run(KeyedCipher& cipher, std::string& password) {
    const bool encrypting = code_ == 'f';
    overwrite_original_ = settings_.OverwriteOriginal;
    secure_wipe_ = settings_.SecureWipe;
    const std::string& ext = settings_.FileExtension;

    // The chooser lists Morvantile files first; encryption starts on all files.
    events_.bring_to_front();
    const FileFilter all_files{"All files (*.*)", "*"};
    const std::optional<std::string> chosen = dialogs_.open_file(
        {encrypting ? "Morvantile: open file for encryption" : "Morvantile: open file for decryption",
         {{"Morvantile files (*." + ext + ")", "*." + ext}, all_files},
         encrypting ? 2 : 1,
         false});
    if (!chosen) return false;
    source_ = *chosen;
    if (!fs_.file_exists(source_) && !fs_.directory_exists(source_)) return fail(kFileNotFound);

    if (std::optional<std::string> kind = fs_.special_kind(source_)) return fail(not_a_regular_file(source_, *kind));

    if (!overwrite_original_) {
        events_.bring_to_front();
        const std::optional<std::string> saved = dialogs_.save_file(
            {encrypting ? "Morvantile: save encrypted file as" : "Morvantile: save decrypted file as",
             {all_files},
             1,
             true});
        if (!saved) return false;
        destination_ = *saved;
        if (encrypting) {
            // The dialog asked about the name as typed; this is another one.
            destination_ = changed_extension(destination_, ext);
            if (fs_.file_exists(destination_) && !confirm_overwrite(destination_)) return false;
        }
        if (refers_to_source(destination_)) return fail(kFileSourceRefused);
        // A FIFO or a device is not replaced by a plain file, nor is a link
        // to nothing (the result would land where the link stood).
        if (std::optional<std::string> kind = fs_.special_kind(destination_))
            return fail(not_a_regular_file(destination_, *kind));
        final_ = destination_;
    } else {
        destination_ = source_ + std::string(kTemporarySuffix);
        final_ = encrypting ? source_ + "." + ext : decrypted_name(source_, ext);
        // A temporary file left by an earlier operation may hold the only
        // copy of that operation's data, so it is never replaced.
        if (fs_.file_exists(destination_) || fs_.special_kind(destination_))
            return fail(text(kFileStreamCreation, destination_, "\r\n", system_reason(EEXIST)));
    }

    if (!write_result(cipher, password)) return false;
    return overwrite_original_ ? replace_source() : true;
}

void FileOperation::sync_folder_after_rename() {
    // The renamed file is complete; a crash before the folder reaches the
    // disk at worst brings back the temporary name, with the data.
    try {
        fs_.sync_folder(final_);
    } catch (const EFileError&) {
    }
}

bool FileOperation::write_result(KeyedCipher& cipher, std::string& password) {
    // The key is gone before anything happens to the source, however this ends.
    struct Release {
        KeyedCipher& cipher;
        ~Release() { cipher.release(); }
    } release{cipher};

    std::optional<std::string> failure = transform(*cipher);
    if (failure == kFileDecompressFailed) {
        // A file encrypted under the other form of a password with
        // characters outside ASCII (its UTF-8 bytes, by an earlier Linux
        // build) opens too. The failed attempt's output goes first.
        if (std::optional<std::string> other = other_password_form(password)) {
            WipedString other_form(std::move(*other));
            KeyedCipher retry;
            if (!retry.key(settings_.cipher_setup(), other_form.s)) {
                discard_unfinished();
                const std::optional<std::string> second = transform(*retry);
                if (!second) {
                    password.swap(other_form.s);
                    return true;
                }
                // A read or write error of its own is the one to report.
                if (second != kFileDecompressFailed) failure = second;
            }
        }
    }
    if (failure) return fail(*failure);
    return true;
}

std::optional<std::string> FileOperation::transform(TBlockCipher& cipher) {
    const bool encrypting = code_ == 'f';
    std::unique_ptr<File> source;
    try {
        source = fs_.open_read(source_);
    } catch (const std::exception& e) {
        return text(kFileStreamCreation, source_, reason_line(e));
    }
    try {
        unfinished_ = fs_.create_pending(destination_);
    } catch (const std::exception& e) {
        return text(kFileStreamCreation, destination_, reason_line(e));
    }
    PendingFile& destination = *unfinished_;

    auto hint = [this](std::string_view text) {
        tray_.set_hint(text);
        events_.process_messages();
    };
    // The step's hint, then the same with the percentage done while it runs.
    std::string_view step = encrypting ? kHintCompressing : kHintDecrypting;
    const CodecEvents events{[&] {
                                 step = encrypting ? kHintEncrypting : kHintDecompressing;
                                 hint(step);
                             },
                             [this] { events_.process_messages(); },
                             [&](int percent) { hint(progress_text(step, percent)); },
                             progress_interval};
    hint(step);
    try {
        if (encrypting) encrypt_file_data(*source, destination, cipher, events);
        else decrypt_file_data(*source, destination, cipher, events);
        source->close();
        // The result must be on the disk, under its name, before the source
        // may go: after that it can be the only copy.
        destination.sync();
        destination.link(destination_, /*replace=*/!overwrite_original_);
        destination_created_ = overwrite_original_;
        std::unique_ptr<PendingFile> named = std::move(unfinished_);
        named->close();
        fs_.sync_folder(destination_);
    } catch (const EFileCodecError& e) {
        return codec_failure_text(encrypting, e);
    } catch (const std::exception& e) {
        return text(encrypting ? kFileEncryptIoError : kFileDecryptIoError, reason_line(e));
    }
    return std::nullopt;
}

void FileOperation::discard_unfinished() {
    if (!unfinished_) return;
    // Part of a result may have reached the disk; with the wipe option it
    // is overwritten before the space is given back.
    if (secure_wipe_ && unfinished_->size() > 0) {
        tray_.set_hint("Securely wiping temp file...");
        events_.process_messages();
        if (!secure_wipe(*unfinished_, destination_, tray_, events_)) {
            if (overwrite_original_) dialogs_.show_error(text(kFileTemporaryCleanupFailed, destination_));
            else dialogs_.message_box(kFileSaveCleanupFailed);
        }
    }
    unfinished_.reset();
}

bool FileOperation::replace_source() {
    replace_started_ = true;
    const std::string& temporary = destination_;
    try {
        if (secure_wipe_) {
            const bool wiped = secure_wipe(source_, fs_, tray_, events_);
            if (!wiped || !fs_.remove(source_)) return fail(text(kFileWipeRemoveFailed, source_));
        } else if (!fs_.remove(source_)) {
            // The source is untouched, so the result is not needed.
            dialogs_.show_error(text(kFileRemoveFailed, source_));
            if (!fs_.remove(temporary)) dialogs_.show_error(text(kFileTemporaryDeleteFailed, temporary));
            return false;
        }
        // From here the temporary file holds the only copy; it stays
        // wherever something fails.
        bool replace_existing = false;
        if (code_ != 'f' && fs_.file_exists(final_)) {
            if (!confirm_overwrite(final_)) return false;
            replace_existing = true;
        }
        if (!fs_.rename(temporary, final_, replace_existing))
            return fail(rename_failed(temporary, final_));
        sync_folder_after_rename();
        return true;
    } catch (...) {
        return fail(text(kFileReplaceError, temporary));
    }
}

void FileOperation::cleanup(bool failed) {
    discard_unfinished();
    // Once the replace phase has begun the temporary file may be the only
    // copy; a file this operation did not create is never touched.
    if (!failed || !destination_created_ || replace_started_ || !fs_.file_exists(destination_)) return;
    if (secure_wipe_) tray_.set_hint("Securely wiping temp file...");
    events_.process_messages();
    bool removed = false;
    try {
        removed = secure_wipe_ ? secure_wipe(destination_, fs_, tray_, events_) && fs_.remove(destination_)
                               : fs_.remove(destination_);
    } catch (...) {
    }
    if (removed) return;
    dialogs_.show_error(text(kFileTemporaryCleanupFailed, destination_));
}

}  // namespace morvantile
