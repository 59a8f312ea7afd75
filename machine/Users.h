// The simulated machine's user table: short name, user id, group id and home
// folder (a system path such as "/Users/alice", found under the disk root).
#pragma once

#include "link/MachineValues.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace machine {

class UserTable {
public:
    UserTable();
    // Adds (or replaces) a user; the home defaults to "/Users/<name>"
    // ("/var/root" for root).
    const User& addUser(std::string name, std::uint32_t uid, std::string home = {});
    void removeUser(const std::string& name);
    const User* userNamed(const std::string& name) const;
    const User* userWithId(std::uint32_t uid) const;
    const std::vector<User>& all() const { return users_; }
    void reset();

    // Who is an administrator, and each user's password: kept here, out of
    // User, which any program on the machine may ask for. A user without a
    // password set has none that matches.
    void setAdministrator(const std::string& name, bool administrator);
    bool isAdministrator(const std::string& name) const;
    void setPassword(const std::string& name, std::string password);
    bool passwordMatches(const std::string& name, const std::string& password) const;

private:
    std::vector<User> users_;
    std::map<std::string, bool> administrators_;
    std::map<std::string, std::string> passwords_;
};

} // namespace machine
