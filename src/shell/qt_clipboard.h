// The desktop clipboard (CLIPBOARD selection) for the clipboard exchange.
// Plain text is "text/plain" as UTF-8; rich text is RTF under "text/rtf",
// also read from the other names word processors use for it.
#pragma once

#include "textcrypt/clipboard.h"

class QClipboard;

namespace morvantile::shell {

class QtClipboard final : public ClipboardAccess {
public:
    QtClipboard();
    // The X clipboard cannot be locked: holding it only guards against
    // nested use inside the program.
    void open() override;
    void close() override;
    std::vector<std::string> formats() override;
    std::optional<std::string> get(std::string_view format) override;
    void set(std::string_view format, std::string_view bytes, bool secret) override;

private:
    QClipboard* clipboard_;
    bool held_ = false;
};

}  // namespace morvantile::shell
