#include "Authorization.h"

#include "Console.h"
#include "RunLoop/Clock.h"
#include "SystemLog.h"
#include "Users.h"
#include "Windows.h"

#include <algorithm>

namespace machine {

Authorization::Authorization(const UserTable& users, const Console& console, Windows& windows, SystemLog& log)
    : users_(users), console_(console), windows_(windows), log_(log)
{
}

void Authorization::note(const std::string& message)
{
    log_.append({currentDate(), "arvel-machine", 0, 5, message});
}

std::uint64_t Authorization::ask(int pid, const std::string& program, const std::string& right, Answer answer)
{
    const std::string asker = program + " (pid " + std::to_string(pid) + ")";
    const bool asking = std::any_of(prompts_.begin(), prompts_.end(), [pid](const Prompt& p) { return pid != 0 && p.pid == pid; });
    if (right != kAdminRight || asking || prompts_.size() >= kMaxPrompts) {
        note("authorization: " + asker + " asked for " + (right == kAdminRight ? "\"" + right + "\"" : std::string("a right the machine does not grant")) +
            "; denied" + (right != kAdminRight ? "" : asking ? ": its prompt is already shown" : ": too many prompts are waiting"));
        answer(errAuthorizationDenied);
        return 0;
    }
    bool anyAdministrator = std::any_of(users_.all().begin(), users_.all().end(), [this](const User& u) { return users_.isAdministrator(u.name); });
    if (console_.state() != Console::State::User || !anyAdministrator) {
        note("authorization: " + asker + " asked for \"" + right + "\"; denied: " +
            (anyAdministrator ? "nobody is at the console to type a password" : "the machine has no administrator"));
        answer(console_.state() != Console::State::User ? errAuthorizationInteractionNotAllowed : errAuthorizationDenied);
        return 0;
    }
    const std::uint64_t id = nextId_++;
    const std::uint64_t listener = windows_.addPressListener(
        [this](std::uint64_t, const std::string& operation, const std::string& button, const std::string&, std::uint64_t) {
        // The prompt has only its two buttons; the operator's other requests
        // find nothing to work here.
        if (operation != "press")
            return;
        if (button == "Cancel")
            cancel();
        else if (button == "OK")
            this->answer("", "");
    });
    const std::uint64_t window = windows_.open({0, pid, "authorization", 0, "Authenticate",
        program + " requires that you type an administrator's name and password.", {{"OK", true}, {"Cancel", true}}, listener});
    prompts_.push_back({id, window, listener, pid, program, right, 0, std::move(answer)});
    note("authorization: " + asker + " asks for \"" + right + "\": a password prompt is shown to " + console_.name());
    return id;
}

void Authorization::end(std::uint64_t prompt, std::int32_t status)
{
    auto it = std::find_if(prompts_.begin(), prompts_.end(), [prompt](const Prompt& p) { return p.id == prompt; });
    if (it == prompts_.end())
        return;
    Prompt ended = std::move(*it);
    prompts_.erase(it);
    windows_.close(ended.window);
    windows_.removePressListener(ended.pressListener);
    if (ended.answer)
        ended.answer(status);
}

void Authorization::forget(std::uint64_t prompt)
{
    grants_.erase(prompt);
    auto it = std::find_if(prompts_.begin(), prompts_.end(), [prompt](const Prompt& p) { return p.id == prompt; });
    if (it == prompts_.end())
        return;
    it->answer = nullptr;
    note("authorization: " + it->program + " (pid " + std::to_string(it->pid) + ") no longer waits; its prompt is taken away");
    end(prompt, errAuthorizationCanceled);
}

std::optional<std::string> Authorization::answer(const std::string& name, const std::string& password)
{
    if (prompts_.empty())
        return std::nullopt;
    Prompt& prompt = prompts_.front();
    const std::string asker = prompt.program + " (pid " + std::to_string(prompt.pid) + ")";
    if (users_.isAdministrator(name) && users_.passwordMatches(name, password)) {
        grants_[prompt.id] = asker;
        std::string line = "authorization: \"" + prompt.right + "\" granted to " + asker + " by the administrator " + name;
        note(line);
        end(prompt.id, errAuthorizationSuccess);
        return line;
    }
    ++prompt.attempts;
    std::string line = "authorization: wrong name or password" + (name.empty() ? std::string() : " for \"" + name + "\"") + " (attempt " +
        std::to_string(prompt.attempts) + " of " + std::to_string(kMaxAttempts) + ")";
    if (prompt.attempts >= kMaxAttempts)
        line += "; \"" + prompt.right + "\" denied to " + asker;
    note(line);
    if (prompt.attempts >= kMaxAttempts)
        end(prompt.id, errAuthorizationDenied);
    return line;
}

std::optional<std::string> Authorization::cancel()
{
    if (prompts_.empty())
        return std::nullopt;
    const Prompt& prompt = prompts_.front();
    std::string line = "authorization: cancelled; \"" + prompt.right + "\" denied to " + prompt.program + " (pid " + std::to_string(prompt.pid) + ")";
    note(line);
    end(prompt.id, errAuthorizationCanceled);
    return line;
}

std::uint64_t Authorization::runPrivileged(
    std::uint64_t grant, const std::string& path, const std::vector<std::string>& arguments, Finished finished)
{
    auto holder = grants_.find(grant);
    if (holder == grants_.end() || !runner_)
        return 0;
    std::string line = "authorization: " + holder->second + " runs " + path;
    for (const std::string& argument : arguments)
        line += " " + argument;
    note(line + " as root");
    const std::uint64_t run = nextId_++;
    runs_[run] = std::move(finished);
    runner_(path, arguments, [this, run, path](int status, const std::string& output) {
        auto waiting = runs_.find(run);
        if (waiting == runs_.end())
            return;
        Finished told = std::move(waiting->second);
        runs_.erase(waiting);
        told(status, output);
    });
    return run;
}

void Authorization::reset()
{
    for (const Prompt& prompt : prompts_) {
        windows_.close(prompt.window);
        windows_.removePressListener(prompt.pressListener);
    }
    prompts_.clear();
    grants_.clear();
    runs_.clear();
    nextId_ = 1;
}

} // namespace machine
