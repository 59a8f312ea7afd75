// Accessibility elements and attribute reads, under their own names, over
// the simulated machine's accessibility trees.
//
// An AXUIElementRef names one element of one process (the application
// element, a window, a sheet, a button); copies name the same element and
// CFEqual compares what they name. An element outlives what it names: once
// the window has closed or the process has quit, reads of it answer
// kAXErrorInvalidUIElement. With the Accessibility switch off every read
// answers kAXErrorAPIDisabled.
//
// Failures can be injected as "AXUIElementCreateApplication",
// "AXUIElementGetPid" and "AXUIElementCopyAttributeValue:<attribute>".
#pragma once

#include "Accessibility/AXError.h"
#include "Accessibility/AXValue.h"
#include "Carbon/MacTypes.h"
#include "Foundation/Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

inline constexpr const char* kAXRoleAttribute = "AXRole";
inline constexpr const char* kAXFrontmostAttribute = "AXFrontmost";
inline constexpr const char* kAXFocusedWindowAttribute = "AXFocusedWindow";
inline constexpr const char* kAXDefaultButtonAttribute = "AXDefaultButton";
inline constexpr const char* kAXEnabledAttribute = "AXEnabled";
inline constexpr const char* kAXPositionAttribute = "AXPosition";
inline constexpr const char* kAXSizeAttribute = "AXSize";
inline constexpr const char* kAXWindowAttribute = "AXWindow";

inline constexpr const char* kAXApplicationRole = "AXApplication";
inline constexpr const char* kAXWindowRole = "AXWindow";
inline constexpr const char* kAXSheetRole = "AXSheet";
inline constexpr const char* kAXButtonRole = "AXButton";

class AXUIElement {
public:
    AXUIElement(pid_t pid, std::uint64_t element) : pid_(pid), element_(element) {}
    pid_t pid() const { return pid_; }
    // 0 is the application element.
    std::uint64_t element() const { return element_; }

private:
    pid_t pid_;
    std::uint64_t element_;
};

using AXUIElementRef = std::shared_ptr<const AXUIElement>;

// What an attribute read hands back: nothing, a property-list value (a role
// string, a boolean), an element, or a geometry value.
class CFTypeRef {
public:
    CFTypeRef() = default;
    CFTypeRef(Value value) : storage_(std::move(value)) {}
    CFTypeRef(AXUIElementRef element) : storage_(std::move(element)) {}
    CFTypeRef(AXValueRef value) : storage_(std::move(value)) {}

    bool isNull() const { return std::holds_alternative<std::monostate>(storage_); }
    // Null (or nullptr) when the value is of another kind.
    const Value* value() const { return std::get_if<Value>(&storage_); }
    AXUIElementRef element() const;
    AXValueRef axValue() const;

private:
    std::variant<std::monostate, Value, AXUIElementRef, AXValueRef> storage_;
};

// Whether the Accessibility switch is on.
Boolean AXAPIEnabled();
// The application element of the process; null on failure.
AXUIElementRef AXUIElementCreateApplication(pid_t pid);
AXError AXUIElementCopyAttributeValue(const AXUIElementRef& element, const std::string& attribute, CFTypeRef* value);
AXError AXUIElementGetPid(const AXUIElementRef& element, pid_t* pid);
// Whether both name the same element; false when either is null.
Boolean CFEqual(const AXUIElementRef& a, const AXUIElementRef& b);
