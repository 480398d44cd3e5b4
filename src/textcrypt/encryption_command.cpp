#include "textcrypt/encryption_command.h"

#include <exception>
#include <optional>
#include <string>

#include "cipher/wipe.h"
#include "config/settings.h"
#include "filecrypt/file_operation.h"
#include "passwords/password_manager.h"
#include "textcrypt/clipboard.h"
#include "textcrypt/desktop.h"
#include "textcrypt/keyed_cipher.h"
#include "textcrypt/text_codec.h"
#include "textcrypt/text_encoding.h"

namespace morvantile {

namespace {

constexpr int kStoredPasswordNotice = 1;
constexpr int kHardcoreNotice = 3;
// The external editor's window is shown normally.
constexpr int kShowNormal = 5;

bool is_encryption(char code) { return code == kEncryptText || code == kEncryptFile; }
bool is_text_operation(char code) { return code == kEncryptText || code == kDecryptText; }

}  // namespace

std::string_view operation_prompt(char code) {
    switch (code) {
        case kDecryptText: return "Enter text decryption password:";
        case kEncryptText: return "Enter text encryption password:";
        case kEncryptFile: return "Enter file encryption password:";
        case kDecryptFile: return "Enter file decryption password:";
        default: return {};
    }
}

void EncryptionCommand::encryption(char code) {
    Dialogs& dialogs = desktop_.dialogs;
    Tray& tray = desktop_.tray;
    desktop_.pump.bring_to_front();
    runtime_.OperationBusy = true;
    tray.set_popup_enabled(false);

    std::optional<FileOperation> file_operation;
    bool failed = false;
    if (code >= kDecryptText && code <= kDecryptFile) {
        try {
            failed = !obtain_password(code);
            const int passes = is_text_operation(code) && settings_.HardcoreMode ? 2 : 1;
            if (!failed) {
                tray.set_image(TrayImage::Running);
                if (!runtime_.MasterPassword.empty()) {
                    runtime_.NoticeMode = kStoredPasswordNotice;
                    dialogs.show_notice();
                }
                if (passes == 2) {
                    runtime_.NoticeMode = kHardcoreNotice;
                    dialogs.show_notice();
                }
            }
            for (int pass = 1; pass <= passes && !failed; ++pass) {
                desktop_.pump.process_messages();
                // The outer layer of a Hardcore block always has the fixed suite.
                const bool outer = passes == 2 && (code == kEncryptText ? pass == 2 : pass == 1);
                const CipherSetup suite = outer ? kHardcoreSuite : settings_.cipher_setup();
                KeyedCipher cipher;
                if (auto step = cipher.key(suite, runtime_.CurrentPassword)) {
                    dialogs.show_error(codec_step_message(*step));
                    failed = true;
                } else if (is_text_operation(code)) {
                    failed = !text_pass(code, pass, passes, suite, cipher);
                } else {
                    file_operation.emplace(code, settings_, dialogs, tray, desktop_.pump, files_);
                    failed = !file_operation->run(cipher, runtime_.CurrentPassword);
                }
            }
        } catch (const std::exception& e) {
            // Every step reports its own failure; this only keeps anything
            // unforeseen (memory exhausted) from passing unnoticed or
            // reaching the event loop.
            failed = true;
            try {
                dialogs.show_error(std::string("Operation failed: ") + e.what());
            } catch (...) {
            }
        }
    }

    // End steps, whatever happened above.
    try {
        if (file_operation) file_operation->cleanup(failed);
    } catch (...) {
    }
    // The operation's password is not needed once it has ended.
    wipe_string(runtime_.CurrentPassword);
    tray.set_image(runtime_.MasterPassword.empty() ? TrayImage::Idle : TrayImage::PasswordSet);
    tray.set_hint(tray_hint_text(settings_, runtime_));
    tray.set_popup_enabled(true);
    runtime_.OperationBusy = false;
    desktop_.pump.process_messages();
}

bool EncryptionCommand::ask_until_given() {
    // OK with an empty box asks again.
    while (runtime_.CurrentPassword.empty())
        if (!desktop_.dialogs.setpassword()) return false;
    return true;
}

bool EncryptionCommand::obtain_password(char code) {
    runtime_.PromptText = std::string(operation_prompt(code));
    runtime_.PromptColour = is_encryption(code) ? kColorYellow : kColorLime;
    runtime_.CurrentPassword = runtime_.MasterPassword;
    desktop_.tray.set_image(TrayImage::WaitingForPassword);
    runtime_.PasswordDialogCaption = std::string(kCaptionEnterPassword);

    const bool typed = runtime_.CurrentPassword.empty();
    if (!ask_until_given()) return false;
    // A typo in a new encryption password would lock the user out of their
    // own text; a password that is shown, or was retained, has been seen.
    if (!is_encryption(code) || !settings_.ConfirmPassword || !typed || settings_.RevealPassword) return true;

    runtime_.PasswordDialogCaption = std::string(kCaptionConfirmPassword);
    WipedString first(std::move(runtime_.CurrentPassword));
    runtime_.CurrentPassword.clear();
    if (!ask_until_given()) {
        // The first entry was retained on its OK, but it was never
        // confirmed: a typo in it must not become every later operation's
        // password.
        forget_master_password(runtime_, desktop_.tray);
        return false;
    }
    if (first.s == runtime_.CurrentPassword) return true;
    desktop_.dialogs.show_error(kPasswordsDoNotMatch);
    // Either entry may hold the typo, so neither may stay retained.
    Clearpassword1Click(runtime_, desktop_.tray);
    return false;
}

void EncryptionCommand::add_sender_tag() {
    try {
        // Joined as text: the clipboard's text may have become Windows-1252
        // bytes while the tag, from the system's locale, is UTF-8.
        WipedString bytes(clipboard_.read_clipboard_text(kDecryptText));
        WipedString text(bytes_as_text(bytes.s));
        text.s += bytes_as_text(runtime_.SenderTag);
        clipboard_.write_clipboard_text(text.s, kEncryptText);
    } catch (...) {
        desktop_.dialogs.message_box(kSenderTagFailed);
    }
}

bool EncryptionCommand::text_pass(char code, int pass, int passes, const CipherSetup& suite, KeyedCipher& cipher) {
    Dialogs& dialogs = desktop_.dialogs;
    const bool encrypt = code == kEncryptText;
    if (encrypt && pass == 1 && settings_.AddSenderTag) add_sender_tag();

    WipedString input;
    try {
        input.s = clipboard_.read_clipboard_text(code);
    } catch (...) {
        dialogs.show_error(kClipboardReadFailed);
        return false;
    }
    desktop_.tray.set_hint(encrypt ? "Encrypting text..." : "Decrypting text...");
    desktop_.pump.process_messages();

    std::string_view text = input.s;
    // The inner block of a Hardcore message may still carry the separator
    // lines it was made with; nobody had the chance to cut them away.
    if (!encrypt && pass == 2) text = strip_separator_lines(text);
    // The plaintext is held to the limit for texts; the Hardcore outer block
    // around it may be larger.
    const bool plaintext_pass = encrypt ? pass == 1 : pass == passes;
    const std::uint64_t limit =
        plaintext_pass ? settings_.max_text_size() : block_size_bound(settings_.max_text_size());
    CodecResult result = encrypt ? encrypt_text(text, *cipher, settings_.AppendSeparator, limit)
                                 : decrypt_text(text, *cipher, !settings_.NoDecompress, limit);
    cipher.release();
    // A block made with the other form of the password (its UTF-8 bytes,
    // say) opens too; the form that did is kept for a second pass.
    if (!encrypt)
        result = retry_with_other_form(std::move(result), text, suite, runtime_.CurrentPassword,
                                       !settings_.NoDecompress, limit);
    if (!result.ok()) {
        dialogs.show_error(result.message());
        return false;
    }
    try {
        clipboard_.write_clipboard_text(result.text(), code);
    } catch (...) {
        dialogs.show_error(encrypt ? kEncryptedWriteFailed : kDecryptedWriteFailed);
        return false;
    }
    return deliver(code, pass, passes);
}

bool EncryptionCommand::deliver(char code, int pass, int passes) {
    if (code == kEncryptText || settings_.DecryptView == 0) {
        const bool auto_select = code == kEncryptText ? settings_.AutoSelect_e : settings_.AutoSelect_d;
        if (desktop_.source.pasteback(auto_select)) return true;
        desktop_.dialogs.show_error(kSourceWindowGone);
        return false;
    }
    if (settings_.DecryptView == 2) {
        desktop_.viewers.launchviewer(settings_.DecryptViewer, kShowNormal);
    } else {
        desktop_.viewers.showviewer(pass, passes);
    }
    return true;
}

}  // namespace morvantile
