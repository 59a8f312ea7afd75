#include "Security/Authorization.h"

#include "MachineLink/MachineLink.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

struct AuthorizationOpaqueRef {
    // The granted prompt's registration, which holds the right; 0: none.
    std::uint64_t prompt = 0;
};

namespace {

// Serves the machine's news (in the modal-panel mode, as a blocked caller
// would be served nothing else) until `done`; false when the loop has
// nothing left that could bring it.
bool waitFor(const bool& done)
{
    while (!done) {
        if (!RunLoop::current().runModeBeforeDate(kModalPanelRunLoopMode, currentDate() + 3600.0))
            return false;
    }
    return true;
}

bool asksForAdmin(const AuthorizationRights* rights)
{
    if (!rights || rights->count == 0 || !rights->items)
        return false;
    for (UInt32 i = 0; i < rights->count; ++i)
        if (!rights->items[i].name || std::strcmp(rights->items[i].name, kAuthorizationRightExecute) != 0)
            return false;
    return true;
}

} // namespace

OSStatus AuthorizationCreate(const AuthorizationRights* rights, const AuthorizationEnvironment* environment, AuthorizationFlags flags,
    AuthorizationRef* authorization)
{
    if (!authorization)
        return errAuthorizationInvalidPointer;
    if (OSStatus r = MachineLink::shared().take("AuthorizationCreate"))
        return r;
    *authorization = new AuthorizationOpaqueRef;
    if (rights && rights->count)
        return AuthorizationCopyRights(*authorization, rights, environment, flags, nullptr);
    return errAuthorizationSuccess;
}

OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights* rights, const AuthorizationEnvironment*,
    AuthorizationFlags flags, AuthorizationRights** authorizedRights)
{
    if (!authorization)
        return errAuthorizationInvalidRef;
    if (authorizedRights)
        *authorizedRights = nullptr;
    auto& link = MachineLink::shared();
    if (OSStatus r = link.take("AuthorizationCopyRights"))
        return r;
    // The one right this machine knows is the administrator's.
    if (!asksForAdmin(rights))
        return errAuthorizationDenied;
    if (authorization->prompt)
        return errAuthorizationSuccess;
    if (!(flags & kAuthorizationFlagInteractionAllowed))
        return errAuthorizationInteractionNotAllowed;
    auto heard = std::make_shared<std::pair<bool, OSStatus>>(false, errAuthorizationDenied);
    const std::uint64_t prompt = link.subscribe(
        ops::authorizationPrompt,
        [heard](std::int32_t status) {
            heard->first = true;
            heard->second = status;
        },
        std::string(kAuthorizationRightExecute));
    if (!heard->first && (!prompt || !waitFor(heard->first))) {
        link.unsubscribe(ops::authorizationPrompt, prompt);
        return heard->first ? heard->second : errAuthorizationDenied;
    }
    if (heard->second != errAuthorizationSuccess) {
        link.unsubscribe(ops::authorizationPrompt, prompt);
        return heard->second;
    }
    authorization->prompt = prompt;
    return errAuthorizationSuccess;
}

OSStatus AuthorizationExecuteWithPrivileges(
    AuthorizationRef authorization, const char* pathToTool, AuthorizationFlags, char* const* arguments, FILE** communicationsPipe)
{
    if (!authorization)
        return errAuthorizationInvalidRef;
    if (!pathToTool)
        return errAuthorizationInvalidPointer;
    auto& link = MachineLink::shared();
    if (OSStatus r = link.take("AuthorizationExecuteWithPrivileges"))
        return r;
    if (!authorization->prompt)
        return errAuthorizationDenied;
    std::vector<std::string> given;
    for (char* const* argument = arguments; argument && *argument && given.size() < machine::kMaxOpenArguments; ++argument)
        given.emplace_back(*argument);
    struct Ended {
        bool done = false;
        int status = -1;
        Value::Bytes output;
    };
    auto ended = std::make_shared<Ended>();
    const std::uint64_t run = link.subscribe(
        ops::privilegedRun,
        [ended](std::int32_t status, const Value::Bytes& output) {
            ended->done = true;
            ended->status = status;
            ended->output = output;
        },
        authorization->prompt, std::string(pathToTool), given);
    if (!ended->done && (!run || !waitFor(ended->done))) {
        link.unsubscribe(ops::privilegedRun, run);
        return errAuthorizationToolExecuteFailure;
    }
    link.unsubscribe(ops::privilegedRun, run);
    if (ended->status == -1)
        return errAuthorizationToolExecuteFailure;
    if (communicationsPipe) {
        // What the tool wrote, in a pipe for the caller to read: as much as
        // the pipe holds (a tool's answer is a few bytes).
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return errAuthorizationInternal;
        ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
        if (!ended->output.empty())
            [[maybe_unused]] auto written = ::write(ends[1], ended->output.data(), ended->output.size());
        ::close(ends[1]);
        *communicationsPipe = ::fdopen(ends[0], "r");
        if (!*communicationsPipe) {
            ::close(ends[0]);
            return errAuthorizationInternal;
        }
    }
    return errAuthorizationSuccess;
}

OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags)
{
    if (!authorization)
        return errAuthorizationInvalidRef;
    MachineLink::shared().unsubscribe(ops::authorizationPrompt, authorization->prompt);
    delete authorization;
    return errAuthorizationSuccess;
}
