#include "LoginSessions.h"

#include "Users.h"

namespace machine {

void LoginSessions::reset()
{
    sessions_.clear();
    nextId_ = 100001;
}

const LoginSession* LoginSessions::login(const std::string& userName)
{
    const User* user = users_.userNamed(userName);
    if (!user)
        return nullptr;
    std::uint32_t id = nextId_++;
    sessions_[id] = LoginSession {id, user->name, user->uid, false};
    moveConsoleTo(id);
    return &sessions_[id];
}

bool LoginSessions::switchTo(std::uint32_t id)
{
    if (!sessions_.count(id))
        return false;
    moveConsoleTo(id);
    return true;
}

void LoginSessions::switchToLoginWindow()
{
    moveConsoleTo(0);
}

bool LoginSessions::logout(std::uint32_t id)
{
    auto it = sessions_.find(id);
    if (it == sessions_.end())
        return false;
    if (it->second.onConsole)
        moveConsoleTo(0);
    sessions_.erase(id);
    return true;
}

void LoginSessions::moveConsoleTo(std::uint32_t id)
{
    const LoginSession* current = consoleSession();
    std::uint32_t resigned = current ? current->id : 0;
    if (resigned == id)
        return;
    for (auto& [sid, s] : sessions_)
        s.onConsole = sid == id;
    auto listeners = listeners_;
    for (auto& [lid, listener] : listeners) {
        if (listeners_.count(lid))
            listener(resigned, id);
    }
}

const LoginSession* LoginSessions::session(std::uint32_t id) const
{
    auto it = sessions_.find(id);
    return it == sessions_.end() ? nullptr : &it->second;
}

const LoginSession* LoginSessions::consoleSession() const
{
    for (const auto& [id, s] : sessions_) {
        if (s.onConsole)
            return &s;
    }
    return nullptr;
}

std::vector<LoginSession> LoginSessions::all() const
{
    std::vector<LoginSession> out;
    for (const auto& [id, s] : sessions_)
        out.push_back(s);
    return out;
}

int LoginSessions::addListener(Listener listener)
{
    int id = nextListener_++;
    listeners_.emplace(id, std::move(listener));
    return id;
}

void LoginSessions::removeListener(int id)
{
    listeners_.erase(id);
}

} // namespace machine
