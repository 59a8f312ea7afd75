// A user's login items, which the login window opens when the user logs in.
//
// They are the "AutoLaunchedApplicationDictionary" of the user's
// "loginwindow" preference domain (~/Library/Preferences/loginwindow.plist):
// an array of dictionaries, each with the "Path" of an application bundle
// and whether to "Hide" it. An entry that is not a dictionary or has no
// path is left out with one line saying why; a missing domain means no
// login items, an unreadable one is said once and means none.
#pragma once

#include "Foundation/Value.h"

#include <string>
#include <vector>

struct LoginItem {
    std::string path; // system path of the bundle, "~" already expanded
    bool hide = false;
    bool operator==(const LoginItem&) const = default;
};

class LoginItems {
public:
    static constexpr const char* kDomainFile = "/Library/Preferences/loginwindow.plist"; // under the home
    static constexpr const char* kKey = "AutoLaunchedApplicationDictionary";

    // The items of the user whose home is the system path `home`.
    static LoginItems readForHome(const std::string& home);
    // The items of a domain's contents; "~/" at the start of a path is the home.
    static LoginItems fromDomain(const Value& domain, const std::string& home);

    const std::vector<LoginItem>& items() const { return items_; }
    const std::vector<std::string>& problems() const { return problems_; }

private:
    std::vector<LoginItem> items_;
    std::vector<std::string> problems_;
};
