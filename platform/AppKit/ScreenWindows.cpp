#include "AppKit/ScreenWindows.h"

#include "MachineLink/MachineLink.h"

namespace {

struct Presses {
    ScreenWindows::PressHandler handler;
    std::uint64_t registration = 0;
};

Presses& presses()
{
    static Presses state;
    return state;
}

Value encode(const std::vector<ScreenButtonState>& buttons)
{
    Value out = Value::array();
    for (const auto& button : buttons)
        out.arrayValue()->push_back(Value::dictionary({{"Title", button.title}, {"Enabled", button.enabled}}));
    return out;
}

} // namespace

namespace ScreenWindows {

void setPressHandler(PressHandler handler)
{
    presses().handler = std::move(handler);
}

std::uint64_t open(const std::string& kind, std::uint64_t parent, const std::string& title, const std::string& message,
    const std::vector<ScreenButtonState>& buttons)
{
    auto& link = MachineLink::shared();
    Presses& state = presses();
    if (!state.registration && state.handler) {
        state.registration = link.subscribe(ops::windowPresses,
            [](std::uint64_t window, const std::string& operation, const std::string& control, const std::string& value, std::uint64_t serial) {
                if (presses().handler)
                    presses().handler(window, operation, control, value, serial);
            });
    }
    return link.call(ops::windowOpen, link.program().pid, state.registration, kind, parent, title, message, encode(buttons));
}

void update(std::uint64_t window, const std::string& title, const std::string& message, const std::vector<ScreenButtonState>& buttons)
{
    MachineLink::shared().call(ops::windowUpdate, window, title, message, encode(buttons));
}

void answer(std::uint64_t serial, const std::string& outcome)
{
    MachineLink::shared().call(ops::windowAnswer, serial, outcome);
}

void close(std::uint64_t window)
{
    MachineLink::shared().call(ops::windowClose, window);
}

void stopPresses()
{
    Presses& state = presses();
    MachineLink::shared().unsubscribe(ops::windowPresses, state.registration);
    state.registration = 0;
    state.handler = nullptr;
}

} // namespace ScreenWindows
