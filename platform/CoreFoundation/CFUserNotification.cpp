#include "CoreFoundation/CFUserNotification.h"

#include "Foundation/NSBundle.h"
#include "MachineLink/MachineLink.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"

#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

std::string localized(const std::shared_ptr<NSBundle>& bundle, const Value& text)
{
    const std::string* given = text.string();
    if (!given)
        return {};
    return bundle ? bundle->localizedStringForKeyValueTable(*given) : *given;
}

} // namespace

SInt32 CFUserNotificationDisplayAlert(CFTimeInterval timeout, CFOptionFlags flags, const CFURLRef&, const CFURLRef&,
    const CFURLRef& localizationURL, const Value& alertHeader, const Value& alertMessage, const Value& defaultButtonTitle,
    const Value& alternateButtonTitle, const Value& otherButtonTitle, CFOptionFlags* responseFlags)
{
    std::shared_ptr<NSBundle> bundle = localizationURL ? NSBundle::bundleWithPath(localizationURL->path()) : nullptr;
    // The buttons in the order of their responses; an empty title is no button.
    std::vector<std::string> titles {defaultButtonTitle.isString() ? localized(bundle, defaultButtonTitle) : "OK",
        localized(bundle, alternateButtonTitle), localized(bundle, otherButtonTitle)};
    std::vector<std::string> buttons;
    for (const std::string& title : titles)
        if (!title.empty())
            buttons.push_back(title);

    auto& link = MachineLink::shared();
    std::optional<std::string> pressed;
    std::uint64_t window = 0;
    std::uint64_t registration = link.subscribe(ops::windowPresses,
        [&pressed, &window](std::uint64_t on, const std::string& operation, const std::string& button, const std::string&, std::uint64_t serial) {
            // An alert has only its buttons: the operator's other requests
            // are answered with what a person would find.
            if (operation != "press") {
                if (serial)
                    MachineLink::shared().call(ops::windowAnswer, serial, std::string("an alert has only its buttons"));
                return;
            }
            if (on == window && !pressed)
                pressed = button;
        });
    auto shown = link.call(ops::userNotificationDisplay, registration, static_cast<std::uint32_t>(flags & 3),
        localized(bundle, alertHeader), localized(bundle, alertMessage), buttons);
    window = shown.value;
    if (shown.code != 0 || !window) {
        link.unsubscribe(ops::windowPresses, registration);
        return shown.code != 0 ? static_cast<SInt32>(shown.code) : -1;
    }

    const double deadline = timeout > 0 ? currentDate() + timeout : std::numeric_limits<double>::infinity();
    RunLoop& loop = RunLoop::current();
    while (!pressed && currentDate() < deadline) {
        // A mode with nothing in it would never hear the answer.
        if (!loop.runModeBeforeDate(kModalPanelRunLoopMode, deadline))
            break;
    }
    link.call(ops::userNotificationDismiss, window);
    link.unsubscribe(ops::windowPresses, registration);
    if (!pressed && timeout <= 0)
        return -1;
    CFOptionFlags response = kCFUserNotificationCancelResponse;
    for (std::size_t i = 0; pressed && i < titles.size(); ++i)
        if (!titles[i].empty() && titles[i] == *pressed) {
            response = i;
            break;
        }
    if (responseFlags)
        *responseFlags = response;
    return 0;
}
