// Login sessions and fast user switching.
//
// Each user who logs in gets a login session of their own (a security
// session id, the user's name and id). At most one session is on the
// console; switching to another session sends the one on the console to the
// background, where its programs keep running. Every switch is told to the
// listeners with the session that resigned and the one that became active
// (0 for none); as elsewhere, a listener queues what it hears for its
// program's run loop.
#pragma once

#include "link/MachineValues.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace machine {

class UserTable;

class LoginSessions {
public:
    using Listener = std::function<void(std::uint32_t resigned, std::uint32_t activated)>;

    explicit LoginSessions(const UserTable& users) : users_(users) {}

    // A user from the user table logs in: a new session that takes the
    // console. Null for an unknown user.
    const LoginSession* login(const std::string& userName);
    // Fast user switching: the session takes the console; false for an
    // unknown session.
    bool switchTo(std::uint32_t id);
    // The login window takes the console; every session is in the background.
    void switchToLoginWindow();
    bool logout(std::uint32_t id);

    const LoginSession* session(std::uint32_t id) const;
    const LoginSession* consoleSession() const;
    std::vector<LoginSession> all() const;

    int addListener(Listener listener);
    void removeListener(int id);

    // No sessions; listeners stay (they belong to the programs).
    void reset();

private:
    void moveConsoleTo(std::uint32_t id);

    const UserTable& users_;
    std::map<std::uint32_t, LoginSession> sessions_;
    std::uint32_t nextId_ = 100001;
    std::map<int, Listener> listeners_;
    int nextListener_ = 1;
};

} // namespace machine
