#include "Accessibility.h"

#include "Processes.h"

#include <algorithm>

namespace machine {

void Accessibility::reset()
{
    enabled_ = true;
    trees_.clear();
    frontmostFailures_.clear();
    observers_.clear();
    registrations_.clear();
    nextElement_ = 1;
    // Observer numbers are never reused: a program may still hold one
    // from before the reset, and letting it go must not end another's.
}

void Accessibility::setEnabled(bool on)
{
    if (enabled_ == on)
        return;
    enabled_ = on;
    if (switchObserver_)
        switchObserver_();
}

Accessibility::Tree* Accessibility::treeFor(int pid)
{
    if (!processes_.processWithPid(pid)) {
        // A quit process takes its tree with it; its pid is never reused.
        trees_.erase(pid);
        return nullptr;
    }
    auto [it, created] = trees_.try_emplace(pid);
    if (created)
        it->second.elements[0] = Element {"AXApplication", {}};
    return &it->second;
}

bool Accessibility::exists(const ElementRef& ref) const
{
    if (!processes_.processWithPid(ref.pid))
        return false;
    if (ref.element == 0)
        return true;
    auto tree = trees_.find(ref.pid);
    return tree != trees_.end() && tree->second.elements.count(ref.element) != 0;
}

std::uint64_t Accessibility::addButton(Tree& tree, int pid, std::uint64_t owner, const ButtonSpec& spec)
{
    std::uint64_t id = nextElement_++;
    Element button {"AXButton", {}};
    button.attributes["AXPosition"] = spec.position;
    button.attributes["AXSize"] = spec.size;
    if (spec.enabled)
        button.attributes["AXEnabled"] = Value(*spec.enabled);
    button.attributes["AXWindow"] = ElementRef {pid, owner};
    tree.elements[id] = std::move(button);
    return id;
}

std::uint64_t Accessibility::openWindow(int pid, std::optional<ButtonSpec> defaultButton, bool focus)
{
    Tree* tree = treeFor(pid);
    if (!tree)
        return 0;
    std::uint64_t id = nextElement_++;
    Element window {"AXWindow", {}};
    if (defaultButton)
        window.attributes["AXDefaultButton"] = ElementRef {pid, addButton(*tree, pid, id, *defaultButton)};
    tree->elements[id] = std::move(window);
    if (focus)
        tree->focusedWindow = id;
    tell(pid, {pid, id}, "AXWindowCreated");
    return id;
}

std::uint64_t Accessibility::openSheet(int pid, std::uint64_t parentWindow, std::optional<ButtonSpec> defaultButton)
{
    Tree* tree = treeFor(pid);
    if (!tree || parentWindow == 0 || !tree->elements.count(parentWindow))
        return 0;
    std::uint64_t id = nextElement_++;
    Element sheet {"AXSheet", {}};
    sheet.attributes["AXWindow"] = ElementRef {pid, parentWindow};
    if (defaultButton)
        sheet.attributes["AXDefaultButton"] = ElementRef {pid, addButton(*tree, pid, id, *defaultButton)};
    tree->elements[id] = std::move(sheet);
    tell(pid, {pid, id}, "AXSheetCreated");
    return id;
}

bool Accessibility::close(int pid, std::uint64_t id)
{
    Tree* tree = treeFor(pid);
    if (!tree || id == 0 || !tree->elements.count(id))
        return false;
    // The element goes with everything that hangs off it (buttons, sheets).
    std::vector<std::uint64_t> doomed {id};
    for (std::size_t i = 0; i < doomed.size(); ++i) {
        for (const auto& [other, e] : tree->elements) {
            auto owner = e.attributes.find("AXWindow");
            if (owner != e.attributes.end()) {
                auto* ref = std::get_if<ElementRef>(&owner->second);
                if (ref && ref->element == doomed[i] && std::find(doomed.begin(), doomed.end(), other) == doomed.end())
                    doomed.push_back(other);
            }
        }
    }
    for (auto gone : doomed) {
        tree->elements.erase(gone);
        if (tree->focusedWindow == gone)
            tree->focusedWindow = 0;
    }
    return true;
}

bool Accessibility::setFocusedWindow(int pid, std::uint64_t window)
{
    Tree* tree = treeFor(pid);
    if (!tree || (window != 0 && !tree->elements.count(window)))
        return false;
    tree->focusedWindow = window;
    return true;
}

void Accessibility::setAttribute(const ElementRef& ref, const std::string& name, Attribute value)
{
    Tree* tree = treeFor(ref.pid);
    if (!tree)
        return;
    auto it = tree->elements.find(ref.element);
    if (it != tree->elements.end())
        it->second.attributes[name] = std::move(value);
}

void Accessibility::removeAttribute(const ElementRef& ref, const std::string& name)
{
    Tree* tree = treeFor(ref.pid);
    if (!tree)
        return;
    auto it = tree->elements.find(ref.element);
    if (it != tree->elements.end())
        it->second.attributes.erase(name);
}

ElementRef Accessibility::defaultButtonOf(const ElementRef& window) const
{
    auto tree = trees_.find(window.pid);
    if (tree == trees_.end())
        return {};
    auto it = tree->second.elements.find(window.element);
    if (it == tree->second.elements.end())
        return {};
    auto button = it->second.attributes.find("AXDefaultButton");
    if (button == it->second.attributes.end())
        return {};
    auto* ref = std::get_if<ElementRef>(&button->second);
    return ref ? *ref : ElementRef {};
}

int Accessibility::copyAttribute(const ElementRef& ref, const std::string& name, Attribute& value)
{
    if (!enabled_)
        return kAXErrorAPIDisabled;
    Tree* tree = treeFor(ref.pid);
    if (!tree)
        return kAXErrorInvalidUIElement;
    auto it = tree->elements.find(ref.element);
    if (it == tree->elements.end())
        return kAXErrorInvalidUIElement;
    const Element& e = it->second;
    if (name == "AXRole") {
        value = Value(e.role);
        return kAXErrorSuccess;
    }
    if (ref.element == 0 && name == "AXFrontmost") {
        auto failing = frontmostFailures_.find(ref.pid);
        if (failing != frontmostFailures_.end() && failing->second != 0) {
            if (failing->second > 0)
                --failing->second;
            return kAXErrorCannotComplete;
        }
        const Process* front = processes_.frontProcess();
        value = Value(front && front->pid == ref.pid);
        return kAXErrorSuccess;
    }
    if (ref.element == 0 && name == "AXFocusedWindow") {
        if (tree->focusedWindow == 0)
            return kAXErrorNoValue;
        value = ElementRef {ref.pid, tree->focusedWindow};
        return kAXErrorSuccess;
    }
    auto attribute = e.attributes.find(name);
    if (attribute == e.attributes.end())
        return kAXErrorNoValue;
    value = attribute->second;
    return kAXErrorSuccess;
}

int Accessibility::createObserver(int pid, Delivery delivery)
{
    int id = nextObserver_++;
    observers_.emplace(id, Observer {pid, std::move(delivery)});
    return id;
}

void Accessibility::destroyObserver(int observer)
{
    observers_.erase(observer);
    std::erase_if(registrations_, [&](const Registration& r) { return r.observer == observer; });
}

int Accessibility::addNotification(int observer, const ElementRef& ref, const std::string& notification)
{
    auto it = observers_.find(observer);
    if (it == observers_.end())
        return kAXErrorInvalidUIElementObserver;
    if (!enabled_)
        return kAXErrorAPIDisabled;
    if (!exists(ref))
        return kAXErrorInvalidUIElement;
    if (it->second.pid != ref.pid)
        return kAXErrorIllegalArgument;
    Registration r {observer, ref, notification};
    if (std::find(registrations_.begin(), registrations_.end(), r) != registrations_.end())
        return kAXErrorNotificationAlreadyRegistered;
    registrations_.push_back(std::move(r));
    return kAXErrorSuccess;
}

int Accessibility::removeNotification(int observer, const ElementRef& ref, const std::string& notification)
{
    if (!observers_.count(observer))
        return kAXErrorInvalidUIElementObserver;
    auto it = std::find(registrations_.begin(), registrations_.end(), Registration {observer, ref, notification});
    if (it == registrations_.end())
        return kAXErrorNotificationNotRegistered;
    registrations_.erase(it);
    return kAXErrorSuccess;
}

std::vector<std::string> Accessibility::registrationsForPid(int pid) const
{
    std::vector<std::string> out;
    for (const auto& r : registrations_) {
        if (r.element.pid == pid)
            out.push_back(r.notification);
    }
    return out;
}

void Accessibility::tell(int pid, const ElementRef& created, const std::string& notification)
{
    std::vector<int> told;
    for (const auto& r : registrations_) {
        if (r.element == ElementRef {pid, 0} && r.notification == notification)
            told.push_back(r.observer);
    }
    for (int id : told) {
        auto it = observers_.find(id);
        if (it != observers_.end() && it->second.delivery) {
            Delivery delivery = it->second.delivery;
            delivery(created, notification);
        }
    }
}

} // namespace machine
