// The alerts shown to the person at the console: each with its title, its
// message and its buttons, in the order they appeared. Programs that warn
// the user (the install check, the preference pane) add to it; the machine's
// command line shows it. An alert stays until it is dismissed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace machine {

struct Alert {
    std::uint64_t id = 0;      // given by show(); never reused
    int pid = 0;               // the machine process that showed it (0: unknown)
    std::string title;
    std::string message;
    std::vector<std::string> buttons; // the default button first
    std::string level {};      // "stop", "note", "caution", "plain"; empty: not said
    std::uint64_t window = 0;  // the alert window that shows it on the screen (0: none)
};

class Alerts {
public:
    // Puts the alert on the screen; its id.
    std::uint64_t show(Alert alert);
    // Takes it away; false when no such alert is shown.
    bool dismiss(std::uint64_t id);
    // Takes away the alert the window shows; false when none.
    bool dismissShownIn(std::uint64_t window);
    const std::vector<Alert>& shown() const { return shown_; }

    // "alerts: none", or one line per alert, whatever its message holds
    // (a new line as "\n"):
    // "alert 1 from pid 4: \"Title\" \"Message\" [OK] [Cancel]", with the
    // level after the id when it is known ("alert 2 (caution) from pid 5").
    std::string describe() const;

    // Nothing shown; ids start again.
    void reset();

private:
    std::vector<Alert> shown_;
    std::uint64_t nextId_ = 1;
};

} // namespace machine
