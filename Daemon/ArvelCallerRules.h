// ArvelCallerRules: who may call each operation the daemon publishes, in
// one table (README, "Who may do what").
//
// Anyone may read. What changes the driver or the machine-wide settings is
// for root and for the user on the console (the pane runs as that user);
// telling the driver that somebody or nobody is on the console is for root
// alone. A selector without a rule is root's only, so an operation added to
// a protocol is closed until it is given one.
//
// The caller is the user the connection names (the bus's credentials of
// the sender), never anything the call carries.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class ArvelCallerRules {
public:
    enum class Who { Anyone, RootOrConsoleUser, RootOnly };

    // The rule written for the selector; nothing when there is none.
    static std::optional<Who> ruleForSelector(std::string_view selector);
    // Whether the caller may make the call now; a refusal is one error line
    // naming the selector and the caller's id.
    static bool allows(const std::string& selector, std::uint32_t callerUid);
};
