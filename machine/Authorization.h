// Authorization: the administrator's password prompt and what it grants.
//
// A program asking for a right with interaction allowed puts a prompt in
// front of the person at the console (a window of kind "authorization" that
// "show windows" lists, under the asking program). Only an administrator's
// name and password answer it: the operator types them
// (answer(NAME, PASSWORD), the "authorize" verb) or cancels (the "cancel"
// verb, or the prompt's Cancel button). A wrong name or password leaves the
// prompt up for another try; the third wrong one denies the right. Nobody
// on the console, or no administrator on the machine, denies it at once.
//
// A right granted belongs to the prompt that granted it (its id is the
// grant), which the asking program holds until it lets go (forget) or
// ends; with it, and only with it, the program may run a tool as root
// (runPrivileged), which the
// runner does: the machine service starts the real program, tests hand in
// their own. Every prompt, answer and privileged run is one line of the
// system log under the machine's name.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace machine {

class Console;
class SystemLog;
class UserTable;
class Windows;

// The results the Security framework answers.
inline constexpr std::int32_t errAuthorizationSuccess = 0;
inline constexpr std::int32_t errAuthorizationDenied = -60005;
inline constexpr std::int32_t errAuthorizationCanceled = -60006;
inline constexpr std::int32_t errAuthorizationInteractionNotAllowed = -60007;
inline constexpr std::int32_t errAuthorizationToolExecuteFailure = -60031;

class Authorization {
public:
    static constexpr int kMaxAttempts = 3;
    // Prompts waiting at once (one a process); more are denied at once, so
    // that no program fills the screen or the machine with them.
    static constexpr std::size_t kMaxPrompts = 8;
    // The one right the machine grants.
    static constexpr const char* kAdminRight = "system.privilege.admin";

    // How a prompt ended: errAuthorizationSuccess when the right was granted.
    using Answer = std::function<void(std::int32_t status)>;
    // A tool run as root: its exit status (as waitpid gives it; -1 when it
    // could not start) and what it wrote to its standard output.
    using Finished = std::function<void(int status, const std::string& output)>;
    using Runner = std::function<void(const std::string& path, const std::vector<std::string>& arguments, Finished finished)>;

    Authorization(const UserTable& users, const Console& console, Windows& windows, SystemLog& log);

    // A program (machine pid, its name) asks for a right; the prompt's id,
    // 0 when the answer came at once.
    std::uint64_t ask(int pid, const std::string& program, const std::string& right, Answer answer);
    // The asker lets go of its prompt: a prompt still shown goes without an
    // answer, a right granted is given up.
    void forget(std::uint64_t prompt);

    // The operator's answers to the prompt shown; what happened, in a line,
    // or nothing when no prompt is shown.
    std::optional<std::string> answer(const std::string& name, const std::string& password);
    std::optional<std::string> cancel();
    bool promptShown() const { return !prompts_.empty(); }

    bool isGranted(std::uint64_t grant) const { return grants_.count(grant) != 0; }

    void setRunner(Runner runner) { runner_ = std::move(runner); }
    // Runs the tool as root for the holder of a grant: the run's id, 0 (and
    // nothing runs) without a grant or a runner. Its end is told unless the
    // run was forgotten first.
    std::uint64_t runPrivileged(std::uint64_t grant, const std::string& path, const std::vector<std::string>& arguments, Finished finished);
    void forgetRun(std::uint64_t run) { runs_.erase(run); }

    void reset();

private:
    struct Prompt {
        std::uint64_t id;
        std::uint64_t window;
        std::uint64_t pressListener;
        int pid;
        std::string program;
        std::string right;
        int attempts = 0;
        Answer answer;
    };
    void note(const std::string& message);
    // Takes the prompt off the screen and tells its asker.
    void end(std::uint64_t prompt, std::int32_t status);

    const UserTable& users_;
    const Console& console_;
    Windows& windows_;
    SystemLog& log_;
    std::vector<Prompt> prompts_; // the first is the one shown
    std::map<std::uint64_t, std::string> grants_; // to whom, for the log
    std::map<std::uint64_t, Finished> runs_;
    std::uint64_t nextId_ = 1;
    Runner runner_;
};

} // namespace machine
