// The encryption command: the one operation behind every request to encrypt
// or decrypt, from the tray menu or a hotkey. It takes the password (the
// master password, or the password dialog with confirmation), runs one pass
// or, with Hardcore, two passes through the clipboard, delivers the result
// after each pass, reports any failure with its fixed message, and always
// ends by putting the tray icon, its hint and the menu back to idle.
#pragma once

#include <string_view>

#include "cipher/catalogue.h"

namespace morvantile {

struct Settings;
struct RuntimeState;
class ClipboardExchange;
class Dialogs;
class SourceWindow;
class Viewers;
class Tray;
class EventPump;
class FileSystem;
class KeyedCipher;

// The operation codes: decrypt text, encrypt text, encrypt file, decrypt file.
inline constexpr char kDecryptText = 'd';
inline constexpr char kEncryptText = 'e';
inline constexpr char kEncryptFile = 'f';
inline constexpr char kDecryptFile = 'g';

inline constexpr std::string_view kPasswordsDoNotMatch = "Passwords do not match!";
inline constexpr std::string_view kSenderTagFailed = "Failed to add Sender tag info.";
inline constexpr std::string_view kClipboardReadFailed = "Failed to import stream from clipboard!";
inline constexpr std::string_view kEncryptedWriteFailed = "Encrypt (with compression) error!";
inline constexpr std::string_view kDecryptedWriteFailed = "Failed to send to clipboard!";
inline constexpr std::string_view kSourceWindowGone = "ERROR: Cannot find original window!";
inline constexpr std::string_view kCaptionEnterPassword = "Morvantile: enter password";
inline constexpr std::string_view kCaptionConfirmPassword = "Morvantile: confirm password";

// The prompt of the password dialog for an operation code ("" for others).
std::string_view operation_prompt(char code);

// The parts of the desktop that an operation talks to.
struct Desktop {
    Dialogs& dialogs;
    SourceWindow& source;
    Viewers& viewers;
    Tray& tray;
    EventPump& pump;
};

class EncryptionCommand {
public:
    EncryptionCommand(const Settings& settings, RuntimeState& runtime, ClipboardExchange& clipboard,
                      Desktop desktop, FileSystem& files)
        : settings_(settings), runtime_(runtime), clipboard_(clipboard), desktop_(desktop), files_(files) {}

    // Runs the operation `code`; a code other than 'd', 'e', 'f', 'g' runs
    // only the start and end steps. All outcomes are shown to the user;
    // nothing is thrown.
    void encryption(char code);

private:
    // Password acquisition and confirmation; false when the operation ends
    // here (Cancel, or the two passwords differ).
    bool obtain_password(char code);
    bool ask_until_given();
    // One pass of a text operation with the keyed cipher; false on failure.
    bool text_pass(char code, int pass, int passes, const CipherSetup& suite, KeyedCipher& cipher);
    void add_sender_tag();
    bool deliver(char code, int pass, int passes);

    const Settings& settings_;
    RuntimeState& runtime_;
    ClipboardExchange& clipboard_;
    Desktop desktop_;
    FileSystem& files_;
};

}  // namespace morvantile
