// The Password Manager's three parallel lists, of equal length and order:
// entry i of each describes the same stored password.
//
// Entry text: three digits of cipher settings (algorithm, chaining mode,
// hash; "400" is Rijndael, CBC, MD5), the name, "=", the password. The
// password is everything after the first "=", so it may hold "=" itself.
#pragma once

#include <string>
#include <vector>

#include "cipher/wipe.h"

namespace morvantile {

struct PasswordLists {
    std::vector<std::string> passwordlist;          // entry texts
    std::vector<std::string> passwordlist_name;     // names
    std::vector<std::string> passwordlist_setting;  // three-digit settings

    std::size_t size() const { return passwordlist.size(); }
    bool empty() const { return passwordlist.empty(); }

    // Empties all three lists, wiping the entries (they hold passwords).
    void clear() {
        for (std::string& e : passwordlist) wipe_string(e);
        passwordlist.clear();
        passwordlist_name.clear();
        passwordlist_setting.clear();
    }

    PasswordLists() = default;
    PasswordLists(const PasswordLists&) = delete;
    PasswordLists& operator=(const PasswordLists&) = delete;
    ~PasswordLists() { clear(); }
};

}  // namespace morvantile
