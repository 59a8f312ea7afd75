#include "Users.h"

#include <algorithm>

namespace machine {

UserTable::UserTable()
{
    reset();
}

void UserTable::reset()
{
    users_.clear();
    administrators_.clear();
    passwords_.clear();
    addUser("root", 0, "/var/root");
}

const User& UserTable::addUser(std::string name, std::uint32_t uid, std::string home)
{
    removeUser(name);
    if (home.empty())
        home = uid == 0 ? "/var/root" : "/Users/" + name;
    users_.push_back(User {std::move(name), uid, uid == 0 ? 0u : 20u, std::move(home)});
    return users_.back();
}

void UserTable::removeUser(const std::string& name)
{
    std::erase_if(users_, [&](const User& u) { return u.name == name; });
    administrators_.erase(name);
    passwords_.erase(name);
}

void UserTable::setAdministrator(const std::string& name, bool administrator)
{
    if (userNamed(name))
        administrators_[name] = administrator;
}

bool UserTable::isAdministrator(const std::string& name) const
{
    auto it = administrators_.find(name);
    return it != administrators_.end() && it->second && userNamed(name);
}

void UserTable::setPassword(const std::string& name, std::string password)
{
    if (userNamed(name))
        passwords_[name] = std::move(password);
}

bool UserTable::passwordMatches(const std::string& name, const std::string& password) const
{
    auto it = passwords_.find(name);
    return it != passwords_.end() && it->second == password && userNamed(name);
}

const User* UserTable::userNamed(const std::string& name) const
{
    auto it = std::find_if(users_.begin(), users_.end(), [&](const User& u) { return u.name == name; });
    return it == users_.end() ? nullptr : &*it;
}

const User* UserTable::userWithId(std::uint32_t uid) const
{
    auto it = std::find_if(users_.begin(), users_.end(), [&](const User& u) { return u.uid == uid; });
    return it == users_.end() ? nullptr : &*it;
}

} // namespace machine
