#include "Console.h"

#include "Foundation/Format.h"

namespace machine {

bool Console::login(const std::string& name)
{
    const User* user = users_.userNamed(name);
    if (!user)
        return false;
    write(State::User, user->name, user->uid, user->gid);
    return true;
}

void Console::showLoginWindow()
{
    write(State::LoginWindow, "loginwindow", 0, 0);
}

void Console::leave()
{
    state_ = State::Nobody;
    name_.clear();
    uid_ = 0;
    store_.removeValue(kConsoleUserKey);
}

void Console::setRawConsoleUser(const std::string& name, std::uint32_t uid, std::uint32_t gid)
{
    write(State::User, name, uid, gid);
}

void Console::write(State state, const std::string& name, std::uint32_t uid, std::uint32_t gid)
{
    state_ = state;
    name_ = name;
    uid_ = uid;
    store_.setValue(kConsoleUserKey, Value::dictionary({{"Name", name}, {"UID", uid}, {"GID", gid}}));
}

std::string Console::describe() const
{
    switch (state_) {
    case State::Nobody: return "console: nobody";
    case State::LoginWindow: return "console: login window";
    case State::User: return stringWithFormat("console: \"%@\" UID %u", name_, uid_);
    }
    return {};
}

void Console::reset()
{
    state_ = State::Nobody;
    name_.clear();
    uid_ = 0;
}

} // namespace machine
