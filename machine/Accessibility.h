// The accessibility trees of the machine's processes, the Accessibility
// switch, and the observers registered on them.
//
// Every running process has a tree: its application element (element 0),
// the windows and sheets it opened, and their default buttons. An element
// carries a role and a bag of attributes; reading an attribute of an element
// that has gone (closed, or its process quit) answers "invalid element". The
// application element answers "AXFrontmost" (whether its process is in
// front; a test can make a number of reads fail with "cannot complete", as a
// busy application does) and "AXFocusedWindow".
//
// Opening a window or a sheet tells every observer registered on the
// process's application element for "AXWindowCreated" or "AXSheetCreated".
// As with application events, a delivery callback must not call into the
// program from inside the verb; it queues the notice for the program's run
// loop.
//
// Results are the Accessibility API's error codes (AXError values).
#pragma once

#include "Accessibility/AXError.h"

#include "Foundation/Value.h"
#include "link/MachineValues.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace machine {

class Processes;

// A default button as a test opens it; enabled absent: the button has no
// "AXEnabled" attribute at all.
struct ButtonSpec {
    ScreenPoint position;
    ScreenSize size;
    std::optional<bool> enabled = true;
};


class Accessibility {
public:
    using Delivery = std::function<void(const ElementRef& element, const std::string& notification)>;

    struct Registration {
        int observer;
        ElementRef element;
        std::string notification;
        bool operator==(const Registration&) const = default;
    };

    explicit Accessibility(const Processes& processes) : processes_(processes) {}

    // The Accessibility switch ("Enable access for assistive devices").
    // Changing it posts "com.apple.accessibility.api" to every session.
    bool enabled() const { return enabled_; }
    void setEnabled(bool on);
    // Told each time the switch changes: the system then tells every
    // session ("com.apple.accessibility.api"), which whoever hosts the model
    // does through its notification centre.
    void setSwitchObserver(std::function<void()> observer) { switchObserver_ = std::move(observer); }

    // Verbs. A new window becomes its process's focused window unless told
    // otherwise; a sheet never does (its parent keeps the focus). 0 when the
    // process (or the parent window) is not there.
    std::uint64_t openWindow(int pid, std::optional<ButtonSpec> defaultButton = std::nullopt, bool focus = true);
    std::uint64_t openSheet(int pid, std::uint64_t parentWindow, std::optional<ButtonSpec> defaultButton = std::nullopt);
    // Closes a window or sheet with its button; reads of them fail from now on.
    bool close(int pid, std::uint64_t element);
    // 0: no focused window.
    bool setFocusedWindow(int pid, std::uint64_t window);
    void setAttribute(const ElementRef& element, const std::string& name, Attribute value);
    void removeAttribute(const ElementRef& element, const std::string& name);
    // The next `times` reads of the process's "AXFrontmost" fail with
    // "cannot complete" (times < 0: every read).
    void failFrontmostReads(int pid, int times) { frontmostFailures_[pid] = times; }
    // The default button of a window or sheet (element 0 when none).
    ElementRef defaultButtonOf(const ElementRef& window) const;

    // What the platform reads.
    bool exists(const ElementRef& element) const;
    int copyAttribute(const ElementRef& element, const std::string& name, Attribute& value);

    // Observers: the platform makes one per AXObserverCreate.
    int createObserver(int pid, Delivery delivery);
    void destroyObserver(int observer);
    int addNotification(int observer, const ElementRef& element, const std::string& notification);
    int removeNotification(int observer, const ElementRef& element, const std::string& notification);
    // Every registration, in the order made.
    const std::vector<Registration>& registrations() const { return registrations_; }
    std::vector<std::string> registrationsForPid(int pid) const;
    std::size_t observerCount() const { return observers_.size(); }

    // Switch on, no trees, no observers, no injected failures.
    void reset();

private:
    std::function<void()> switchObserver_;
    struct Element {
        std::string role;
        std::map<std::string, Attribute> attributes;
    };
    struct Tree {
        std::map<std::uint64_t, Element> elements;
        std::uint64_t focusedWindow = 0;
    };
    struct Observer {
        int pid;
        Delivery delivery;
    };
    Tree* treeFor(int pid);
    std::uint64_t addButton(Tree& tree, int pid, std::uint64_t owner, const ButtonSpec& spec);
    void tell(int pid, const ElementRef& created, const std::string& notification);

    const Processes& processes_;
    bool enabled_ = true;
    std::map<int, Tree> trees_;
    std::map<int, int> frontmostFailures_;
    std::map<int, Observer> observers_;
    std::vector<Registration> registrations_;
    std::uint64_t nextElement_ = 1;
    int nextObserver_ = 1;
};

} // namespace machine
