// Who sits at the console: nobody (the machine is starting), the login
// window, or a user from the user table. Each change is written to the
// configuration store's console-user key as {Name, UID, GID}; the login
// window appears there as "loginwindow" with ids 0, and nobody as no key.
#pragma once

#include "DynamicStore.h"
#include "Users.h"

#include <cstdint>
#include <string>

namespace machine {

class Console {
public:
    enum class State { Nobody, LoginWindow, User };

    Console(DynamicStore& store, const UserTable& users) : store_(store), users_(users) {}

    // The user takes the console; false (and no change) for an unknown name.
    bool login(const std::string& name);
    void showLoginWindow();
    void leave();
    // Writes any name and ids at all, as a confused or hostile login
    // mechanism might.
    void setRawConsoleUser(const std::string& name, std::uint32_t uid, std::uint32_t gid = 20);

    State state() const { return state_; }
    // The name written to the store; empty for nobody.
    const std::string& name() const { return name_; }
    std::uint32_t uid() const { return uid_; }
    std::string describe() const;

    // Nobody on the console, without telling anyone.
    void reset();

private:
    void write(State state, const std::string& name, std::uint32_t uid, std::uint32_t gid);
    DynamicStore& store_;
    const UserTable& users_;
    State state_ = State::Nobody;
    std::string name_;
    std::uint32_t uid_ = 0;
};

} // namespace machine
